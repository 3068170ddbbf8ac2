#include "cardreader/reader_session.h"

#include "terminal/prompts.h"

namespace quillon {

ReaderSession* ReaderSessions::Create(IProfile& profile, const ReaderInputs& inputs) {
    ReaderSession* session = new ReaderSession(*this, profile, inputs);
    live_.fetch_add(1);
    return session;
}

int ReaderSessions::OnPromptCode(int code) noexcept {
    try {
        ReaderSession* session = prompting_.load();
        if (session != nullptr) session->ShowPromptCode(code);
    } catch (...) {
        // Out of memory for the text, say: the prompt is lost, the verification goes on.
    }
    return 1;
}

std::string ReaderSession::ReadMessage(const char* key, const char* def) const {
    return profile_.ReadString(inputs_.settingsPath, "MESSAGE", key, def, kPromptTextSize);
}

void ReaderSession::Retain() { owners_.fetch_add(1); }

void ReaderSession::Release() {
    if (owners_.fetch_sub(1) != 1) return;
    ReaderSessions& sessions = sessions_;
    delete this;
    sessions.live_.fetch_sub(1);
}

void ReaderSession::AttachWindow(std::unique_ptr<IReaderWindow> window) {
    window_ = std::move(window);
}

bool ReaderSession::Abandon() {
    int expected = kRunning;
    if (!state_.compare_exchange_strong(expected, kAbandoned)) return false;
    watch_.Stop();
    return true;
}

void ReaderSession::RefreshPromptLines() {
    if (window_ != nullptr && !Abandoned()) window_->RefreshPromptLines();
}

void ReaderSession::SetPromptLine(int line, const std::string& text) {
    if (window_ != nullptr && !Abandoned()) window_->SetPromptLine(line, text);
}

void ReaderSession::ShowPromptCode(int code) {
    RefreshPromptLines();
    // The reader modes are neither enrolment nor verification: the MyKad texts of 0xA3, 0xA4.
    const PromptText* prompt = PromptForCode(code, PromptVariant::kOther);
    if (prompt == nullptr) return;
    SetPromptLine(2, ReadMessage(prompt->key, prompt->text));
}

void ReaderSession::HandOver() {
    int expected = kRunning;
    if (!state_.compare_exchange_strong(expected, kHandedOver)) return;
    if (window_ != nullptr) window_->SendClose();
}

}  // namespace quillon
