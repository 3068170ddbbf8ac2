#include "acqdialog/acq_dialog.h"

#include <gtest/gtest.h>

#include "dialog_fakes.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using namespace testing_support;

struct Dialog {
    DialogRig rig;
    CAcqDialog dialog{rig.env};

    Dialog() { dialog.Attach(&rig.window); }
    void Start(const char* mode) {
        dialog.m_strMode = mode;
        dialog.m_nComPort = 7;
        dialog.OnInitDialog();
    }
};

class DialogTest : public ::testing::Test, public Dialog {};

TEST(AcqDialog, LocalSettingsFileElseSystem32NeverSysWow64) {
    DialogRig rig;
    EXPECT_EQ(CAcqDialog(rig.env).m_strIniPath, "C:\\windows\\System32\\QUILLON.ini");
    rig.files.files.insert(".\\QUILLON.ini");
    EXPECT_EQ(CAcqDialog(rig.env).m_strIniPath, ".\\QUILLON.ini");
}

TEST_F(DialogTest, TerminalModeOpensThePortAndStartsBothTimersWithDefaultLooks) {
    rig.Set("MYKAD", "GLOBTIMEOUT", "30000");
    rig.Set("MYKAD", "TIMEOUT", "2500");
    rig.Set("COMPORT", "BAUDRATE", "9600");
    g_nRxLen = 5;
    Start("GETSN");
    EXPECT_EQ(g_nRxLen.load(), 0) << "every send discards a partly received reply";
    ASSERT_GE(rig.port.calls.size(), 2u);
    EXPECT_EQ(rig.port.calls[0], "init COM7 9600 N 8 1 9 1024");
    EXPECT_EQ(rig.port.calls[1], "monitor");
    EXPECT_EQ(rig.window.timers, (std::map<int, int>{{77, 30000}, {88, 2500}}));
    EXPECT_EQ(dialog.m_nRetCode, -9) << "port open, no result yet";
    for (const char* call : {"hide 4009", "font 14 Verdana", "hide 1",
                             "image C:\\WINDOWS\\system32\\mylogo.jpg"}) {
        EXPECT_TRUE(rig.window.Has(call)) << call;
    }
}

TEST_F(DialogTest, FontAndCancelButtonFromSettings) {
    rig.Set("MISC", "CANCEL", "1");
    rig.Set("FONT", "SIZE", "20");
    rig.Set("FONT", "FACE", "Tahoma");
    Start("GETSN");
    EXPECT_TRUE(rig.window.Has("show 1"));
    EXPECT_EQ(rig.window.text[kButtonCancel], "Cancel");
    EXPECT_TRUE(rig.window.Has("font 20 Tahoma"));
}

TEST(AcqDialog, PortThatFailsToOpenOrMonitorEndsWithMinus4BeforeAnySetUp) {
    for (bool opens : {false, true}) {
        Dialog t;
        DialogRig& r = t.rig;
        CAcqDialog& d = t.dialog;
        r.port.opens = opens;
        r.port.monitors = !opens;  // whichever fails
        t.Start("GETSN");
        EXPECT_EQ(d.m_nRetCode, -4);
        EXPECT_EQ(d.m_strStatus, "Open COM Port Error");
        EXPECT_EQ(r.window.closes, 1);
        EXPECT_TRUE(r.window.timers.empty());
        EXPECT_TRUE(r.port.frames.empty()) << "no per-mode set-up after a failed open";
        EXPECT_EQ(std::vector<std::string>(r.port.calls.end() - 2, r.port.calls.end()),
                  (std::vector<std::string>{"close", "forget"}));
    }
}

TEST_F(DialogTest, ReaderModeOpensNoPortAndStartsTimer99) {
    rig.Set("CSSSERVER", "GLOBTIMEOUT", "45000");
    Start("MYKADONLY");
    EXPECT_TRUE(rig.port.calls.empty());
    EXPECT_EQ(rig.window.timers, (std::map<int, int>{{99, 45000}}));
    EXPECT_TRUE(rig.window.Has("sockets"));
    EXPECT_EQ(dialog.m_nRetCode, -10) << "stays until the reader thread sets it";
    EXPECT_EQ(g_pAcqDialog, &dialog);
}

TEST(AcqDialog, EachModeSetsTitlePromptsAndFirstStep) {
    struct Case {
        const char* mode;
        const char* title;  // "" when the title stays as it is
        const char* line1;
        const char* line2;
        const char* start;  // the call that starts the operation, or "" for none
        int frameCode;      // code of the frame sent by the set-up, -1 for none
    };
    const Case cases[] = {
        {"ENROLL", "ENROLLMENT", "Performing ENROLLMENT...", "", "post 4000", -1},
        {"VERIFY", "VERIFY", "Performing VERIFICATION...", "Place Finger\r\nLetak jari",
         "post 4001", -1},
        {"GETLLTSTATUS", "", "", "", "", 0x23},
        {"GETSN", "", "", "", "", 0x25},
        {"GETSIGNATURE", "SIGNATURE", "Signature", "Place Sign on the Screen", "", 0xF3},
        {"MYKAD", "MYKAD", "", "", "reader thread", -1},
        {"MYKADNOVERIFYNOPHOTO", "MYKAD", "", "", "reader thread", -1},
        {"enroll", "", "", "", "", -1},  // exact and case-sensitive
        {"MYKADX", "", "", "", "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Dialog t;
        t.Start(c.mode);
        FakeWindow& w = t.rig.window;
        EXPECT_EQ(w.title, c.title);
        EXPECT_EQ(w.text[kPromptLine1], c.line1);
        EXPECT_EQ(w.text[kPromptLine2], c.line2);
        EXPECT_TRUE(*c.start == '\0' || w.Has(c.start)) << c.start;
        const auto& frames = t.rig.port.frames;
        ASSERT_EQ(frames.size(), c.frameCode < 0 ? 0u : 1u);
        EXPECT_EQ(frames.empty() ? -1 : frames[0][3], c.frameCode);
    }
}

TEST_F(DialogTest, PromptsComeFromTheMessageSection) {
    rig.Set("MESSAGE", "V1", "Sedang mengesahkan");
    rig.Set("MESSAGE", "V2", "");
    Start("VERIFY");
    EXPECT_EQ(rig.window.text[kPromptLine1], "Sedang mengesahkan");
    EXPECT_EQ(rig.window.text[kPromptLine2], "") << "an empty key gives an empty line";
}

TEST_F(DialogTest, ReaderPromptCodesShowTheirTextInLine2) {
    rig.Set("MESSAGE", "E3", "Letak semula");
    Start("MYKAD");
    OnPromptCode(0xA3);
    EXPECT_EQ(rig.window.text[kPromptLine2],
              "MyKad verification completed successfully\r\nPengesahan MyKad berjaya");
    OnPromptCode(0xA5);
    EXPECT_EQ(rig.window.text[kPromptLine2], "Letak semula");
    OnPromptCode(0x42);
    EXPECT_EQ(rig.window.text[kPromptLine2], "Letak semula") << "an unknown code shows nothing";
}

TEST_F(DialogTest, SetTerminalTimeWaitsForTheWriteAndEndsAtOnce) {
    std::memcpy(dialog.m_szTerminalTime, "261206101500", 12);
    Start("SET_TERMINAL_TIME");
    ASSERT_EQ(rig.port.frames.size(), 1u);
    const auto send = std::find(rig.port.calls.begin(), rig.port.calls.end(), "send");
    ASSERT_LT(send + 1, rig.port.calls.end());
    EXPECT_EQ(*(send + 1), "wait write 2000");
    EXPECT_EQ(dialog.m_nRetCode, 0);
    EXPECT_EQ(rig.window.closes, 1);
}

TEST_F(DialogTest, SignatureSetUpClearsTheSignatureState) {
    dialog.m_abSignature[10] = 0x55;
    g_nSignatureLen = 99;
    Start("GETSIGNATURE");
    EXPECT_EQ(dialog.m_abSignature[10], 0);
    EXPECT_EQ(g_nSignatureLen, 0u);
}

TEST(AcqDialog, TerminalTimersShowTimeoutForOneSecondThenEndWithMinus30) {
    for (int timer : {77, 88}) {
        Dialog t;
        DialogRig& r = t.rig;
        CAcqDialog& d = t.dialog;
        t.Start("GETSN");
        r.window.calls.clear();
        d.OnTimer(12);
        EXPECT_TRUE(r.window.calls.empty()) << "other timer ids do nothing";
        d.OnTimer(timer);
        EXPECT_EQ(r.window.text[kPromptLine2], "Timeout");
        EXPECT_EQ(r.window.calls, (std::vector<std::string>{"refresh 01", Format("kill %d", timer),
                                                            "wait 1000", "close"}));
        EXPECT_EQ(d.m_nRetCode, -30);
        EXPECT_EQ(r.window.timers.size(), 1u) << "the other timer keeps running";
    }
}

TEST_F(DialogTest, ReaderTimerSetsTheCancelEventAndEndsWithoutTheOneSecondWait) {
    Start("MYKAD");
    rig.window.calls.clear();
    dialog.OnTimer(99);
    EXPECT_EQ(rig.window.calls, (std::vector<std::string>{"kill 99", "cancel event", "close"}));
    EXPECT_EQ(dialog.m_nCancelCode, 0) << "a time-out is not the operator's cancel";
    EXPECT_EQ(dialog.m_nRetCode, -30);
}

TEST_F(DialogTest, CancelButtonSignalsButDoesNotEndTheDialog) {
    Start("GETSN");
    dialog.OnCommand(kButtonCancel);
    EXPECT_EQ(dialog.m_nCancelCode, -9);
    EXPECT_TRUE(rig.window.Has("disable 1"));
    EXPECT_TRUE(rig.window.Has("cancel event"));
    EXPECT_EQ(rig.window.closes, 0);
}

TEST_F(DialogTest, CloseIsRefusedWhileTheReaderThreadRuns) {
    dialog.m_bThreadRunning = 1;
    EXPECT_FALSE(dialog.OnCancel());
    dialog.m_bThreadRunning = 0;
    EXPECT_TRUE(dialog.OnCancel());
}

TEST_F(DialogTest, DestroyKillsBothTerminalTimersAndClosesThePort) {
    Start("GETSN");
    rig.port.calls.clear();
    dialog.DestroyWindow();
    EXPECT_TRUE(rig.window.timers.empty());
    EXPECT_EQ(rig.port.calls, (std::vector<std::string>{"close"}));
}

}  // namespace
}  // namespace quillon
