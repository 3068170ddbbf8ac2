// Fakes of the dialog's window and terminal port that record every call as a line of text.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "acqdialog/acq_dialog.h"
#include "fakes.h"
#include "foundation/log.h"

namespace quillon {
namespace testing_support {

class FakeWindow : public IDialogWindow {
public:
    std::vector<std::string> calls;
    std::map<int, std::string> text;
    std::map<int, int> timers;  // running timers and their periods
    std::string title;
    int closes = 0;

    void SetTitle(const std::string& t) override { title = t, calls.push_back("title " + t); }
    void SetItemText(int id, const std::string& t) override { text[id] = t; }
    void ShowItem(int id, bool show) override {
        calls.push_back(Format(show ? "show %d" : "hide %d", id));
    }
    void EnableItem(int id, bool enable) override {
        calls.push_back(Format(enable ? "enable %d" : "disable %d", id));
    }
    void RefreshPromptLines(bool line1, bool line2) override {
        calls.push_back(Format("refresh %d%d", line1, line2));
    }
    void StartTimer(int id, int ms) override {
        timers[id] = ms;
        calls.push_back(Format("timer %d %d", id, ms));
    }
    void StopTimer(int id) override { timers.erase(id), calls.push_back(Format("kill %d", id)); }
    void PostCommand(int id) override { calls.push_back(Format("post %d", id)); }
    void SendClose() override { ++closes, calls.push_back("close"); }
    void ApplyFont(int height, const std::string& face) override {
        calls.push_back(Format("font %d %s", height, face.c_str()));
    }
    void LoadDialogImage(const std::string& path) override { calls.push_back("image " + path); }
    void Wait(int ms) override { calls.push_back(Format("wait %d", ms)); }
    void InitSocketLayer() override { calls.push_back("sockets"); }
    void SignalCancel() override { calls.push_back("cancel event"); }
    bool StartReaderThread() override { return calls.push_back("reader thread"), true; }
    bool Has(const std::string& call) const {
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
};

class FakePort : public ITerminalPort {
public:
    bool opens = true, monitors = true;
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> frames;

    bool InitPort(unsigned port, unsigned baud, char parity, unsigned dataBits, unsigned stopBits,
                  uint32_t events, unsigned writeSize) override {
        calls.push_back(Format("init COM%u %u %c %u %u %u %u", port, baud, parity, dataBits,
                               stopBits, events, writeSize));
        return opens;
    }
    bool StartMonitor() override { return calls.push_back("monitor"), monitors; }
    void SendToPort(const uint8_t* frame, int length) override {
        frames.emplace_back(frame, frame + length);
        calls.push_back("send");
    }
    bool WaitForWrite(int ms) override {
        return calls.push_back(Format("wait write %d", ms)), true;
    }
    void ClosePort() override { calls.push_back("close"); }
    void ForgetSharedHandle() override { calls.push_back("forget"); }
};

// A dialog with fake window, port and settings, ready to run its steps by hand.
struct DialogRig {
    FakeFileSystem files;
    FakeProfile profile;
    IniLocator locator{files};
    FakePort port;
    FakeWindow window;
    DialogEnvironment env{profile, files, locator, port};
    // Settings go to the dialog's path when no file exists: System32.
    std::string path = "C:\\windows\\System32\\QUILLON.ini";

    void Set(const char* section, const char* key, const std::string& value) {
        profile.Set(path, section, key, value);
    }
};

}  // namespace testing_support
}  // namespace quillon
