// The reader thread for real: RunReaderThread on a std::thread against the dialog's logic, whose
// message loop the test plays on its own thread. The thread's prompts and close reach the loop
// as sent messages do (queued, waited for with a bound, failing once the window is gone); the
// library is a fake whose card wait blocks until the cancel event is set, and whose photo call
// can block until the test lets it go, whatever the event says. Each row fires the time-out at
// its own moment. The dialog and its window are destroyed as soon as the dialog has ended, before
// the thread is joined: under AddressSanitizer any later touch of them fails the run.
#include "cardreader/reader_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "acqdialog/acq_dialog.h"
#include "dialog_fakes.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;
const auto kBound = std::chrono::seconds(10);  // no step of a row may take longer

// A flag with waiting, shared by the test's thread and the reader thread.
class Signal {
public:
    void Set() {
        std::lock_guard<std::mutex> lock(m_);
        set_ = true;
        cv_.notify_all();
    }
    bool IsSet() {
        std::lock_guard<std::mutex> lock(m_);
        return set_;
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, kBound, [this] { return set_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool set_ = false;
};

// The dialog window's message queue as other threads see it. It outlives the window (as a window
// handle does): once the window is gone, every send fails at once and is counted.
class Queue {
public:
    struct Message {
        enum Kind { kRefresh, kLine, kClose } kind;
        int id;
        std::string text;
        bool done;
    };

    // SendMessageTimeout: queued, then waited for until handled, the window goes, or the bound.
    bool Send(Message::Kind kind, int id = 0, const std::string& text = "") {
        std::unique_lock<std::mutex> lock(m_);
        if (gone_) return ++sentAfterGone_, false;
        auto message = std::make_shared<Message>(Message{kind, id, text, false});
        queue_.push_back(message);
        cv_.notify_all();
        cv_.wait_for(lock, kBound, [&] { return message->done || gone_; });
        return message->done;
    }
    // The loop's side: the next message, or none within `ms`.
    std::shared_ptr<Message> Next(int ms) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !queue_.empty(); });
        if (queue_.empty()) return nullptr;
        auto message = queue_.front();
        queue_.pop_front();
        return message;
    }
    void Handled(Message& message) {
        std::lock_guard<std::mutex> lock(m_);
        message.done = true;
        cv_.notify_all();
    }
    void Gone() {
        std::lock_guard<std::mutex> lock(m_);
        gone_ = true;
        queue_.clear();
        cv_.notify_all();
    }
    int SentAfterGone() {
        std::lock_guard<std::mutex> lock(m_);
        return sentAfterGone_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Message>> queue_;
    bool gone_ = false;
    int sentAfterGone_ = 0;
};

// What the thread holds of the window: the queue only.
class QueueWindow : public IReaderWindow {
public:
    explicit QueueWindow(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}
    void RefreshPromptLines() override { queue_->Send(Queue::Message::kRefresh); }
    void SetPromptLine(int id, const std::string& text) override {
        queue_->Send(Queue::Message::kLine, id, text);
    }
    void SendClose() override { queue_->Send(Queue::Message::kClose); }

private:
    std::shared_ptr<Queue> queue_;
};

// The card-reader library, called from the reader thread. Every call answers success (a card at
// the first poll); the card wait can block until the cancel event, the photo until Unstick().
class BlockingLibrary : public ICardReaderLibrary {
public:
    bool cardWaitBlocks = false;
    bool photoSticks = false;
    bool photoThrows = false;

    void SetCancelEvent() {
        Change([this] { cancel_ = true; });
    }
    void Unstick() {
        Change([this] { unstuck_ = true; });
    }
    bool Inside(const std::string& call) {
        std::lock_guard<std::mutex> lock(m_);
        return inside_ == call;
    }
    std::string Calls() {
        std::lock_guard<std::mutex> lock(m_);
        return calls_;
    }
    int Overlaps() {
        std::lock_guard<std::mutex> lock(m_);
        return overlaps_;
    }

    int OrvMyKadInit(int) override { return Call("Init"); }
    int OrvMyKadGetFirmwareVersion(int, char* version, uint8_t* keyArea) override {
        version[0] = 'V';
        for (int i = 0; i < kOrvKeyAreaSize; ++i) keyArea[i] = static_cast<uint8_t>(0xC0 + i);
        return Call("FW");
    }
    int OrvMyKadGetCardStatus(int, int) override {
        Enter("CS");
        std::unique_lock<std::mutex> lock(m_);
        if (cardWaitBlocks) cv_.wait_for(lock, kBound, [this] { return cancel_; });
        return Leave(lock, cancel_ ? kOrvWaitAbandoned : kOrvCardPresent);
    }
    int OrvMyKadResetCard(uint8_t*) override { return Call("Reset"); }
    int OrvMyKadReadOpenData(uint8_t* record, int32_t* length) override {
        record[0] = 'R';
        *length = 1;
        return Call("ReadData");
    }
    int OrvMyKadIsEBA() override { return Call("IsEBA", 1); }
    int OrvMyKadReadPhoto(uint8_t*) override {
        Enter("Photo");
        std::unique_lock<std::mutex> lock(m_);
        if (photoSticks) cv_.wait_for(lock, kBound, [this] { return unstuck_; });
        if (photoThrows) {
            Leave(lock, kOrvOk);
            throw std::bad_alloc();
        }
        return Leave(lock, kOrvOk);
    }
    int OrvMyKadReadBio(char*) override { return Call("Bio"); }
    int OrvMyKadSecurityLevel(int) override { return Call("Level"); }
    int OrvMyKadVerifyFinger(char*, MyKadPromptRoutine prompt) override {
        Enter("Verify");
        prompt(0xA3);
        std::unique_lock<std::mutex> lock(m_);
        return Leave(lock, kOrvOk);
    }
    int OrvMyKadClose() override { return Call("Close"); }

private:
    template <typename F>
    void Change(F change) {
        std::lock_guard<std::mutex> lock(m_);
        change();
        cv_.notify_all();
    }
    void Enter(const std::string& call) {
        std::lock_guard<std::mutex> lock(m_);
        if (!inside_.empty()) ++overlaps_;
        inside_ = call;
        calls_ += (calls_.empty() ? "" : " ") + call;
    }
    int Leave(std::unique_lock<std::mutex>&, int result) {
        inside_.clear();
        return result;
    }
    int Call(const std::string& call, int result = kOrvOk) {
        Enter(call);
        std::unique_lock<std::mutex> lock(m_);
        return Leave(lock, result);
    }

    std::mutex m_;
    std::condition_variable cv_;
    bool cancel_ = false, unstuck_ = false;
    std::string inside_, calls_;
    int overlaps_ = 0;
};

// The log, written by both threads; the reader thread can be held at one of its lines.
class HoldingLog : public ILogSink {
public:
    std::string holdAt;
    Signal reached, resume;
    HoldingLog() { SetLogSink(this); }
    ~HoldingLog() override { SetLogSink(nullptr); }
    void Write(const std::string& line) override {
        if (!holdAt.empty() && line == holdAt) {
            reached.Set();
            resume.Wait();
        }
    }
};

// Everything a reader thread may still use after its dialog has gone; joined before it goes.
struct ThreadWorld {
    BlockingLibrary library;
    testing_support::FakeClock clock;
    Signal firstStep;            // the thread's body starts once this is set
    std::atomic<int> result{1};  // what the thread handed over, or would have
    std::thread thread;
    ~ThreadWorld() {
        firstStep.Set();
        library.Unstick();
        if (thread.joinable()) thread.join();
    }
};

// The dialog's window on the test's thread: the fake window's records, a real reader thread, the
// cancel event going to the library, and a loop that serves the thread's messages.
class LoopWindow : public testing_support::FakeWindow {
public:
    LoopWindow(CAcqDialog& dialog, ThreadWorld& world) : dialog_(dialog), world_(world) {}
    std::shared_ptr<Queue> queue = std::make_shared<Queue>();
    bool ended = false;
    bool timeOutBeforeClose = false;  // timer 99 comes in just ahead of the thread's close
    int threadsStarted = 0;

    bool StartReaderThread(ReaderSession& session) override {
        session.AttachWindow(std::unique_ptr<IReaderWindow>(new QueueWindow(queue)));
        session.Retain();
        ThreadWorld* world = &world_;
        world_.thread = std::thread([world, &session] {
            world->firstStep.Wait();
            world->result = RunReaderThread(session, world->library, world->clock);
        });
        ++threadsStarted;
        return true;
    }
    void SendClose() override {  // the dialog's own WM_CLOSE
        FakeWindow::SendClose();
        if (dialog_.OnCancel()) ended = true;
    }
    void SignalCancel() override {
        FakeWindow::SignalCancel();
        world_.library.SetCancelEvent();
    }

    void PumpFor(int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        PumpUntil([until] { return Clock::now() >= until; });
    }
    // The modal loop until `done` holds; false if it did not within the bound.
    template <typename Done>
    bool PumpUntil(Done done) {
        for (const auto deadline = Clock::now() + kBound; !done();) {
            if (Clock::now() > deadline) return false;
            std::shared_ptr<Queue::Message> message = queue->Next(5);
            if (message == nullptr) continue;
            if (message->kind == Queue::Message::kRefresh) {
                RefreshPromptLines(true, true);
            } else if (message->kind == Queue::Message::kLine) {
                SetItemText(message->id, message->text);
            } else {
                if (timeOutBeforeClose) dialog_.OnTimer(kTimerReader);
                if (dialog_.OnCancel()) ended = true;
            }
            queue->Handled(*message);
        }
        return true;
    }
    // WM_DESTROY: from here on the window is gone for the thread.
    void Destroy() {
        dialog_.DestroyWindow();
        queue->Gone();
    }

private:
    CAcqDialog& dialog_;
    ThreadWorld& world_;
};

TEST(ReaderThread, WhereverTheTimeOutLandsTheCallEndsInBoundAndNothingOutlivesIt) {
    enum Lands {
        kNever,
        kBeforeFirstStep,
        kDuringCardWait,
        kAfterResultStored,
        kAfterHandOver,
        kLibraryNeverReturns,
        kThreadThrows
    };
    const struct {
        Lands lands;
        const char* when;
        int code;
        const char* line2;  // the last prompt the dialog showed
        const char* calls;  // the library calls of the thread, to its end
        bool keyInstalled;
    } rows[] = {
        {kNever, "never: the read succeeds", 0, "Process Completed",
         "Init FW CS Reset ReadData IsEBA Photo Bio Level Verify Close", true},
        {kBeforeFirstStep, "before the thread's first step", -30, "User Cancel", "Init FW CS Close",
         true},
        {kDuringCardWait, "while the card wait runs", -30, "User Cancel", "Init FW CS Close", true},
        {kAfterResultStored, "after the result was stored, before its hand-over", 0,
         "Process Completed", "Init FW CS Reset ReadData IsEBA Photo Bio Level Verify Close", true},
        {kAfterHandOver, "after the hand-over, before the close is handled", 0, "Process Completed",
         "Init FW CS Reset ReadData IsEBA Photo Bio Level Verify Close", true},
        // Left behind in the photo call: what it does after it comes back reaches neither the
        // dialog nor the link key.
        {kLibraryNeverReturns, "while a library call that ignores the cancel event runs", -30,
         "Reading Photo", "Init FW CS Reset ReadData IsEBA Photo Bio Level Verify Close", false},
        // Out of memory on the reader thread: the reader is closed and the read ends with the
        // library's failure code, handed over like any result.
        {kThreadThrows, "never, but the thread fails with an exception in the photo step", -1009,
         "Reading Photo", "Init FW CS Reset ReadData IsEBA Photo Close", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.when);
        ASSERT_EQ(ReaderSession::Live(), 0);
        HoldingLog log;
        if (row.lands == kAfterResultStored) log.holdAt = "EXIT THREAD";
        std::fill(LinkKey, LinkKey + kKeySize, 0x11);
        g_bVerifyFinger = 1;
        testing_support::DialogRig rig;  // the settings outlive the thread
        ThreadWorld world;
        world.library.cardWaitBlocks = row.lands == kDuringCardWait;
        world.library.photoSticks = row.lands == kLibraryNeverReturns;
        world.library.photoThrows = row.lands == kThreadThrows;
        auto dialog = std::make_unique<CAcqDialog>(rig.env);
        auto window = std::make_unique<LoopWindow>(*dialog, world);
        dialog->Attach(window.get());
        dialog->m_strMode = "MYKAD";
        dialog->m_nComPort = 4;
        const std::shared_ptr<Queue> queue = window->queue;

        dialog->OnInitDialog();
        if (row.lands == kBeforeFirstStep) {
            dialog->OnTimer(kTimerReader);
            EXPECT_FALSE(window->ended) << "the thread counts as running before its first step";
        }
        world.firstStep.Set();
        if (row.lands == kDuringCardWait) {
            ASSERT_TRUE(window->PumpUntil([&] { return world.library.Inside("CS"); }));
            dialog->OnTimer(kTimerReader);
        } else if (row.lands == kAfterResultStored) {
            ASSERT_TRUE(window->PumpUntil([&] { return log.reached.IsSet(); }));
            dialog->OnTimer(kTimerReader);
            EXPECT_EQ(dialog->m_nRetCode, -30) << "set while nothing is handed over";
            log.resume.Set();
        } else if (row.lands == kAfterHandOver) {
            window->timeOutBeforeClose = true;
        } else if (row.lands == kLibraryNeverReturns) {
            ASSERT_TRUE(window->PumpUntil([&] { return world.library.Inside("Photo"); }));
            dialog->OnTimer(kTimerReader);
            EXPECT_EQ(window->timers, (std::map<int, int>{{kTimerReaderGrace, kReaderGraceMs}}));
            EXPECT_FALSE(window->ended);
            dialog->OnTimer(kTimerReaderGrace);  // the grace is over, the photo call still runs
        }
        ASSERT_TRUE(window->PumpUntil([&] { return window->ended; }));
        const int code = dialog->m_nRetCode;
        const std::string line2 = window->text[kPromptLine2];
        EXPECT_EQ(window->threadsStarted, 1);
        EXPECT_EQ(dialog->ReaderAbandoned(), row.lands == kLibraryNeverReturns);
        // The dialog and its window go at once, as when the call returns.
        window->Destroy();
        dialog.reset();
        window.reset();

        EXPECT_EQ(code, row.code);
        EXPECT_EQ(line2, row.line2);
        if (row.lands == kLibraryNeverReturns) {
            EXPECT_EQ(ReaderSession::Live(), 1) << "the thread still holds its session";
            testing_support::DialogRig nextRig;
            CAcqDialog next(nextRig.env);
            ThreadWorld nextWorld;
            LoopWindow nextWindow(next, nextWorld);
            next.Attach(&nextWindow);
            next.m_strMode = "MYKADNOVERIFYNOPHOTO";
            next.OnInitDialog();
            EXPECT_TRUE(nextWindow.ended);
            EXPECT_EQ(next.m_nRetCode, -1008) << "the library is not entered twice";
            EXPECT_EQ(nextWindow.threadsStarted, 0);
            next.DestroyWindow();
            world.library.Unstick();
        }
        world.thread.join();
        EXPECT_EQ(ReaderSession::Live(), 0) << "the last owner freed the session";
        EXPECT_EQ(queue->SentAfterGone(), 0) << "nothing reached the window after the end";
        EXPECT_EQ(world.library.Calls(), row.calls);
        EXPECT_EQ(world.library.Overlaps(), 0);
        EXPECT_EQ(LinkKey[0], row.keyInstalled ? 0xC0 : 0x11);
        EXPECT_EQ(g_pPromptSession.load(), nullptr);
    }
}

// The time-out and the end of the grace fired at varying moments against a thread that runs
// freely: each run ends either with the thread's own result, handed over, or with -30 and the
// thread left behind, never with a mix, and never with anything reaching an ended dialog.
TEST(ReaderThread, TimeOutsRacingTheThreadNeverMixResultsOrTouchAnEndedDialog) {
    g_bVerifyFinger = 1;
    int abandoned = 0, handedOver = 0;
    for (int i = 0; i < 60; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(ReaderSession::Live(), 0);
        testing_support::DialogRig rig;
        ThreadWorld world;
        auto dialog = std::make_unique<CAcqDialog>(rig.env);
        auto window = std::make_unique<LoopWindow>(*dialog, world);
        dialog->Attach(window.get());
        dialog->m_strMode = i % 2 ? "MYKAD" : "MYKADNOVERIFYNOPHOTO";
        const std::shared_ptr<Queue> queue = window->queue;
        dialog->OnInitDialog();
        world.firstStep.Set();
        window->PumpFor(i % 5);
        dialog->OnTimer(kTimerReader);
        window->PumpFor(i % 3);
        if (!window->ended) dialog->OnTimer(kTimerReaderGrace);
        ASSERT_TRUE(window->PumpUntil([&] { return window->ended; }));
        const int code = dialog->m_nRetCode;
        const bool left = dialog->ReaderAbandoned();
        window->Destroy();
        dialog.reset();
        window.reset();
        world.thread.join();
        if (left) {
            ++abandoned;
            EXPECT_EQ(code, -30);
        } else {
            ++handedOver;
            EXPECT_EQ(code, world.result.load()) << "the thread's own result";
        }
        // A thread left behind may have been on its way to the window when the dialog ended:
        // that send fails, as one to a destroyed window does. One that handed over sends nothing.
        if (!left) {
            EXPECT_EQ(queue->SentAfterGone(), 0);
        }
        EXPECT_EQ(ReaderSession::Live(), 0);
    }
    std::printf("%d runs handed over, %d left behind\n", handedOver, abandoned);
}

}  // namespace
}  // namespace quillon
