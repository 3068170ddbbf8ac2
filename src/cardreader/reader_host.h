// The card read as a dialog hosts it: the reader thread's start, its hand-over, Cancel, and the
// watch that gives up a library call past its budget. The dialog holds one ReaderHost for a read
// and reaches the reader through it alone; everything here runs on the dialog's thread.
#pragma once

#include <memory>

#include "cardreader/reader_session.h"
#include "foundation/platform.h"

namespace quillon {

// The window timer of the watch: it runs while the reader thread does.
const int kTimerReaderWatch = 100;

// What a reader host needs of the dialog's window, on the dialog's thread.
class IReaderHostWindow {
  public:
    virtual ~IReaderHostWindow() = default;
    virtual void StartTimer(int id, int milliseconds) = 0;
    virtual void StopTimer(int id) = 0;
    // The named cancel event that the card-reader library watches: set, and cleared before a
    // read starts (an earlier Cancel or overrun may have left it set).
    virtual void SignalCancel() = 0;
    virtual void ResetCancel() = 0;
    // WM_CLOSE, sent: handled before this returns.
    virtual void SendClose() = 0;
    // Starts the card-reader thread on `session`, after attaching the window the thread is to
    // use. The thread then owns a reference to the session and lets go of it at its end. False
    // when no thread could be made; the session's owners are then as before.
    virtual bool StartReaderThread(ReaderSession& session) = 0;
};

class ReaderHost {
  public:
    ReaderHost(ReaderSessions& sessions, IReaderHostWindow& window)
        : sessions_(sessions), window_(window) {}
    ~ReaderHost();
    ReaderHost(const ReaderHost&) = delete;
    ReaderHost& operator=(const ReaderHost&) = delete;

    // Starts the read. 0 when the thread runs; otherwise the read has ended at once with this
    // code: -1008 while a thread of an earlier read is still inside the library, -1009 when no
    // thread could be started.
    int Start(IProfile& profile, const ReaderInputs& inputs);
    // True from before the thread's start until its result has been taken or it was given up.
    bool Running() const { return running_; }
    // The Cancel button: the thread leaves the card wait and the finger attempts at its next
    // check (the library gives up its pending wait on the cancel event).
    void Cancel(int code);
    // The thread's result once it has handed it over (the read then no longer runs); null while
    // it has not.
    const ReaderResult* TakeResult();

    enum class Tick { kNothing, kCloseLost, kGivenUp };
    // The watch timer: a finished read whose close did not come (kCloseLost), a call past its
    // budget (the cancel event is set, the thread stops at its next step), a grace run out
    // (kGivenUp: the thread is left behind and the read has ended with -30).
    Tick OnWatchTick();

    bool Abandoned() const { return session_ != nullptr && session_->Abandoned(); }
    // A handler failed: the thread is left behind at once, as after an overrun's grace.
    void Abandon();

  private:
    ReaderSessions& sessions_;
    IReaderHostWindow& window_;
    ReaderSession* session_ = nullptr;  // the dialog's reference
    bool running_ = false;
    bool closeOverdue_ = false;  // the thread handed over one tick ago or more
    int graceLeftMs_ = -1;       // counting down once a library call has overrun
};

}  // namespace quillon
