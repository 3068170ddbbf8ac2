// Bridge input in pieces the input chooses, with a call thread that begins its job at once (the
// machine's lock held elsewhere when the input says so) and finishes it when the input says so.
// Every frame written must be whole and hold an object with an id and one kind of answer; a
// second call may never start while one runs, and the lock is given back exactly once.
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
            m.contains("error") + m.contains("code") + m.contains("bridge") +
                    m.contains("running") !=
                1)
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

struct Lock : ICallLock {
    bool elsewhere = false;
    int held = 0;
    bool TryTake(const Holder&, Holder& other) override {
        if (elsewhere) {
            other = Holder{"ENROLL", "https://a.test", false};
            return false;
        }
        if (++held != 1) std::abort();
        return true;
    }
    void Give() override {
        if (--held != 0) std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Out out;
    Calls calls;
    Lock lock;
    Session session(out, calls, lock, Versions{"0.1.0", "0.1.0"});
    // Each control byte: the next piece's length (low 5 bits + 1); bit 5: another bridge holds
    // the machine's lock; top bit: the call ends first.
    for (size_t at = 0; at < size;) {
        const uint8_t control = data[at++];
        if ((control & 0x80) != 0 && !calls.jobs.empty()) {
            session.Finish(calls.jobs[0].id, -30, "[" + calls.jobs[0].request + "][-30][123]");
            calls.jobs.clear();
        }
        lock.elsewhere = (control & 0x20) != 0;
        const size_t piece = std::min(size - at, static_cast<size_t>((control & 0x1F) + 1));
        session.Receive(reinterpret_cast<const char*>(data + at), piece);
        at += piece;
        if (!calls.jobs.empty() && lock.held == 0 && !session.Begin(calls.jobs[0])) {
            calls.jobs.clear();
        }
        if (session.Busy() != !calls.jobs.empty()) std::abort();
    }
    return 0;
}
