#include "acqdialog/session_reader_host.h"

#include <cstring>

#include "acqdialog/acq_dialog.h"

namespace quillon {

namespace {
int Clamp(int length, int limit) { return length < 0 ? 0 : (length > limit ? limit : length); }
}  // namespace

void SessionReaderHost::SetPromptLine(int line, const std::string& text) {
    session_.SetPromptLine(line == 1 ? kPromptLine1 : kPromptLine2, text);
}

void SessionReaderHost::SetLinkKey(const uint8_t* key) {
    ReaderResult& out = session_.Out();
    std::memcpy(out.linkKey, key, sizeof out.linkKey);
    out.linkKeySet = true;
}

void SessionReaderHost::SetFullRecord(bool full) {
    session_.Out().fullRecord = full ? 1 : 0;
    session_.Out().fullRecordSet = true;
}

void SessionReaderHost::SetOpenData(const uint8_t* bytes, int length) {
    ReaderResult& out = session_.Out();
    const int n = Clamp(length, kReaderOpenDataSize - 1);
    std::memcpy(out.openData, bytes, static_cast<size_t>(n));
    out.openData[n] = 0;
    out.openDataLength = n;
    out.openDataSet = true;
}

void SessionReaderHost::SetAltData(const uint8_t* bytes, int length) {
    ReaderResult& out = session_.Out();
    const int n = Clamp(length, kReaderAltDataSize);
    std::memcpy(out.altData, bytes, static_cast<size_t>(n));
    out.altDataLength = n;
    out.altDataSet = true;
}

void SessionReaderHost::SetPhoto(const uint8_t* bytes, size_t length) {
    session_.Out().photo.assign(reinterpret_cast<const char*>(bytes), length);
    session_.Out().photoSet = true;
}

MyKadPromptRoutine SessionReaderHost::PromptRoutine() { return OnPromptCode; }

void SessionReaderHost::BeginPrompts() { g_pPromptSession.store(&session_); }

void SessionReaderHost::EndPrompts() {
    ReaderSession* self = &session_;
    g_pPromptSession.compare_exchange_strong(self, nullptr);
}

int RunReaderThread(ReaderSession& session, ICardReaderLibrary& library, IClock& clock) {
    SessionReaderHost host(session);
    return RunReaderThread(static_cast<IReaderHost&>(host), library, clock);
}

}  // namespace quillon
