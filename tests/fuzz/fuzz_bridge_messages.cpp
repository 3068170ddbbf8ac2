// Bridge input in pieces the input chooses, with a call thread that finishes its job when the
// input says so. Every frame written must be whole and hold an object with an id and one kind of
// answer; a second call may never start while one runs.
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
        if (frame.compare(0, 4, EncodeFrame(frame.substr(4)), 0, 4) != 0) std::abort();
        const Json m = Json::parse(frame.substr(4), nullptr, false);
        if (!m.is_object() || !m.contains("id") ||
            m.contains("error") + m.contains("code") + m.contains("bridge") != 1)
            std::abort();
    }
};

struct Calls : ICallThread {
    std::vector<Job> jobs;
    void Start(Job job) override {
        if (!jobs.empty()) std::abort();
        jobs.push_back(std::move(job));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Out out;
    Calls calls;
    Session session(out, calls, Versions{"0.1.0", "0.1.0"});
    // Each control byte: the next piece's length (low 6 bits + 1); top bit: the call ends first.
    for (size_t at = 0; at < size;) {
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
