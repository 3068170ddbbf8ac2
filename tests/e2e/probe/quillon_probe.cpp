// quillon_probe: drives the library's Win32 adapters directly, for the end-to-end tests of what
// the entry point does not show on its own.
//
//   quillon_probe findcomport      prints the port FindComPort gives and the settings path
#include <cstdio>
#include <cstring>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "findcomport") == 0) return FindComPortCommand();
    std::fprintf(stderr, "usage: quillon_probe findcomport\n");
    return 2;
}
