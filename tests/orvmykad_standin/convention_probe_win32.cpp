// Hands OrvMyKadVerifyFinger of the OrvMyKad.dll beside it a message callback of each calling
// convention, so tests/e2e can check that the stand-in tells a callback that removes its own
// argument from one the library may call: `quillon_standin_convention_probe.exe` prints, per
// convention, the result and the codes the callback got.
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>

namespace {

std::string g_codes;

int __cdecl CdeclPrompt(int code) { return g_codes += " " + std::to_string(code), 1; }

// On x86_64 the two conventions are one; on 32-bit x86 this one returns with `ret 4`.
int __stdcall StdcallPrompt(int code) { return g_codes += " " + std::to_string(code), 1; }

using Prompt = int(__cdecl*)(int);

}  // namespace

int main() {
    const auto verify = reinterpret_cast<int(__cdecl*)(char*, Prompt)>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryA(".\\OrvMyKad.dll"), "OrvMyKadVerifyFinger")));
    if (verify == nullptr) return std::printf("OrvMyKadVerifyFinger not found\n"), 1;
    char application[] = "DUV";
    const std::pair<const char*, Prompt> kinds[] = {
        {"cdecl", CdeclPrompt}, {"stdcall", reinterpret_cast<Prompt>(StdcallPrompt)}};
    for (const auto& kind : kinds) {
        g_codes.clear();
        const int result = verify(application, kind.second);
        std::printf("%s: %d,%s\n", kind.first, result, g_codes.c_str());
    }
    return 0;
}
