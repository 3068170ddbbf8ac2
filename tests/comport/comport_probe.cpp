// quillon_comport_probe PORT MISSING_PORT: what only a real port shows of ComPort (its decisions
// are unit-tested): the purge before a write, ClosePort's bounded waits. tests/e2e/test_faults.py
// checks the frames the simulator on COM<PORT> got. Ends "N passed, N failed".
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "serial/comport.h"
#include "serial/port_device_win32.h"
#include "support/process_counts_win32.h"
#include "terminal/frame_codec.h"

using namespace quillon;
using testing_support::SettledThreadCount;

namespace {

// The message the probe's window takes a reply frame by, as the dialog's window does.
const UINT kReplyMessage = WM_USER + 2;

int g_passed = 0, g_failed = 0;
void Check(bool ok, const char* what, int line) {
    if (!ok) std::printf("FAIL line %d: %s\n", line, what);
    ++(ok ? g_passed : g_failed);
}
#define CHECK(condition) Check((condition), #condition, __LINE__)

// Takes each reply over: signals it, hands it to `window` as the dialog does (SendMessage to a
// window of the thread that will call ClosePort), and while `release` is reset stays inside.
struct HandOver : IFrameSink {
    HWND window = nullptr;
    HANDLE entered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    void OnFrame(const uint8_t* frame, int length) override {
        SetEvent(entered);
        if (window != nullptr) {
            SendMessageW(window, kReplyMessage, static_cast<WPARAM>(length),
                         reinterpret_cast<LPARAM>(frame));
        }
        WaitForSingleObject(release, 60000);
    }
    bool Got() { return WaitForSingleObject(entered, 3000) == WAIT_OBJECT_0; }
};

// ComPort on the Win32 device, with the device's handles in reach.
struct Port : Win32PortDevice, ComPort {
    explicit Port(IFrameSink* to = nullptr)
        : ComPort(static_cast<Win32PortDevice&>(*this)), replies(to) {}
    IFrameSink* replies;
    bool Start(unsigned number, DWORD mask = EV_RXCHAR | EV_CTS) {
        return InitPort(number, 115200, 'N', 8, 1, mask, 1024, replies) && StartMonitor();
    }
    void Send(uint8_t code) {  // a frame of one command byte and no data
        const uint8_t frame[] = {kStx, 0, 1, code, ByteSum(&code, 1), kEtx};
        SendToPort(frame, sizeof frame);
    }
    DWORD Queued() {
        Sleep(300);
        DWORD errors = 0;
        COMSTAT queue = {};
        ClearCommError(portHandle, &errors, &queue);
        return queue.cbInQue;
    }
};

void PurgeBeforeEachWriteAndAMissingPort(unsigned number, unsigned missing) {
    Port port;
    // Without EV_RXCHAR the monitor thread never drains: replies stay in the driver's queue.
    port.Start(number, EV_CTS);
    port.Send(0x25);
    CHECK(port.Queued() == 21);  // the serial-number reply: 16 bytes enciphered + 5
    port.Send(0x99);
    CHECK(port.Queued() == 13);  // only the second reply: the write purged the first
    port.ClosePort();
    Port absent;
    CHECK(!absent.Start(missing));
    const ULONGLONG start = GetTickCount64();
    absent.ClosePort();
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
    CHECK(testing_support::ThreadCount() == baseline + 1);
    // It has had its deadline: the port stays shut, and neither the reopen nor a close waits again.
    const ULONGLONG again = GetTickCount64();
    CHECK(!port.Start(number));
    port.ClosePort();
    CHECK(GetTickCount64() - again < 1000);
    SetEvent(stuck.release);
    CHECK(SettledThreadCount() == baseline);  // it finds the port closed and ends
    port.Send(0x25);  // no write reaches the handle of the open (the terminal sees no frame)
    CHECK(port.Start(number));  // and the object works again
    port.Send(0x25);
    CHECK(stuck.Got());
    port.ClosePort();
    CHECK(SettledThreadCount() == baseline);
}

int g_windowGot = 0;  // the code of the reply the window took over

LRESULT CALLBACK ReplyWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != kReplyMessage) return DefWindowProcW(window, message, wparam, lparam);
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
    const unsigned number = static_cast<unsigned>(std::atoi(argv[1]));
    PurgeBeforeEachWriteAndAMissingPort(number, static_cast<unsigned>(std::atoi(argv[2])));
    CloseGivesUpOnAStuckThread(number);
    CloseServesItsWindow(number);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
