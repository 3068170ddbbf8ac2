#include "acqdialog/reader_session.h"

namespace quillon {

std::atomic<ReaderSession*> g_pPromptSession{nullptr};

namespace {
std::atomic<int> g_liveSessions{0};
const int kOperatorCancel = -9;
const size_t kMessageCapacity = 100;
}  // namespace

ReaderSession* ReaderSession::Create(IProfile& profile, const ReaderInputs& inputs) {
    ReaderSession* session = new ReaderSession(profile, inputs);
    g_liveSessions.fetch_add(1);
    return session;
}

int ReaderSession::Live() { return g_liveSessions.load(); }

std::string ReaderSession::ReadMessage(const char* key, const char* def) const {
    return profile_.ReadString(inputs_.settingsPath, "MESSAGE", key, def, kMessageCapacity);
}

void ReaderSession::Retain() { owners_.fetch_add(1); }

void ReaderSession::Release() {
    if (owners_.fetch_sub(1) != 1) return;
    delete this;
    g_liveSessions.fetch_sub(1);
}

void ReaderSession::AttachWindow(std::unique_ptr<IReaderWindow> window) {
    window_ = std::move(window);
}

bool ReaderSession::Abandon() {
    int expected = kRunning;
    if (!state_.compare_exchange_strong(expected, kAbandoned)) return false;
    cancelCode_.store(kOperatorCancel);
    return true;
}

void ReaderSession::RefreshPromptLines() {
    if (window_ != nullptr && !Abandoned()) window_->RefreshPromptLines();
}

void ReaderSession::SetPromptLine(int id, const std::string& text) {
    if (window_ != nullptr && !Abandoned()) window_->SetPromptLine(id, text);
}

void ReaderSession::HandOver() {
    int expected = kRunning;
    if (!state_.compare_exchange_strong(expected, kHandedOver)) return;
    if (window_ != nullptr) window_->SendClose();
}

}  // namespace quillon
