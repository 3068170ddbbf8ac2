#include "cardreader/reader_thread.h"

#include <cstring>

#include "cardreader/mykad_reader.h"
#include "cardreader/reader_calls.h"

namespace quillon {

namespace {

// The dialog as the reader sees it, made of the session: inputs copied at the start, results
// kept until the close hands them over, prompts through the session's window.
class SessionDialog : public IMyKadDialog {
  public:
    explicit SessionDialog(ReaderSession& session) : session_(session) {}
    int ComPort() override { return session_.Inputs().comPort; }
    MyKadReadPlan Plan() override { return session_.Inputs().plan; }
    std::string SettingsPath() override { return session_.Inputs().settingsPath; }
    int CancelCode() override { return session_.CancelCode(); }
    void RefreshPromptLines() override { session_.RefreshPromptLines(); }
    void SetPromptLine(int line, const std::string& text) override {
        session_.SetPromptLine(line, text);
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

// Closes the reader (not through the watch: the read is already stopped) and hands `code` over.
void EndWith(ReaderSession& session, ICardReaderLibrary& library, int code) {
    try {
        library.OrvMyKadClose();
    } catch (...) {
        // The result still goes to the dialog, which is waiting for it.
    }
    session.Out().retCode = code;
    session.HandOver();
}

}  // namespace

int RunReaderThread(ReaderSession& session, ICardReaderLibrary& library, IClock& clock) {
    SessionDialog dialog(session);
    ReaderSessions& sessions = session.Sessions();
    sessions.BeginPrompts(&session);
    GuardedReaderLibrary guarded(library, session.Watch());
    MyKadReaderParts parts{guarded, dialog, session.Profile(), clock, sessions.PromptRoutine()};
    int result = kResultInternalError;
    try {
        result = RunMyKadReader(parts);
    } catch (const ReaderStopped&) {
        // A call overran its budget and came back within the grace: the reader is closed and
        // the read ends as timed out. One given up meanwhile makes no call and hands nothing.
        result = kResultTimeout;
        if (!session.Abandoned()) EndWith(session, library, result);
    } catch (...) {
        // Out of memory, say: the reader is closed and the read ends with the library's failure
        // code instead of leaving the dialog waiting for a close that never comes.
        if (!session.Abandoned()) EndWith(session, library, result);
    }
    sessions.EndPrompts(&session);
    session.Release();
    return result;
}

}  // namespace quillon
