// OrvMyKad.dll stand-in: the eleven exports of the card maker's library, answered from a
// scenario (README.md). Loaded by quillon.dll in tests and demos where no reader is attached.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/module_folder_win32.h"
#include "standin_model.h"

namespace {

using orvstandin::StandinReader;

std::string Environment(const char* name) {
    char value[MAX_PATH + 1] = {0};
    const DWORD n = GetEnvironmentVariableA(name, value, MAX_PATH);
    return (n > 0 && n < MAX_PATH) ? std::string(value, n) : std::string();
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    std::fclose(file);
    return true;
}

class Host : public orvstandin::IStandinHost {
  public:
    void Sleep(int ms) override { ::Sleep(static_cast<DWORD>(ms)); }
    bool WaitForCancel(int ms) override {
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, "ORVMYKADCANCELEVENT");
        if (event == nullptr) {
            if (ms > 0) ::Sleep(static_cast<DWORD>(ms));
            return false;
        }
        const DWORD r = WaitForSingleObject(event, static_cast<DWORD>(ms));
        CloseHandle(event);
        return r == WAIT_OBJECT_0;
    }
    void Record(const std::string& line) override {
        const std::string path = Environment("QUILLON_ORVMYKAD_RECORD");
        if (path.empty()) return;
        FILE* file = std::fopen(path.c_str(), "ab");
        if (file == nullptr) return;
        std::fprintf(file, "%s\n", line.c_str());
        std::fflush(file);
        std::fclose(file);
    }
};

struct Reader {
    Host host;
    bool usable = true;
    StandinReader* model = nullptr;

    Reader() {
        orvstandin::Scenario scenario = orvstandin::DefaultScenario();
        std::string path = Environment("QUILLON_ORVMYKAD_SCENARIO");
        bool named = !path.empty();
        if (!named) path = quillon::OwnModuleFolder() + "OrvMyKad.scenario";
        std::string text, error;
        if (ReadWholeFile(path, text)) {
            if (!orvstandin::ParseScenario(text, scenario, error)) {
                usable = false;
                host.Record("scenario " + path + ": " + error);
            }
        } else if (named) {
            usable = false;
            host.Record("scenario " + path + ": cannot be read");
        }
        model = new StandinReader(scenario, host);
    }
};

// One reader per process: the scenario's result lists run on across commands.
Reader& TheReader() {
    static Reader reader;
    return reader;
}

using PromptRoutine = int(__cdecl*)(int);

// Calls the host's message callback as the maker's library does: a cdecl function, whose argument
// the caller pushes and removes. Returns how far the stack pointer moved across the call: 0, or
// the bytes a routine of another convention removed itself (4 for a stdcall one), which in the
// real library would corrupt its frame. The stack is put back either way. Only 32-bit x86 has
// more than one convention.
int CallAsCdecl(PromptRoutine routine, int code, long& moved) {
#if defined(__i386__)
    int result;
    unsigned long before, after;
    asm volatile(
        "movl %%esp, %[before]\n\t"
        "subl $12, %%esp\n\t"  // keeps the 16-byte alignment across the push
        "pushl %[code]\n\t"
        "call *%[routine]\n\t"
        "addl $16, %%esp\n\t"
        "movl %%esp, %[after]\n\t"
        "movl %[before], %%esp\n\t"
        : "=a"(result), [before] "=&S"(before), [after] "=&D"(after)
        : [code] "r"(code), [routine] "r"(routine)
        : "ecx", "edx", "memory", "cc");
    moved = static_cast<long>(after - before);
    return result;
#else
    moved = 0;
    return routine(code);
#endif
}

// The host's callback of the OrvMyKadVerifyFinger that runs (the host runs one at a time).
PromptRoutine g_hostPrompt = nullptr;

int __cdecl CheckedPrompt(int code) {
    long moved = 0;
    const int result = CallAsCdecl(g_hostPrompt, code, moved);
    if (moved != 0) {
        TheReader().host.Record("prompt routine " + std::to_string(code) + " moved the stack by " +
                                std::to_string(moved) + " bytes: not a cdecl function");
    }
    return result;
}

}  // namespace

#define ORV_EXPORT extern "C" __declspec(dllexport)

ORV_EXPORT int __cdecl OrvMyKadInit(int port) {
    Reader& r = TheReader();
    if (!r.usable) return -4;  // a broken scenario shows as a reader that cannot start
    return r.model->Init(port);
}

ORV_EXPORT int __cdecl OrvMyKadGetFirmwareVersion(int timeoutMs, char* version,
                                                  unsigned char* keyArea) {
    return TheReader().model->GetFirmwareVersion(timeoutMs, version, keyArea);
}

ORV_EXPORT int __cdecl OrvMyKadGetCardStatus(int mode, int timeoutMs) {
    return TheReader().model->GetCardStatus(mode, timeoutMs);
}

ORV_EXPORT int __cdecl OrvMyKadResetCard(unsigned char* buffer) {
    return TheReader().model->ResetCard(buffer);
}

ORV_EXPORT int __cdecl OrvMyKadReadOpenData(unsigned char* record, int* length) {
    return TheReader().model->ReadOpenData(record, length);
}

ORV_EXPORT int __cdecl OrvMyKadIsEBA() { return TheReader().model->IsEBA(); }

ORV_EXPORT int __cdecl OrvMyKadReadPhoto(unsigned char* photo) {
    return TheReader().model->ReadPhoto(photo);
}

ORV_EXPORT int __cdecl OrvMyKadReadBio(char* application) {
    return TheReader().model->ReadBio(application);
}

ORV_EXPORT int __cdecl OrvMyKadSecurityLevel(int level) {
    return TheReader().model->SecurityLevel(level);
}

ORV_EXPORT int __cdecl OrvMyKadVerifyFinger(char* application, int(__cdecl* prompt)(int)) {
    g_hostPrompt = prompt;
    return TheReader().model->VerifyFinger(application, prompt ? CheckedPrompt : nullptr);
}

ORV_EXPORT int __cdecl OrvMyKadClose() { return TheReader().model->Close(); }
