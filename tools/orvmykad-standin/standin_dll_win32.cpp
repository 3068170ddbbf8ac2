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
    return TheReader().model->VerifyFinger(application, prompt);
}

ORV_EXPORT int __cdecl OrvMyKadClose() { return TheReader().model->Close(); }
