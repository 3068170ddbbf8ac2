// quillon_comport_probe PORT MISSING_PORT: drives ComPort directly against the terminal simulator
// on COM<PORT> and checks what only a real port shows: the write-buffer limit, the purge before
// each write, InitPort ending the old monitor thread, the shared handle, a port that does not
// exist, and ClosePort's bounded wait (a stuck monitor thread; one inside SendMessage to the
// closing thread's window). tests/e2e/test_faults.py runs it and checks the frames the simulator
// got. Prints each failed check and ends with "N passed, N failed".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "serial/comport_win32.h"
#include "support/process_counts_win32.h"
#include "terminal/frame_codec.h"

using namespace quillon;
using testing_support::SettledThreadCount;

namespace {

using Bytes = std::vector<uint8_t>;

int g_passed = 0, g_failed = 0;
void Check(bool ok, const char* what, int line) {
    if (!ok) std::printf("FAIL line %d: %s\n", line, what);
    ++(ok ? g_passed : g_failed);
}
#define CHECK(condition) Check((condition), #condition, __LINE__)

CRITICAL_SECTION g_lock;  // over what the monitor thread hands to the probe
struct Locked {
    Locked() { EnterCriticalSection(&g_lock); }
    ~Locked() { LeaveCriticalSection(&g_lock); }
};

// Every line the port logs; Logged() asks whether a line since its last call held the text.
struct LogCapture : ILogSink {
    std::string text;
    void Write(const std::string& line) override {
        Locked hold;
        text += line + '\x01';
    }
    bool Logged(const std::string& what) {
        Locked hold;
        const bool found = text.find(what) != std::string::npos;
        text.clear();
        return found;
    }
} g_log;

// Every decoded reply frame; Next() takes the next one, or gives an empty frame after the
// time-out.
struct FrameCapture : IFrameSink {
    std::vector<Bytes> frames;
    size_t taken = 0;
    void OnFrame(const uint8_t* frame, int length) override {
        Locked hold;
        frames.emplace_back(frame, frame + length);
    }
    Bytes Next(DWORD timeoutMs = 3000) {
        for (const ULONGLONG end = GetTickCount64() + timeoutMs; GetTickCount64() < end; Sleep(5)) {
            Locked hold;
            if (taken < frames.size()) return frames[taken++];
        }
        return Bytes();
    }
};

Bytes PlainFrame(uint8_t code, const Bytes& data = Bytes()) {
    const int length = 1 + static_cast<int>(data.size());
    Bytes frame = {kStx, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), code};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(ByteSum(frame.data() + 3, length));
    frame.push_back(kEtx);
    return frame;
}

// ComPort on the Win32 device, with the device's handles in reach.
struct Port : Win32PortDevice, ComPort {
    using Win32PortDevice::keptHandle;
    using Win32PortDevice::Lock;
    using Win32PortDevice::portHandle;
    using Win32PortDevice::Unlock;
    explicit Port(IFrameSink* to = nullptr)
        : ComPort(static_cast<Win32PortDevice&>(*this)), replies(to) {}
    IFrameSink* replies;
    // Opens COM<number> and starts its monitor thread; true when both worked.
    bool Start(unsigned number, DWORD mask = EV_RXCHAR | EV_CTS) {
        return InitPort(number, 115200, 'N', 8, 1, mask, 1024, replies) && StartMonitor();
    }
    void Send(const Bytes& frame) { SendToPort(frame.data(), static_cast<int>(frame.size())); }
};

void WriteBufferLimit(unsigned number) {
    FrameCapture replies;
    Port port(&replies);
    CHECK(port.Start(number));
    Bytes data(kWriteBufferSize - 6);  // code + data + 5 framing bytes = the whole buffer
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    Bytes tooLong = PlainFrame(0x77, data);
    tooLong.insert(tooLong.end() - 2, 0x55);
    port.Send(tooLong);
    CHECK(replies.Next(500).empty());
    CHECK(g_log.Logged("FRAME OF 2049 BYTES DOES NOT FIT THE WRITE BUFFER"));
    port.Send(PlainFrame(0x77, data));
    CHECK(replies.Next() == PlainFrame(0x77, {0x06}));
    port.ClosePort();
}

void PurgeBeforeEachWrite(unsigned number) {
    Port port;
    // Without EV_RXCHAR the monitor thread never drains: replies stay in the driver's queue.
    port.Start(number, EV_CTS);
    DWORD errors = 0;
    COMSTAT queue = {};
    port.Send(PlainFrame(0x25));
    Sleep(300);
    ClearCommError(port.portHandle, &errors, &queue);
    CHECK(queue.cbInQue == 21);  // the serial-number reply: 16 bytes enciphered + 5
    port.Send(PlainFrame(0x99));
    Sleep(300);
    ClearCommError(port.portHandle, &errors, &queue);
    CHECK(queue.cbInQue == 13);  // only the second reply: the write purged the first
    port.ClosePort();
}

void ReopenEndsTheMonitor(unsigned number) {
    FrameCapture replies;
    Port port(&replies);
    const int baseline = SettledThreadCount();
    port.Start(number);
    // The monitor thread, waiting for its events (wine adds a thread of its own for the wait,
    // which goes a moment after the wait has ended: hence the settled counts).
    CHECK(SettledThreadCount() > baseline);
    CHECK(port.InitPort(number, 115200, 'N', 8, 1, EV_RXCHAR | EV_CTS, 1024, &replies));
    CHECK(SettledThreadCount() == baseline);
    port.StartMonitor();
    port.Send(PlainFrame(0x25));
    CHECK(!replies.Next().empty());
    port.ClosePort();
    CHECK(SettledThreadCount() == baseline);
}

void SharedHandle(unsigned number) {
    FrameCapture replies;
    Port port(&replies);
    port.Start(number);
    const HANDLE handle = port.keptHandle;  // kept from the open
    CHECK(handle != nullptr && handle == port.portHandle);
    Sleep(100);
    port.Lock();
    port.portHandle = nullptr;  // lost, as when the object was reset while the dialog held it
    port.Unlock();
    port.Send(PlainFrame(0x25));
    CHECK(port.portHandle == handle);
    CHECK(!replies.Next().empty());
    port.ClosePort();
    CHECK(port.keptHandle == nullptr);
    port.Send(PlainFrame(0x25));  // no handle anywhere now
    CHECK(replies.Next(300).empty());
    CHECK(g_log.Logged("PORT NOT OPENED Trying to Write"));
}

void MissingPort(unsigned number) {
    Port port;
    CHECK(!port.Start(number));
    CHECK(
        g_log.Logged("WARNING:  Open COM ERROR Failed with the following error: \n"
                     "File not found.\r\n\nPort: " +
                     std::to_string(number) + "\n"));
    const ULONGLONG start = GetTickCount64();
    port.ClosePort();
    CHECK(GetTickCount64() - start < 1000);  // the failed open already signalled the end
}

// Takes a reply over as the dialog does, by SendMessage to `window` (a window of the thread that
// will call ClosePort), or, without a window, stays inside the hand-over until released.
struct HandOver : IFrameSink {
    explicit HandOver(HWND w) : window(w) {}
    void OnFrame(const uint8_t* frame, int length) override {
        SetEvent(entered);
        if (window != nullptr) {
            SendMessageW(window, WM_TERMINAL_REPLY, static_cast<WPARAM>(length),
                         reinterpret_cast<LPARAM>(frame));
        }
        if (window == nullptr) WaitForSingleObject(release, 60000);
    }
    HWND window;
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

void CloseGivesUpOnAStuckThread(unsigned number) {
    HandOver stuck(nullptr);
    Port port(&stuck);
    const int baseline = SettledThreadCount();
    port.Start(number);
    port.Send(PlainFrame(0x25));
    CHECK(WaitForSingleObject(stuck.entered, 3000) == WAIT_OBJECT_0);
    const ULONGLONG start = GetTickCount64();
    port.ClosePort();
    const ULONGLONG took = GetTickCount64() - start;
    CHECK(took >= 9900 && took <= 11500);
    CHECK(g_log.Logged("COMThread still running after the close wait"));
    CHECK(testing_support::ThreadCount() == baseline + 1);
    SetEvent(stuck.release);
    CHECK(SettledThreadCount() == baseline);  // it finds the port closed and ends

    FrameCapture replies;  // and the object works again
    port.replies = &replies;
    CHECK(port.Start(number));
    port.Send(PlainFrame(0x25));
    CHECK(!replies.Next().empty());
    port.ClosePort();
    CHECK(SettledThreadCount() == baseline);
}

int g_windowGot = 0;  // the code of the reply the window took over

LRESULT CALLBACK ReplyWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_TERMINAL_REPLY) return DefWindowProcW(window, message, wparam, lparam);
    g_windowGot = reinterpret_cast<const uint8_t*>(lparam)[3];
    return 0;
}

void CloseServesItsWindow(unsigned number) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ReplyWindowProc;
    windowClass.lpszClassName = L"QuillonComportProbe";
    RegisterClassW(&windowClass);
    HandOver target(CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, nullptr, nullptr));
    Port port(&target);
    const int baseline = SettledThreadCount();
    port.Start(number);
    port.Send(PlainFrame(0x25));
    // A plain wait does not serve the sent message: the monitor thread stays inside SendMessage.
    CHECK(WaitForSingleObject(target.entered, 3000) == WAIT_OBJECT_0);
    Sleep(200);
    CHECK(g_windowGot == 0);
    const ULONGLONG start = GetTickCount64();
    port.ClosePort();
    CHECK(GetTickCount64() - start < 2000);
    CHECK(g_windowGot == 0x25);
    CHECK(SettledThreadCount() == baseline);
    DestroyWindow(target.window);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillon_comport_probe PORT MISSING_PORT\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    InitializeCriticalSection(&g_lock);
    const unsigned number = static_cast<unsigned>(std::atoi(argv[1]));
    SetLogSink(&g_log);
    WriteBufferLimit(number);
    PurgeBeforeEachWrite(number);
    ReopenEndsTheMonitor(number);
    SharedHandle(number);
    MissingPort(static_cast<unsigned>(std::atoi(argv[2])));
    CloseGivesUpOnAStuckThread(number);
    CloseServesItsWindow(number);
    SetLogSink(nullptr);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
