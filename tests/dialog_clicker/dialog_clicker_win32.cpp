// quillon_dialog_clicker TITLE CONTROL DELAY_MS TIMEOUT_MS
//
// Waits up to TIMEOUT_MS for a top-level window titled TITLE (hidden windows count: the tests run
// the dialog with show 0), waits DELAY_MS more, then clicks control CONTROL the way a button
// reports a click to its dialog (WM_COMMAND with BN_CLICKED). Prints what it saw:
//   found
//   control: <id> "<text>" visible=<0|1> enabled=<0|1>
//   after: enabled=<0|1>
// Exit status 0 when it clicked, 1 when no such window or control appeared, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: quillon_dialog_clicker TITLE CONTROL DELAY_MS TIMEOUT_MS\n");
        return 2;
    }
    const char* title = argv[1];
    const int control = std::atoi(argv[2]);
    const DWORD delay = static_cast<DWORD>(std::atoi(argv[3]));
    const DWORD limit = static_cast<DWORD>(std::atoi(argv[4]));

    HWND dialog = nullptr;
    const DWORD start = GetTickCount();
    while ((dialog = FindWindowA(nullptr, title)) == nullptr) {
        if (GetTickCount() - start > limit) {
            std::printf("no window \"%s\"\n", title);
            return 1;
        }
        Sleep(20);
    }
    std::printf("found\n");
    std::fflush(stdout);
    Sleep(delay);

    HWND button = GetDlgItem(dialog, control);
    if (button == nullptr) {
        std::printf("no control %d\n", control);
        return 1;
    }
    char text[100] = {0};
    GetWindowTextA(button, text, sizeof text);
    // The button's own style: the dialog itself stays hidden, so IsWindowVisible would say 0.
    const bool visible = (GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE) != 0;
    std::printf("control: %d \"%s\" visible=%d enabled=%d\n", control, text, visible ? 1 : 0,
                IsWindowEnabled(button) ? 1 : 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    std::printf("after: enabled=%d\n", IsWindowEnabled(button) ? 1 : 0);
    return 0;
}
