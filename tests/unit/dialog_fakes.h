// Fakes of the dialog's window, terminal port and card-reader library that note their calls.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "acqdialog/acq_dialog.h"
#include "acqdialog/operations.h"
#include "cardreader/card_reader_library.h"
#include "cardreader/reader_session.h"
#include "fakes.h"

namespace quillon {
namespace testing_support {

// The window as a reader thread reaches it: its calls land in the dialog's, "thread " first.
struct FakeReaderWindow : IReaderWindow {
    explicit FakeReaderWindow(std::vector<std::string>& c) : calls(c) {}
    void RefreshPromptLines() override { calls.push_back("thread refresh"); }
    void SetPromptLine(int line, const std::string& t) override {
        calls.push_back(Format("thread line %d ", line) + t);
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

    void SetTitle(const std::string& t) override { title = t; }
    void SetItemText(int id, const std::string& t) override { text[id] = t; }
    void ShowItem(int id, bool show) override { Note(show ? "show %d" : "hide %d", id); }
    void EnableItem(int id, bool on) override { Note(on ? "enable %d" : "disable %d", id); }
    void RefreshPromptLines(bool one, bool two) override { Note("refresh %d", one * 10 + two); }
    void StartTimer(int id, int ms) override { timers[id] = ms; }
    void StopTimer(int id) override { timers.erase(id), Note("kill %d", id); }
    void PostCommand(int id) override { Note("post %d", id); }
    void SendClose() override { calls.push_back("close"); }
    void ApplyFont(int size, const std::string& face) override { Note("font %d ", size, face); }
    void LoadDialogImage(const std::string& path) override { calls.push_back("image " + path); }
    void Wait(int ms) override { Note("wait %d", ms); }
    void InitSocketLayer() override { calls.push_back("sockets"); }
    void SignalCancel() override { calls.push_back("cancel event"); }
    void ResetCancel() override { calls.push_back("reset cancel"); }
    // No thread runs: the test plays the thread's steps on `reader`. `duringStart` runs before
    // the thread could take its first step.
    ReaderSession* reader = nullptr;
    bool startWorks = true;
    std::function<void()> duringStart;
    bool StartReaderThread(ReaderSession& session) override {
        calls.push_back("reader thread");
        if (duringStart) duringStart();
        if (!startWorks) return false;
        session.AttachWindow(std::unique_ptr<IReaderWindow>(new FakeReaderWindow(calls)));
        session.Retain();
        return reader = &session, true;
    }
    IFrameSink* ReplySink() override { return nullptr; }

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
    void StopPort() override { stopped = true; }
    void FinishClose() override {
        if (stopped) calls.push_back("close port");
        stopped = false;
    }
    bool stopped = false;
    void InstallLinkKey(const uint8_t key[16]) override { linkKey.assign(key, key + 16); }
};

// An operation's dialog: the port, the last prompt's key ("+log" when logged), the closes.
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

// The card-reader library, called from any thread: notes its calls ("Init(7) FW(2000) ..."),
// answers each function's `results` in order, then its default. `hook` gets each call's name,
// count and answer, and may change the answer, wait or throw. It fills what the real library
// fills, by the library's own sizes: 20 bytes of key area, 4000 of photo.
class FakeCardReader : public ICardReaderLibrary {
  public:
    std::map<std::string, std::deque<int>> results;
    // The library's own numbers, not the product's names for them: 2 is "card present".
    std::map<std::string, int> defaults{{"CS", 2}, {"IsEBA", 1}};  // others: 0
    std::vector<uint8_t> record = std::vector<uint8_t>(120, 0x41);
    int32_t reportedLength = 120;
    std::vector<int> promptCodes;  // handed to the prompt routine during each VerifyFinger
    std::function<int(const std::string& name, int count, int answer)> hook;
    std::string Calls() {
        std::lock_guard<std::mutex> lock(m_);
        return calls_;
    }

    int OrvMyKadInit(int port) override { return Call(Format("Init(%d)", port)); }
    int OrvMyKadGetFirmwareVersion(int timeoutMs, char*, uint8_t* keyArea) override {
        for (int i = 0; i < 20; ++i) keyArea[i] = uint8_t(i + 1);
        return Call(Format("FW(%d)", timeoutMs));
    }
    int OrvMyKadGetCardStatus(int m, int ms) override { return Call(Format("CS(%d,%d)", m, ms)); }
    int OrvMyKadResetCard(uint8_t*) override { return Call("Reset"); }
    int OrvMyKadReadOpenData(uint8_t* out, int32_t* length) override {
        std::copy(record.begin(), record.end(), out);
        *length = reportedLength;
        return Call("ReadData");
    }
    int OrvMyKadIsEBA() override { return Call("IsEBA"); }
    int OrvMyKadReadPhoto(uint8_t* photo) override {
        std::fill(photo, photo + 4000, 0x5C);
        return Call("Photo");
    }
    int OrvMyKadReadBio(char* app) override { return Call(std::string("Bio(") + app + ")"); }
    int OrvMyKadSecurityLevel(int level) override { return Call(Format("L%d", level)); }
    int OrvMyKadVerifyFinger(char* app, MyKadPromptRoutine prompt) override {
        for (int code : promptCodes) prompt(code);
        return Call(std::string("Verify(") + app + ")");
    }
    int OrvMyKadClose() override { return Call("Close"); }

  private:
    int Call(const std::string& call) {
        const std::string name = call.substr(0, call.find('('));
        int answer = 0, count = 0;
        {
            std::lock_guard<std::mutex> lock(m_);
            calls_ += (calls_.empty() ? "" : " ") + call;
            count = ++counts_[name];
            std::deque<int>& queue = results[name];
            answer = queue.empty() ? defaults[name] : queue.front();
            if (!queue.empty()) queue.pop_front();
        }
        return hook ? hook(name, count, answer) : answer;
    }
    std::mutex m_;
    std::string calls_;
    std::map<std::string, int> counts_;
};

// A decoded reply frame: STX, L, code and data, a checksum (never read), ETX.
inline std::vector<uint8_t> ReplyFrame(uint8_t code, std::vector<uint8_t> data) {
    const size_t l = data.size() + 1;
    std::vector<uint8_t> f = {0x02, uint8_t(l >> 8), uint8_t(l), code};
    f.insert(f.end(), data.begin(), data.end());
    f.insert(f.end(), {0x5A, 0x03});
    return f;
}

inline void PlayReply(Operation& op, IOperationHost& host, uint8_t code, std::vector<uint8_t> d) {
    const std::vector<uint8_t> f = ReplyFrame(code, std::move(d));
    op.OnReply(f.data(), int(f.size()), host);
}

inline std::unique_ptr<Operation> MakeOperation(Mode mode) {
    if (SetupFor(mode).readerLink) return std::unique_ptr<Operation>(new CardReadOperation(mode));
    if (mode == Mode::kEnroll || mode == Mode::kVerify) {
        return std::unique_ptr<Operation>(new FingerOperation(mode, 1, "TPL"));
    }
    if (mode == Mode::kGetSignature) return std::unique_ptr<Operation>(new SignatureOperation);
    return std::unique_ptr<Operation>(new TerminalQuery(mode, "260102030405"));
}

inline std::string Join(const std::vector<std::string>& calls) {
    std::string all;
    for (size_t i = 0; i < calls.size(); ++i) all += (i ? "|" : "") + calls[i];
    return all;
}

// The library's prompt routine reaches the rig's sessions as the product's reaches its own.
inline ReaderSessions*& PromptTarget() {
    static ReaderSessions* target = nullptr;
    return target;
}
inline int TestPromptCode(int code) {
    return PromptTarget() != nullptr ? PromptTarget()->OnPromptCode(code) : 1;
}

// A dialog's environment of fakes; with no settings file the dialog reads System32's.
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
    void Set(const char* section, const char* key, const std::string& value) {
        profile.Set("C:\\windows\\System32\\QUILLON.ini", section, key, value);
    }
};

}  // namespace testing_support
}  // namespace quillon
