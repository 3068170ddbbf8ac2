// The dialog that hosts an operation: its set-up per mode, the link it opens, its timers, its
// cancel, and the card-reader thread's hand-over played by hand (reader_thread_test.cpp runs a
// real thread). What replies do to an operation is in operations_test.cpp.
#include "acqdialog/acq_dialog.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acqdialog/reader_session.h"
#include "dialog_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

std::unique_ptr<Operation> MakeOperation(Mode mode) {
    if (SetupFor(mode).readerLink) return std::unique_ptr<Operation>(new CardReadOperation(mode));
    if (mode == Mode::kEnroll || mode == Mode::kVerify) {
        return std::unique_ptr<Operation>(new FingerOperation(mode, 1, "TPL"));
    }
    if (mode == Mode::kGetSignature) return std::unique_ptr<Operation>(new SignatureOperation);
    return std::unique_ptr<Operation>(new TerminalQuery(mode, "260102030405"));
}

// One dialog on COM7 with its own fakes; `rig` may be shared by dialogs run one after another.
struct Dialog {
    explicit Dialog(Mode mode, DialogRig& shared) : rig(shared), op(MakeOperation(mode)) {
        dialog.Attach(&window);
    }
    explicit Dialog(Mode mode) : Dialog(mode, own) {}
    Dialog& Start() { return started = dialog.OnInitDialog(), *this; }

    DialogRig own;
    DialogRig& rig;
    FakeWindow& window = rig.window;
    std::unique_ptr<Operation> op;
    CAcqDialog dialog{rig.env, *op, true, 7};
    bool started = false;
};

TEST(AcqDialog, EachModeSetsItsTitleAndPromptLinesAndStartsItsOperation) {
    const struct {
        Mode mode;
        const char* title;
        const char* line1;
        const char* line2;
        Lines start;    // what the start does, after the logo
        int frameCode;  // of the frame sent during the set-up, 0: none
        int ret;
    } rows[] = {
        {Mode::kEnroll, "ENROLLMENT", "Performing ENROLLMENT...", "", {"post 4000"}, 0, -9},
        {Mode::kVerify,
         "VERIFY",
         "Performing VERIFICATION...",
         "Place Finger\r\nLetak jari",
         {"post 4001"},
         0,
         -9},
        {Mode::kSetTerminalTime, "", "", "", {"close"}, 0x72, 0},  // after its frame was written
        {Mode::kGetLltStatus, "", "", "", {}, 0x23, -9},
        {Mode::kGetSn, "", "", "", {}, 0x25, -9},
        {Mode::kGetSignature, "SIGNATURE", "Signature", "Place Sign on the Screen", {}, 0xF3, -9},
        {Mode::kMyKad, "MYKAD", "", "", {"reader thread"}, 0, -10},
        {Mode::kMyKadOnly, "MYKAD", "", "", {"reader thread"}, 0, -10},
        {Mode::kMyKadNoVerify, "MYKAD", "", "", {"reader thread"}, 0, -10},
        {Mode::kMyKadNoVerifyNoPhoto, "MYKAD", "", "", {"reader thread"}, 0, -10},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(SetupFor(row.mode).name);
        Dialog t(row.mode);
        t.Start();
        EXPECT_TRUE(t.started);
        EXPECT_EQ(t.window.title, row.title);
        EXPECT_EQ(t.window.text[kPromptLine1], row.line1);
        EXPECT_EQ(t.window.text[kPromptLine2], row.line2);
        const auto image = std::find(t.window.calls.begin(), t.window.calls.end(),
                                     "image C:\\WINDOWS\\system32\\mylogo.jpg");
        ASSERT_NE(image, t.window.calls.end());
        EXPECT_EQ(Lines(image + 1, t.window.calls.end()), row.start);
        ASSERT_EQ(t.rig.port.frames.size(), row.frameCode ? 1u : 0u);
        if (row.frameCode) {
            EXPECT_EQ(t.rig.port.frames[0][3], row.frameCode);
        }
        if (!SetupFor(row.mode).readerLink) {
            EXPECT_EQ(t.rig.port.calls.back(),
                      row.mode == Mode::kSetTerminalTime ? "wait write 2000" : "monitor");
        }
        EXPECT_EQ(t.op->RetCode(), row.ret);
        // The hidden buttons' handlers send the finger commands.
        t.dialog.OnCommand(row.mode == Mode::kVerify ? kButtonVerify : kButtonEnroll);
        if (row.mode == Mode::kEnroll || row.mode == Mode::kVerify) {
            ASSERT_EQ(t.rig.port.frames.size(), 1u);
            EXPECT_EQ(t.rig.port.frames[0][3], row.mode == Mode::kEnroll ? 0x27 : 0x28);
        }
    }
}

TEST(AcqDialog, ItsSettingsComeFromTheLocalFileElseSystem32WithTheirDefaultsAndBounds) {
    const std::string face(60, 'F'), logo(120, 'L');
    const struct {
        Mode mode;
        bool local;  // the settings in .\QUILLON.ini, else in System32
        bool set;
        Lines port;
        std::map<int, int> timers;
        Lines window;
    } rows[] = {
        {Mode::kGetSn,
         false,
         false,
         {"init COM7 115200 N 8 1 9 1024", "monitor"},
         {{77, 60000}, {88, 5000}},
         {"hide 4009", "font 14 Verdana", "hide 1", "image C:\\WINDOWS\\system32\\mylogo.jpg"}},
        {Mode::kGetSn,
         true,
         true,
         {"init COM7 9600 N 8 1 9 1024", "monitor"},
         {{77, 30000}, {88, 2000}},
         {"hide 4009", "font 20 " + face.substr(0, 50), "show 1", "image " + logo.substr(0, 99)}},
        {Mode::kMyKad,
         false,
         false,
         {},
         {{99, 60000}},
         {"hide 4009", "sockets", "refresh 1", "font 14 Verdana", "hide 1",
          "image C:\\WINDOWS\\system32\\mylogo.jpg", "reader thread"}},
        {Mode::kMyKad,
         true,
         true,
         {},
         {{99, 45000}},
         {"hide 4009", "sockets", "refresh 1", "font 20 " + face.substr(0, 50), "show 1",
          "image " + logo.substr(0, 99), "reader thread"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.local);
        DialogRig rig;
        const std::string path =
            row.local ? ".\\QUILLON.ini" : "C:\\windows\\System32\\QUILLON.ini";
        if (row.local) rig.files.files.insert(path);
        const std::pair<const char*, std::string> settings[] = {
            {"BAUDRATE", "9600x"}, {"GLOBTIMEOUT", "30000"}, {"TIMEOUT", "2000"}, {"SIZE", "20"},
            {"FACE", face},        {"CANCEL", "1"},          {"LOC", logo}};
        const char* sections[] = {"COMPORT", "MYKAD", "MYKAD", "FONT", "FONT", "MISC", "IMAGE"};
        for (int i = 0; row.set && i < 7; ++i) {
            rig.profile.Set(path, sections[i], settings[i].first, settings[i].second);
        }
        if (row.set) rig.profile.Set(path, "CSSSERVER", "GLOBTIMEOUT", "45000");
        Dialog t(row.mode, rig);
        t.Start();
        EXPECT_EQ(t.rig.port.calls, row.port);
        EXPECT_EQ(t.window.timers, row.timers);
        EXPECT_EQ(t.window.calls, row.window);
        EXPECT_EQ(t.window.text[kButtonCancel], row.set ? "Cancel" : "");
    }
}

TEST(AcqDialog, AFailedPortOpenEndsWithMinus4BeforeTheSetUp) {
    Dialog failed(Mode::kGetSignature);
    failed.rig.port.opens = false;
    failed.Start();
    EXPECT_FALSE(failed.started);
    EXPECT_EQ(failed.op->RetCode(), -4);
    EXPECT_EQ(failed.rig.port.calls.back(), "forget handle");
    EXPECT_TRUE(failed.window.timers.empty());
    EXPECT_EQ(failed.window.closes, 1);
    EXPECT_TRUE(failed.rig.port.frames.empty()) << "no set-up";
    EXPECT_EQ(failed.window.title, "");
}

TEST(AcqDialog, EachTimerEndsTheOperationItsOwnWayAndOthersDoNothing) {
    const struct {
        Mode mode;
        int timer;
        Lines calls;
        int ret;
    } rows[] = {
        {Mode::kGetSn, 77, {"refresh 1", "kill 77", "wait 1000", "close"}, -30},
        {Mode::kGetSn, 88, {"refresh 1", "kill 88", "wait 1000", "close"}, -30},
        {Mode::kGetSn, 78, {}, -9},
        {Mode::kGetSn, 87, {}, -9},
        {Mode::kMyKad, 99, {"kill 99", "cancel event", "close"}, -30},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.timer);
        Dialog t(row.mode);
        t.Start();
        t.window.calls.clear();
        t.dialog.OnTimer(row.timer);
        EXPECT_EQ(t.window.calls, row.calls);
        EXPECT_EQ(t.op->RetCode(), row.ret);
        EXPECT_EQ(t.window.text[kPromptLine2], row.timer == 77 || row.timer == 88 ? "Timeout" : "")
            << "reader modes' line 2 is unchanged";
    }
}

TEST(AcqDialog, CancelDisablesTheButtonAndSignalsButATerminalOperationRunsOn) {
    Dialog t(Mode::kGetSn);
    t.Start().dialog.OnCommand(kButtonCancel);
    EXPECT_TRUE(t.window.Has("disable 1") && t.window.Has("cancel event"));
    EXPECT_EQ(t.window.closes, 0);
    EXPECT_TRUE(t.dialog.OnCancel());
    EXPECT_EQ(t.op->RetCode(), -9);
}

TEST(AcqDialog, RepliesRepaintBothLinesAndGoToTheOperation) {
    Dialog t(Mode::kGetSn);
    t.Start();
    t.window.calls.clear();
    const uint8_t reply[] = {0x02, 0x00, 0x05, 0x25, 0x06, 0x00, 0x01, 'Q', 0x00, 0x03};
    t.dialog.OnTerminalReply(reply, sizeof reply);
    EXPECT_EQ(t.window.calls, (Lines{"refresh 11", "close"}));
    EXPECT_EQ(static_cast<TerminalQuery&>(*t.op).Result().text, "Q");
}

TEST(AcqDialogReader, PromptCodesShowTheirTextInLine2OfTheRunningReadUpTo99Characters) {
    Dialog t(Mode::kMyKad);
    t.rig.Set("MESSAGE", "E3", "");
    t.rig.Set("MESSAGE", "M6", std::string(99, 'a'));
    t.rig.Set("MESSAGE", "M7", std::string(100, 'b'));
    t.Start();
    t.window.calls.clear();
    EXPECT_EQ(TestPromptCode(0xA3), 1);
    EXPECT_TRUE(t.window.calls.empty()) << "no reader thread speaks for the prompts yet";
    t.rig.readers.BeginPrompts(t.window.reader);
    for (int code : {0xA3, 0xA5, 0xA9, 0xB1, 0xB2}) EXPECT_EQ(TestPromptCode(code), 1);
    t.rig.readers.EndPrompts(t.window.reader);
    EXPECT_EQ(TestPromptCode(0xA3), 1);
    EXPECT_EQ(t.window.calls,
              (Lines{"thread refresh",
                     "thread line 4004 MyKad verification completed successfully\r\n"
                     "Pengesahan MyKad berjaya",
                     "thread refresh", "thread line 4004 ",  // an empty setting, not the default
                     "thread refresh",                       // a code without a prompt
                     "thread refresh", "thread line 4004 " + std::string(99, 'a'), "thread refresh",
                     "thread line 4004 " + std::string(99, 'b')}));
}

// Wherever the time-out lands, a result that was handed over is the one the dialog ends with.
TEST(AcqDialogReader, AHandedOverResultWinsWhereverTheTimeOutLands) {
    enum Lands { kNever, kDuringStart, kAfterResultStored, kAfterHandOver, kGraceAfterHandOver };
    const struct {
        Lands lands;
        int beforeClose;  // the result code once the thread has handed over
        Lines calls;      // "close" is the dialog's own, "thread close" the thread's
    } rows[] = {
        {kNever, -10, {"thread close"}},
        {kDuringStart, -30, {"kill 99", "cancel event", "close", "thread close"}},
        {kAfterResultStored, -30, {"kill 99", "cancel event", "close", "thread close"}},
        {kAfterHandOver, -10, {"thread close", "kill 99"}},
        {kGraceAfterHandOver,
         -30,
         {"kill 99", "cancel event", "close", "thread close", "kill 100"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lands);
        Dialog t(Mode::kMyKad);
        t.window.duringStart = [&] {
            t.window.calls.clear();
            if (row.lands == kDuringStart) t.dialog.OnTimer(99);
        };
        t.Start();
        ReaderSession& thread = *t.window.reader;
        thread.Out().retCode = -21;
        if (row.lands == kAfterResultStored || row.lands == kGraceAfterHandOver) {
            t.dialog.OnTimer(99);
        }
        EXPECT_FALSE(t.dialog.OnCancel()) << "nothing handed over yet";
        thread.HandOver();
        if (row.lands == kAfterHandOver) t.dialog.OnTimer(99);
        if (row.lands == kGraceAfterHandOver) t.dialog.OnTimer(100);
        EXPECT_EQ(t.op->RetCode(), row.beforeClose);
        EXPECT_TRUE(t.dialog.OnCancel()) << "the thread's close";
        EXPECT_EQ(t.op->RetCode(), -21);
        EXPECT_EQ(t.window.calls, row.calls);
        EXPECT_TRUE(t.rig.port.linkKey.empty()) << "the thread handed over no key";
    }
}

TEST(AcqDialogReader, AThreadThatOutstaysItsGraceIsLeftBehindAndKeepsOtherReadsOut) {
    DialogRig rig;
    ReaderSession* thread = nullptr;
    {
        Dialog t(Mode::kMyKadNoVerify, rig);
        t.Start();
        thread = t.window.reader;
        thread->Retain();  // the thread's own reference, which outlives the dialog here
        t.window.reader = nullptr;
        thread->Release();  // the fake window's
        t.dialog.OnTimer(99);
        t.window.calls.clear();
        t.dialog.OnTimer(100);
        EXPECT_EQ(t.window.calls, (Lines{"kill 100", "close"}));
        EXPECT_TRUE(t.dialog.OnCancel()) << "ends without the thread";
        EXPECT_EQ(t.op->RetCode(), -30);
        EXPECT_EQ(thread->CancelCode(), -9) << "so it leaves its waits at the next check";
        EXPECT_TRUE(t.dialog.ReaderAbandoned());
    }
    rig.window.calls.clear();
    Dialog next(Mode::kMyKadNoVerifyNoPhoto, rig);
    next.Start();
    EXPECT_EQ(next.op->RetCode(), -1008);
    EXPECT_FALSE(rig.window.Has("reader thread"));
    EXPECT_TRUE(rig.window.Has("close"));
    thread->Release();
    EXPECT_EQ(rig.readers.Live(), 0) << "the last owner freed it";
}

TEST(AcqDialogReader, AFailedHandlerOrAThreadThatCannotStartEndsTheRead) {
    Dialog failed(Mode::kMyKad);
    failed.Start();
    failed.dialog.EndAfterFailure();
    EXPECT_TRUE(failed.dialog.OnCancel());
    EXPECT_EQ(failed.op->RetCode(), -1009);
    EXPECT_TRUE(failed.window.reader->Abandoned());

    Dialog unstarted(Mode::kMyKad);
    unstarted.window.startWorks = false;
    unstarted.Start();
    unstarted.dialog.OnTimer(99);
    EXPECT_EQ(unstarted.window.timers.count(100), 0u) << "no thread to give a grace";
    EXPECT_TRUE(unstarted.dialog.OnCancel());
    EXPECT_EQ(unstarted.op->RetCode(), -30);
}

}  // namespace
}  // namespace quillon
