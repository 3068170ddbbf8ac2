// The reader thread's whole run, played on the test's thread against a dialog, with the dialog's
// watch timer ticked by hand from inside the library's calls (as if that much time passed in
// them). A read left behind runs on after its dialog was destroyed: under AddressSanitizer any
// touch of it fails.
#include "cardreader/reader_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <new>

#include "counting_allocator.h"
#include "dialog_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

const std::string kStart = "Init(4) FW(2000) CS(1,2000) Reset ReadData ",
                  kAll = kStart + "IsEBA Photo Bio(DUV) L4 Verify(DUV) Close";

// One MyKad dialog on reader port 4 and its thread, sharing `rig` and `library` with the reads
// before and after it.
struct Read {
    Read(DialogRig& r, FakeCardReader& l) : rig(r), library(l) {
        rig.window.calls.clear();
        dialog->Attach(&rig.window);
    }
    // Starts the dialog; true when its thread was started (the test then plays it with Run).
    bool Start() {
        dialog->OnInitDialog();
        return rig.window.reader != nullptr;
    }
    int Run() {
        ReaderSession& thread = *rig.window.reader;
        rig.window.reader = nullptr;  // the run gives up the thread's hold itself
        return RunReaderThread(thread, library, clock);
    }
    // Ticks the watch timer until the window's last call is `call`; the ticks it took, or -1.
    int TicksUntil(const std::string& call, int most = 1000) {
        for (int n = 1; n <= most; ++n) {
            dialog->OnTimer(kTimerReaderWatch);
            if (!rig.window.calls.empty() && rig.window.calls.back() == call) return n;
        }
        return -1;
    }
    bool Saw(const std::string& call) const {
        return Join(rig.window.calls).find(call) != std::string::npos;
    }

    DialogRig& rig;
    FakeCardReader& library;
    FakeClock clock;
    CardReadOperation op{Mode::kMyKad};
    std::unique_ptr<CAcqDialog> dialog{new CAcqDialog(rig.env, op, true, 4)};
};

std::string Outcome(const Read& read, const DialogRig& rig) {
    const ReaderResult& r = read.op.Result();
    return Format("ret %d key %d full %d open %d alt %d/%d photo ", read.op.RetCode(),
                  rig.port.linkKey.empty() ? 0 : rig.port.linkKey[0], r.fullRecord,
                  r.openDataLength, r.altDataLength, r.altData[119]) +
           std::to_string(r.photo.size());
}

TEST(ReaderThread, HandsItsResultToTheDialogAndAlwaysFreesTheSession) {
    enum Run { kRead, kMyKid, kThrows, kSlowAcrossTheTimeOut };
    const struct {
        Run run;
        int result;                 // returned by the thread
        std::string calls, dialog;  // the library's, and what the dialog ends with
    } rows[] = {
        {kRead, 0, kAll, "ret 0 key 1 full 1 open 120 alt 0/0 photo 4000"},
        {kMyKid, 0, kStart + "Close", "ret 0 key 1 full 0 open 0 alt 120/65 photo 0"},
        // Out of memory on the thread: the reader is closed and the failure handed over.
        {kThrows, -1009, kStart + "IsEBA Photo Close",
         "ret -1009 key 1 full 1 open 0 alt 0/0 photo 0"},
        // Every call takes a tick less than its budget and the read's time-out comes in the card
        // wait: the read goes on, and its own result replaces the time-out's.
        {kSlowAcrossTheTimeOut, 0, kAll, "ret 0 key 1 full 1 open 120 alt 0/0 photo 4000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.run);
        DialogRig rig;
        FakeCardReader library;
        Read read(rig, library);
        // A code without a prompt only repaints; a text read is cut to 99 characters.
        library.promptCodes = {0xA9, 0xA4, 0xA3};
        rig.Set("MESSAGE", "M5", std::string(100, 'm'));
        if (row.run == kMyKid) library.defaults["ReadData"] = 9999;  // a MyKid
        const int budgets[] = {20000, 7000,  7000,  20000, 20000, 20000,
                               20000, 20000, 20000, 60000, 20000};
        int call = 0;
        library.hook = [&](const std::string& name, int, int answer) {
            if (name == "Photo" && row.run == kThrows) throw std::bad_alloc();
            if (name == "Verify") {
                // Out of memory in the prompt routine: nothing unwinds into the library.
                AllocationsIn([] { EXPECT_EQ(TestPromptCode(0xA5), 1); }, 0);
            }
            if (row.run == kSlowAcrossTheTimeOut) {
                if (name == "CS") read.dialog->OnTimer(kTimerReader);
                for (int t = 1; t < budgets[call] / kReaderWatchTickMs; ++t) {
                    read.dialog->OnTimer(kTimerReaderWatch);
                }
                ++call;
            }
            return answer;
        };
        EXPECT_TRUE(read.Start());
        EXPECT_EQ(read.Run(), row.result);
        EXPECT_EQ(library.Calls(), row.calls);
        const std::string calls = Join(rig.window.calls);
        EXPECT_EQ(calls.substr(calls.size() - 12), "thread close");
        EXPECT_FALSE(read.Saw("cancel event")) << "only Cancel or an overrun sets it";
        EXPECT_TRUE(read.dialog->OnCloseRequest());
        read.dialog.reset();
        const std::string prompts = "thread refresh|thread refresh|thread line 2 " +
                                    std::string(99, 'm') + "|thread refresh|thread line 2 " +
                                    "MyKad verification completed successfully\r\n" +
                                    "Pengesahan MyKad berjaya|";
        EXPECT_EQ(calls.find(prompts) != std::string::npos,
                  row.run != kMyKid && row.run != kThrows);
        EXPECT_EQ(TestPromptCode(0xA3), 1);
        EXPECT_EQ(Join(rig.window.calls), calls) << "no prompt once the run has ended";
        EXPECT_EQ(rig.readers.Live(), 0) << "the last owner freed the session";
        EXPECT_EQ(Outcome(read, rig), row.dialog);
        EXPECT_EQ(read.op.Result().photo.find_first_not_of('\x5C'), std::string::npos);
    }
}

// A call that stops coming back: at its budget the cancel event is set, after the grace the
// read ends with -30 and the thread is left behind; a MyKad read meanwhile answers -1008 (and
// leaves the event set); once the call is back the thread makes no further call, ends, and the
// next read works. A call that is back within the grace ends the read itself, with -30.
TEST(ReaderThread, OnlyACallPastItsBudgetIsGivenUpAndTheReaderIsFreeOnceItIsBack) {
    const struct {
        const char* call;  // as the fake names it
        int budgetMs;
        bool backInGrace;
        std::string tail;  // of the library's calls
    } rows[] = {
        {"Init", 20000, false, "Init(4)"},
        {"FW", 7000, false, "FW(2000)"},
        {"CS", 7000, false, "CS(1,2000)"},
        {"Reset", 20000, false, "Reset"},
        {"ReadData", 20000, false, "ReadData"},
        {"IsEBA", 20000, false, "IsEBA"},
        {"Photo", 20000, false, "Photo"},
        {"Bio", 20000, false, "Bio(DUV)"},
        {"L4", 20000, false, "L4"},
        {"Verify", 60000, false, "Verify(DUV)"},
        {"Close", 20000, false, "Verify(DUV) Close"},
        {"CS", 7000, true, "CS(1,2000) Close"},
        {"Verify", 60000, true, "Verify(DUV) Close"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.call) + (row.backInGrace ? " back in the grace" : ""));
        DialogRig rig;
        FakeCardReader library;
        std::unique_ptr<Read> read(new Read(rig, library));
        int cancelAt = -1, closeAfter = -1, busy = 0;
        std::string busyCalls;
        library.hook = [&](const std::string& name, int count, int answer) {
            if (name != row.call || count != 1) return answer;
            cancelAt = read->TicksUntil("cancel event");
            if (row.backInGrace) return answer;
            closeAfter = read->TicksUntil("close");
            EXPECT_TRUE(read->dialog->OnCloseRequest());
            EXPECT_EQ(Outcome(*read, rig).substr(0, 7), "ret -30");
            read->dialog.reset();
            Read next(rig, library);
            EXPECT_FALSE(next.Start());
            busy = next.op.RetCode();
            busyCalls = Join(rig.window.calls);
            return answer;
        };
        ASSERT_TRUE(read->Start());
        read->Run();
        EXPECT_EQ(cancelAt * kReaderWatchTickMs, row.budgetMs);
        const std::string calls = library.Calls();
        // Back from the call, a thread left behind makes no further one; one back within the
        // grace stops at its next call and closes the reader.
        EXPECT_EQ(calls.substr(calls.size() - std::min(calls.size(), row.tail.size())), row.tail);
        if (row.backInGrace) {
            EXPECT_EQ(read->TicksUntil("close", 1), -1) << "the thread's close, not the watch";
            EXPECT_TRUE(read->dialog->OnCloseRequest());
            EXPECT_EQ(read->op.RetCode(), -30);
            read->dialog.reset();
        } else {
            EXPECT_EQ(closeAfter * kReaderWatchTickMs, kReaderGraceMs);
            EXPECT_EQ(busy, -1008);
            EXPECT_EQ(busyCalls.find("reset cancel"), std::string::npos) << busyCalls;
        }
        EXPECT_EQ(rig.readers.Live(), 0);
        read.reset(new Read(rig, library));
        library.hook = nullptr;
        ASSERT_TRUE(read->Start());
        EXPECT_EQ(read->Run(), 0);
        EXPECT_TRUE(read->dialog->OnCloseRequest());
        EXPECT_EQ(Outcome(*read, rig), "ret 0 key 1 full 1 open 120 alt 0/0 photo 4000");
    }
}

// The thread handed its result over but its close never reached the dialog: a tick later the
// dialog takes the result and closes itself.
TEST(ReaderThread, AFinishedReadWhoseCloseIsLostClosesOnTheNextTick) {
    DialogRig rig;
    FakeCardReader library;
    Read read(rig, library);
    library.defaults["ReadData"] = 9999;
    ASSERT_TRUE(read.Start());
    EXPECT_EQ(read.Run(), 0);
    EXPECT_EQ(rig.window.calls.back(), "thread close");  // sent, never handled
    EXPECT_EQ(read.TicksUntil("close"), 2);
    EXPECT_TRUE(read.dialog->OnCloseRequest());
    EXPECT_EQ(Outcome(read, rig), "ret 0 key 1 full 0 open 0 alt 120/65 photo 0");
}

}  // namespace
}  // namespace quillon
