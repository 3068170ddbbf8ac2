// What a card-reader thread shares with the dialog that started it.
//
// The thread may outlive its dialog: a library call that stops coming back (it overran its
// budget and ignored the cancel event through the grace) is left behind, because a thread inside
// a third-party call cannot be ended safely. So the thread never reaches the dialog itself: its
// inputs are copies taken at the start, its results wait here until the dialog takes them in one
// step, and its prompts and close go through a window object that stays harmless once the dialog
// has gone. A thread left behind stops at its next step (the call watch refuses its next call).
//
// Two owners, the dialog and its thread; the last one to let go frees the session. Each change
// of hands is decided by one atomic step (started, handed over, abandoned), so no lock exists to
// be held across the thread's SendMessage calls or the library's blocking calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "cardreader/card_reader_library.h"
#include "cardreader/mykad_reader.h"
#include "cardreader/reader_calls.h"
#include "foundation/platform.h"
#include "foundation/sizes.h"
#include "terminal/frame_codec.h"

namespace quillon {

// The dialog's window as the card-reader thread reaches it, from its own thread. Owned by the
// reader's session, so it may outlive the dialog: each call must return within a bound whatever
// the dialog's thread does, and must be harmless once the window is gone.
class IReaderWindow {
  public:
    virtual ~IReaderWindow() = default;
    // Both prompt lines: invalidate, erase and repaint their areas at once (not children).
    virtual void RefreshPromptLines() = 0;
    // Prompt line 1 or 2.
    virtual void SetPromptLine(int line, const std::string& text) = 0;
    // WM_CLOSE, sent: handled before this returns, unless the bound passed first.
    virtual void SendClose() = 0;
};

// The dialog's members that the thread reads, copied when the thread is started.
struct ReaderInputs {
    int comPort;
    MyKadReadPlan plan;  // photo and finger, as the dialog's mode asks
    std::string settingsPath;
};

// What the thread leaves for the dialog; each part only counts once the thread has set it.
struct ReaderResult {
    int retCode = 0;
    bool fullRecordSet = false;
    uint8_t fullRecord = 1;
    bool openDataSet = false;
    uint8_t openData[kOpenDataSize] = {0};
    int openDataLength = 0;
    bool altDataSet = false;
    uint8_t altData[kAltDataSize] = {0};
    int altDataLength = 0;
    bool photoSet = false;
    std::string photo;
    bool linkKeySet = false;
    uint8_t linkKey[kKeySize] = {0};  // from the reader's version call
};

class ReaderSessions;

class ReaderSession {
  public:
    void Retain();
    void Release();  // the last owner frees the session

    const ReaderInputs& Inputs() const { return inputs_; }
    IProfile& Profile() const { return profile_; }
    ReaderSessions& Sessions() const { return sessions_; }
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
    // do nothing, its result is dropped and it makes no further library call. True when it was
    // left now.
    bool Abandon();
    // The library call in progress, as the dialog's watch timer sees it.
    ReaderCallWatch& Watch() { return watch_; }

    // ---- The thread's side ----
    int CancelCode() const { return cancelCode_.load(); }
    // Written only by the thread, and only until it hands over.
    ReaderResult& Out() { return result_; }
    void RefreshPromptLines();
    void SetPromptLine(int line, const std::string& text);  // 1 or 2
    // The card-reader library's prompt code: the code's text in line 2 (codes without a prompt
    // change nothing).
    void ShowPromptCode(int code);
    // Hands the result over and then sends the dialog its close; nothing once abandoned.
    void HandOver();

  private:
    enum State { kRunning, kHandedOver, kAbandoned };

    friend class ReaderSessions;
    ReaderSession(ReaderSessions& sessions, IProfile& profile, const ReaderInputs& inputs)
        : sessions_(sessions), profile_(profile), inputs_(inputs) {}
    ~ReaderSession() = default;
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    ReaderSessions& sessions_;
    IProfile& profile_;
    const ReaderInputs inputs_;
    std::atomic<int> owners_{1};
    std::atomic<int> state_{kRunning};
    std::atomic<int> cancelCode_{0};
    std::unique_ptr<IReaderWindow> window_;
    ReaderCallWatch watch_;
    ReaderResult result_;
};

// The card-reader sessions of the process: how many are not yet freed, and which one the library's
// prompt routine speaks to. One object, made with the process's services, which also hold the
// plain function that the library calls back (it can find the running session only through them).
class ReaderSessions {
  public:
    // `promptRoutine` is handed to the library's finger verification; it forwards to
    // OnPromptCode of this object.
    explicit ReaderSessions(MyKadPromptRoutine promptRoutine) : promptRoutine_(promptRoutine) {}
    ReaderSessions(const ReaderSessions&) = delete;
    ReaderSessions& operator=(const ReaderSessions&) = delete;

    // A new session with one owner, the dialog that makes it. `profile` must live as long as
    // any thread may (the process-wide settings reader).
    ReaderSession* Create(IProfile& profile, const ReaderInputs& inputs);
    // Sessions not yet freed. While one lives, a thread of an earlier call may still be inside
    // the card-reader library, which must not be entered twice at once.
    int Live() const { return live_.load(); }

    MyKadPromptRoutine PromptRoutine() const { return promptRoutine_; }
    // The reader thread's session speaks for the prompt codes while it runs.
    void BeginPrompts(ReaderSession* session) { prompting_.store(session); }
    void EndPrompts(ReaderSession* session) {
        prompting_.compare_exchange_strong(session, nullptr);
    }
    // Called by the library on the reader thread; always 1. Nothing when no session runs, and
    // nothing escapes it: an exception must never unwind through the library's frames.
    int OnPromptCode(int code) noexcept;

  private:
    friend class ReaderSession;
    const MyKadPromptRoutine promptRoutine_;
    std::atomic<int> live_{0};
    std::atomic<ReaderSession*> prompting_{nullptr};
};

}  // namespace quillon
