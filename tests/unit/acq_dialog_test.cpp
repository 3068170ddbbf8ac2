#include "acqdialog/acq_dialog.h"

#include <gtest/gtest.h>

#include "dialog_fakes.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

struct Dialog {
    DialogRig rig;
    CAcqDialog dialog{rig.env};

    explicit Dialog(const char* mode) {
        dialog.Attach(&rig.window);
        dialog.m_strMode = mode;
        dialog.m_nComPort = 7;
    }
    Dialog& Start() { return dialog.OnInitDialog(), *this; }
};

TEST(AcqDialog, SettingsFileIsTheLocalOneElseSystem32NeverSysWow64) {
    DialogRig rig;
    EXPECT_EQ(CAcqDialog(rig.env).m_strIniPath, "C:\\windows\\System32\\QUILLON.ini");
    rig.files.files.insert(".\\QUILLON.ini");
    EXPECT_EQ(CAcqDialog(rig.env).m_strIniPath, ".\\QUILLON.ini");
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
        Dialog t(c.mode);
        t.Start();
        FakeWindow& w = t.rig.window;
        EXPECT_EQ(w.title, c.title) << c.mode;
        EXPECT_EQ(w.text[kPromptLine1], c.line1) << c.mode;
        EXPECT_EQ(w.text[kPromptLine2], c.line2) << c.mode;
        EXPECT_TRUE(*c.start == '\0' || w.Has(c.start)) << c.mode;
        const auto& frames = t.rig.port.frames;
        ASSERT_EQ(frames.size(), c.frameCode < 0 ? 0u : 1u) << c.mode;
        EXPECT_EQ(frames.empty() ? -1 : frames[0][3], c.frameCode) << c.mode;
    }
}

TEST(AcqDialog, TerminalModeOpensThePortWithTimersAndLooksFromTheSettings) {
    Dialog t("GETSIGNATURE");
    t.rig.Set("MYKAD", "GLOBTIMEOUT", "30000");
    t.rig.Set("MYKAD", "TIMEOUT", "2500");
    t.rig.Set("COMPORT", "BAUDRATE", "9600");
    t.rig.Set("MISC", "CANCEL", "1");
    t.rig.Set("FONT", "SIZE", "20");
    t.rig.Set("FONT", "FACE", "Tahoma");
    t.dialog.m_abSignature[10] = 0x55;
    g_nSignatureLen = 99;
    g_nRxLen = 5;
    t.Start();
    EXPECT_EQ(g_nRxLen.load(), 0) << "every send discards a partly received reply";
    EXPECT_EQ(t.dialog.m_abSignature[10], 0) << "the signature state is cleared";
    EXPECT_EQ(g_nSignatureLen, 0u);
    EXPECT_EQ(Lines(t.rig.port.calls.begin(), t.rig.port.calls.begin() + 2),
              (Lines{"init COM7 9600 N 8 1 9 1024", "monitor"}));
    EXPECT_EQ(t.rig.window.timers, (std::map<int, int>{{77, 30000}, {88, 2500}}));
    EXPECT_EQ(t.dialog.m_nRetCode, -9) << "port open, no result yet";
    for (const char* call : {"hide 4009", "show 1", "font 20 Tahoma"}) {
        EXPECT_TRUE(t.rig.window.Has(call)) << call;
    }
    EXPECT_EQ(t.rig.window.text[kButtonCancel], "Cancel");
}

TEST(AcqDialog, ReaderModeOpensNoPortAndItsTimerSetsTheCancelEvent) {
    Dialog t("MYKADONLY");
    t.rig.Set("CSSSERVER", "GLOBTIMEOUT", "45000");
    t.Start();
    EXPECT_TRUE(t.rig.port.calls.empty());
    EXPECT_EQ(t.rig.window.timers, (std::map<int, int>{{99, 45000}}));
    for (const char* call : {"sockets", "font 14 Verdana", "hide 1",
                             "image C:\\WINDOWS\\system32\\mylogo.jpg"}) {
        EXPECT_TRUE(t.rig.window.Has(call)) << call;
    }
    EXPECT_EQ(t.dialog.m_nRetCode, -10) << "stays until the reader thread sets it";
    EXPECT_EQ(g_pAcqDialog, &t.dialog);
    t.rig.window.calls.clear();
    t.dialog.OnTimer(99);
    EXPECT_EQ(t.rig.window.calls, (Lines{"kill 99", "cancel event", "close"}));
    EXPECT_EQ(t.dialog.m_nCancelCode, 0) << "a time-out is not the operator's cancel";
    EXPECT_EQ(t.dialog.m_nRetCode, -30);
}

TEST(AcqDialog, ReaderPromptCodesShowTheirMessageInLine2) {
    Dialog t("MYKAD");
    t.rig.Set("MESSAGE", "E3", "");
    t.Start();
    OnPromptCode(0xA3);
    EXPECT_EQ(t.rig.window.text[kPromptLine2],
              "MyKad verification completed successfully\r\nPengesahan MyKad berjaya");
    OnPromptCode(0xA5);
    EXPECT_EQ(t.rig.window.text[kPromptLine2], "") << "an empty setting is not the default";
    t.rig.window.text[kPromptLine2] = "before";
    OnPromptCode(0x42);
    EXPECT_EQ(t.rig.window.text[kPromptLine2], "before") << "an unknown code shows nothing";
}

TEST(AcqDialog, CancelSignalsTheOperationButCloseWaitsForTheReaderThread) {
    Dialog t("GETSN");
    t.Start().dialog.OnCommand(kButtonCancel);
    EXPECT_EQ(t.dialog.m_nCancelCode, -9);
    EXPECT_TRUE(t.rig.window.Has("disable 1"));
    EXPECT_TRUE(t.rig.window.Has("cancel event"));
    EXPECT_EQ(t.rig.window.closes, 0);
    t.dialog.m_bThreadRunning = 1;
    EXPECT_FALSE(t.dialog.OnCancel());
    t.dialog.m_bThreadRunning = 0;
    EXPECT_TRUE(t.dialog.OnCancel());
}

}  // namespace
}  // namespace quillon
