// quillon_comport_probe: drives ComPort directly against a terminal (the simulator on a pty
// mapped as a COM port) and prints what happened, one "key: value" line each, for
// tests/e2e/test_comport.py. Every run ends with the log lines captured from the port, as
// "log: <line>" with backslash, CR and LF escaped.
//
//   exchange PORT      status query (DefaultKey), link key installed, serial-number query
//   limits PORT        a frame one byte over the write buffer, then one that just fits
//   purge PORT         replies left undrained (no EV_RXCHAR in the mask) before the next frame
//   reopen PORT        InitPort twice in a row, then an exchange on the reopened port
//   shared PORT        port handle emptied, SharedPortHandle set: the frame goes through it
//   missing PORT       InitPort on a port that does not exist, repeated, with closes between
//   stuckclose PORT    ClosePort while the monitor thread is stuck in a reply target
//   closeinreply PORT  ClosePort while the monitor thread is inside SendMessage to our window
//   cycles PORT N      N open/send/close cycles; handle and thread counts before and after
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "support/process_counts_win32.h"
#include "serial/comport_win32.h"
#include "terminal/frame_codec.h"

using namespace quillon;
using testing_support::HandleCount;
using testing_support::ThreadCount;

namespace {

const DWORD kMaskRxCharCts = EV_RXCHAR | EV_CTS;  // the dialog's mask
const DWORD kReplyWaitMs = 3000;

using Bytes = std::vector<uint8_t>;

// ---- capture ---------------------------------------------------------------------------------

class LogCapture : public ILogSink {
  public:
    LogCapture() { InitializeCriticalSection(&lock_); }
    ~LogCapture() override { DeleteCriticalSection(&lock_); }
    void Write(const std::string& line) override {
        EnterCriticalSection(&lock_);
        lines_.push_back(line);
        if (trace) std::fprintf(stderr, "%lu %s\n", GetTickCount(), line.c_str());
        LeaveCriticalSection(&lock_);
    }
    std::vector<std::string> Lines() {
        EnterCriticalSection(&lock_);
        std::vector<std::string> copy = lines_;
        LeaveCriticalSection(&lock_);
        return copy;
    }

    bool trace = false;  // also to standard error as they come, for a run that hangs

  private:
    CRITICAL_SECTION lock_;
    std::vector<std::string> lines_;
};

LogCapture g_log;

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

// The decoded frame in g_abRxFrame: L + 5 bytes.
Bytes CurrentRxFrame() {
    const int length = g_abRxFrame[1] * 256 + g_abRxFrame[2];
    return Bytes(g_abRxFrame, g_abRxFrame + length + 5);
}

// Keeps each complete reply, as the dialog's handler would read it.
class FrameCapture : public IReplyTarget {
  public:
    FrameCapture() : got_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        InitializeCriticalSection(&lock_);
    }
    ~FrameCapture() override {
        CloseHandle(got_);
        DeleteCriticalSection(&lock_);
    }
    void OnFrameComplete() override {
        EnterCriticalSection(&lock_);
        frames_.push_back(CurrentRxFrame());
        LeaveCriticalSection(&lock_);
        SetEvent(got_);
    }
    // The next reply, or an empty frame after the time-out.
    Bytes Next(DWORD timeoutMs = kReplyWaitMs) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            EnterCriticalSection(&lock_);
            if (taken_ < frames_.size()) {
                Bytes frame = frames_[taken_++];
                LeaveCriticalSection(&lock_);
                return frame;
            }
            LeaveCriticalSection(&lock_);
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return Bytes();
            WaitForSingleObject(got_, static_cast<DWORD>(deadline - now));
        }
    }

  private:
    CRITICAL_SECTION lock_;
    HANDLE got_;
    std::vector<Bytes> frames_;
    size_t taken_ = 0;
};

// ---- frames ----------------------------------------------------------------------------------

Bytes PlainFrame(uint8_t code, const Bytes& data) {
    const int length = 1 + static_cast<int>(data.size());
    Bytes frame(4 + data.size());
    frame[0] = kStx;
    frame[1] = static_cast<uint8_t>(length >> 8);
    frame[2] = static_cast<uint8_t>(length & 0xFF);
    frame[3] = code;
    if (!data.empty()) std::memcpy(frame.data() + 4, data.data(), data.size());
    frame.push_back(ByteSum(frame.data() + 3, length));
    frame.push_back(kEtx);
    return frame;
}

void Send(ComPort& port, const Bytes& frame) {
    g_nRxLen = 0;  // as every command builder does
    port.SendToPort(frame.data(), static_cast<int>(frame.size()));
}

void PrintReply(const char* key, const Bytes& frame) {
    std::printf("%s: %s\n", key, frame.empty() ? "none" : Hex(frame.data(), frame.size()).c_str());
}

// The status reply: code, status, k, k name bytes, 16 identity bytes, 16 link-key bytes.
bool InstallLinkKey(const Bytes& reply) {
    if (reply.size() < 7 || reply[3] != kCmdGetLltStatus) return false;
    const size_t at = 6 + reply[5] + 16;
    if (reply.size() < at + kKeySize) return false;
    std::memcpy(LinkKey, reply.data() + at, kKeySize);
    return true;
}

// ---- process accounting ----------------------------------------------------------------------

// Threads of this process settle at `expected` within the time given; returns the last count.
int ThreadsSettleAt(int expected, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    int count = ThreadCount();
    while (count != expected && GetTickCount64() < deadline) {
        Sleep(10);
        count = ThreadCount();
    }
    return count;
}

// ---- a port whose inner state the tests need to see or disturb -------------------------------

class ProbePort : public ComPort {
  public:
    HANDLE Handle() const { return portHandle; }
    BOOL Alive() const { return threadAlive; }
    bool ThreadClosedEventSet() const {
        return threadClosedEvent != nullptr &&
               WaitForSingleObject(threadClosedEvent, 0) == WAIT_OBJECT_0;
    }
    // Loses the port's own handle without closing the device, as when the object was reset
    // while the dialog still held the handle.
    void ForgetHandle() {
        Lock();
        portHandle = nullptr;
        Unlock();
    }
};

HANDLE Open(ComPort& port, unsigned number, DWORD mask = kMaskRxCharCts) {
    return port.InitPort(number, 115200, 'N', 8, 1, mask, 1024);
}

void PrintLog() {
    for (const std::string& line : g_log.Lines()) {
        std::string escaped;
        for (char c : line) {
            if (c == '\\') {
                escaped += "\\\\";
            } else if (c == '\n') {
                escaped += "\\n";
            } else if (c == '\r') {
                escaped += "\\r";
            } else {
                escaped += c;
            }
        }
        std::printf("log: %s\n", escaped.c_str());
    }
}

const char* Validity(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? "invalid" : "valid"; }

// ---- subcommands -----------------------------------------------------------------------------

int Exchange(unsigned number) {
    FrameCapture replies;
    SetReplyTarget(&replies);
    ComPort port;
    std::printf("init: %s\n", Validity(Open(port, number)));
    std::printf("monitor: %d\n", port.StartMonitor() ? 1 : 0);
    Send(port, PlainFrame(0x23, {}));
    const Bytes status = replies.Next();
    PrintReply("reply", status);
    std::printf("linkkey: %s\n", InstallLinkKey(status) ? Hex(LinkKey, kKeySize).c_str() : "none");
    Send(port, PlainFrame(0x25, {}));
    PrintReply("reply", replies.Next());
    const DCB dcb = port.GetDCB();
    std::printf("dcb: %lu %u %u %u rts=%u\n", static_cast<unsigned long>(dcb.BaudRate),
                dcb.ByteSize, dcb.Parity, dcb.StopBits, static_cast<unsigned>(dcb.fRtsControl));
    std::printf("events: %lu size: %lu\n", static_cast<unsigned long>(port.GetCommEvents()),
                static_cast<unsigned long>(port.GetWriteBufferSize()));
    port.ClosePort();
    SetReplyTarget(nullptr);
    return 0;
}

int Limits(unsigned number) {
    FrameCapture replies;
    SetReplyTarget(&replies);
    ComPort port;
    std::printf("init: %s\n", Validity(Open(port, number)));
    port.StartMonitor();
    Bytes data(kWriteBufferSize - 6);  // code + data + 5 framing bytes = 2048
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    Bytes tooLong = PlainFrame(0x77, data);
    tooLong.insert(tooLong.end() - 2, 0x55);
    std::printf("too long: %zu\n", tooLong.size());
    Send(port, tooLong);
    PrintReply("reply", replies.Next(500));
    const Bytes fits = PlainFrame(0x77, data);
    std::printf("fits: %zu\n", fits.size());
    Send(port, fits);
    PrintReply("reply", replies.Next());
    port.ClosePort();
    SetReplyTarget(nullptr);
    return 0;
}

// Queue length once it has stopped growing (100 ms unchanged), or after the time-out.
DWORD SettledQueue(HANDLE handle, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    DWORD last = 0;
    ULONGLONG stableSince = GetTickCount64();
    while (GetTickCount64() < deadline) {
        DWORD errors = 0;
        COMSTAT comstat = {};
        ClearCommError(handle, &errors, &comstat);
        if (comstat.cbInQue != last) {
            last = comstat.cbInQue;
            stableSince = GetTickCount64();
        } else if (last > 0 && GetTickCount64() - stableSince >= 100) {
            break;
        }
        Sleep(10);
    }
    return last;
}

int Purge(unsigned number) {
    FrameCapture replies;
    SetReplyTarget(&replies);
    ComPort port;
    // Without EV_RXCHAR the monitor thread never drains: replies stay in the driver's queue.
    const HANDLE handle = Open(port, number, EV_CTS);
    std::printf("init: %s\n", Validity(handle));
    port.StartMonitor();
    Send(port, PlainFrame(0x25, {}));
    std::printf("queued: %lu\n", static_cast<unsigned long>(SettledQueue(handle, 3000)));
    Send(port, PlainFrame(0x99, {}));
    Sleep(200);  // the second reply is in too
    const DWORD queued = SettledQueue(handle, 3000);
    std::printf("queued: %lu\n", static_cast<unsigned long>(queued));

    // Read what is queued ourselves and decode it as the monitor thread would.
    uint8_t bytes[512] = {};
    DWORD got = 0;
    OVERLAPPED read = {};
    read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const DWORD want = queued < sizeof bytes ? queued : sizeof bytes;
    if (!ReadFile(handle, bytes, want, &got, &read) && GetLastError() == ERROR_IO_PENDING) {
        GetOverlappedResult(handle, &read, &got, TRUE);
    }
    CloseHandle(read.hEvent);
    std::printf("read: %lu\n", static_cast<unsigned long>(got));
    for (DWORD i = 0; i < got; ++i) CollectReplyByte(bytes[i]);
    for (Bytes frame = replies.Next(200); !frame.empty(); frame = replies.Next(200)) {
        PrintReply("reply", frame);
    }
    port.ClosePort();
    SetReplyTarget(nullptr);
    return 0;
}

int Reopen(unsigned number) {
    FrameCapture replies;
    SetReplyTarget(&replies);
    ComPort port;
    const int baseline = ThreadCount();
    std::printf("init: %s\n", Validity(Open(port, number)));
    port.StartMonitor();
    std::printf("threads with monitor: %d\n", ThreadsSettleAt(baseline + 1, 2000) - baseline);
    Sleep(100);  // the thread is waiting for its events
    std::printf("init: %s\n", Validity(Open(port, number)));
    std::printf("threads after reinit: %d\n", ThreadCount() - baseline);
    port.StartMonitor();
    Send(port, PlainFrame(0x25, {}));
    PrintReply("reply", replies.Next());
    port.ClosePort();
    std::printf("threads after close: %d\n", ThreadCount() - baseline);
    SetReplyTarget(nullptr);
    return 0;
}

int Shared(unsigned number) {
    FrameCapture replies;
    SetReplyTarget(&replies);
    ProbePort port;
    const HANDLE handle = Open(port, number);
    std::printf("init: %s\n", Validity(handle));
    SharedPortHandle = handle;  // as the dialog stores it
    port.StartMonitor();
    Sleep(100);  // the thread is waiting for its events
    port.ForgetHandle();
    Send(port, PlainFrame(0x25, {}));
    std::printf("adopted: %d\n", port.Handle() == handle ? 1 : 0);
    PrintReply("reply", replies.Next());
    port.ClosePort();
    std::printf("shared after close: %s\n", SharedPortHandle == nullptr ? "empty" : "set");
    Send(port, PlainFrame(0x25, {}));  // no handle anywhere now
    PrintReply("reply", replies.Next(300));
    SetReplyTarget(nullptr);
    return 0;
}

int Missing(unsigned number) {
    ProbePort port;
    for (int round = 1; round <= 2; ++round) {
        const HANDLE handle = Open(port, number);
        std::printf("init: %s alive: %d closed event: %d\n", Validity(handle), port.Alive(),
                    port.ThreadClosedEventSet() ? 1 : 0);
    }
    for (int round = 1; round <= 2; ++round) {
        const ULONGLONG start = GetTickCount64();
        port.ClosePort();
        std::printf("close ms: %llu\n", GetTickCount64() - start);
    }
    const HANDLE handle = Open(port, number);
    std::printf("init: %s alive: %d closed event: %d\n", Validity(handle), port.Alive(),
                port.ThreadClosedEventSet() ? 1 : 0);
    port.ClosePort();
    return 0;
}

// Blocks the monitor thread inside the reply hand-over until released.
class StuckTarget : public IReplyTarget {
  public:
    StuckTarget()
        : entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~StuckTarget() override {
        CloseHandle(entered);
        CloseHandle(release);
    }
    void OnFrameComplete() override {
        SetEvent(entered);
        WaitForSingleObject(release, 60000);
    }
    HANDLE entered;
    HANDLE release;
};

int StuckClose(unsigned number) {
    StuckTarget stuck;
    SetReplyTarget(&stuck);
    ComPort port;
    const int baseline = ThreadCount();
    std::printf("init: %s\n", Validity(Open(port, number)));
    port.StartMonitor();
    Send(port, PlainFrame(0x25, {}));
    const bool entered = WaitForSingleObject(stuck.entered, kReplyWaitMs) == WAIT_OBJECT_0;
    std::printf("stuck: %d\n", entered ? 1 : 0);
    const ULONGLONG start = GetTickCount64();
    port.ClosePort();
    std::printf("close ms: %llu\n", GetTickCount64() - start);
    std::printf("threads while stuck: %d\n", ThreadCount() - baseline);
    SetEvent(stuck.release);
    std::printf("threads after release: %d\n", ThreadsSettleAt(baseline, 3000) - baseline);

    // The object is usable again: a normal exchange on a reopened port.
    FrameCapture replies;
    SetReplyTarget(&replies);
    std::printf("init: %s\n", Validity(Open(port, number)));
    port.StartMonitor();
    Send(port, PlainFrame(0x25, {}));
    PrintReply("reply", replies.Next());
    port.ClosePort();
    std::printf("threads after close: %d\n", ThreadCount() - baseline);
    SetReplyTarget(nullptr);
    return 0;
}

// The dialog's way: the reply is sent to a window of the thread that will call ClosePort.
Bytes g_windowFrame;
HWND g_window = nullptr;

LRESULT CALLBACK ReplyWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_TERMINAL_REPLY) {
        g_windowFrame = CurrentRxFrame();
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

class WindowTarget : public IReplyTarget {
  public:
    WindowTarget() : entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~WindowTarget() override { CloseHandle(entered); }
    void OnFrameComplete() override {
        SetEvent(entered);
        SendMessageW(g_window, WM_TERMINAL_REPLY, 0, 0);
    }
    HANDLE entered;
};

int CloseInReply(unsigned number) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ReplyWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuillonComportProbe";
    RegisterClassW(&windowClass);
    g_window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             windowClass.hInstance, nullptr);
    std::printf("window: %d\n", g_window != nullptr ? 1 : 0);

    WindowTarget target;
    SetReplyTarget(&target);
    ComPort port;
    const int baseline = ThreadCount();
    std::printf("init: %s\n", Validity(Open(port, number)));
    port.StartMonitor();
    Send(port, PlainFrame(0x25, {}));
    // A plain wait does not serve the sent message: the monitor thread stays inside SendMessage.
    const bool entered = WaitForSingleObject(target.entered, kReplyWaitMs) == WAIT_OBJECT_0;
    Sleep(200);
    std::printf("in hand-over: %d\n", entered && g_windowFrame.empty() ? 1 : 0);
    const ULONGLONG start = GetTickCount64();
    port.ClosePort();
    std::printf("close ms: %llu\n", GetTickCount64() - start);
    PrintReply("window got", g_windowFrame);
    std::printf("threads after close: %d\n", ThreadCount() - baseline);
    SetReplyTarget(nullptr);
    DestroyWindow(g_window);
    return 0;
}

int Cycles(unsigned number, int count) {
    FrameCapture replies;
    SetReplyTarget(&replies);
    ComPort port;
    int answered = 0;
    auto cycle = [&]() {
        if (Open(port, number) != INVALID_HANDLE_VALUE && port.StartMonitor()) {
            Send(port, PlainFrame(0x25, {}));
            if (!replies.Next().empty()) ++answered;
        }
        port.ClosePort();
    };
    // The first open lets the system set up what it keeps for the process's life.
    cycle();
    const int threads = ThreadCount();
    const int handles = HandleCount();
    answered = 0;
    const ULONGLONG start = GetTickCount64();
    for (int i = 0; i < count; ++i) cycle();
    std::printf("cycles: %d answered: %d ms: %llu\n", count, answered, GetTickCount64() - start);
    std::printf("threads: %d %d\n", threads, ThreadCount());
    std::printf("handles: %d %d\n", handles, HandleCount());
    SetReplyTarget(nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quillon_comport_probe COMMAND PORT [COUNT]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    g_log.trace = std::getenv("QUILLON_PROBE_TRACE") != nullptr;
    const std::string command = argv[1];
    const unsigned number = static_cast<unsigned>(std::atoi(argv[2]));
    // The log lines of many cycles are not wanted; every other command shows them.
    if (command != "cycles") SetLogSink(&g_log);
    int result = 2;
    if (command == "exchange") {
        result = Exchange(number);
    } else if (command == "limits") {
        result = Limits(number);
    } else if (command == "purge") {
        result = Purge(number);
    } else if (command == "reopen") {
        result = Reopen(number);
    } else if (command == "shared") {
        result = Shared(number);
    } else if (command == "missing") {
        result = Missing(number);
    } else if (command == "stuckclose") {
        result = StuckClose(number);
    } else if (command == "closeinreply") {
        result = CloseInReply(number);
    } else if (command == "cycles") {
        result = Cycles(number, argc > 3 ? std::atoi(argv[3]) : 200);
    } else {
        std::fprintf(stderr, "unknown command %s\n", command.c_str());
    }
    SetLogSink(nullptr);
    PrintLog();
    std::fflush(stdout);
    return result;
}
