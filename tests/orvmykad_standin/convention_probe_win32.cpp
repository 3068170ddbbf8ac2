// Hands OrvMyKadVerifyFinger of the OrvMyKad.dll beside it a message callback of each calling
// convention, so tests/e2e can check that the stand-in tells a callback that removes its own
// argument from one the library may call: `quillon_standin_convention_probe.exe` prints, per
// convention, the result and the codes the callback got.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string g_codes;

int __cdecl CdeclPrompt(int code) {
    g_codes += " " + std::to_string(code);
    return 1;
}

// On x86_64 the two conventions are one; on 32-bit x86 this one returns with `ret 4`.
int __stdcall StdcallPrompt(int code) {
    g_codes += " " + std::to_string(code);
    return 1;
}

using VerifyFn = int(__cdecl*)(char*, int(__cdecl*)(int));

}  // namespace

int main() {
    HMODULE library = LoadLibraryA(".\\OrvMyKad.dll");
    if (library == nullptr) {
        std::printf("OrvMyKad.dll not loaded\n");
        return 1;
    }
    const VerifyFn verify = reinterpret_cast<VerifyFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "OrvMyKadVerifyFinger")));
    if (verify == nullptr) return 1;
    char application[] = "DUV";
    const struct {
        const char* name;
        int(__cdecl* routine)(int);
    } kinds[] = {{"cdecl", CdeclPrompt},
                 {"stdcall", reinterpret_cast<int(__cdecl*)(int)>(StdcallPrompt)}};
    for (const auto& kind : kinds) {
        g_codes.clear();
        const int result = verify(application, kind.routine);
        std::printf("%s: %d,%s\n", kind.name, result, g_codes.c_str());
    }
    return 0;
}
