#include "command/operation_runners.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dialog_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

// Plays the part of each dialog run: records what the runner set, then lets the test's script
// for that mode fill in the results (by default the run succeeds).
class ScriptedDialogs : public IDialogRunner {
public:
    struct Run {
        std::string mode;
        int port;
        bool shown;
        size_t templateLength;
        int templateFormat;
        std::string terminalTime;
        uint8_t verifySwitch;
    };
    std::vector<Run> runs;
    std::map<std::string, std::function<void(CAcqDialog&)>> script;

    void DoModal(CAcqDialog& d) override {
        runs.push_back(Run{d.m_strMode, d.m_nComPort, g_bShowDialog, d.m_strVerifyTemplate.size(),
                           d.m_nTemplateFormat, d.m_szTerminalTime, g_bVerifyFinger});
        d.m_nRetCode = 0;
        if (script.count(d.m_strMode) != 0) script[d.m_strMode](d);
    }
    std::vector<std::string> Modes() const {
        std::vector<std::string> modes;
        for (const auto& r : runs) modes.push_back(r.mode);
        return modes;
    }
};

class RunnersTest : public ::testing::Test {
protected:
    DialogRig rig;
    ScriptedDialogs dialogs;
    FakeRegistry registry;
    FakeClock clock;
    OperationRunners runners{rig.env, dialogs, registry, clock};

    void SetUp() override {
        dialogs.script["GETLLTSTATUS"] = [](CAcqDialog& d) { d.m_strResult2 = "BANK RAKYAT"; };
    }
};

TEST_F(RunnersTest, SerialNumberRunsAHiddenStatusQueryThenAHiddenGetsnDialog) {
    dialogs.script["GETSN"] = [](CAcqDialog& d) { std::memset(d.m_szSerialNo, 'S', 99); };
    char text[50];
    EXPECT_EQ(runners.GetSerialNumber(1, 7, text), 0);
    EXPECT_EQ(std::string(text), std::string(49, 'S')) << "cut to the dispatcher's buffer";
    EXPECT_EQ(dialogs.Modes(), (std::vector<std::string>{"GETLLTSTATUS", "GETSN"}));
    EXPECT_FALSE(dialogs.runs[0].shown);
    EXPECT_FALSE(dialogs.runs[1].shown) << "never shown, whatever the show field says";
    EXPECT_EQ(dialogs.runs[1].port, 7);
    EXPECT_EQ(clock.sleeps, (std::vector<int>{500}));
}

TEST_F(RunnersTest, FailingStatusQueryEndsTheRunnerWithItsCode) {
    dialogs.script["GETLLTSTATUS"] = [](CAcqDialog& d) { d.m_nRetCode = -4; };
    uint8_t templ[600] = {0};
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), -4);
    EXPECT_EQ(dialogs.Modes(), (std::vector<std::string>{"GETLLTSTATUS"}));
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(RunnersTest, EnrollWaitsTheSetDelayAndCopiesAtMost600TemplateBytes) {
    rig.files.files.insert(".\\QUILLON.ini");
    rig.profile.Set(".\\QUILLON.ini", "APDU", "DELAY_AFTER_FIRSTCALL", "0");
    dialogs.script["ENROLL"] = [](CAcqDialog& d) { d.m_strTemplate = std::string(1196, 'Z'); };
    uint8_t templ[604] = {0};
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), 0);
    EXPECT_EQ(templ[599], 'Z');
    EXPECT_EQ(templ[600], 0);
    EXPECT_EQ(clock.sleeps, (std::vector<int>{0}));
    EXPECT_TRUE(dialogs.runs[1].shown);
}

TEST_F(RunnersTest, PortZeroIsFoundForEveryDialog) {
    registry.values["\\Device\\slabser0"] = "COM9";
    char text[50] = {0};
    runners.GetSerialNumber(0, 0, text);
    ASSERT_EQ(dialogs.runs.size(), 2u);
    EXPECT_EQ(dialogs.runs[0].port, 9);
    EXPECT_EQ(dialogs.runs[1].port, 9);
}

TEST_F(RunnersTest, FirmwareVersionCopiesTheStatusText) {
    char text[50] = {0};
    EXPECT_EQ(runners.GetLLTStatus(1, 3, text), 0);
    EXPECT_STREQ(text, "BANK RAKYAT");
    EXPECT_EQ(dialogs.runs.size(), 1u);
}

TEST_F(RunnersTest, VerifyRefusesTemplatesWhoseByte17IsNot2AfterTheStatusQuery) {
    struct Case {
        size_t length;
        uint8_t byte17, byte615;
        bool twoFinger;
        int expected;
    };
    const Case cases[] = {{598, 2, 0, false, 0},   {598, 3, 0, false, -5},
                          {1196, 2, 2, true, 0},   {1196, 2, 7, true, -5},
                          {1196, 0, 2, true, -5},  {1197, 0, 0, true, 0}};  // not tested
    for (const Case& c : cases) {
        std::vector<uint8_t> t(c.length, 0x11);
        t[17] = c.byte17;
        if (c.length > 615) t[615] = c.byte615;
        dialogs.runs.clear();
        const int n = static_cast<int>(c.length);
        EXPECT_EQ(c.twoFinger ? runners.PerformVerify2F(1, 7, n, t.data())
                              : runners.PerformVerify(1, 7, n, t.data()),
                  c.expected)
            << c.length << " " << int(c.byte17) << "/" << int(c.byte615);
        ASSERT_EQ(dialogs.runs.size(), c.expected == -5 ? 1u : 2u);
        EXPECT_EQ(dialogs.runs[0].mode, "GETLLTSTATUS");
        if (c.expected == -5) continue;
        EXPECT_EQ(dialogs.runs[1].mode, "VERIFY");
        EXPECT_EQ(dialogs.runs[1].templateFormat, c.twoFinger ? 2 : 1);
        EXPECT_EQ(dialogs.runs[1].templateLength, c.length);
        EXPECT_TRUE(dialogs.runs[1].shown);
    }
}

TEST_F(RunnersTest, SetTerminalTimeTakesTheGivenTextOrTheLocalClock) {
    clock.now = LocalTime{2026, 12, 6, 9, 5, 7, 0};
    runners.SetTerminalTime(4, 1, "ABCDEFGHIJKL");
    runners.SetTerminalTime(4, 0, "ignored");
    ASSERT_EQ(dialogs.runs.size(), 2u);
    EXPECT_EQ(dialogs.runs[0].terminalTime, "ABCDEFGHIJKL");
    EXPECT_EQ(dialogs.runs[1].terminalTime, "261206090507");
    EXPECT_EQ(dialogs.runs[0].mode, "SET_TERMINAL_TIME");
    EXPECT_EQ(dialogs.runs[0].port, 4);
    EXPECT_FALSE(dialogs.runs[0].shown);
}

TEST_F(RunnersTest, SignatureCountIsTheLengthFieldMinusSevenClampedToTheArea) {
    struct Case {
        int result;
        uint32_t lengthField, count;
    };
    const Case cases[] = {{0, 10, 3}, {0, 7, 0}, {0, 3, 0}, {0, 9000, 5000},
                          {-9, 10, 12345}};  // a failure writes no count
    for (const Case& c : cases) {
        dialogs.script["GETSIGNATURE"] = [&c](CAcqDialog& d) {
            d.m_nRetCode = c.result;
            std::memset(d.m_abSignature, 0x33, sizeof d.m_abSignature);
            g_nSignatureLen = c.lengthField;
        };
        std::vector<uint8_t> data(6000, 0);
        uint32_t count = 12345;
        EXPECT_EQ(runners.GetSignature(1, 7, data.data(), &count), c.result);
        EXPECT_EQ(count, c.count) << c.lengthField;
        const std::ptrdiff_t copied = c.result == 0 ? c.count : 0;  // and nothing more
        EXPECT_EQ(std::count(data.begin(), data.begin() + copied, 0x33), copied);
        EXPECT_EQ(std::count(data.begin(), data.end(), 0x33), copied);
    }
}

TEST_F(RunnersTest, MyKadRunnersSetModeAndVerificationSwitchAndCopyTheRecord) {
    dialogs.script["MYKAD"] = dialogs.script["MYKADONLY"] = dialogs.script["MYKADNOVERIFY"] =
        dialogs.script["MYKADNOVERIFYNOPHOTO"] = [](CAcqDialog& d) {
            d.m_nOpenDataLen = 3;
            std::memcpy(d.m_abOpenData, "ABC", 3);
            d.m_strPhoto = std::string(4000, 'P');
        };
    using Run = std::function<int(uint8_t*, uint8_t*)>;
    const std::tuple<const char*, uint8_t, bool, Run> cases[] = {
        {"MYKAD", 1, true, [&](uint8_t* c, uint8_t* p) { return runners.ReadMyKAD(1, 4, c, p); }},
        {"MYKADONLY", 1, false, [&](uint8_t* c, uint8_t*) { return runners.ReadMyKADData(1, 4, c); }},
        {"MYKADNOVERIFY", 0, true,
         [&](uint8_t* c, uint8_t* p) { return runners.ReadMyKADNoVerify(1, 4, c, p); }},
        {"MYKADNOVERIFYNOPHOTO", 0, false,
         [&](uint8_t* c, uint8_t*) { return runners.ReadMyKADNoVerifyNoPhoto(1, 4, c); }},
    };
    for (const auto& c : cases) {
        uint8_t card[2000] = {0};
        uint8_t photo[4100] = {0};
        EXPECT_EQ(std::get<3>(c)(card, photo), 0);
        EXPECT_EQ(dialogs.runs.back().mode, std::get<0>(c));
        EXPECT_EQ(dialogs.runs.back().verifySwitch, std::get<1>(c)) << std::get<0>(c);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(card), 5), std::string("0ABC\0", 5));
        EXPECT_EQ(photo[3999], std::get<2>(c) ? 'P' : 0) << std::get<0>(c);
    }
}

TEST_F(RunnersTest, MyKidCopiesTheAlternateRecordAndNoPhoto) {
    dialogs.script["MYKAD"] = [](CAcqDialog& d) {
        d.m_bFullRecord = 0;
        d.m_nAltDataLen = 5000;  // a length beyond the record area is bounded
        std::memset(d.m_abAltData, 'K', sizeof d.m_abAltData);
        d.m_strPhoto = std::string(4000, 'P');
    };
    std::vector<uint8_t> card(2004, 0);
    std::vector<uint8_t> photo(4100, 0);
    EXPECT_EQ(runners.ReadMyKAD(0, 4, card.data(), photo.data()), 0);
    EXPECT_EQ(card[0], '1');
    EXPECT_EQ(card[1999], 'K');
    EXPECT_EQ(card[2000], 0);
    EXPECT_EQ(photo[0], 0);
}

}  // namespace
}  // namespace quillon
