// The bridge's decisions, free of Windows calls: which messages it answers and how, and the one
// request at a time that runs in the library. The Win32 program (main_win32.cpp) reads the
// standard input into Receive, runs the jobs on its call thread and writes the frames out.
#pragma once

#include <atomic>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "framing.h"

namespace quillon {
namespace bridge {

using Json = nlohmann::json;

// One request for the library; `id` is the page's, handed back with the reply.
struct Job {
    Json id;
    std::string request;
};

// Where the frames go. One call writes one whole frame: the program serializes the writes of
// its two threads.
class IFrameOut {
  public:
    virtual ~IFrameOut() = default;
    virtual void Write(const std::string& frame) = 0;
};

// Runs a job on the call thread and hands its result to Session::Finish from there.
class ICallThread {
  public:
    virtual ~ICallThread() = default;
    virtual void Start(Job job) = 0;
};

struct Versions {
    std::string bridge;
    std::string library;  // empty: quillon.dll was not loaded
};

// The short texts of the error answers, as the page sees them.
namespace errors {
extern const char kTooLong[];
extern const char kInvalidJson[];
extern const char kNotAnObject[];
extern const char kMissingId[];
extern const char kBadId[];
extern const char kMissingRequest[];
extern const char kRequestNotString[];
extern const char kRequestHasNul[];
extern const char kUnknownCmd[];
extern const char kNoLibrary[];
}  // namespace errors

// The answers, as JSON texts.
std::string ReplyMessage(const Json& id, int code, const std::string& reply);
std::string VersionMessage(const Json& id, const Versions& versions);
std::string ErrorMessage(const Json& id, const std::string& error);

// The library's own refusal of a call while another runs: field 1 of the request as the library
// cuts it, and the busy code.
std::string BusyReplyText(const std::string& request);

class Session {
  public:
    Session(IFrameOut& out, ICallThread& calls, Versions versions);

    // Reader thread: bytes from the standard input.
    void Receive(const char* data, size_t size);
    // Call thread: the job's result. The bridge is free again before the reply goes out, so a
    // page that answers the reply at once is never told busy.
    void Finish(const Json& id, int code, const std::string& reply);

    bool Busy() const { return busy_.load(); }
    // The input ended inside a message (the part is dropped unanswered).
    bool EndedMidMessage() const { return decoder_.MidMessage(); }

  private:
    void Handle(const std::string& payload);
    void Send(const std::string& message);

    IFrameOut& out_;
    ICallThread& calls_;
    const Versions versions_;
    FrameDecoder decoder_;
    std::atomic<bool> busy_{false};
    std::vector<FrameEvent> events_;
};

}  // namespace bridge
}  // namespace quillon
