// The bridge's decisions, free of Windows calls: which messages it answers and how, and the one
// request at a time that runs in the library, in this process and across every bridge process of
// the machine. The Win32 program (main_win32.cpp) reads the standard input into Receive, runs the
// jobs on its call thread (Begin, the library call, Finish) and writes the frames out.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "framing.h"

namespace quillon {
namespace bridge {

using Json = nlohmann::json;

// Who holds the call: what a busy answer tells the page about it.
struct Holder {
    std::string command;     // field 1 of the running request, at most kCommandShown bytes
    std::string origin;      // the calling page's origin
    bool elsewhere = false;  // another bridge process runs it
};

// The longest command a busy answer names (cut at a character boundary).
constexpr size_t kCommandShown = 40;

// The holder of `request` from `origin`.
Holder HolderOf(const std::string& request, const std::string& origin);

// One request for the library; `id` is the page's, handed back with the reply.
struct Job {
    Json id;
    std::string request;
    Holder holder;
};

// Where the frames go. One call writes one whole frame: the program serializes the writes of
// its two threads.
class IFrameOut {
  public:
    virtual ~IFrameOut() = default;
    virtual void Write(const std::string& frame) = 0;
};

// Runs a job on the call thread: Session::Begin, the library call if it agreed, Session::Finish.
class ICallThread {
  public:
    virtual ~ICallThread() = default;
    virtual void Start(Job job) = 0;
};

// The machine's one call, shared by every bridge process. Taken and given on the call thread
// only (a Windows mutex belongs to the thread that took it).
class ICallLock {
  public:
    virtual ~ICallLock() = default;
    // Takes the lock for `mine` without waiting. False when another process holds it; `other`
    // then holds what that process shared about its call (empty texts when it shared nothing).
    virtual bool TryTake(const Holder& mine, Holder& other) = 0;
    virtual void Give() = 0;
};

struct Versions {
    std::string bridge;
    std::string library;  // empty: quillon.dll was not loaded
};

// An error answer: its text for people and its code for programs. Both are stable.
struct ErrorKind {
    const char* text;
    const char* code;
};

namespace errors {
extern const ErrorKind kTooLong;
extern const ErrorKind kInvalidJson;
extern const ErrorKind kNotAnObject;
extern const ErrorKind kMissingId;
extern const ErrorKind kBadId;
extern const ErrorKind kMissingRequest;
extern const ErrorKind kRequestNotString;
extern const ErrorKind kRequestHasNul;
extern const ErrorKind kUnknownCmd;
extern const ErrorKind kNoLibrary;
extern const ErrorKind kMissingOrigin;
}  // namespace errors

// The answers, as JSON texts.
std::string ReplyMessage(const Json& id, int code, const std::string& reply);
std::string VersionMessage(const Json& id, const Versions& versions);
std::string ErrorMessage(const Json& id, const ErrorKind& error);
std::string RunningMessage(const Json& id);
// The library's own refusal of `request` while another call runs, and who holds it.
std::string BusyMessage(const Json& id, const std::string& request, const Holder& holder);

// The library's own refusal of a call while another runs: field 1 of the request as the library
// cuts it, and the busy code.
std::string BusyReplyText(const std::string& request);

class Session {
  public:
    Session(IFrameOut& out, ICallThread& calls, ICallLock& lock, Versions versions);

    // Reader thread: bytes from the standard input.
    void Receive(const char* data, size_t size);
    // Call thread, before the library call: takes the machine's lock and answers "running", or
    // answers busy (another bridge process runs a call) and returns false.
    bool Begin(const Job& job);
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
    ICallLock& lock_;
    const Versions versions_;
    FrameDecoder decoder_;
    std::atomic<bool> busy_{false};
    Holder running_;  // the reader thread's: valid while busy_
    std::vector<FrameEvent> events_;
};

// What a bridge shares with the others about the call it runs, in a named mapping: one layout
// for the 32-bit and the 64-bit bridge. `sequence` is odd while a writer is inside.
struct SharedHolder {
    std::atomic<uint32_t> sequence;
    char command[kCommandShown + 1];
    char origin[320];  // an origin that does not fit is not shared
};
static_assert(sizeof(std::atomic<uint32_t>) == 4, "one layout for both bitnesses");

// Writes `holder` (empty texts: no call) while holding the lock.
void Publish(SharedHolder& shared, const Holder& holder);
// Reads what the holder of the lock wrote; false when a writer was inside at each try.
bool Peek(const SharedHolder& shared, Holder& holder);

}  // namespace bridge
}  // namespace quillon
