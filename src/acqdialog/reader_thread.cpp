#include "acqdialog/reader_thread.h"

#include <cstring>

#include "acqdialog/operations.h"
#include "cardreader/mykad_reader.h"

namespace quillon {

namespace {

// The dialog as the reader sees it, made of the session: inputs copied at the start, results
// kept until the close hands them over, prompts through the session's window.
class SessionDialog : public IMyKadDialog {
  public:
    explicit SessionDialog(ReaderSession& session) : session_(session) {}
    int ComPort() override { return session_.Inputs().comPort; }
    MyKadReadMode Mode() override { return session_.Inputs().readMode; }
    std::string SettingsPath() override { return session_.Inputs().settingsPath; }
    int CancelCode() override { return session_.CancelCode(); }
    void RefreshPromptLines() override { session_.RefreshPromptLines(); }
    void SetPromptLine(int line, const std::string& text) override {
        session_.SetPromptLine(line == 1 ? kPromptLine1 : kPromptLine2, text);
    }
    void SetRetCode(int code) override { session_.Out().retCode = code; }
    void SetLinkKey(const uint8_t* key) override {
        ReaderResult& out = session_.Out();
        std::memcpy(out.linkKey, key, sizeof out.linkKey);
        out.linkKeySet = true;
    }
    void SetFullRecord(bool full) override {
        session_.Out().fullRecord = full ? 1 : 0;
        session_.Out().fullRecordSet = true;
    }
    void SetOpenData(const uint8_t* bytes, int length) override {
        ReaderResult& out = session_.Out();
        const int n = Clamp(length, kOpenDataSize - 1);
        std::memcpy(out.openData, bytes, static_cast<size_t>(n));
        out.openData[n] = 0;
        out.openDataLength = n;
        out.openDataSet = true;
    }
    void SetAltData(const uint8_t* bytes, int length) override {
        ReaderResult& out = session_.Out();
        const int n = Clamp(length, kAltDataSize);
        std::memcpy(out.altData, bytes, static_cast<size_t>(n));
        out.altDataLength = n;
        out.altDataSet = true;
    }
    void SetPhoto(const uint8_t* bytes, size_t length) override {
        session_.Out().photo.assign(reinterpret_cast<const char*>(bytes), length);
        session_.Out().photoSet = true;
    }
    void Close() override { session_.HandOver(); }

  private:
    static int Clamp(int length, int limit) {
        return length < 0 ? 0 : (length > limit ? limit : length);
    }
    ReaderSession& session_;
};

}  // namespace

int RunReaderThread(ReaderSession& session, ICardReaderLibrary& library, IClock& clock) {
    SessionDialog dialog(session);
    ReaderSessions& sessions = session.Sessions();
    sessions.BeginPrompts(&session);
    MyKadReaderParts parts{library,
                           dialog,
                           session.Profile(),
                           clock,
                           sessions.PromptRoutine(),
                           &session.Inputs().verifySwitch};
    int result = kResultInternalError;
    try {
        result = RunMyKadReader(parts);
    } catch (...) {
        // Out of memory, say: the reader is closed and the read ends with the library's failure
        // code instead of leaving the dialog waiting for a close that never comes.
        library.OrvMyKadClose();
        session.Out().retCode = kResultInternalError;
        session.HandOver();
    }
    sessions.EndPrompts(&session);
    session.Release();
    return result;
}

}  // namespace quillon
