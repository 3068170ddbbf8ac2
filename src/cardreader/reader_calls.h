// How long a card-reader library call may take, and how the read learns that one has stopped
// coming back.
//
// A read that makes progress is never cut, however long the card wait, the version retries, the
// photo and the thumb take together: each call that comes back lets the read go on. Only a call
// that overruns its budget counts as hung. The budgets lie well beyond what an honest reader
// takes, so that a slow reader or a hesitant customer is never mistaken for a hung one.
//
// The watch is shared by two threads: the reader thread marks each call's start and end, the
// dialog's thread looks at it on its watch timer and, once a call has overrun, stops the read.
// Each side writes its own fields; the hand-over is one atomic counter, so neither side waits.
#pragma once

#include <atomic>
#include <cstdint>

#include "cardreader/card_reader_library.h"

namespace quillon {

// A call that carries its own time-out (the card status, the version) gets that much and this
// margin on top: a reader that honours its argument is back long before.
const int kReaderCallMarginMs = 5000;
// A call without one (init, reset, record, EBA, photo, fingerprint data, level, close): the
// slowest honest reader reads the 4000-byte photo in a few seconds; this is several times that.
const int kReaderCallBudgetMs = 20000;
// The finger verification waits for a person to place a thumb, perhaps after being told how.
const int kReaderFingerBudgetMs = 60000;
// After an overrun the cancel event is set; a call that honours it is back within this, and
// the thread stops at its next step. One that is not is left behind.
const int kReaderGraceMs = 2000;
// How often the dialog looks at the watch. Ticks that come late only lengthen a budget.
const int kReaderWatchTickMs = 250;

// The budget of a call that takes `timeoutMs` (negative counts as 0), without overflow.
int BudgetWithTimeout(int timeoutMs);

class ReaderCallWatch {
  public:
    // ---- The reader thread ----
    void Begin(const char* call, int budgetMs);
    void End();
    // Whether the read has been told to stop (a call overran, or the dialog gave the thread up).
    bool Stopped() const { return stopped_.load(); }

    // ---- The dialog's thread ----
    // Counts `elapsedMs` against the call in progress. Returns that call's name once it has
    // overrun its budget (every tick after that too), else null.
    const char* Tick(int elapsedMs);
    void Stop() { stopped_.store(true); }

  private:
    // Odd while a call runs; each Begin and End adds one, so the dialog tells one call from the
    // next even when the thread went through several between two ticks.
    std::atomic<uint32_t> sequence_{0};
    std::atomic<int> budgetMs_{0};
    std::atomic<const char*> call_{nullptr};
    std::atomic<bool> stopped_{false};
    // The dialog's own count for the call it last saw.
    uint32_t seen_ = 0;
    int64_t elapsedMs_ = 0;
};

// Thrown by the guarded library in place of a call once the read has been stopped: the thread
// leaves its run at that step, making no further call.
struct ReaderStopped {};

// The library as the reader thread calls it: each call is checked against the stop first and
// timed on the watch while it runs.
class GuardedReaderLibrary : public ICardReaderLibrary {
  public:
    GuardedReaderLibrary(ICardReaderLibrary& library, ReaderCallWatch& watch)
        : library_(library), watch_(watch) {}

    int OrvMyKadInit(int comPort) override;
    int OrvMyKadGetFirmwareVersion(int timeoutMs, char* version, uint8_t* keyArea) override;
    int OrvMyKadGetCardStatus(int mode, int timeoutMs) override;
    int OrvMyKadResetCard(uint8_t* buffer) override;
    int OrvMyKadReadOpenData(uint8_t* record, int32_t* length) override;
    int OrvMyKadIsEBA() override;
    int OrvMyKadReadPhoto(uint8_t* photo) override;
    int OrvMyKadReadBio(char* application) override;
    int OrvMyKadSecurityLevel(int level) override;
    int OrvMyKadVerifyFinger(char* application, MyKadPromptRoutine prompt) override;
    int OrvMyKadClose() override;

  private:
    template <typename Call>
    int Timed(const char* name, int budgetMs, Call call);

    ICardReaderLibrary& library_;
    ReaderCallWatch& watch_;
};

}  // namespace quillon
