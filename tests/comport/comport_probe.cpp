// quillon_comport_probe PORT MISSING_PORT: drives ComPort directly against the terminal simulator
// on COM<PORT> and checks what only a real port shows (its decisions are unit-tested against a
// scripted port): the purge before each write empties the driver's queue, a port that does not
// exist, and ClosePort's bounded wait (a stuck monitor thread; one inside SendMessage to the
// closing thread's window), after which no write finds the handle kept from the open.
// tests/e2e/test_faults.py runs it and checks the frames the simulator got. Prints each failed
// check and ends with "N passed, N failed".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/log.h"
#include "serial/comport_win32.h"
#include "support/process_counts_win32.h"
#include "terminal/frame_codec.h"

using namespace quillon;
using testing_support::SettledThreadCount;

namespace {

int g_passed = 0, g_failed = 0;
void Check(bool ok, const char* what, int line) {
    if (!ok) std::printf("FAIL line %d: %s\n", line, what);
    ++(ok ? g_passed : g_failed);
}
#define CHECK(condition) Check((condition), #condition, __LINE__)

// Every line the port logs (from its monitor thread too); Logged() asks whether a line since its
// last call held the text.
struct LogCapture : ILogSink {
    CRITICAL_SECTION lock;
    std::string text;
    void Write(const std::string& line) override {
        EnterCriticalSection(&lock);
        text += line + '\x01';
        LeaveCriticalSection(&lock);
    }
    bool Logged(const std::string& what) {
        EnterCriticalSection(&lock);
        const bool found = text.find(what) != std::string::npos;
        text.clear();
        LeaveCriticalSection(&lock);
        return found;
    }
} g_log;

// Takes each reply over: signals it, hands it to `window` as the dialog does (SendMessage to a
// window of the thread that will call ClosePort), and while `release` is reset stays inside.
struct HandOver : IFrameSink {
    HWND window = nullptr;
    HANDLE entered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    void OnFrame(const uint8_t* frame, int length) override {
        SetEvent(entered);
        if (window != nullptr) {
            SendMessageW(window, WM_TERMINAL_REPLY, static_cast<WPARAM>(length),
                         reinterpret_cast<LPARAM>(frame));
        }
        WaitForSingleObject(release, 60000);
    }
    bool Got(DWORD ms = 3000) { return WaitForSingleObject(entered, ms) == WAIT_OBJECT_0; }
};

// ComPort on the Win32 device, with the device's handles in reach.
struct Port : Win32PortDevice, ComPort {
    using Win32PortDevice::keptHandle;
    using Win32PortDevice::portHandle;
    explicit Port(IFrameSink* to = nullptr)
        : ComPort(static_cast<Win32PortDevice&>(*this)), replies(to) {}
    IFrameSink* replies;
    // Opens COM<number> and starts its monitor thread; true when both worked.
    bool Start(unsigned number, DWORD mask = EV_RXCHAR | EV_CTS) {
        return InitPort(number, 115200, 'N', 8, 1, mask, 1024, replies) && StartMonitor();
    }
    // A frame of one command byte and no data.
    void Send(uint8_t code) {
        const uint8_t frame[] = {kStx, 0, 1, code, ByteSum(&code, 1), kEtx};
        SendToPort(frame, sizeof frame);
    }
};

void PurgeBeforeEachWrite(unsigned number) {
    Port port;
    // Without EV_RXCHAR the monitor thread never drains: replies stay in the driver's queue.
    port.Start(number, EV_CTS);
    DWORD errors = 0;
    COMSTAT queue = {};
    port.Send(0x25);
    Sleep(300);
    ClearCommError(port.portHandle, &errors, &queue);
    CHECK(queue.cbInQue == 21);  // the serial-number reply: 16 bytes enciphered + 5
    port.Send(0x99);
    Sleep(300);
    ClearCommError(port.portHandle, &errors, &queue);
    CHECK(queue.cbInQue == 13);  // only the second reply: the write purged the first
    port.ClosePort();
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

void CloseGivesUpOnAStuckThread(unsigned number) {
    HandOver stuck;
    ResetEvent(stuck.release);
    Port port(&stuck);
    const int baseline = SettledThreadCount();
    port.Start(number);
    port.Send(0x25);
    CHECK(stuck.Got());
    const ULONGLONG start = GetTickCount64();
    port.ClosePort();
    const ULONGLONG took = GetTickCount64() - start;
    CHECK(took >= 9900 && took <= 11500);
    CHECK(g_log.Logged("COMThread still running after the close wait"));
    CHECK(testing_support::ThreadCount() == baseline + 1);
    SetEvent(stuck.release);
    CHECK(SettledThreadCount() == baseline);  // it finds the port closed and ends
    CHECK(port.keptHandle == nullptr);        // the close forgot the handle kept from the open
    port.Send(0x25);
    CHECK(g_log.Logged("PORT NOT OPENED Trying to Write"));
    CHECK(port.Start(number));  // and the object works again
    port.Send(0x25);
    CHECK(stuck.Got());
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
    HandOver target;
    target.window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, nullptr, nullptr);
    Port port(&target);
    const int baseline = SettledThreadCount();
    port.Start(number);
    port.Send(0x25);
    // A plain wait does not serve the sent message: the monitor thread stays inside SendMessage.
    CHECK(target.Got());
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
    InitializeCriticalSection(&g_log.lock);
    const unsigned number = static_cast<unsigned>(std::atoi(argv[1]));
    SetLogSink(&g_log);
    PurgeBeforeEachWrite(number);
    MissingPort(static_cast<unsigned>(std::atoi(argv[2])));
    CloseGivesUpOnAStuckThread(number);
    CloseServesItsWindow(number);
    SetLogSink(nullptr);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
