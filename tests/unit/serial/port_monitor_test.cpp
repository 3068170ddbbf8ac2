// The serial port's decisions through a scripted port device; tests/comport plays the real (wine)
// one.
#include "serial/port_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "fakes.h"
#include "serial/comport.h"

namespace quillon {

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using WaitStart = IPortDevice::WaitStart;
using Event = IPortDevice::Event;
using Transfer = IPortDevice::Transfer;
using Step = IPortDevice::ConfigStep;
struct Read {
    Transfer result;
    uint8_t byte;
    uint32_t error;
};

// Records the calls; a script run out ends the thread (port closed, shutdown). The monitor
// thread runs when a test says so, on the test's thread. A wait for a thread that does not end
// lasts until its deadline on the fake clock.
class ScriptedPort : public IPortDevice {
  public:
    bool opens = true, purges = true, starts = true, ended = true, endsWait = true;
    bool throws = false;  // Next runs out of memory
    Step failing = Step::kNone;
    int completeAfter = -1;  // awaits of a write step before the thread runs
    uint64_t now = 5;
    uint32_t settle = 0;
    std::deque<std::pair<WaitStart, uint32_t>> waits;
    std::deque<uint32_t> queues;
    std::deque<Event> events;
    std::deque<Read> reads;
    Transfer writeResult = Transfer::kDone;
    uint32_t shortBy = 0;
    Bytes wire;
    std::vector<uint64_t> awaited;
    std::string calls;
    uint32_t (*body)(void*) = nullptr;
    void* context = nullptr;

    template <typename T>
    static T Pop(std::deque<T>& script, T otherwise) {
        const T next = script.empty() ? otherwise : script.front();
        return script.empty() ? next : (script.pop_front(), next);
    }
    void Call(const std::string& c) { calls += (calls.empty() ? "" : "; ") + c; }
    uint32_t RunThread() { return body(context); }

    Opened Open(const std::string& device, const std::string&, uint32_t mask,
                uint32_t timeoutMs) override {
        Call("open " + device + " " + std::to_string(mask) + " " + std::to_string(timeoutMs));
        return {opens, opens ? failing : Step::kNone, 87};
    }
    void Close(Release what) override {
        Call(what == Release::kHandle ? "close handle"
             : what == Release::kAll  ? "close all"
                                      : "close all but transfers");
    }
    bool StartThread(uint32_t (*b)(void*), void* c) override {
        return Call("thread"), body = b, context = c, starts;
    }
    void Stop() override { Call("stop"); }
    bool AwaitThreadEnd(uint64_t by) override {
        Call("ended by " + std::to_string(by)), now = ended ? now : std::max(now, by);
        return ended;
    }
    void AwaitWriteStep(uint64_t by) override {
        awaited.push_back(by), now += 10;
        if (--completeAfter != 0) return;
        calls.clear(), waits = {{WaitStart::kFailed, 997}}, events = {Event::kWrite}, RunThread();
    }
    void SignalWrite() override { Call("signal write"); }
    uint64_t Now() override { return now; }
    bool Purge() override { return Call("purge"), purges; }
    WaitStart StartWait(uint32_t* error) override {
        const auto w = Pop(waits, {WaitStart::kClosed, 0});
        return Call("wait"), *error = w.second, w.first;
    }
    bool LineStatus(uint32_t* q) override { return Call("clear"), *q = Pop(queues, 0u), true; }
    Event Next(bool came, uint32_t settleMs) override {
        Call(came ? "next came" : "next"), settle = settleMs;
        if (throws) throw std::bad_alloc();
        return Pop(events, Event::kShutdown);
    }
    Transfer ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) override {
        const Read r = Pop(reads, {Transfer::kClosed, 0, 0});
        *byte = r.byte, *error = r.error, *got = r.result == Transfer::kDone ? 1 : 0;
        return Call("read"), r.result;
    }
    Transfer Write(const uint8_t* data, int length, uint32_t* written, uint32_t*) override {
        wire.assign(data, data + length);
        *written = writeResult == Transfer::kDone ? uint32_t(length) - shortBy : 0;
        return Call("write"), writeResult;
    }
    void EndWriteStep() override { Call("done"); }
    bool EndWait() override { return Call("end wait"), endsWait; }
    std::string SystemText(uint32_t error) override { return "text of " + std::to_string(error); }
};

void FixedPair(uint8_t pair[2]) { pair[0] = 0x11, pair[1] = 0xC3; }
const uint8_t kPlain[] = {0x02, 0x00, 0x01, 0x25, 0x25, 0x03};  // the one-byte command 0x25

struct Rig : testing_support::FrameCollector {
    testing_support::CapturingLog log;
    ScriptedPort io;
    TerminalLink link{FixedPair};
    PortMonitor monitor{io, link};
    Rig() { monitor.SetSink(this), monitor.SetPortOpen(true); }
};

TEST(PortMonitor, WaitOutcomesDecideWhetherTheThreadDrainsWaitsOnOrEndsAndHow) {
    const std::pair<WaitStart, uint32_t> pending = {WaitStart::kFailed, 997},
                                         busy = {WaitStart::kFailed, 87};
    enum Also { kNothing, kPortClosed, kNoMemory, kWaitNeverEnds };
    const struct {
        std::deque<std::pair<WaitStart, uint32_t>> waits;
        std::deque<Event> events;
        Also also;
        uint32_t exitCode;  // 100: ended on an unexpected wait error, or on an exception
        const char* calls;
    } cases[] = {
        {{}, {}, kNothing, 0, "purge; wait"},
        {{{WaitStart::kFailed, 6}}, {}, kNothing, 0, "purge; wait"},
        {{{WaitStart::kFailed, 5}}, {}, kNothing, 100, "purge; wait; clear"},
        // A pending wait is not started again and is ended before the thread goes; one that
        // does not end leaves the transfers to it.
        {{pending}, {Event::kFailed}, kNothing, 0, "purge; wait; clear; next; next; end wait"},
        {{pending}, {Event::kFailed}, kPortClosed, 0, "purge; wait; clear; next; end wait"},
        {{pending}, {}, kNoMemory, 100, "purge; wait; clear; next; end wait"},
        {{pending}, {}, kWaitNeverEnds, 0, "purge; wait; clear; next; end wait"},
        {{busy}, {Event::kCommEvent}, kNothing, 0, "purge; wait; clear; next; wait"},
        {{{WaitStart::kCompleted, 0}}, {}, kNothing, 0, "purge; wait; clear; wait"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.io.waits = c.waits, rig.io.events = c.events;
        rig.io.throws = c.also == kNoMemory, rig.io.endsWait = c.also != kWaitNeverEnds;
        rig.monitor.SetPortOpen(c.also != kPortClosed);
        EXPECT_EQ(rig.monitor.Run(), c.exitCode) << c.calls;
        EXPECT_EQ(rig.io.calls, c.calls);
        EXPECT_EQ(rig.monitor.TransfersAbandoned(), c.also == kWaitNeverEnds) << c.calls;
    }
}

// The reply comes in two batches, then trickling in a byte per comm event.
TEST(PortMonitor, QueuedBytesAreReadOneByOneAfter2msAndTheQueueAskedForAgainOnlyWhenRead) {
    // The serial-number reply "ABC" with the pair above and the zero key, computed independently.
    const Bytes reply = {0x02, 0x00, 0x08, 0x02, 0x02, 0x3A, 0xD6,
                         0xAC, 0x9F, 0x71, 0x3B, 0x0B, 0x03};
    for (const bool trickles : {false, true}) {
        Rig rig;
        std::string calls = "purge; ";
        if (!trickles) {
            rig.io.waits = {{WaitStart::kCompleted, 0}};
            rig.io.queues = {10, 3, 0};
            rig.io.events = {Event::kReceived};
            calls += "wait; clear; next came; ";
            for (int i = 0; i < 10; ++i) calls += "read; ";
            calls += "clear; read; read; read; clear; ";
        }
        for (uint8_t b : reply) {
            rig.io.reads.push_back({Transfer::kDone, b, 0});
            if (!trickles) continue;
            rig.io.waits.push_back({WaitStart::kCompleted, 0});
            rig.io.queues.insert(rig.io.queues.end(), {1, 0});
            rig.io.events.push_back(Event::kReceived);
            calls += "wait; clear; next came; read; clear; ";
        }
        Bytes plain(kPlain, kPlain + 6);
        plain.resize(16);
        rig.link.Encode(plain.data(), 6);  // as if the command had gone out: its pair and key
        rig.monitor.Run();
        EXPECT_EQ(rig.io.calls, calls + "wait");
        EXPECT_EQ(rig.io.settle, 2u);
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
        {{Transfer::kClosed, 0x02, 0}, false},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.io.waits = {{WaitStart::kFailed, 997}};
        rig.io.queues = {0, 2};
        rig.io.events = {Event::kReceived};
        rig.io.reads = {c.first, {Transfer::kDone, 0x41, 0}};
        rig.monitor.Run();
        EXPECT_EQ(rig.io.reads.empty(), c.second) << c.first.error;
        EXPECT_EQ(
            std::count(rig.log.lines.begin(), rig.log.lines.end(), "INVALID PROTOCOL REPLY RETURN"),
            c.second ? 1 : 0)
            << c.first.error;
        EXPECT_EQ(rig.monitor.TransfersAbandoned(), c.first.result == Transfer::kStuck);
    }
}

TEST(PortMonitor, AFrameIsTakenOnlyWithAPortAndWhenItFitsAndDropsAPartReply) {
    const struct {
        bool open;
        int length;
        const char* logged;  // the last line, or null
    } cases[] = {{true, 2048, nullptr},
                 {false, 6, "PORT NOT OPENED Trying to Write"},
                 {true, 2049, "FRAME OF 2049 BYTES DOES NOT FIT THE WRITE BUFFER"},
                 {true, 0, "FRAME OF 0 BYTES DOES NOT FIT THE WRITE BUFFER"}};
    const Bytes frame(2049, 0x02);
    for (const auto& c : cases) {
        Rig rig;
        rig.monitor.SetPortOpen(c.open);
        rig.link.CollectReplyByte(0x02, &rig);
        rig.monitor.HandOver(frame.data(), c.length);
        EXPECT_EQ(rig.io.calls, c.logged == nullptr ? "signal write" : "") << c.length;
        EXPECT_EQ(rig.log.lines, c.logged == nullptr ? Lines() : Lines{c.logged});
        EXPECT_EQ(rig.link.ReceivedLength(), 0);
    }
}

TEST(PortMonitor, EachFrameIsPurgedForEncodedAndWrittenAndAFailedOrShortWriteIsCleared) {
    const struct {
        bool purges;
        Transfer result;
        uint32_t shortBy;
        const char* calls;  // of the write step
    } cases[] = {
        {true, Transfer::kDone, 0, "purge; write; done"},
        {true, Transfer::kDone, 1, "purge; write; clear; done"},
        {true, Transfer::kFailed, 0, "purge; write; clear; done"},
        {true, Transfer::kStuck, 0, "purge; write; clear; done"},
        {false, Transfer::kDone, 0, "purge; done"},  // the port is closing
    };
    // With the zero key and the pair above, computed independently.
    const Bytes wire = {0x02, 0x00, 0x0B, 0x51, 0x72, 0x85, 0x6B, 0x10,
                        0x3D, 0x22, 0xC4, 0x4B, 0x99, 0x00, 0xCA, 0x03};
    for (const auto& c : cases) {
        Rig rig;
        rig.io.purges = c.purges, rig.io.writeResult = c.result, rig.io.shortBy = c.shortBy;
        rig.io.events = {Event::kWrite};
        rig.io.waits = {{WaitStart::kFailed, 997}};
        rig.monitor.HandOver(kPlain, sizeof kPlain);
        rig.monitor.Run();
        EXPECT_EQ(rig.io.calls, "signal write; purge; wait; clear; next; " + std::string(c.calls) +
                                    "; next; end wait");
        EXPECT_EQ(rig.io.wire, c.purges ? wire : Bytes());
        EXPECT_EQ(rig.monitor.WriteSteps(), 1);
        EXPECT_EQ(rig.monitor.TransfersAbandoned(), c.result == Transfer::kStuck);
    }
}

// What a port has been through before the call under test.
enum class Before { kNothing, kOpened, kMonitor, kMonitorLeftTransfers };

void Prepare(ComPort& port, ScriptedPort& io, Before before) {
    if (before == Before::kNothing) return;
    port.InitPort(7, 9600, 'N', 8, 1, 9, 1024, nullptr);
    if (before != Before::kOpened) port.StartMonitor();
    // Its comm-event wait never ends: the transfer block is the thread's for good.
    if (before == Before::kMonitorLeftTransfers) {
        io.waits = {{WaitStart::kFailed, 997}}, io.endsWait = false, io.RunThread();
    }
    io.calls.clear();
}

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// From "Entering InitPort": the opening's lines in their order, each failure with the system's
// text for its error.
TEST(ComPort, OpeningStopsAnOldMonitorReplacesEventsAndConfiguresUntilTheFirstFailingCall) {
    const std::string open = "open \\\\.\\COM7 9 10000",
                      warning = " Failed with the following error: \ntext of 87\nPort: 7\n";
    const Lines reset = {"Reset Read Event if already Set", "Reset Write Event if already Set",
                         "Reset Shutdown Event if already Set",
                         "Reset ShutdownSet Event if already Set"},
                created = {"Create Port and Baud buffer"},
                opening = {"Begin Open COM", "\\\\.\\COM7", "baud=9600 parity=N data=8 stop=1"},
                again = {"COM Port already Open Trying to Close"}, left = {"Leaving InitPort"};
    const struct {
        Before before;
        bool ended, opens;
        Step failing;
        std::string calls;
        Lines lines;  // after "Entering InitPort"
    } cases[] = {
        {Before::kNothing, true, true, Step::kNone, open + "; purge",
         Join({created, opening, left})},
        {Before::kOpened, true, true, Step::kMask, "close all; " + open + "; purge",
         Join({reset, created, again, opening, {"WARNING:  SetCommMask()" + warning}, left})},
        {Before::kNothing, true, false, Step::kNone, open,
         Join({created, opening, {"Open COM ERROR", "WARNING:  Open COM ERROR" + warning}})},
        {Before::kMonitor, true, true, Step::kTimeouts,
         "stop; ended by 10005; close all; " + open + "; purge",
         Join({reset, created, again, opening, {"WARNING:  SetCommTimeouts()" + warning}, left})},
        {Before::kMonitorLeftTransfers, true, true, Step::kSetState,
         "stop; ended by 10005; close all but transfers; " + open + "; purge",
         Join({reset, created, again, opening, {"WARNING:  SetCommState()" + warning}, left})},
        {Before::kMonitor,
         false,
         true,
         Step::kNone,
         "stop; ended by 10005",
         {"COMThread still running, port not reopened"}},
    };
    for (const auto& c : cases) {
        ScriptedPort io;
        ComPort port(io);
        Prepare(port, io, c.before);
        testing_support::CapturingLog log;
        io.ended = c.ended, io.opens = c.opens, io.failing = c.failing;
        EXPECT_EQ(port.InitPort(7, 9600, 'N', 8, 1, 9, 1024, nullptr), c.opens && c.ended);
        EXPECT_EQ(io.calls, c.calls);
        EXPECT_EQ(log.lines, Join({{"Entering InitPort"}, c.lines})) << c.calls;
    }
}

// The events and the transfer block are freed only when nothing can still use them: the thread
// has ended, and none of its transfers outlived its cancellation. So also at unload. A closed
// port takes no frame.
TEST(ComPort, ClosingWaitsForTheThreadByOneDeadlineAndReleasesOnlyWhatNothingStillUses) {
    const struct {
        Before before;
        bool ended, destroyed;
        const char* calls;
    } cases[] = {
        {Before::kMonitor, true, false, "stop; ended by 10005; close all"},
        {Before::kMonitor, false, false, "stop; ended by 10005; close handle"},
        {Before::kMonitorLeftTransfers, true, false,
         "stop; ended by 10005; close all but transfers"},
        {Before::kOpened, true, false, "stop; close all"},
        {Before::kOpened, true, true, "close all"},
        {Before::kMonitor, true, true, ""},
        {Before::kNothing, true, true, ""},
    };
    for (const auto& c : cases) {
        ScriptedPort io;
        {
            ComPort port(io);
            Prepare(port, io, c.before);
            io.ended = c.ended;
            if (!c.destroyed) {
                port.ClosePort();
                port.SendToPort(kPlain, sizeof kPlain);  // dropped: no "signal write"
                io.calls += "|";
            }
        }
        EXPECT_EQ(io.calls, c.calls + std::string(c.destroyed ? "" : "|"));
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
        Prepare(port, io, Before::kMonitor);
        io.ended = false;
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
        io.ended = false;
        port.ClosePort();
        EXPECT_EQ(io.now, 5 + 2 * kThreadCloseWaitMs);
    }
}

TEST(ComPort, StartsOneMonitorOnAnOpenPortAndWaitsForTheHandedOverFrameUntilItsDeadline) {
    ScriptedPort io;
    ComPort port(io);
    EXPECT_FALSE(port.StartMonitor());  // no open has prepared the port
    Prepare(port, io, Before::kOpened);
    io.starts = false;
    EXPECT_FALSE(port.StartMonitor());
    io.starts = true;
    EXPECT_TRUE(port.StartMonitor());
    io.ended = false;
    EXPECT_FALSE(port.StartMonitor());
    EXPECT_EQ(io.calls, "thread; thread; ended by 5");
    const struct {
        int ms, completeAfter;
        bool written;
        std::vector<uint64_t> awaited;
    } cases[] = {
        {30, 2, true, {35, 35}},
        {30, -1, false, {35, 35, 35}},
        {0, -1, false, {}},
    };
    for (const auto& c : cases) {
        io.calls.clear(), io.awaited.clear(), io.now = 5, io.completeAfter = c.completeAfter;
        port.SendToPort(kPlain, sizeof kPlain);
        EXPECT_EQ(port.WaitForWrite(c.ms), c.written) << c.ms;
        EXPECT_EQ(io.awaited, c.awaited);
        // The thread ran its write step meanwhile.
        EXPECT_EQ(io.calls, c.written
                                ? "purge; wait; clear; next; purge; write; done; next; end wait"
                                : "signal write");
    }
}

}  // namespace
}  // namespace quillon
