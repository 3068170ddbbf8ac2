// quillon_mykad_reader_probe: runs the reader thread's algorithm once against OrvMyKad.dll (real or
// stand-in) through the run-time loader, without a dialog, and prints what the dialog would get.
//
//   quillon_mykad_reader_probe [MODE] [PORT]      (MODE default MYKAD, PORT default 1)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "acqdialog/operations.h"
#include "cardreader/mykad_reader.h"
#include "cardreader/orvmykad_win32.h"

namespace {

using namespace quillon;

class Defaults : public IProfile {
  public:
    int ReadInt(const std::string&, const char*, const char*, int def) override { return def; }
    std::string ReadString(const std::string&, const char*, const char*, const char* def,
                           size_t) override {
        return def;
    }
};

class Clock : public IClock {
  public:
    LocalTime Now() override { return LocalTime{}; }
    void SleepMs(int ms) override { Sleep(static_cast<DWORD>(ms)); }
};

// The probe's first argument names the read as the dialog's MyKad modes do.
// The reader mode of that name, as the dialog's mode table has it; a record-only read otherwise.
MyKadReadPlan PlanNamed(const std::string& name) {
    for (const ModeSetup& row : kModes) {
        if (row.readerLink && name == row.name) return {row.readsPhoto, row.verifiesFinger};
    }
    return {false, false};
}

class ConsoleDialog : public IMyKadDialog {
  public:
    std::string mode;
    int port = 1;
    int ComPort() override { return port; }
    MyKadReadPlan Plan() override { return PlanNamed(mode); }
    std::string SettingsPath() override { return ".\\QUILLON.ini"; }
    int CancelCode() override { return 0; }
    void RefreshPromptLines() override {}
    void SetPromptLine(int line, const std::string& text) override {
        std::printf("prompt %d: %s\n", line, text.c_str());
    }
    void SetLinkKey(const uint8_t*) override { std::printf("link key handed out\n"); }
    void SetRetCode(int code) override { std::printf("result: %d\n", code); }
    void SetFullRecord(bool full) override { std::printf("full record: %d\n", full ? 1 : 0); }
    void SetOpenData(const uint8_t*, int length) override {
        std::printf("open data: %d\n", length);
    }
    void SetAltData(const uint8_t*, int length) override { std::printf("alt data: %d\n", length); }
    void SetPhoto(const uint8_t*, size_t length) override {
        std::printf("photo: %u\n", static_cast<unsigned>(length));
    }
    void Close() override { std::printf("close\n"); }
};

int PromptCode(int code) {
    std::printf("prompt code: %d\n", code);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Win32OrvMyKadLibrary library;
    ConsoleDialog dialog;
    dialog.mode = argc > 1 ? argv[1] : "MYKAD";
    dialog.port = argc > 2 ? std::atoi(argv[2]) : 1;
    Defaults profile;
    Clock clock;
    MyKadReaderParts parts{library, dialog, profile, clock, &PromptCode};
    return RunMyKadReader(parts) == 0 ? 0 : 1;
}
