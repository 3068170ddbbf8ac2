// The serial port's decisions (opening, closing, the monitor thread, the write hand-over), driven
// through a scripted port. The overlapped calls themselves are played against a real (wine) port
// by tests/comport.
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

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;
using WaitStart = IMonitorIo::WaitStart;
using Event = IMonitorIo::Event;
using Transfer = IMonitorIo::Transfer;

struct Read {
    Transfer result;
    uint8_t byte;
    uint32_t error;
};

// Plays back its scripts in order; records the calls that change something. A script that runs
// out ends the thread the quiet way (no port, shutdown).
class ScriptedPort : public IPortDevice {
  public:
    bool port = true, kept = false, rxChar = true, purgeWorks = true;
    bool present = false, opens = true, ended = true, stuck = false;
    int failingStep = -1;
    unsigned existed = 0;
    std::deque<std::pair<WaitStart, uint32_t>> waits;
    std::deque<uint32_t> queues;
    std::deque<Event> events;
    std::deque<Read> reads;
    Transfer writeResult = Transfer::kDone;
    uint32_t shortBy = 0;
    Bytes wire;
    Lines calls;
    std::string Calls() const {  // the calls in order, separated by "; "
        std::string all;
        for (const std::string& c : calls) all += (all.empty() ? "" : "; ") + c;
        return all;
    }

    template <typename T>
    static T Next(std::deque<T>& script, T otherwise) {
        if (script.empty()) return otherwise;
        const T next = script.front();
        script.pop_front();
        return next;
    }
    bool HasPort() override { return port; }
    void BeginThread() override { calls.push_back("begin"); }
    WaitStart StartCommWait(uint32_t* error) override {
        calls.push_back("wait");
        const auto w = Next(waits, {WaitStart::kNoPort, 0});
        return *error = w.second, w.first;
    }
    bool ClearErrors(uint32_t* queued) override {
        calls.push_back("clear");
        return *queued = Next(queues, 0u), port;
    }
    void SignalCommEvent() override { calls.push_back("signal"); }
    Event WaitForEvent() override { return Next(events, Event::kShutdown); }
    bool ReceivedCharacter() override { return rxChar; }
    void Pause(int ms) override { calls.push_back("pause " + std::to_string(ms)); }
    Transfer ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) override {
        calls.push_back("read");
        const Read r = Next(reads, {Transfer::kNoPort, 0, 0});
        *byte = r.byte, *error = r.error, *got = r.result == Transfer::kDone ? 1 : 0;
        return r.result;
    }
    bool PurgeForWrite() override { return calls.push_back("purge"), purgeWorks; }
    Transfer Write(const uint8_t* data, int length, uint32_t* written, uint32_t* error) override {
        calls.push_back("write");
        wire.assign(data, data + length);
        *written = writeResult == Transfer::kDone ? uint32_t(length) - shortBy : 0;
        *error = 31;
        return writeResult;
    }
    void WriteStepDone() override { calls.push_back("done"); }
    void EndPendingWait() override { calls.push_back("end wait"); }
    void EndThread() override { calls.push_back("end"); }
    std::string SystemText(uint32_t error) override { return "E" + std::to_string(error); }
    bool AdoptKeptHandle() override { return kept && (port = true); }
    void SignalWrite() override { calls.push_back("signal write"); }

    bool MonitorPresent() override { return present; }
    unsigned ReplaceEvents() override { return calls.push_back("events"), existed; }
    void Lock() override { calls.push_back("lock"); }
    void Unlock() override { calls.push_back("unlock"); }
    void CloseHandle() override { calls.push_back("close"), port = false; }
    bool Open(const std::string& device) override { return calls.push_back("open"), port = opens; }
    uint32_t LastError() override { return 87; }
    bool Configure(ConfigStep step, uint32_t value, const std::string& line) override {
        calls.push_back("set " + std::to_string(value) + " " + line);
        return int(step) != failingStep;
    }
    void Purge() override { calls.push_back("purge all"); }
    bool ThreadRunning() override { return false; }
    bool StartThread(uint32_t (*)(void*), void*) override { return true; }
    void StopTransfers() override { calls.push_back("stop"); }
    void SignalShutdown() override { calls.push_back("shutdown"); }
    uint64_t Now() override { return 5; }
    void WaitThreadClosed(uint64_t deadline) override {
        calls.push_back("closed by " + std::to_string(deadline));
    }
    bool WaitThreadEnd(uint64_t deadline) override {
        return calls.push_back("ended by " + std::to_string(deadline)), ended;
    }
    bool TransferStuck() override { return stuck; }
    void ReleaseEvents() override { calls.push_back("release"); }
    void ForgetKeptHandle() override {}
    int32_t WritesCompleted() override { return 0; }
    void AwaitWriteStep(uint32_t) override {}
};

void FixedPair(uint8_t pair[2]) { pair[0] = 0x11, pair[1] = 0xC3; }

struct Rig : IFrameSink {
    testing_support::CapturingLog log;
    ScriptedPort io;
    TerminalLink link{FixedPair};
    PortMonitor monitor{io, link};
    std::vector<Bytes> frames;
    Rig() {
        monitor.SetSink(this);
        monitor.SetPortNumber(7);
    }
    void OnFrame(const uint8_t* frame, int length) override {
        frames.emplace_back(frame, frame + length);
    }
};

std::string Warning(const char* call, int error) {
    return std::string("WARNING:  ") + call + " Failed with the following error: \nE" +
           std::to_string(error) + "\nPort: 7\n";
}

TEST(PortMonitor, WaitOutcomesDecideWhetherTheThreadDrainsWaitsOnOrEndsAndHow) {
    const char *begin = "Begin COMThread", *gone = "COMThread Pointer not exists",
               *end = "End COMThread", *close = "COMThread Thread Close Signal";
    const struct {
        std::deque<std::pair<WaitStart, uint32_t>> waits;
        std::deque<Event> events;
        uint32_t exitCode;
        const char* calls;
        Lines log;
    } cases[] = {
        {{}, {}, 0, "begin; wait; end", {begin, gone, end}},
        {{{WaitStart::kFailed, 6}},
         {},
         0,
         "begin; wait; end",
         {begin, "ERROR INVALID HANDLE", "ERROR INVALID HANDLE 2", end}},
        {{{WaitStart::kFailed, 5}},
         {},
         kFatalWaitExitCode,
         "begin; wait; clear; end",
         {begin, Warning("WaitCommEvent()", 5), "ERROR DEFAULT"}},
        // A pending wait is not started again and is ended before the thread goes.
        {{{WaitStart::kFailed, 997}},
         {Event::kOther, Event::kShutdown},
         0,
         "begin; wait; clear; end wait; end",
         {begin, "Error in WaitMultipleObject", close, end}},
        {{{WaitStart::kFailed, 87}},
         {Event::kShutdown},
         0,
         "begin; wait; clear; end",
         {begin, "COMThread 87", close, end}},
        // Completed at once with nothing queued: straight back to a new wait.
        {{{WaitStart::kCompleted, 0}},
         {},
         0,
         "begin; wait; clear; wait; end",
         {begin, "COMThread Clear COM", "COMThread InQue = 0", gone, end}},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.io.waits = c.waits;
        rig.io.events = c.events;
        EXPECT_EQ(rig.monitor.Run(), c.exitCode) << c.calls;
        EXPECT_EQ(rig.io.Calls(), c.calls);
        EXPECT_EQ(rig.log.lines, c.log) << c.calls;
    }
}

TEST(PortMonitor, QueuedBytesAreReadOneByOneAfter2msAndTheQueueAskedForAgainOnlyWhenRead) {
    Rig rig;
    // The serial-number reply "ABC" with the pair above and the zero key, computed independently.
    const Bytes reply = {0x02, 0x00, 0x08, 0x02, 0x02, 0x3A, 0xD6,
                         0xAC, 0x9F, 0x71, 0x3B, 0x0B, 0x03};
    rig.io.waits = {{WaitStart::kCompleted, 0}};
    rig.io.queues = {10, 3, 0};
    rig.io.events = {Event::kCommEvent};
    for (uint8_t b : reply) rig.io.reads.push_back({Transfer::kDone, b, 0});
    Bytes plain = {0x02, 0x00, 0x01, 0x25, 0x25, 0x03};
    plain.resize(16);
    rig.link.Encode(plain.data(), 6);  // as if the command had gone out: its pair and key
    rig.monitor.Run();
    std::string reads;
    for (int i = 0; i < 10; ++i) reads += "read; ";
    EXPECT_EQ(rig.io.Calls(), "begin; wait; clear; signal; pause 2; " + reads +
                                  "clear; read; read; read; clear; wait; end");
    EXPECT_EQ(rig.frames, (std::vector<Bytes>{{0x02, 0x00, 0x07, 0x25, 0x06, 0x00, 0x03, 'A', 'B',
                                               'C', 0xF4, 0x03}}));
}

TEST(PortMonitor, AFailedReadHandsNothingOnAndOnlyAnInvalidHandleOrAStuckReadEndsTheDrain) {
    const struct {
        Read read;
        bool drainGoesOn;
        Lines log;
    } cases[] = {
        {{Transfer::kFailed, 0x02, 6}, false, {"Read File ERROR_INVALID_HANDLE"}},
        {{Transfer::kFailed, 0x02, 31}, true, {Warning("ReadFile()", 31)}},
        {{Transfer::kPendingFailed, 0x02, 995},
         true,
         {Warning("GetOverlappedResults() in ReadFile()", 995)}},
        {{Transfer::kStuck, 0x02, 995},
         false,
         {"TRANSFER NOT ENDED BY THE CLOSE", Warning("GetOverlappedResults() in ReadFile()", 995)}},
        {{Transfer::kNoPort, 0x02, 0}, false, {}},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.io.waits = {{WaitStart::kFailed, 997}};
        rig.io.queues = {0, 2};
        rig.io.events = {Event::kCommEvent};
        rig.io.reads = {c.read, {Transfer::kDone, 0x41, 0}};
        rig.monitor.Run();
        Lines log;  // between the thread's own lines, but for the parser's
        for (size_t i = 1; i + 2 < rig.log.lines.size(); ++i) {
            if (rig.log.lines[i] != "INVALID PROTOCOL REPLY RETURN")
                log.push_back(rig.log.lines[i]);
        }
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(rig.io.reads.empty(), c.drainGoesOn) << c.read.error;
        // 0x02 would have started a frame; 0x41 behind it is stray only when nothing started one.
        const size_t stray = std::count(rig.log.lines.begin(), rig.log.lines.end(),
                                        std::string("INVALID PROTOCOL REPLY RETURN"));
        EXPECT_EQ(stray, c.drainGoesOn ? 1u : 0u);
    }
}

TEST(PortMonitor, AFrameIsTakenOnlyWithAPortAndWhenItFitsAndDropsAPartReply) {
    const struct {
        bool port, kept;
        int length;
        Lines log;
        bool signalled;
    } cases[] = {
        {true, false, 2048, {}, true},
        {false, true, 6, {"FOUND GLOBAL HANDLE GOT"}, true},
        {false, false, 6, {"PORT NOT OPENED Trying to Write"}, false},
        {true, false, 2049, {"FRAME OF 2049 BYTES DOES NOT FIT THE WRITE BUFFER"}, false},
        {true, false, 0, {"FRAME OF 0 BYTES DOES NOT FIT THE WRITE BUFFER"}, false},
    };
    const Bytes frame(2049, 0x02);
    for (const auto& c : cases) {
        Rig rig;
        rig.io.port = c.port;
        rig.io.kept = c.kept;
        rig.link.CollectReplyByte(0x02, &rig);
        rig.monitor.HandOver(frame.data(), c.length);
        EXPECT_EQ(rig.log.lines, c.log) << c.length;
        EXPECT_EQ(rig.io.calls, c.signalled ? Lines{"signal write"} : Lines{}) << c.length;
        EXPECT_EQ(rig.link.ReceivedLength(), 0);
    }
}

TEST(PortMonitor, EachFrameIsPurgedForEncodedAndWrittenAndAFailedOrShortWriteIsCleared) {
    const struct {
        bool purges;
        Transfer result;
        uint32_t shortBy;
        const char* calls;  // of the write step
        Lines log;
    } cases[] = {
        {true, Transfer::kDone, 0, "purge; write; done", {}},
        {true, Transfer::kDone, 1, "purge; write; clear; done", {}},
        {true, Transfer::kFailed, 0, "purge; write; clear; done", {Warning("WriteFile()", 31)}},
        {true,
         Transfer::kPendingFailed,
         0,
         "purge; write; clear; done",
         {Warning("GetOverlappedResults() in WriteFile()", 31)}},
        {false, Transfer::kDone, 0, "purge; done", {}},  // the port is closing
    };
    // The one-byte command 0x25 with the zero key and the pair above, computed independently.
    const Bytes wire = {0x02, 0x00, 0x0B, 0x51, 0x72, 0x85, 0x6B, 0x10,
                        0x3D, 0x22, 0xC4, 0x4B, 0x99, 0x00, 0xCA, 0x03};
    const uint8_t plain[] = {0x02, 0x00, 0x01, 0x25, 0x25, 0x03};
    for (const auto& c : cases) {
        Rig rig;
        rig.io.purgeWorks = c.purges;
        rig.io.writeResult = c.result;
        rig.io.shortBy = c.shortBy;
        rig.io.events = {Event::kWrite};
        rig.monitor.HandOver(plain, sizeof plain);
        EXPECT_EQ(rig.io.Calls(), "signal write");
        rig.io.calls.clear();
        rig.io.waits = {{WaitStart::kFailed, 997}};
        rig.monitor.Run();
        EXPECT_EQ(rig.io.Calls(),
                  std::string("begin; wait; clear; ") + c.calls + "; end wait; end");
        EXPECT_EQ(Lines(rig.log.lines.begin() + 1, rig.log.lines.end() - 2), c.log);
        EXPECT_EQ(rig.io.wire, c.purges ? wire : Bytes());
    }
}

TEST(ComPort, OpeningStopsAnOldMonitorReplacesEventsAndConfiguresUntilTheFirstFailingCall) {
    const std::string E = "Entering InitPort", C = "Create Port and Baud buffer",
                      R1 = "Reset Write Event if already Set",
                      R2 = "Reset ShutdownSet Event if already Set", B = "Begin Open COM",
                      D = "\\\\.\\COM7", L = "baud=9600 parity=N data=8 stop=1",
                      V = "Leaving InitPort";
    const Lines chain = {"set 10000 " + L, "set 9 " + L, "set 9 " + L, "set 9 " + L, "set 9 " + L};
    const struct {
        bool present, ended, port, opens;
        int failingStep;
        bool result;
        Lines log, sets;
    } cases[] = {
        {false, true, false, true, -1, true, {E, R1, R2, C, B, D, L, V}, chain},
        {false,
         true,
         true,
         true,
         1,
         true,
         {E, R1, R2, C, "COM Port already Open Trying to Close", B, D, L,
          Warning("SetCommMask()", 87), V},
         {chain[0], chain[1]}},
        {false,
         true,
         false,
         true,
         4,
         true,
         {E, R1, R2, C, B, D, L, Warning("SetCommState()", 87), V},
         chain},
        {false,
         true,
         false,
         false,
         -1,
         false,
         {E, R1, R2, C, B, D, L, "Open COM ERROR", Warning("Open COM ERROR", 87)},
         {}},
        {true,
         true,
         false,
         true,
         0,
         true,
         {E, R1, R2, C, B, D, L, Warning("SetCommTimeouts()", 87), V},
         {chain[0]}},
        {true,
         false,
         false,
         true,
         -1,
         false,
         {E, "COMThread still running, port not reopened"},
         {}},
    };
    for (const auto& c : cases) {
        testing_support::CapturingLog log;
        ScriptedPort io;
        io.present = c.present, io.ended = c.ended, io.port = c.port, io.opens = c.opens;
        io.failingStep = c.failingStep;
        io.existed = IPortDevice::kWriteEvent | IPortDevice::kThreadClosedEvent;
        ComPort port(io);
        EXPECT_EQ(port.InitPort(7, 9600, 'N', 8, 1, 9, 1024, nullptr), c.result);
        EXPECT_EQ(log.lines, c.log) << c.failingStep;
        Lines sets;
        for (const std::string& call : io.calls) {
            if (call.compare(0, 4, "set ") == 0) sets.push_back(call);
        }
        EXPECT_EQ(sets, c.sets) << c.failingStep;
        const Lines stop = {"stop", "shutdown", "ended by 10005"};
        EXPECT_EQ(Lines(io.calls.begin(), io.calls.begin() + (c.present ? 3 : 0)),
                  c.present ? stop : Lines{});
        EXPECT_EQ(std::count(io.calls.begin(), io.calls.end(), "end"), c.opens ? 0 : 1)
            << "a failed open leaves nothing for a close to wait for";
    }
}

TEST(ComPort, ClosingWaitsForTheThreadByOneDeadlineAndReleasesOnlyWhatNothingStillUses) {
    const char* stillRunning = "COMThread still running after the close wait";
    const struct {
        bool ended, stuck;
        const char* release;
        Lines log;
    } cases[] = {
        {true, false, "; release", {}}, {true, true, "", {}}, {false, false, "", {stillRunning}}};
    for (const auto& c : cases) {
        testing_support::CapturingLog log;
        ScriptedPort io;
        io.ended = c.ended, io.stuck = c.stuck;
        ComPort port(io);
        port.ClosePort();
        EXPECT_EQ(io.Calls(), std::string("stop; shutdown; closed by 10005; ended by 10005; lock; "
                                          "close; unlock") +
                                  c.release);
        Lines lines = {"Begin Close COM Port", "Waiting for ThreadClose", "Thread Closed"};
        lines.insert(lines.end(), c.log.begin(), c.log.end());
        lines.push_back("End Close COM Port");
        EXPECT_EQ(log.lines, lines);
    }
}

}  // namespace
}  // namespace quillon
