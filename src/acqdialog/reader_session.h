// What a card-reader thread shares with the dialog that started it.
//
// The thread may outlive its dialog: a library call that ignores the cancel event is left
// behind once the time-out's grace period has passed, because a thread inside a third-party call
// cannot be ended safely. So the thread never reaches the dialog itself: its inputs are copies
// taken at the start, its results wait here until the dialog takes them in one step, and its
// prompts and close go through a window object that stays harmless once the dialog has gone.
//
// Two owners, the dialog and its thread; the last one to let go frees the session. Each change
// of hands is decided by one atomic step (started, handed over, abandoned), so no lock exists to
// be held across the thread's SendMessage calls or the library's blocking calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "acqdialog/dialog_host.h"
#include "foundation/platform.h"

namespace quillon {

// The dialog's members that the thread reads, copied when the thread is started.
struct ReaderInputs {
    int comPort;
    std::string mode;
    std::string settingsPath;
    uint8_t verifySwitch;  // the MyKad runners' verification switch at the start
};

const int kReaderOpenDataSize = 600;  // the dialog's MyKad record buffer (record and a zero byte)
const int kReaderAltDataSize = 2000;  // the dialog's MyKid record buffer
const int kReaderKeySize = 16;        // the link key the reader's version call hands out

// What the thread leaves for the dialog; each part only counts once the thread has set it.
struct ReaderResult {
    int retCode = 0;
    bool fullRecordSet = false;
    uint8_t fullRecord = 1;
    bool openDataSet = false;
    uint8_t openData[kReaderOpenDataSize] = {0};
    int openDataLength = 0;
    bool altDataSet = false;
    uint8_t altData[kReaderAltDataSize] = {0};
    int altDataLength = 0;
    bool photoSet = false;
    std::string photo;
    bool linkKeySet = false;
    uint8_t linkKey[kReaderKeySize] = {0};
};

class ReaderSession {
public:
    // A new session with one owner, the dialog that makes it. `profile` must live as long as
    // any thread may (the process-wide settings reader).
    static ReaderSession* Create(IProfile& profile, const ReaderInputs& inputs);
    // Sessions not yet freed, process-wide. While one lives, a thread of an earlier call may
    // still be inside the card-reader library, which must not be entered twice at once.
    static int Live();

    void Retain();
    void Release();  // the last owner frees the session

    const ReaderInputs& Inputs() const { return inputs_; }
    IProfile& Profile() const { return profile_; }
    // A prompt text: [MESSAGE] key of the dialog's settings file, at most 99 characters.
    std::string ReadMessage(const char* key, const char* def) const;

    // ---- The dialog's side, on the dialog's thread ----
    // The window the thread's prompts and close go to; attached before the thread starts.
    void AttachWindow(std::unique_ptr<IReaderWindow> window);
    void Cancel(int code) { cancelCode_.store(code); }
    // True once the thread has handed its result over: its close is on its way and the result
    // is the dialog's to read.
    bool HandedOver() const { return state_.load() == kHandedOver; }
    bool Abandoned() const { return state_.load() == kAbandoned; }
    const ReaderResult& Result() const { return result_; }
    // Leaves the thread behind unless it handed over first: from then on its prompts and close
    // do nothing, its result is dropped and it reads the operator's cancel code, so that it
    // leaves the card wait and the finger attempts at the next check. True when it was left now.
    bool Abandon();

    // ---- The thread's side ----
    int CancelCode() const { return cancelCode_.load(); }
    // Written only by the thread, and only until it hands over.
    ReaderResult& Out() { return result_; }
    void RefreshPromptLines();
    void SetPromptLine(int id, const std::string& text);
    // Hands the result over and then sends the dialog its close; nothing once abandoned.
    void HandOver();

private:
    enum State { kRunning, kHandedOver, kAbandoned };

    ReaderSession(IProfile& profile, const ReaderInputs& inputs)
        : profile_(profile), inputs_(inputs) {}
    ~ReaderSession() = default;
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    IProfile& profile_;
    const ReaderInputs inputs_;
    std::atomic<int> owners_{1};
    std::atomic<int> state_{kRunning};
    std::atomic<int> cancelCode_{0};
    std::unique_ptr<IReaderWindow> window_;
    ReaderResult result_;
};

// The session of the reader thread that runs, for the prompt-by-code routine that the library
// calls on that thread with nothing but a code. Set and cleared by the thread itself, which owns
// the session meanwhile; only one reader thread runs at a time.
extern std::atomic<ReaderSession*> g_pPromptSession;

}  // namespace quillon
