#include "cardreader/reader_host.h"

#include "cardreader/reader_calls.h"
#include "foundation/log.h"
#include "foundation/results.h"

namespace quillon {

ReaderHost::~ReaderHost() {
    if (session_ != nullptr) session_->Release();
}

int ReaderHost::Start(IProfile& profile, const ReaderInputs& inputs) {
    if (sessions_.Live() > 0) {
        // A thread of an earlier call is still inside the card-reader library, which must not
        // be entered twice at once; the host may ask again once that call has come back. The
        // cancel event stays set under that thread.
        WriteLog("READER STILL BUSY");
        return kResultBusy;
    }
    window_.ResetCancel();
    session_ = sessions_.Create(profile, inputs);
    // Running from before the start: a time-out or close in the moment before the thread's
    // first step must already find it running.
    running_ = true;
    window_.StartTimer(kTimerReaderWatch, kReaderWatchTickMs);
    if (window_.StartReaderThread(*session_)) return 0;
    // Nothing will ever hand a result over: the call ends now rather than at the time-out.
    running_ = false;
    window_.StopTimer(kTimerReaderWatch);
    WriteLog("READER THREAD NOT STARTED");
    return kResultInternalError;
}

void ReaderHost::Cancel(int code) {
    if (session_ != nullptr) session_->Cancel(code);
}

const ReaderResult* ReaderHost::TakeResult() {
    if (session_ == nullptr || !session_->HandedOver()) return nullptr;
    running_ = false;
    return &session_->Result();
}

ReaderHost::Tick ReaderHost::OnWatchTick() {
    if (session_ == nullptr || !running_) {
        window_.StopTimer(kTimerReaderWatch);
        return Tick::kNothing;
    }
    if (session_->HandedOver()) {
        // Its close follows at once; one that has not arrived a tick later was lost (its send
        // ran out of time), and the dialog would wait for nothing.
        if (!closeOverdue_) {
            closeOverdue_ = true;
            return Tick::kNothing;
        }
        WriteLog("READER CLOSE LOST");
        return Tick::kCloseLost;
    }
    if (graceLeftMs_ >= 0) {
        graceLeftMs_ -= kReaderWatchTickMs;
        if (graceLeftMs_ > 0 || !session_->Abandon()) return Tick::kNothing;
        running_ = false;
        window_.StopTimer(kTimerReaderWatch);
        WriteLog("READER THREAD ABANDONED");
        return Tick::kGivenUp;
    }
    const char* call = session_->Watch().Tick(kReaderWatchTickMs);
    if (call == nullptr) return Tick::kNothing;
    // The call has stopped coming back: the library is asked to give it up, and the thread
    // stops at its next step. If it is not back within the grace, it is left behind.
    WriteLog(Format("READER CALL OVERRUN: %s", call));
    session_->Watch().Stop();
    window_.SignalCancel();
    graceLeftMs_ = kReaderGraceMs;
    return Tick::kNothing;
}

void ReaderHost::Abandon() {
    if (session_ != nullptr) session_->Abandon();
    running_ = false;
}

}  // namespace quillon
