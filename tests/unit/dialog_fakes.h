// Fakes of the dialog's window and terminal port that record their calls as lines of text.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acqdialog/acq_dialog.h"
#include "acqdialog/operations.h"
#include "acqdialog/reader_session.h"
#include "fakes.h"

namespace quillon {
namespace testing_support {

// The window as a reader thread reaches it: each call lands in `calls` with a "thread " prefix.
struct FakeReaderWindow : IReaderWindow {
    explicit FakeReaderWindow(std::vector<std::string>& c) : calls(c) {}
    void RefreshPromptLines() override { calls.push_back("thread refresh"); }
    void SetPromptLine(int id, const std::string& text) override {
        calls.push_back(Format("thread line %d ", id) + text);
    }
    void SendClose() override { calls.push_back("thread close"); }
    std::vector<std::string>& calls;
};

class FakeWindow : public IDialogWindow {
  public:
    ~FakeWindow() override {
        if (reader != nullptr) reader->Release();
    }
    std::vector<std::string> calls;
    std::map<int, std::string> text;
    std::map<int, int> timers;  // running timers and their periods
    std::string title;
    int closes = 0;

    void SetTitle(const std::string& t) override { title = t; }
    void SetItemText(int id, const std::string& t) override { text[id] = t; }
    void ShowItem(int id, bool show) override { Note(show ? "show %d" : "hide %d", id); }
    void EnableItem(int id, bool on) override { Note(on ? "enable %d" : "disable %d", id); }
    void RefreshPromptLines(bool one, bool two) override { Note("refresh %d", one * 10 + two); }
    void StartTimer(int id, int ms) override { timers[id] = ms; }
    void StopTimer(int id) override { timers.erase(id), Note("kill %d", id); }
    void PostCommand(int id) override { Note("post %d", id); }
    void SendClose() override { ++closes, calls.push_back("close"); }
    void ApplyFont(int size, const std::string& face) override { Note("font %d ", size, face); }
    void LoadDialogImage(const std::string& path) override { calls.push_back("image " + path); }
    void Wait(int ms) override { Note("wait %d", ms); }
    void InitSocketLayer() override { calls.push_back("sockets"); }
    void SignalCancel() override { calls.push_back("cancel event"); }
    // No thread runs: the test plays its steps on `reader`, the session a thread would hold.
    // `duringStart` runs inside the start, before the thread could take its first step.
    ReaderSession* reader = nullptr;
    bool startWorks = true;
    std::function<void()> duringStart;
    bool StartReaderThread(ReaderSession& session) override {
        calls.push_back("reader thread");
        if (duringStart) duringStart();
        if (!startWorks) return false;
        session.AttachWindow(std::unique_ptr<IReaderWindow>(new FakeReaderWindow(calls)));
        session.Retain();
        reader = &session;
        return true;
    }
    IFrameSink* ReplySink() override { return nullptr; }
    bool Has(const std::string& call) const {
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }

  private:
    void Note(const char* format, int n, const std::string& tail = "") {
        calls.push_back(Format(format, n) + tail);
    }
};

class FakePort : public ITerminalPort {
  public:
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> linkKey;  // the last key installed
    bool opens = true;

    bool InitPort(unsigned port, unsigned baud, char parity, unsigned dataBits, unsigned stopBits,
                  uint32_t events, unsigned writeSize, IFrameSink*) override {
        calls.push_back(Format("init COM%u %u %c %u %u %u %u", port, baud, parity, dataBits,
                               stopBits, events, writeSize));
        return opens;
    }
    bool StartMonitor() override { return calls.push_back("monitor"), true; }
    void SendToPort(const uint8_t* frame, int n) override { frames.emplace_back(frame, frame + n); }
    bool WaitForWrite(int ms) override {
        return calls.push_back(Format("wait write %d", ms)), true;
    }
    void ClosePort() override { calls.push_back("close port"); }
    void ForgetSharedHandle() override { calls.push_back("forget handle"); }
    void InstallLinkKey(const uint8_t key[16]) override { linkKey.assign(key, key + 16); }
};

// What an operation reaches of its dialog: the port, the last prompt's key (with "+log" when it
// was logged) and the closes.
struct FakeHost : IOperationHost {
    FakePort port;
    std::string prompt;
    int closes = 0;
    ITerminalPort& Port() override { return port; }
    void ShowPrompt(const PromptText& p, bool log) override {
        prompt = std::string(p.key) + (log ? "+log" : "");
    }
    void Close() override { ++closes; }
};

// A decoded reply frame: STX, L, code and data, a checksum (never read), ETX.
inline std::vector<uint8_t> ReplyFrame(uint8_t code, std::vector<uint8_t> data) {
    const size_t l = data.size() + 1;
    std::vector<uint8_t> f = {0x02, uint8_t(l >> 8), uint8_t(l), code};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(0);
    f.push_back(0x03);
    return f;
}

inline void PlayReply(Operation& op, IOperationHost& host, uint8_t code,
                      std::vector<uint8_t> data) {
    const std::vector<uint8_t> f = ReplyFrame(code, std::move(data));
    op.OnReply(f.data(), int(f.size()), host);
}

// The prompt routine the library would call; it reaches the rig's sessions as the product's
// reaches the services' ones.
inline ReaderSessions*& PromptTarget() {
    static ReaderSessions* target = nullptr;
    return target;
}
inline int TestPromptCode(int code) {
    return PromptTarget() != nullptr ? PromptTarget()->OnPromptCode(code) : 1;
}

// A dialog's environment with fake window, port and settings, to run its steps by hand.
struct DialogRig {
    FakeFileSystem files;
    FakeProfile profile;
    IniLocator locator{files};
    FakePort port;
    FakeWindow window;
    ReaderSessions readers{TestPromptCode};
    DialogEnvironment env{profile, files, locator, port, readers};

    DialogRig() { PromptTarget() = &readers; }
    ~DialogRig() { PromptTarget() = nullptr; }
    // Settings go to the dialog's path when no file exists: System32.
    void Set(const char* section, const char* key, const std::string& value) {
        profile.Set("C:\\windows\\System32\\QUILLON.ini", section, key, value);
    }
};

}  // namespace testing_support
}  // namespace quillon
