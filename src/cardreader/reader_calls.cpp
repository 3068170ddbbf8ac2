#include "cardreader/reader_calls.h"

#include <climits>

namespace quillon {

int BudgetWithTimeout(int timeoutMs) {
    if (timeoutMs < 0) timeoutMs = 0;
    if (timeoutMs > INT_MAX - kReaderCallMarginMs) return INT_MAX;
    return timeoutMs + kReaderCallMarginMs;
}

void ReaderCallWatch::Begin(const char* call, int budgetMs) {
    call_.store(call);
    budgetMs_.store(budgetMs);
    sequence_.fetch_add(1);  // after the name and budget: the dialog reads them behind it
}

void ReaderCallWatch::End() { sequence_.fetch_add(1); }

const char* ReaderCallWatch::Tick(int elapsedMs) {
    const uint32_t sequence = sequence_.load();
    if ((sequence & 1u) == 0) return nullptr;  // between calls: the thread is making progress
    if (sequence != seen_) {
        seen_ = sequence;
        elapsedMs_ = 0;
    }
    elapsedMs_ += elapsedMs;
    return elapsedMs_ >= budgetMs_.load() ? call_.load() : nullptr;
}

template <typename Call>
int GuardedReaderLibrary::Timed(const char* name, int budgetMs, Call call) {
    if (watch_.Stopped()) throw ReaderStopped();
    watch_.Begin(name, budgetMs);
    struct Ended {
        ReaderCallWatch& watch;
        ~Ended() { watch.End(); }
    } ended{watch_};
    return call();
}

int GuardedReaderLibrary::OrvMyKadInit(int comPort) {
    return Timed("OrvMyKadInit", kReaderCallBudgetMs,
                 [&] { return library_.OrvMyKadInit(comPort); });
}

int GuardedReaderLibrary::OrvMyKadGetFirmwareVersion(int timeoutMs, char* version,
                                                     uint8_t* keyArea) {
    return Timed("OrvMyKadGetFirmwareVersion", BudgetWithTimeout(timeoutMs),
                 [&] { return library_.OrvMyKadGetFirmwareVersion(timeoutMs, version, keyArea); });
}

int GuardedReaderLibrary::OrvMyKadGetCardStatus(int mode, int timeoutMs) {
    return Timed("OrvMyKadGetCardStatus", BudgetWithTimeout(timeoutMs),
                 [&] { return library_.OrvMyKadGetCardStatus(mode, timeoutMs); });
}

int GuardedReaderLibrary::OrvMyKadResetCard(uint8_t* buffer) {
    return Timed("OrvMyKadResetCard", kReaderCallBudgetMs,
                 [&] { return library_.OrvMyKadResetCard(buffer); });
}

int GuardedReaderLibrary::OrvMyKadReadOpenData(uint8_t* record, int32_t* length) {
    return Timed("OrvMyKadReadOpenData", kReaderCallBudgetMs,
                 [&] { return library_.OrvMyKadReadOpenData(record, length); });
}

int GuardedReaderLibrary::OrvMyKadIsEBA() {
    return Timed("OrvMyKadIsEBA", kReaderCallBudgetMs, [&] { return library_.OrvMyKadIsEBA(); });
}

int GuardedReaderLibrary::OrvMyKadReadPhoto(uint8_t* photo) {
    return Timed("OrvMyKadReadPhoto", kReaderCallBudgetMs,
                 [&] { return library_.OrvMyKadReadPhoto(photo); });
}

int GuardedReaderLibrary::OrvMyKadReadBio(char* application) {
    return Timed("OrvMyKadReadBio", kReaderCallBudgetMs,
                 [&] { return library_.OrvMyKadReadBio(application); });
}

int GuardedReaderLibrary::OrvMyKadSecurityLevel(int level) {
    return Timed("OrvMyKadSecurityLevel", kReaderCallBudgetMs,
                 [&] { return library_.OrvMyKadSecurityLevel(level); });
}

int GuardedReaderLibrary::OrvMyKadVerifyFinger(char* application, MyKadPromptRoutine prompt) {
    return Timed("OrvMyKadVerifyFinger", kReaderFingerBudgetMs,
                 [&] { return library_.OrvMyKadVerifyFinger(application, prompt); });
}

int GuardedReaderLibrary::OrvMyKadClose() {
    return Timed("OrvMyKadClose", kReaderCallBudgetMs, [&] { return library_.OrvMyKadClose(); });
}

}  // namespace quillon
