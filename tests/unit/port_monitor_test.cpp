// The serial port's decisions through a scripted port; tests/comport plays the real (wine) one.
#include "serial/port_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "fakes.h"
#include "serial/comport.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;
using WaitStart = IMonitorIo::WaitStart;
using Event = IMonitorIo::Event;
using Transfer = IMonitorIo::Transfer;
struct Read {
    Transfer result;
    uint8_t byte;
    uint32_t error;
};

// Records the calls that change something; a script run out ends the thread (no port, shutdown).
// A wait for a thread that does not end lasts until its deadline on the fake clock.
class ScriptedPort : public IPortDevice {
  public:
    bool port = true, kept = false, purgeWorks = true, present = false, opens = true;
    bool ended = true, running = false, locked = false;
    int failingStep = -1, completeAfter = -1;  // write steps awaited before one completes
    int32_t completed = 0;
    uint64_t now = 5;
    std::deque<std::pair<WaitStart, uint32_t>> waits;
    std::deque<uint32_t> queues;
    std::deque<Event> events;
    std::deque<Read> reads;
    Transfer writeResult = Transfer::kDone;
    uint32_t shortBy = 0;
    Bytes wire;
    std::string calls;

    template <typename T>
    static T Next(std::deque<T>& script, T otherwise) {
        const T next = script.empty() ? otherwise : script.front();
        return script.empty() ? next : (script.pop_front(), next);
    }
    void Call(const std::string& c) { calls += (calls.empty() ? "" : "; ") + c; }
    bool HasPort() override { return port; }
    void BeginThread() override { Call("begin"); }
    WaitStart StartCommWait(uint32_t* error) override {
        const auto w = Next(waits, {WaitStart::kNoPort, 0});
        return Call("wait"), *error = w.second, w.first;
    }
    bool ClearErrors(uint32_t* q) override { return Call("clear"), *q = Next(queues, 0u), port; }
    void SignalCommEvent() override { Call("signal"); }
    Event WaitForEvent() override { return Next(events, Event::kShutdown); }
    bool ReceivedCharacter() override { return true; }
    void Pause(int ms) override { Call("pause " + std::to_string(ms)); }
    Transfer ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) override {
        const Read r = Next(reads, {Transfer::kNoPort, 0, 0});
        *byte = r.byte, *error = r.error, *got = r.result == Transfer::kDone ? 1 : 0;
        return Call("read"), r.result;
    }
    bool PurgeForWrite() override { return Call("purge"), purgeWorks; }
    Transfer Write(const uint8_t* data, int length, uint32_t* written, uint32_t*) override {
        wire.assign(data, data + length);
        *written = writeResult == Transfer::kDone ? uint32_t(length) - shortBy : 0;
        return Call("write"), writeResult;
    }
    void WriteStepDone() override { Call("done"); }
    void EndPendingWait() override { Call("end wait"); }
    void EndThread() override { Call("end"); }
    std::string SystemText(uint32_t error) override { return "text of " + std::to_string(error); }
    bool AdoptKeptHandle() override { return kept && (port = true); }
    void SignalWrite() override { Call("signal write"); }
    bool MonitorPresent() override { return present; }
    unsigned ReplaceEvents() override { return Call("events"), 0; }
    void Lock() override { Call("lock"), locked = true; }
    void Unlock() override { Call("unlock"), locked = false; }
    void CloseHandle() override { Call("close"), port = false; }
    bool Open(const std::string& device) override { return Call("open " + device), port = opens; }
    uint32_t LastError() override { return 87; }
    bool Configure(ConfigStep step, uint32_t value, const std::string&) override {
        return Call("set " + std::to_string(value)), int(step) != failingStep;
    }
    void Purge() override { Call("purge all"); }
    bool ThreadRunning() override { return running; }
    bool StartThread(uint32_t (*body)(void*), void* context) override {
        return Call("thread"), body(context) == 0;  // the thread's whole run, at once
    }
    void StopTransfers() override { Call("stop"); }
    void SignalShutdown() override { Call("shutdown"); }
    uint64_t Now() override { return now; }
    void WaitThreadClosed(uint64_t by) override {
        Call("closed by " + std::to_string(by)), now = ended ? now : std::max(now, by);
    }
    bool WaitThreadEnd(uint64_t by) override {
        Call("ended by " + std::to_string(by)), now = ended ? now : std::max(now, by);
        return present = present && !ended, ended;
    }
    void ReleaseEvents() override { Call("release"); }
    void ForgetKeptHandle() override {}
    int32_t WritesCompleted() override { return completed; }
    void AwaitWriteStep(uint32_t ms) override {
        Call("await " + std::to_string(ms)), now += 10, completed += --completeAfter == 0;
    }
};

void FixedPair(uint8_t pair[2]) { pair[0] = 0x11, pair[1] = 0xC3; }
const uint8_t kPlain[] = {0x02, 0x00, 0x01, 0x25, 0x25, 0x03};  // the one-byte command 0x25

struct Rig : testing_support::FrameCollector {
    testing_support::CapturingLog log;
    ScriptedPort io;
    TerminalLink link{FixedPair};
    PortMonitor monitor{io, link};
    Rig() { monitor.SetSink(this); }
};

TEST(PortMonitor, WaitOutcomesDecideWhetherTheThreadDrainsWaitsOnOrEndsAndHow) {
    const struct {
        std::deque<std::pair<WaitStart, uint32_t>> waits;
        std::deque<Event> events;
        uint32_t exitCode;  // 100: the thread ended on an unexpected wait error
        const char* calls;
    } cases[] = {
        {{}, {}, 0, "begin; wait; end"},
        {{{WaitStart::kFailed, 6}}, {}, 0, "begin; wait; end"},
        {{{WaitStart::kFailed, 5}}, {}, 100, "begin; wait; clear; end"},
        // A pending wait is not started again and is ended before the thread goes.
        {{{WaitStart::kFailed, 997}}, {Event::kOther}, 0, "begin; wait; clear; end wait; end"},
        {{{WaitStart::kFailed, 87}}, {Event::kOther}, 0, "begin; wait; clear; wait; end"},
        {{{WaitStart::kCompleted, 0}}, {}, 0, "begin; wait; clear; wait; end"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.io.waits = c.waits, rig.io.events = c.events;
        EXPECT_EQ(rig.monitor.Run(), c.exitCode) << c.calls;
        EXPECT_EQ(rig.io.calls, c.calls);
    }
}

// The reply comes in two batches, then trickling in a byte per comm event.
TEST(PortMonitor, QueuedBytesAreReadOneByOneAfter2msAndTheQueueAskedForAgainOnlyWhenRead) {
    // The serial-number reply "ABC" with the pair above and the zero key, computed independently.
    const Bytes reply = {0x02, 0x00, 0x08, 0x02, 0x02, 0x3A, 0xD6,
                         0xAC, 0x9F, 0x71, 0x3B, 0x0B, 0x03};
    for (const bool trickles : {false, true}) {
        Rig rig;
        std::string calls = "begin; ";
        if (!trickles) {
            rig.io.waits = {{WaitStart::kCompleted, 0}};
            rig.io.queues = {10, 3, 0};
            rig.io.events = {Event::kCommEvent};
            calls += "wait; clear; signal; pause 2; ";
            for (int i = 0; i < 10; ++i) calls += "read; ";
            calls += "clear; read; read; read; clear; ";
        }
        for (uint8_t b : reply) {
            rig.io.reads.push_back({Transfer::kDone, b, 0});
            if (!trickles) continue;
            rig.io.waits.push_back({WaitStart::kCompleted, 0});
            rig.io.queues.insert(rig.io.queues.end(), {1, 0});
            rig.io.events.push_back(Event::kCommEvent);
            calls += "wait; clear; signal; pause 2; read; clear; ";
        }
        Bytes plain(kPlain, kPlain + 6);
        plain.resize(16);
        rig.link.Encode(plain.data(), 6);  // as if the command had gone out: its pair and key
        rig.monitor.Run();
        EXPECT_EQ(rig.io.calls, calls + "wait; end");
        EXPECT_EQ(rig.frames, (std::vector<Bytes>{{0x02, 0x00, 0x07, 0x25, 0x06, 0x00, 0x03, 'A',
                                                   'B', 'C', 0xF4, 0x03}}));
    }
}

// 0x02 would start a frame; 0x41 behind it is a stray byte only when nothing started one.
TEST(PortMonitor, AFailedReadHandsNothingOnAndOnlyAnInvalidHandleOrAStuckReadEndsTheDrain) {
    const std::pair<Read, bool> cases[] = {
        // the read, whether the drain goes on
        {{Transfer::kFailed, 0x02, 6}, false},         {{Transfer::kFailed, 0x02, 31}, true},
        {{Transfer::kPendingFailed, 0x02, 995}, true}, {{Transfer::kStuck, 0x02, 995}, false},
        {{Transfer::kNoPort, 0x02, 0}, false},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.io.waits = {{WaitStart::kFailed, 997}};
        rig.io.queues = {0, 2};
        rig.io.events = {Event::kCommEvent};
        rig.io.reads = {c.first, {Transfer::kDone, 0x41, 0}};
        rig.monitor.Run();
        EXPECT_EQ(rig.io.reads.empty(), c.second) << c.first.error;
        EXPECT_EQ(
            std::count(rig.log.lines.begin(), rig.log.lines.end(), "INVALID PROTOCOL REPLY RETURN"),
            c.second ? 1 : 0)
            << c.first.error;
    }
}

TEST(PortMonitor, AFrameIsTakenOnlyWithAPortAndWhenItFitsAndDropsAPartReply) {
    const struct {
        bool port, kept;
        int length;
        bool signalled;
    } cases[] = {{true, false, 2048, true},
                 {false, true, 6, true},
                 {false, false, 6, false},
                 {true, false, 2049, false},
                 {true, false, 0, false}};
    const Bytes frame(2049, 0x02);
    for (const auto& c : cases) {
        Rig rig;
        rig.io.port = c.port, rig.io.kept = c.kept;
        rig.link.CollectReplyByte(0x02, &rig);
        rig.monitor.HandOver(frame.data(), c.length);
        EXPECT_EQ(rig.io.calls, c.signalled ? "signal write" : "") << c.length;
        EXPECT_EQ(rig.link.ReceivedLength(), 0);
    }
}

TEST(PortMonitor, EachFrameIsPurgedForEncodedAndWrittenAndAFailedOrShortWriteIsCleared) {
    const struct {
        bool purges;
        Transfer result;
        uint32_t shortBy;
        const char* calls;  // of the write step
        bool kept = false;  // the port's own handle is gone, the shared one is there
    } cases[] = {
        {true, Transfer::kDone, 0, "purge; write; done"},
        {true, Transfer::kDone, 1, "purge; write; clear; done"},
        {true, Transfer::kFailed, 0, "purge; write; clear; done"},
        {false, Transfer::kDone, 0, "purge; done"},  // the port is closing
        {true, Transfer::kDone, 0, "purge; write; done", true},
    };
    // With the zero key and the pair above, computed independently.
    const Bytes wire = {0x02, 0x00, 0x0B, 0x51, 0x72, 0x85, 0x6B, 0x10,
                        0x3D, 0x22, 0xC4, 0x4B, 0x99, 0x00, 0xCA, 0x03};
    for (const auto& c : cases) {
        Rig rig;
        rig.io.purgeWorks = c.purges, rig.io.writeResult = c.result, rig.io.shortBy = c.shortBy;
        rig.io.port = !c.kept, rig.io.kept = c.kept;
        rig.io.events = {Event::kWrite};
        rig.io.waits = {{WaitStart::kFailed, 997}};
        rig.monitor.HandOver(kPlain, sizeof kPlain);
        rig.monitor.Run();
        EXPECT_EQ(rig.io.calls,
                  "signal write; begin; wait; clear; " + std::string(c.calls) + "; end wait; end");
        EXPECT_EQ(rig.io.wire, c.purges ? wire : Bytes());
    }
}

TEST(ComPort, OpeningStopsAnOldMonitorReplacesEventsAndConfiguresUntilTheFirstFailingCall) {
    const std::string stop = "stop; shutdown; ended by 10005; ",
                      open = "events; lock; open \\\\.\\COM7";
    const struct {
        bool present, ended, port, opens;
        int failingStep;
        bool result;
        std::string calls;
    } cases[] = {
        {false, true, false, true, -1, true,
         open + "; set 10000; set 9; set 9; set 9; set 9; purge all; unlock"},
        {false, true, true, true, 1, true,
         "events; lock; close; open \\\\.\\COM7; set 10000; set 9; purge all; unlock"},
        {false, true, false, false, -1, false, open + "; end; unlock"},  // nothing to wait for
        {true, true, false, true, 0, true, stop + open + "; set 10000; purge all; unlock"},
        {true, false, false, true, -1, false, "stop; shutdown; ended by 10005"},
    };
    for (const auto& c : cases) {
        ScriptedPort io;
        io.present = c.present, io.ended = c.ended, io.port = c.port, io.opens = c.opens;
        io.failingStep = c.failingStep;
        EXPECT_EQ(ComPort(io).InitPort(7, 9600, 'N', 8, 1, 9, 1024, nullptr), c.result) << c.calls;
        EXPECT_EQ(io.calls, c.calls);
    }
}

// A log line is a string made: none is written while the port's lock is held.
struct LockWatchingLog : testing_support::CapturingLog {
    const bool& locked;
    int underLock = 0;
    explicit LockWatchingLog(const ScriptedPort& port) : locked(port.locked) {}
    void Write(const std::string& line) override { underLock += locked, CapturingLog::Write(line); }
};

// From the line after "Create Port and Baud buffer": the opening's lines in their order, each
// failure with the system's text for its error.
TEST(ComPort, OpeningLogsItsStepsAndFailuresInOrderAndNothingWhileTheLockIsHeld) {
    const std::string warning = " Failed with the following error: \ntext of 87\nPort: 7\n";
    const struct {
        bool port, opens;
        int failingStep;
        std::vector<std::string> lines;
    } cases[] = {
        {true, true, 1, {"WARNING:  SetCommMask()" + warning, "Leaving InitPort"}},
        {false, false, -1, {"Open COM ERROR", "WARNING:  Open COM ERROR" + warning}},
    };
    for (const auto& c : cases) {
        ScriptedPort io;
        io.port = c.port, io.opens = c.opens, io.failingStep = c.failingStep;
        LockWatchingLog log(io);
        EXPECT_EQ(ComPort(io).InitPort(7, 9600, 'N', 8, 1, 9, 1024, nullptr), c.opens);
        std::vector<std::string> expected;
        if (c.port) expected.push_back("COM Port already Open Trying to Close");
        expected.insert(expected.end(),
                        {"Begin Open COM", "\\\\.\\COM7", "baud=9600 parity=N data=8 stop=1"});
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        const auto from =
            std::find(log.lines.begin(), log.lines.end(), "Create Port and Baud buffer");
        ASSERT_NE(from, log.lines.end());
        EXPECT_EQ(std::vector<std::string>(from + 1, log.lines.end()), expected);
        EXPECT_EQ(log.underLock, 0);
    }
}

// The events are freed only when nothing can still use them: the thread has ended.
TEST(ComPort, ClosingWaitsForTheThreadByOneDeadlineAndReleasesOnlyWhatNothingStillUses) {
    for (const bool ended : {true, false}) {
        ScriptedPort io;
        io.present = true, io.ended = ended;
        LockWatchingLog log(io);
        ComPort(io).ClosePort();
        EXPECT_EQ(io.calls, "stop; shutdown; closed by 10005; ended by 10005; lock; close; unlock" +
                                std::string(ended ? "; release" : ""));
        EXPECT_EQ(log.underLock, 0);
    }
}

// One deadline per stuck thread, whichever waits first (a reopen, or its own dialog's close): the
// dialog's close after the failed open, the close at its end and the next dialog wait no more.
// Once the thread has ended the port opens, and a new thread has a deadline of its own.
TEST(ComPort, AMonitorThreadPastItsCloseDeadlineCostsItOnceAndThePortOpensWhenItEnds) {
    for (const bool openWaitsFirst : {true, false}) {
        ScriptedPort io;
        ComPort port(io);
        const auto open = [&] { return port.InitPort(7, 9600, 'N', 8, 1, 9, 1024, nullptr); };
        io.present = true, io.ended = false;
        if (!openWaitsFirst) port.ClosePort();
        EXPECT_FALSE(open());
        port.ClosePort();
        port.ClosePort();
        EXPECT_FALSE(open());
        port.ClosePort();
        EXPECT_EQ(io.now, 5 + kThreadCloseWaitMs) << openWaitsFirst;
        io.ended = true;
        EXPECT_TRUE(open());
        EXPECT_TRUE(port.StartMonitor());
        io.present = true, io.ended = false;
        port.ClosePort();
        EXPECT_EQ(io.now, 5 + 2 * kThreadCloseWaitMs);
    }
}

TEST(ComPort, StartsOneMonitorAndWaitsForTheHandedOverFrameUntilItsDeadline) {
    ScriptedPort io;
    ComPort port(io);
    io.running = true;
    EXPECT_FALSE(port.StartMonitor());
    io.running = false;
    EXPECT_TRUE(port.StartMonitor());
    EXPECT_EQ(io.calls, "thread; begin; wait; end");
    const struct {
        int ms, completeAfter;
        bool written;
        const char* calls;
    } cases[] = {
        {30, 2, true, "signal write; await 30; await 20"},
        {30, -1, false, "signal write; await 30; await 20; await 10"},
        {0, -1, false, "signal write"},
    };
    for (const auto& c : cases) {
        io.calls.clear(), io.completeAfter = c.completeAfter;
        port.SendToPort(kPlain, sizeof kPlain);
        EXPECT_EQ(port.WaitForWrite(c.ms), c.written) << c.calls;
        EXPECT_EQ(io.calls, c.calls);
    }
}

}  // namespace
}  // namespace quillon
