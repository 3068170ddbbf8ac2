#include "acqdialog/acq_dialog.h"

#include <gtest/gtest.h>

#include "dialog_fakes.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using namespace testing_support;

class DialogTest : public ::testing::Test {
protected:
    DialogRig rig;
    CAcqDialog dialog{rig.env};

    void SetUp() override { dialog.Attach(&rig.window); }
    void Start(const char* mode) {
        dialog.m_strMode = mode;
        dialog.m_nComPort = 7;
        dialog.OnInitDialog();
    }
};

TEST_F(DialogTest, ConstructionDefaults) {
    EXPECT_EQ(dialog.m_nRetCode, -10);
    EXPECT_EQ(dialog.m_nComPort, 5);
    EXPECT_EQ(dialog.m_nBaudRate, 115200);
    EXPECT_EQ(dialog.m_nEnrollFormat, 2);
    EXPECT_EQ(dialog.m_nTemplateFormat, 1);
    EXPECT_EQ(dialog.m_bFullRecord, 1);
    EXPECT_EQ(dialog.m_nCancelCode, 0);
    EXPECT_EQ(dialog.m_bThreadRunning, 0);
    EXPECT_EQ(dialog.m_strIniPath, "C:\\windows\\System32\\QUILLON.ini")
        << "without a local file the dialog takes System32, never SysWow64";
}

TEST(DialogPath, LocalSettingsFileWins) {
    DialogRig rig;
    rig.files.files.insert(".\\QUILLON.ini");
    CAcqDialog dialog(rig.env);
    EXPECT_EQ(dialog.m_strIniPath, ".\\QUILLON.ini");
}

TEST_F(DialogTest, TerminalModeOpensThePortAndStartsBothTimers) {
    rig.Set("MYKAD", "GLOBTIMEOUT", "30000");
    rig.Set("MYKAD", "TIMEOUT", "2500");
    Start("GETSN");
    ASSERT_GE(rig.port.calls.size(), 2u);
    EXPECT_EQ(rig.port.calls[0], "init COM7 115200 N 8 1 9 1024");
    EXPECT_EQ(rig.port.calls[1], "monitor");
    EXPECT_EQ(rig.window.timers, (std::map<int, int>{{77, 30000}, {88, 2500}}));
    EXPECT_EQ(dialog.m_nRetCode, -9) << "port open, no result yet";
    EXPECT_TRUE(rig.window.Has("hide 4009"));
}

TEST_F(DialogTest, BaudRateTextIsConvertedAndNonNumberGivesZero) {
    rig.Set("COMPORT", "BAUDRATE", "9600");
    Start("GETSN");
    EXPECT_EQ(rig.port.calls[0], "init COM7 9600 N 8 1 9 1024");
    DialogRig other;
    other.Set("COMPORT", "BAUDRATE", "fast");
    CAcqDialog second(other.env);
    second.Attach(&other.window);
    second.m_strMode = "GETSN";
    second.OnInitDialog();
    EXPECT_EQ(other.port.calls[0], "init COM5 0 N 8 1 9 1024");
}

struct OpenFailure {
    bool opens;
    bool monitors;
};

class PortFailure : public DialogTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(PortFailure, EndsWithMinus4BeforeAnySetUp) {
    rig.port.opens = GetParam().opens;
    rig.port.monitors = GetParam().monitors;
    Start("GETSN");
    EXPECT_EQ(dialog.m_nRetCode, -4);
    EXPECT_EQ(dialog.m_strStatus, "Open COM Port Error");
    EXPECT_EQ(rig.window.closes, 1);
    EXPECT_TRUE(rig.window.timers.empty());
    EXPECT_TRUE(rig.port.frames.empty()) << "no per-mode set-up after a failed open";
    EXPECT_EQ(rig.port.calls.back(), "forget");
    EXPECT_EQ(rig.port.calls[rig.port.calls.size() - 2], "close");
    EXPECT_FALSE(rig.window.Has("font 14 Verdana"));
}

INSTANTIATE_TEST_SUITE_P(Open, PortFailure,
                         ::testing::Values(OpenFailure{false, true}, OpenFailure{true, false}));

TEST_F(DialogTest, ReaderModeOpensNoPortAndStartsTimer99) {
    rig.Set("CSSSERVER", "GLOBTIMEOUT", "45000");
    Start("MYKADONLY");
    EXPECT_TRUE(rig.port.calls.empty());
    EXPECT_EQ(rig.window.timers, (std::map<int, int>{{99, 45000}}));
    EXPECT_TRUE(rig.window.Has("sockets"));
    EXPECT_TRUE(rig.window.Has("reader thread"));
    EXPECT_EQ(rig.window.title, "MYKAD");
    EXPECT_EQ(dialog.m_nRetCode, -10) << "stays until the reader thread sets it";
    EXPECT_EQ(g_pAcqDialog, &dialog);
}

TEST_F(DialogTest, FontAndCancelButtonFromSettings) {
    Start("GETSN");
    EXPECT_TRUE(rig.window.Has("font 14 Verdana"));
    EXPECT_TRUE(rig.window.Has("hide 1"));
    DialogRig other;
    other.Set("MISC", "CANCEL", "1");
    other.Set("FONT", "SIZE", "20");
    other.Set("FONT", "FACE", "Tahoma");
    CAcqDialog second(other.env);
    second.Attach(&other.window);
    second.m_strMode = "GETSN";
    second.OnInitDialog();
    EXPECT_TRUE(other.window.Has("show 1"));
    EXPECT_EQ(other.window.text[1], "Cancel");
    EXPECT_TRUE(other.window.Has("font 20 Tahoma"));
}

TEST_F(DialogTest, LogoPathDefaultsToSystem32MyLogo) {
    Start("GETSN");
    EXPECT_TRUE(rig.window.Has("image C:\\WINDOWS\\system32\\mylogo.jpg"));
}

struct ModeCase {
    const char* mode;
    const char* title;  // "" when the title stays as it is
    const char* line1;
    const char* line2;
    const char* start;  // the call that starts the operation, or "" for none
    int frameCode;      // code of the frame sent by the set-up, -1 for none
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.mode; }

class Modes : public DialogTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(Modes, SetUpGivesTitlePromptsAndFirstStep) {
    const ModeCase& c = GetParam();
    Start(c.mode);
    EXPECT_EQ(rig.window.title, c.title);
    EXPECT_EQ(rig.window.text[kPromptLine1], c.line1);
    EXPECT_EQ(rig.window.text[kPromptLine2], c.line2);
    if (*c.start) {
        EXPECT_TRUE(rig.window.Has(c.start));
    }
    if (c.frameCode < 0) {
        EXPECT_TRUE(rig.port.frames.empty());
    } else {
        ASSERT_EQ(rig.port.frames.size(), 1u);
        EXPECT_EQ(rig.port.frames[0][3], c.frameCode);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Modes,
    ::testing::Values(
        ModeCase{"ENROLL", "ENROLLMENT", "Performing ENROLLMENT...", "", "post 4000", -1},
        ModeCase{"VERIFY", "VERIFY", "Performing VERIFICATION...", "Place Finger\r\nLetak jari",
                 "post 4001", -1},
        ModeCase{"GETLLTSTATUS", "", "", "", "", 0x23}, ModeCase{"GETSN", "", "", "", "", 0x25},
        ModeCase{"GETSIGNATURE", "SIGNATURE", "Signature", "Place Sign on the Screen", "", 0xF3},
        ModeCase{"MYKAD", "MYKAD", "", "", "reader thread", -1},
        ModeCase{"MYKADNOVERIFY", "MYKAD", "", "", "reader thread", -1},
        ModeCase{"enroll", "", "", "", "", -1},       // exact, case-sensitive
        ModeCase{"MYKADX", "", "", "", "", -1},       // no prefix matching
        ModeCase{"GETSNX", "", "", "", "", -1}));

TEST_F(DialogTest, PromptsComeFromTheMessageSection) {
    rig.Set("MESSAGE", "V1", "Sedang mengesahkan");
    rig.Set("MESSAGE", "V2", "");
    Start("VERIFY");
    EXPECT_EQ(rig.window.text[kPromptLine1], "Sedang mengesahkan");
    EXPECT_EQ(rig.window.text[kPromptLine2], "") << "an empty key gives an empty line";
}

TEST_F(DialogTest, SetTerminalTimeWaitsForTheWriteAndEndsAtOnce) {
    std::memcpy(dialog.m_szTerminalTime, "261206101500", 12);
    Start("SET_TERMINAL_TIME");
    ASSERT_EQ(rig.port.frames.size(), 1u);
    const std::vector<std::string>& calls = rig.port.calls;
    auto send = std::find(calls.begin(), calls.end(), "send");
    ASSERT_NE(send, calls.end());
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

TEST_F(DialogTest, EverySendDiscardsAPartlyReceivedReply) {
    g_nRxLen = 5;
    Start("GETSN");
    EXPECT_EQ(g_nRxLen.load(), 0);
}

class TimerExpiry : public DialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(TimerExpiry, TerminalTimerShowsTimeoutForOneSecondThenMinus30) {
    Start("GETSN");
    rig.window.calls.clear();
    dialog.OnTimer(GetParam());
    EXPECT_EQ(rig.window.text[kPromptLine2], "Timeout");
    const std::vector<std::string> expected = {"refresh 01", Format("kill %d", GetParam()),
                                               "wait 1000", "close"};
    EXPECT_EQ(rig.window.calls, expected);
    EXPECT_EQ(dialog.m_nRetCode, -30);
    EXPECT_EQ(rig.window.timers.size(), 1u) << "the other timer keeps running";
}

INSTANTIATE_TEST_SUITE_P(Timers, TimerExpiry, ::testing::Values(77, 88));

TEST_F(DialogTest, ReaderTimerSetsTheCancelEventAndEndsWithoutTheOneSecondWait) {
    Start("MYKAD");
    rig.window.calls.clear();
    rig.window.text[kPromptLine2] = "Reading Photo";
    dialog.OnTimer(99);
    EXPECT_EQ(rig.window.calls, (std::vector<std::string>{"kill 99", "cancel event", "close"}));
    EXPECT_EQ(dialog.m_nCancelCode, 0) << "a time-out is not the operator's cancel";
    EXPECT_EQ(rig.window.text[kPromptLine2], "Reading Photo");
    EXPECT_EQ(dialog.m_nRetCode, -30);
}

TEST_F(DialogTest, OtherTimerIdsDoNothing) {
    Start("GETSN");
    rig.window.calls.clear();
    dialog.OnTimer(12);
    EXPECT_TRUE(rig.window.calls.empty());
    EXPECT_EQ(dialog.m_nRetCode, -9);
}

TEST_F(DialogTest, CancelButtonDoesNotEndTheDialog) {
    Start("GETSN");
    dialog.OnCommand(kButtonCancel);
    EXPECT_EQ(dialog.m_nCancelCode, -9);
    EXPECT_TRUE(rig.window.Has("disable 1"));
    EXPECT_TRUE(rig.window.Has("cancel event"));
    EXPECT_EQ(rig.window.closes, 0);
}

TEST_F(DialogTest, CloseIsRefusedWhileTheReaderThreadRuns) {
    CapturingLog log;
    dialog.m_bThreadRunning = 1;
    EXPECT_FALSE(dialog.OnCancel());
    EXPECT_EQ(log.Count("CLOSE CALLED WITHOUT THREAD END"), 1u);
    dialog.m_bThreadRunning = 0;
    dialog.m_nRetCode = -30;
    dialog.m_nCancelCode = -9;
    EXPECT_TRUE(dialog.OnCancel());
    EXPECT_EQ(log.Count("Return CODE : -30  -  CANCEL CODE : -9"), 1u);
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
