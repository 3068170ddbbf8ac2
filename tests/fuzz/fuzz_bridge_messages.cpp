// The bridge's input path: framing in pieces the input chooses, JSON parsing, the message rules
// and the busy state, with a call thread that finishes its job when the input says so. Every
// frame written must be whole and hold a JSON object with an id and one kind of answer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "session.h"

using namespace quillon::bridge;

namespace {

struct Out : IFrameOut {
    void Write(const std::string& frame) override {
        FrameDecoder decoder;
        std::vector<FrameEvent> events;
        decoder.Feed(frame.data(), frame.size(), events);
        if (events.size() != 1 || decoder.MidMessage()) std::abort();
        const Json message = Json::parse(events[0].payload, nullptr, false);
        if (!message.is_object() || !message.contains("id")) std::abort();
        const int kinds = static_cast<int>(message.contains("error")) +
                          static_cast<int>(message.contains("code")) +
                          static_cast<int>(message.contains("bridge"));
        if (kinds != 1) std::abort();
    }
};

struct Calls : ICallThread {
    std::vector<Job> jobs;
    void Start(Job job) override {
        if (!jobs.empty()) std::abort();  // a second call while one runs
        jobs.push_back(std::move(job));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Out out;
    Calls calls;
    Session session(out, calls, Versions{"0.1.0", "0.1.0"});
    // Each control byte: the length of the next piece (low 6 bits + 1) and whether the running
    // call finishes before it (top bit).
    size_t at = 0;
    while (at < size) {
        const uint8_t control = data[at++];
        if ((control & 0x80) != 0 && !calls.jobs.empty()) {
            session.Finish(calls.jobs[0].id, -30, "[" + calls.jobs[0].request + "][-30][123]");
            calls.jobs.clear();
        }
        const size_t piece = std::min(size - at, static_cast<size_t>((control & 0x3F) + 1));
        session.Receive(reinterpret_cast<const char*>(data + at), piece);
        at += piece;
        if (session.Busy() != !calls.jobs.empty()) std::abort();
    }
    return 0;
}
