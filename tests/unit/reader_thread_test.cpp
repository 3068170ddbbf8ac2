// The reader thread for real: RunReaderThread on a std::thread against the dialog, whose modal
// loop the test plays. The dialog is destroyed as soon as it has ended, before the thread is
// joined: under AddressSanitizer any later touch of it fails the run.
#include "acqdialog/reader_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "acqdialog/acq_dialog.h"
#include "dialog_fakes.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;
const auto kBound = std::chrono::seconds(10);  // no step of a call may take longer

// Makes the library call named `blockAt` wait: the card wait until the cancel event is set, the
// others until Unstick(), whatever the event says.
class Blocking {
  public:
    std::string blockAt;
    bool photoThrows = false;
    void SetCancelEvent() { Set(cancel_); }
    void Unstick() { Set(unstuck_); }
    int Answer(const std::string& name, int answer) {
        std::unique_lock<std::mutex> lock(m_);
        const bool& until = name == "CS" ? cancel_ : unstuck_;
        if (name == blockAt) cv_.wait_for(lock, kBound, [&] { return until; });
        if (name == "Photo" && photoThrows) throw std::bad_alloc();
        return name == "CS" && cancel_ ? kOrvWaitAbandoned : answer;
    }

  private:
    void Set(bool& flag) {
        std::lock_guard<std::mutex> lock(m_);
        flag = true;
        cv_.notify_all();
    }
    std::mutex m_;
    std::condition_variable cv_;
    bool cancel_ = false, unstuck_ = false;
};

// One MyKad call on a real reader thread, and the window of its dialog: the fake window's
// records and the cancel event going to the library. The thread's prompts and close are sent
// messages: handled one at a time, only while the test's thread serves the loop, and failing (and
// counted) once the dialog has ended. The settings, the library and the window outlive the
// thread; the dialog goes when the call returns.
class Call : public testing_support::FakeWindow {
  public:
    testing_support::DialogRig rig;
    testing_support::FakeCardReader library;
    Blocking block;
    testing_support::FakeClock clock;
    CardReadOperation operation;
    std::unique_ptr<CAcqDialog> dialog{new CAcqDialog(rig.env, operation, true, 4)};
    std::thread thread;
    std::atomic<int> result{1};  // what the thread handed over, or would have
    bool ended = false, left = false;
    int code = 1, promptsAfterEnd = 0, closesAfterEnd = 0;  // sent, not handled

    explicit Call(Mode mode) : operation(mode) {
        dialog->Attach(this);
        library.promptCodes = {0xA3};
        library.hook = [this](const std::string& name, int, int a) {
            return block.Answer(name, a);
        };
    }
    ~Call() override {
        Return();
        block.Unstick();
        if (thread.joinable()) thread.join();
    }

    bool StartReaderThread(ReaderSession& session) override {
        session.AttachWindow(std::unique_ptr<IReaderWindow>(new Sent(*this)));
        session.Retain();
        thread =
            std::thread([this, &session] { result = RunReaderThread(session, library, clock); });
        return true;
    }
    void SignalCancel() override {
        FakeWindow::SignalCancel();
        block.SetCancelEvent();
    }
    void SendClose() override {  // WM_CLOSE, the dialog's own or the thread's
        FakeWindow::SendClose();
        if (dialog->OnCancel()) ended = true;
    }

    // The modal loop until `done` holds; false if it did not within the bound.
    template <typename Done>
    bool PumpUntil(Done done) {
        for (const auto deadline = Clock::now() + kBound; !done();) {
            if (Clock::now() > deadline) return false;
            held_.unlock();  // the thread's messages are handled meanwhile
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            held_.lock();
        }
        return true;
    }
    // The loop until the dialog has ended; then the call returns.
    bool End() {
        return PumpUntil([this] { return ended; }) && Return();
    }

  private:
    // What the thread holds of the window.
    struct Sent : IReaderWindow {
        explicit Sent(Call& call) : c(call) {}
        void RefreshPromptLines() override {
            c.Handle([&] { c.RefreshPromptLines(true, true); }, c.promptsAfterEnd);
        }
        void SetPromptLine(int id, const std::string& text) override {
            c.Handle([&] { c.SetItemText(id, text); }, c.promptsAfterEnd);
        }
        void SendClose() override {
            c.Handle([&] { c.SendClose(); }, c.closesAfterEnd);
        }
        Call& c;
    };
    template <typename Message>
    void Handle(Message message, int& afterEnd) {
        std::lock_guard<std::mutex> lock(loop_);
        if (ended || gone_) {
            ++afterEnd;
        } else {
            message();
        }
    }
    bool Return() {
        if (gone_) return true;
        code = operation.RetCode();
        left = dialog->ReaderAbandoned();
        dialog->DestroyWindow();
        dialog.reset();
        gone_ = true;
        held_.unlock();
        return true;
    }

    std::mutex loop_;
    std::unique_lock<std::mutex> held_{loop_};  // by the test's thread, unless it serves the loop
    bool gone_ = false;
};

TEST(ReaderThread, WhereverTheTimeOutLandsTheCallEndsInBoundAndNothingReachesItAfterwards) {
    const char* const all =
        "Init(4) FW(2000) CS(1,2000) Reset ReadData IsEBA Photo Bio(DUV) L4 Verify(DUV) Close";
    const struct {
        std::string blockAt;  // the library call that waits, where the time-out lands
        bool photoThrows;
        int code;
        const char* line2;  // the last prompt the dialog showed
        const char* calls;  // the library calls of the thread, to its end
    } rows[] = {
        {"", false, 0, "Process Completed", all},
        // Left behind in the photo call: what it does once back reaches neither dialog nor key.
        {"Photo", false, -30, "Reading Photo", all},
        // Out of memory on the thread: the reader is closed, the library's failure code handed
        // over like any result.
        {"", true, -1009, "Reading Photo",
         "Init(4) FW(2000) CS(1,2000) Reset ReadData IsEBA Photo Close"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Call call(Mode::kMyKad);
        call.block.blockAt = row.blockAt;
        call.block.photoThrows = row.photoThrows;
        call.dialog->OnInitDialog();
        if (!row.blockAt.empty()) {
            ASSERT_TRUE(call.PumpUntil(
                [&] { return call.library.Calls().find(row.blockAt) != std::string::npos; }));
            call.dialog->OnTimer(kTimerReader);
        }
        if (row.blockAt == "Photo") call.dialog->OnTimer(kTimerReaderGrace);
        ASSERT_TRUE(call.End());
        EXPECT_EQ(call.code, row.code);
        EXPECT_EQ(call.text[kPromptLine2], row.line2);
        EXPECT_EQ(call.left, row.blockAt == "Photo");
        EXPECT_EQ(call.operation.Result().photo, std::string(row.code ? 0 : 4000, 0x5C));
        if (call.left) {
            EXPECT_EQ(call.rig.readers.Live(), 1) << "the thread still holds its session";
            call.block.Unstick();
        }
        call.thread.join();
        EXPECT_EQ(call.result, row.photoThrows ? -1009 : 0);
        EXPECT_EQ(call.rig.readers.Live(), 0) << "the last owner freed the session";
        EXPECT_EQ(call.promptsAfterEnd + call.closesAfterEnd, 0) << "nothing after the end";
        EXPECT_EQ(call.library.Calls(), row.calls);
        // The key of the reader's version call, unless the thread was left behind.
        EXPECT_EQ(call.rig.port.linkKey.empty() ? 0 : call.rig.port.linkKey[0], call.left ? 0 : 1);
        // The verification's prompt code reached the dialog while the thread ran, and no
        // longer does.
        EXPECT_EQ(testing_support::TestPromptCode(0xA3), 1);
        EXPECT_EQ(call.promptsAfterEnd, 0);
    }
}

// A MyKid has no open data: its record reaches the operation as the other record.
TEST(ReaderThread, AMyKidRecordReachesTheOperationAsItsOtherRecord) {
    Call call(Mode::kMyKadNoVerifyNoPhoto);
    call.library.defaults["ReadData"] = kOrvMyKidRecord;
    call.dialog->OnInitDialog();
    ASSERT_TRUE(call.End());
    call.thread.join();
    const ReaderResult& r = call.operation.Result();
    EXPECT_EQ(call.code, 0);
    EXPECT_EQ(r.fullRecord, 0);
    EXPECT_EQ(r.openDataLength, 0);
    ASSERT_EQ(r.altDataLength, 120);
    EXPECT_EQ(r.altData[0], 0x41);
    EXPECT_EQ(r.altData[119], 0x41);
    EXPECT_EQ(r.altData[120], 0);
}

}  // namespace
}  // namespace quillon
