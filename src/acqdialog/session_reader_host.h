// The reader session as the card-reader thread's host: inputs copied at the start, results
// kept until the close hands them over, prompts through the session's window.
#pragma once

#include <string>

#include "acqdialog/reader_session.h"
#include "cardreader/reader_host.h"
#include "cardreader/reader_thread.h"

namespace quillon {

class SessionReaderHost : public IReaderHost {
  public:
    explicit SessionReaderHost(ReaderSession& session) : session_(session) {}

    int ComPort() override { return session_.Inputs().comPort; }
    MyKadReadMode Mode() override { return MyKadReadModeNamed(session_.Inputs().mode); }
    std::string SettingsPath() override { return session_.Inputs().settingsPath; }
    int CancelCode() override { return session_.CancelCode(); }
    void RefreshPromptLines() override { session_.RefreshPromptLines(); }
    void SetPromptLine(int line, const std::string& text) override;
    void SetRetCode(int code) override { session_.Out().retCode = code; }
    void SetLinkKey(const uint8_t* key) override;
    void SetFullRecord(bool full) override;
    void SetOpenData(const uint8_t* bytes, int length) override;
    void SetAltData(const uint8_t* bytes, int length) override;
    void SetPhoto(const uint8_t* bytes, size_t length) override;
    void Close() override { session_.HandOver(); }

    IProfile& Profile() override { return session_.Profile(); }
    const uint8_t* VerifySwitch() override { return &session_.Inputs().verifySwitch; }
    MyKadPromptRoutine PromptRoutine() override;
    void BeginPrompts() override;
    void EndPrompts() override;
    void Release() override { session_.Release(); }

  private:
    ReaderSession& session_;
};

// The thread's run with the session as its host.
int RunReaderThread(ReaderSession& session, ICardReaderLibrary& library, IClock& clock);

}  // namespace quillon
