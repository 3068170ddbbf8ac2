// The dialog's set-up per mode, its timers and its cancel. What the terminal's replies do is in
// terminal_replies_test.cpp; a port that fails and a terminal that stays silent are played end
// to end.
#include "acqdialog/acq_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "acqdialog/reader_session.h"
#include "dialog_fakes.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using Lines = std::vector<std::string>;

struct Dialog {
    testing_support::DialogRig rig;
    testing_support::FakeWindow& window = rig.window;
    CAcqDialog dialog{rig.env};

    explicit Dialog(const char* mode) {
        dialog.Attach(&window);
        dialog.m_strMode = mode;
        dialog.m_nComPort = 7;
    }
    Dialog& Start() { return dialog.OnInitDialog(), *this; }
};

TEST(AcqDialog, SettingsFileIsTheLocalOneElseSystem32NeverSysWow64) {
    testing_support::DialogRig rig;
    EXPECT_EQ(CAcqDialog(rig.env).m_strIniPath, "C:\\windows\\System32\\QUILLON.ini");
    rig.files.files.insert(".\\QUILLON.ini");
    EXPECT_EQ(CAcqDialog(rig.env).m_strIniPath, ".\\QUILLON.ini");
}

// The frame each terminal mode sends first is played end to end.
TEST(AcqDialog, EachModeSetsTitlePromptsAndFirstStep) {
    const struct {
        const char *mode, *title, *line1, *line2;  // "": left as it is
        const char* start;                          // the call that starts the operation, or ""
    } cases[] = {
        {"ENROLL", "ENROLLMENT", "Performing ENROLLMENT...", "", "post 4000"},
        {"VERIFY", "VERIFY", "Performing VERIFICATION...", "Place Finger\r\nLetak jari",
         "post 4001"},
        {"GETSIGNATURE", "SIGNATURE", "Signature", "Place Sign on the Screen", ""},
        {"MYKAD", "MYKAD", "", "", "reader thread"},
        {"MYKADNOVERIFYNOPHOTO", "MYKAD", "", "", "reader thread"},
    };
    for (const auto& c : cases) {
        Dialog t(c.mode);
        t.Start();
        EXPECT_EQ(t.window.title, c.title);
        EXPECT_EQ(t.window.text[kPromptLine1], c.line1);
        EXPECT_EQ(t.window.text[kPromptLine2], c.line2);
        EXPECT_TRUE(*c.start == '\0' || t.window.Has(c.start)) << c.mode;
    }
}

TEST(AcqDialog, TerminalModeOpensThePortWithTimersAndLooksFromTheSettings) {
    Dialog t("GETSIGNATURE");
    const char* const settings[][3] = {
        {"MYKAD", "GLOBTIMEOUT", "30000"}, {"MYKAD", "TIMEOUT", "2500"}, {"MISC", "CANCEL", "1"},
        {"COMPORT", "BAUDRATE", "9600"}, {"FONT", "SIZE", "20"}, {"FONT", "FACE", "Tahoma"}};
    for (const auto& s : settings) t.rig.Set(s[0], s[1], s[2]);
    t.Start();
    EXPECT_EQ(t.rig.port.calls, (Lines{"init COM7 9600 N 8 1 9 1024", "monitor"}));
    EXPECT_EQ(t.window.timers, (std::map<int, int>{{77, 30000}, {88, 2500}}));
    EXPECT_EQ(t.dialog.m_nRetCode, -9) << "port open, no result yet";
    for (const char* call : {"hide 4009", "show 1", "font 20 Tahoma"}) {
        EXPECT_TRUE(t.window.Has(call)) << call;
    }
    EXPECT_EQ(t.window.text[kButtonCancel], "Cancel");
}

TEST(AcqDialog, ReaderModeOpensNoPortAndItsTimerSetsTheCancelEventThenGivesTheThreadItsGrace) {
    Dialog t("MYKADONLY");
    t.rig.Set("CSSSERVER", "GLOBTIMEOUT", "45000");
    t.Start();
    EXPECT_TRUE(t.rig.port.calls.empty());
    EXPECT_EQ(t.window.timers, (std::map<int, int>{{99, 45000}}));
    for (const char* call :
         {"sockets", "font 14 Verdana", "hide 1", "image C:\\WINDOWS\\system32\\mylogo.jpg"}) {
        EXPECT_TRUE(t.window.Has(call)) << call;
    }
    EXPECT_EQ(t.dialog.m_nRetCode, -10) << "stays until the reader thread sets it";
    EXPECT_EQ(t.window.reader->Inputs().comPort, 7) << "the thread's copy of the dialog's";
    t.window.calls.clear();
    t.dialog.OnTimer(99);
    EXPECT_EQ(t.window.calls, (Lines{"kill 99", "cancel event", "close"}));
    EXPECT_EQ(t.window.timers, (std::map<int, int>{{100, 5000}}));
    EXPECT_EQ(t.dialog.m_nCancelCode, 0) << "a time-out is not the operator's cancel";
    EXPECT_EQ(t.dialog.m_nRetCode, -30);
    EXPECT_FALSE(t.dialog.OnCancel()) << "the thread still runs";
    t.dialog.OnOK();
    EXPECT_EQ(t.window.reader->CancelCode(), -9) << "the operator's cancel reaches the thread";
}

TEST(AcqDialog, ReaderPromptCodesShowTheirMessageInLine2OfTheRunningReader) {
    Dialog t("MYKAD");
    t.rig.Set("MESSAGE", "E3", "");
    t.Start();
    t.window.calls.clear();
    EXPECT_EQ(OnPromptCode(0xA3), 1);
    EXPECT_TRUE(t.window.calls.empty()) << "no reader thread has published its session";
    g_pPromptSession = t.window.reader;
    for (int code : {0xA3, 0xA5, 0xA9}) EXPECT_EQ(OnPromptCode(code), 1);
    g_pPromptSession = nullptr;
    EXPECT_EQ(t.window.calls,
              (Lines{"thread refresh",
                     "thread line 4004 MyKad verification completed successfully\r\n"
                     "Pengesahan MyKad berjaya",
                     "thread refresh", "thread line 4004 ",  // an empty setting, not the default
                     "thread refresh"}));                    // an unknown code shows nothing
}

TEST(AcqDialog, CancelSignalsTheOperationButCloseWaitsForTheReaderThread) {
    Dialog t("GETSN");
    t.Start().dialog.OnCommand(kButtonCancel);
    EXPECT_EQ(t.dialog.m_nCancelCode, -9);
    EXPECT_TRUE(t.window.Has("disable 1") && t.window.Has("cancel event"));
    EXPECT_EQ(t.window.closes, 0);
    t.dialog.m_bThreadRunning = 1;
    EXPECT_FALSE(t.dialog.OnCancel());
    t.dialog.m_bThreadRunning = 0;
    EXPECT_TRUE(t.dialog.OnCancel());
}

// The reader thread played by hand on its session (reader_thread_test.cpp runs a real one):
// wherever the time-out lands, a result that was handed over is the one the dialog ends with.
TEST(AcqDialogReader, AHandedOverResultWinsWhereverTheTimeOutLands) {
    enum Lands {
        kNever,
        kDuringStart,         // before the thread's first step
        kAfterResultStored,   // before its hand-over
        kAfterHandOver,       // before the thread's close is handled
        kGraceAfterHandOver,  // before the hand-over, and the grace's end after it
    };
    const struct {
        Lands lands;
        int beforeClose;  // m_nRetCode once the thread has handed over
        Lines calls;      // "close" is the dialog's own, "thread close" the thread's
    } cases[] = {
        {kNever, -10, {"thread close"}},
        {kDuringStart, -30, {"kill 99", "cancel event", "close", "thread close"}},
        {kAfterResultStored, -30, {"kill 99", "cancel event", "close", "thread close"}},
        {kAfterHandOver, -10, {"thread close", "kill 99"}},
        {kGraceAfterHandOver,
         -30,
         {"kill 99", "cancel event", "close", "thread close", "kill 100"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lands);
        Dialog t("MYKAD");
        t.window.duringStart = [&] {
            EXPECT_EQ(t.dialog.m_bThreadRunning, 1) << "running from before the start";
            t.window.calls.clear();
            if (c.lands == kDuringStart) t.dialog.OnTimer(99);
        };
        t.Start();
        ReaderSession& thread = *t.window.reader;
        thread.Out().retCode = -21;
        if (c.lands == kAfterResultStored || c.lands == kGraceAfterHandOver) t.dialog.OnTimer(99);
        EXPECT_FALSE(t.dialog.OnCancel()) << "nothing handed over yet";
        thread.HandOver();
        if (c.lands == kAfterHandOver) t.dialog.OnTimer(99);
        if (c.lands == kGraceAfterHandOver) t.dialog.OnTimer(100);
        EXPECT_EQ(t.dialog.m_nRetCode, c.beforeClose);
        EXPECT_TRUE(t.dialog.OnCancel()) << "the thread's close";
        EXPECT_EQ(t.dialog.m_nRetCode, -21);
        EXPECT_EQ(t.dialog.m_bThreadRunning, 0);
        EXPECT_EQ(t.window.calls, c.calls);
        EXPECT_TRUE(t.rig.port.linkKey.empty()) << "the thread handed over no key";
    }
}

TEST(AcqDialogReader, TheTakenResultFillsTheDialogAndInstallsTheLinkKey) {
    Dialog t("MYKAD");
    t.Start();
    ReaderResult& out = t.window.reader->Out();
    out.fullRecordSet = out.altDataSet = out.photoSet = out.linkKeySet = true;
    out.fullRecord = 0;
    out.altDataLength = 3;
    std::memcpy(out.altData, "K1D", 3);
    for (int i = 0; i < kKeySize; ++i) out.linkKey[i] = static_cast<uint8_t>(0xA0 + i);
    t.dialog.m_strPhoto = "old";
    t.window.reader->HandOver();
    ASSERT_TRUE(t.dialog.OnCancel());
    EXPECT_EQ(t.dialog.m_bFullRecord, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.dialog.m_abAltData), 3), "K1D");
    EXPECT_EQ(t.dialog.m_nAltDataLen, 3);
    EXPECT_EQ(t.dialog.m_nOpenDataLen, 0) << "not set by the thread: left alone";
    EXPECT_EQ(t.dialog.m_strPhoto, "");
    EXPECT_EQ(t.rig.port.linkKey, std::vector<uint8_t>(out.linkKey, out.linkKey + kKeySize));
}

TEST(AcqDialogReader, AThreadThatDoesNotEndInTheGraceIsLeftBehindAndKeepsOtherReadsOut) {
    auto t = std::make_unique<Dialog>("MYKADNOVERIFY");
    t->Start();
    ReaderSession* thread = t->window.reader;
    thread->Retain();  // the thread's own reference, which outlives the dialog here
    t->dialog.OnTimer(99);
    t->window.calls.clear();
    t->dialog.OnTimer(100);
    EXPECT_EQ(t->window.calls, (Lines{"kill 100", "close"}));
    EXPECT_TRUE(t->dialog.OnCancel()) << "ends without the thread";
    EXPECT_EQ(t->dialog.m_nRetCode, -30);
    EXPECT_EQ(thread->CancelCode(), -9) << "so it leaves its waits at the next check";
    t.reset();
    // Until the thread is back from the library, another MyKad call is refused before any thread
    // could enter it.
    Dialog next("MYKADNOVERIFYNOPHOTO");
    next.Start();
    EXPECT_EQ(next.dialog.m_nRetCode, -1008);
    EXPECT_FALSE(next.window.Has("reader thread"));
    EXPECT_TRUE(next.window.Has("close"));
    thread->Release();
    EXPECT_EQ(ReaderSession::Live(), 0) << "the last owner freed it";
}

// A handler that threw ends the dialog at once: the thread is left behind as after its grace.
TEST(AcqDialogReader, AFailedHandlerEndsTheReadWithMinus1009AndLeavesTheThreadBehind) {
    Dialog t("MYKAD");
    t.Start();
    ReaderSession* thread = t.window.reader;
    thread->Retain();
    t.dialog.EndAfterFailure();
    EXPECT_TRUE(t.dialog.OnCancel());
    EXPECT_EQ(t.dialog.m_nRetCode, -1009);
    EXPECT_TRUE(thread->Abandoned());
    thread->Release();
}

TEST(AcqDialogReader, AThreadThatCannotStartLeavesTheTimeOutToEndTheDialog) {
    Dialog t("MYKAD");
    t.window.startWorks = false;
    t.Start();
    t.dialog.OnTimer(99);
    EXPECT_EQ(t.window.timers.count(100), 0u) << "no thread to give a grace";
    EXPECT_TRUE(t.dialog.OnCancel());
    EXPECT_EQ(t.dialog.m_nRetCode, -30);
}

}  // namespace
}  // namespace quillon
