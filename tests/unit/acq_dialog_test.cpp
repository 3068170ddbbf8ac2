// The dialog's set-up per mode, its timers and its cancel. What the terminal's replies do is in
// terminal_replies_test.cpp; a port that fails and a terminal that stays silent are played end
// to end.
#include "acqdialog/acq_dialog.h"

#include <gtest/gtest.h>

#include "dialog_fakes.h"

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

TEST(AcqDialog, ReaderModeOpensNoPortAndItsTimerSetsTheCancelEvent) {
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
    EXPECT_EQ(g_pAcqDialog, &t.dialog);
    t.window.calls.clear();
    t.dialog.OnTimer(99);
    EXPECT_EQ(t.window.calls, (Lines{"kill 99", "cancel event", "close"}));
    EXPECT_EQ(t.dialog.m_nCancelCode, 0) << "a time-out is not the operator's cancel";
    EXPECT_EQ(t.dialog.m_nRetCode, -30);
}

TEST(AcqDialog, ReaderPromptCodesShowTheirMessageInLine2) {
    Dialog t("MYKAD");
    t.rig.Set("MESSAGE", "E3", "");
    t.Start();
    OnPromptCode(0xA3);
    EXPECT_EQ(t.window.text[kPromptLine2],
              "MyKad verification completed successfully\r\nPengesahan MyKad berjaya");
    OnPromptCode(0xA5);
    EXPECT_EQ(t.window.text[kPromptLine2], "") << "an empty setting is not the default";
    t.window.text[kPromptLine2] = "before";
    OnPromptCode(0x42);
    EXPECT_EQ(t.window.text[kPromptLine2], "before") << "an unknown code shows nothing";
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

}  // namespace
}  // namespace quillon
