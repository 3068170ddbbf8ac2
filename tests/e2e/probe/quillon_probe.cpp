// quillon_probe: drives the library's Win32 adapters directly, for the end-to-end tests of what
// the entry point does not show on its own.
//
//   quillon_probe findcomport      prints the port FindComPort gives and the settings path
//   quillon_probe dialog MODE PORT runs one acquisition dialog in MODE and prints its result
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "findcomport") == 0) return FindComPortCommand();
    if (argc >= 4 && std::strcmp(argv[1], "dialog") == 0) {
        return DialogCommand(argv[2], std::atoi(argv[3]));
    }
    std::fprintf(stderr, "usage: quillon_probe findcomport | dialog MODE PORT\n");
    return 2;
}
