// quillon_probe: drives the library's Win32 adapters directly, for the end-to-end tests of what
// the entry point does not show on its own.
//
//   quillon_probe findcomport      prints the port FindComPort gives and the settings path
//   quillon_probe dialog MODE PORT runs one acquisition dialog in MODE and prints its result
//   quillon_probe showdialog MODE PORT SHOW HOLD_MS [--com none|sta|mta] [--wait-line2]
//                 [--ready FILE]
//                                  runs a dialog with the show flag SHOW; once it is up (and, with
//                                  --wait-line2, prompt line 2 has text) prints the screen size,
//                                  the window and client rectangles, both prompt lines and the
//                                  template's own layout, writes FILE, keeps the dialog HOLD_MS
//                                  longer and closes it. --com joins an apartment first, as a
//                                  host may have; afterwards it prints how COM stands.
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "acqdialog/acq_dialog_win32.h"
#include "command/entry_win32.h"
#include "foundation/platform_win32.h"
#include "foundation/settings.h"

using namespace quillon;

namespace {

int FindComPortCommand() {
    Win32FileSystem files;
    Win32SerialCommRegistry registry;
    Win32Profile profile;
    IniLocator locator(files);
    const int port = FindComPort(locator, registry, profile);
    std::printf("port: %d\npath: %s\n", port, locator.Current().c_str());
    return 0;
}

int DialogCommand(const char* mode, int port) {
    CAcqDialog dialog(Services().Environment());
    dialog.SetShowDialog(false);
    dialog.m_strMode = mode;
    dialog.m_nComPort = port;
    Win32DialogRunner runner;
    runner.DoModal(dialog);
    std::printf("result: %d\nstatus: %s\n", dialog.m_nRetCode, dialog.m_strStatus.c_str());
    return 0;
}

// ---- showdialog ----

struct ShowRun {
    HHOOK hook = nullptr;
    HWND dialog = nullptr;
    bool everVisible = false;
    DWORD started = 0;
    DWORD reported = 0;
    int holdMs = 0;
    bool waitLine2 = false;
    std::string readyFile;
    std::string report;
};
ShowRun g_show;

void AppendRect(const char* name, int left, int top, int width, int height) {
    char line[160];
    std::snprintf(line, sizeof line, "%s: %d %d %d %d\n", name, left, top, width, height);
    g_show.report += line;
}

// Client coordinates of a control's window.
void AppendItem(const char* name, int id) {
    RECT rect;
    GetWindowRect(GetDlgItem(g_show.dialog, id), &rect);
    MapWindowPoints(nullptr, g_show.dialog, reinterpret_cast<POINT*>(&rect), 2);
    AppendRect(name, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

// Template 4000's own layout in pixels, to compare the placed controls against. The dialog
// manager converts a control's position and size each on its own, so they are mapped apart.
void AppendTemplate(const char* name, int x, int y, int w, int h) {
    RECT rect = {x, y, w, h};
    MapDialogRect(g_show.dialog, &rect);
    AppendRect(name, rect.left, rect.top, rect.right, rect.bottom);
}

void Report() {
    HWND hwnd = g_show.dialog;
    UpdateWindow(hwnd);
    RECT window;
    RECT client;
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    AppendRect("screen", 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    AppendRect("window", window.left, window.top, window.right - window.left,
               window.bottom - window.top);
    AppendRect("client", origin.x, origin.y, client.right, client.bottom);
    AppendItem("line1", 4003);
    AppendItem("line2", 4004);
    AppendTemplate("template-client", 0, 0, 160, 89);
    AppendTemplate("template-line1", 0, 41, 160, 14);
    AppendTemplate("template-line2", 0, 48, 160, 26);
    char text[200] = "";
    GetDlgItemTextA(hwnd, 4004, text, sizeof text);
    for (char* c = text; *c; ++c) {
        if (*c == '\r' || *c == '\n') *c = '|';
    }
    g_show.report += std::string("line2-text: ") + text + "\n";
    g_show.report += std::string("visible-now: ") + (IsWindowVisible(hwnd) ? "1" : "0") + "\n";
    if (!g_show.readyFile.empty()) {
        FILE* f = std::fopen(g_show.readyFile.c_str(), "wb");
        if (f != nullptr) {
            std::fputs(g_show.report.c_str(), f);
            std::fclose(f);
        }
    }
}

void CALLBACK ShowTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND hwnd = g_show.dialog;
    if (hwnd == nullptr || !IsWindow(hwnd)) return;
    const DWORD now = GetTickCount();
    if (g_show.reported == 0) {
        char text[8] = "";
        GetDlgItemTextA(hwnd, 4004, text, sizeof text);
        const DWORD elapsed = now - g_show.started;
        const bool settled = elapsed >= 300 && (!g_show.waitLine2 || text[0] != '\0');
        if (settled || elapsed >= 8000) {
            Report();
            g_show.reported = GetTickCount();
        }
        return;
    }
    if (now - g_show.reported >= static_cast<DWORD>(g_show.holdMs)) {
        KillTimer(nullptr, id);
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
    }
}

// Watches every message the dialog handles: was it ever visible afterwards?
LRESULT CALLBACK ShowHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg != nullptr) {
        if (msg->message == WM_INITDIALOG && g_show.dialog == nullptr) {
            g_show.dialog = msg->hwnd;
            g_show.started = GetTickCount();
            SetTimer(nullptr, 0, 50, ShowTimer);
        }
        if (g_show.dialog != nullptr && msg->hwnd == g_show.dialog &&
            IsWindowVisible(g_show.dialog)) {
            g_show.everVisible = true;
        }
    }
    return CallNextHookEx(g_show.hook, code, wParam, lParam);
}

const char* ComState(HRESULT hr) {
    if (hr == S_OK) return "S_OK";
    if (hr == S_FALSE) return "S_FALSE";
    if (hr == RPC_E_CHANGED_MODE) return "RPC_E_CHANGED_MODE";
    return "other";
}

int ShowDialogCommand(int argc, char** argv) {
    const char* mode = argv[2];
    const int port = std::atoi(argv[3]);
    const bool show = std::atoi(argv[4]) != 0;
    g_show.holdMs = std::atoi(argv[5]);
    std::string com = "none";
    for (int i = 6; i < argc; ++i) {
        if (std::strcmp(argv[i], "--com") == 0 && i + 1 < argc) {
            com = argv[++i];
        } else if (std::strcmp(argv[i], "--ready") == 0 && i + 1 < argc) {
            g_show.readyFile = argv[++i];
        } else if (std::strcmp(argv[i], "--wait-line2") == 0) {
            g_show.waitLine2 = true;
        }
    }
    if (com == "sta") CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (com == "mta") CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    CAcqDialog dialog(Services().Environment());
    dialog.SetShowDialog(show);
    dialog.m_strMode = mode;
    dialog.m_nComPort = port;
    g_show.hook = SetWindowsHookExA(WH_CALLWNDPROCRET, ShowHook, nullptr, GetCurrentThreadId());
    Win32DialogRunner runner;
    runner.DoModal(dialog);
    UnhookWindowsHookEx(g_show.hook);

    // A thread the dialog left as it found it: uninitialised answers S_OK to a fresh
    // multithreaded join, a single-threaded one refuses the change, a multithreaded one S_FALSE.
    const HRESULT after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::printf("%sever-visible: %d\ncom-after: %s\nresult: %d\n", g_show.report.c_str(),
                g_show.everVisible ? 1 : 0, ComState(after), dialog.m_nRetCode);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 6 && std::strcmp(argv[1], "showdialog") == 0) return ShowDialogCommand(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "findcomport") == 0) return FindComPortCommand();
    if (argc >= 4 && std::strcmp(argv[1], "dialog") == 0) {
        return DialogCommand(argv[2], std::atoi(argv[3]));
    }
    std::fprintf(stderr,
                 "usage: quillon_probe findcomport | dialog MODE PORT |\n"
                 "       showdialog MODE PORT SHOW HOLD_MS [--com none|sta|mta] [--wait-line2]"
                 " [--ready FILE]\n");
    return 2;
}
