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
// for that mode fill in the results.
class ScriptedDialogs : public IDialogRunner {
public:
    struct Run {
        std::string mode;
        int port;
        bool shown;
        std::string verifyTemplate;
        int templateFormat;
        std::string terminalTime;
    };
    std::vector<Run> runs;
    std::map<std::string, std::function<void(CAcqDialog&)>> script;

    void DoModal(CAcqDialog& dialog) override {
        runs.push_back(Run{dialog.m_strMode, dialog.m_nComPort, g_bShowDialog,
                           dialog.m_strVerifyTemplate, dialog.m_nTemplateFormat,
                           std::string(dialog.m_szTerminalTime)});
        auto it = script.find(dialog.m_strMode);
        if (it != script.end()) {
            it->second(dialog);
        } else {
            dialog.m_nRetCode = 0;
        }
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
        dialogs.script["GETLLTSTATUS"] = [](CAcqDialog& d) {
            d.m_nRetCode = 0;
            d.m_strResult2 = "BANK RAKYAT";
        };
    }
};

TEST_F(RunnersTest, SerialNumberRunsAHiddenStatusQueryThenAHiddenGetsnDialog) {
    dialogs.script["GETSN"] = [](CAcqDialog& d) {
        d.m_nRetCode = 0;
        std::strcpy(d.m_szSerialNo, "QT-00042");
    };
    char text[50];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(runners.GetSerialNumber(1, 7, text), 0);
    EXPECT_STREQ(text, "QT-00042");
    EXPECT_EQ(dialogs.Modes(), (std::vector<std::string>{"GETLLTSTATUS", "GETSN"}));
    EXPECT_FALSE(dialogs.runs[0].shown);
    EXPECT_FALSE(dialogs.runs[1].shown) << "never shown, whatever the show field says";
    EXPECT_EQ(dialogs.runs[1].port, 7);
    EXPECT_EQ(clock.sleeps, (std::vector<int>{500}));
}

TEST_F(RunnersTest, DelayAfterTheStatusQueryComesFromTheSettings) {
    rig.files.files.insert(".\\QUILLON.ini");
    rig.profile.Set(".\\QUILLON.ini", "APDU", "DELAY_AFTER_FIRSTCALL", "0");
    char text[50] = {0};
    runners.GetSerialNumber(0, 7, text);
    EXPECT_EQ(clock.sleeps, (std::vector<int>{0}));
}

TEST_F(RunnersTest, FailingStatusQueryEndsTheRunnerWithItsCode) {
    dialogs.script["GETLLTSTATUS"] = [](CAcqDialog& d) { d.m_nRetCode = -4; };
    uint8_t templ[600] = {0};
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), -4);
    EXPECT_EQ(dialogs.Modes(), (std::vector<std::string>{"GETLLTSTATUS"}));
    EXPECT_TRUE(clock.sleeps.empty());
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
    EXPECT_FALSE(dialogs.runs[0].shown);
}

TEST_F(RunnersTest, LongSerialNumberIsCutToTheDispatcherBuffer) {
    dialogs.script["GETSN"] = [](CAcqDialog& d) {
        d.m_nRetCode = 0;
        std::memset(d.m_szSerialNo, 'S', 99);
    };
    char text[50];
    runners.GetSerialNumber(0, 7, text);
    EXPECT_EQ(std::string(text), std::string(49, 'S'));
}

std::vector<uint8_t> Template(size_t length, uint8_t byte17, uint8_t byte615) {
    std::vector<uint8_t> t(length, 0x11);
    t[17] = byte17;
    if (length > 615) t[615] = byte615;
    return t;
}

struct CheckCase {
    size_t length;
    uint8_t byte17, byte615;
    bool twoFinger;
    int expected;
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.length << " bytes, " << int(c.byte17) << "/" << int(c.byte615);
}

class TemplateCheck : public RunnersTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(TemplateCheck, RefusesTemplatesWhoseByte17IsNot2AfterTheStatusQuery) {
    const CheckCase& c = GetParam();
    const std::vector<uint8_t> t = Template(c.length, c.byte17, c.byte615);
    const int length = static_cast<int>(c.length);
    const int result = c.twoFinger ? runners.PerformVerify2F(1, 7, length, t.data())
                                   : runners.PerformVerify(1, 7, length, t.data());
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(dialogs.runs.front().mode, "GETLLTSTATUS") << "the status query has already run";
    EXPECT_EQ(dialogs.runs.size(), c.expected == -5 ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Bytes, TemplateCheck,
                         ::testing::Values(CheckCase{598, 2, 0, false, 0},
                                           CheckCase{598, 3, 0, false, -5},
                                           CheckCase{1196, 2, 2, true, 0},
                                           CheckCase{1196, 2, 7, true, -5},
                                           CheckCase{1196, 0, 2, true, -5},
                                           CheckCase{1197, 0, 0, true, 0}));  // not tested

TEST_F(RunnersTest, Verify2FHandsAllBytesWithTheTwoFingerFormat) {
    const std::vector<uint8_t> t = Template(1196, 2, 2);
    runners.PerformVerify2F(1, 7, 1196, t.data());
    ASSERT_EQ(dialogs.runs.size(), 2u);
    EXPECT_EQ(dialogs.runs[1].mode, "VERIFY");
    EXPECT_EQ(dialogs.runs[1].templateFormat, 2);
    EXPECT_EQ(dialogs.runs[1].verifyTemplate.size(), 1196u);
    EXPECT_TRUE(dialogs.runs[1].shown);
}

TEST_F(RunnersTest, EnrollCopiesAtMost600TemplateBytes) {
    dialogs.script["ENROLL"] = [](CAcqDialog& d) {
        d.m_nRetCode = 0;
        d.m_strTemplate = std::string(1196, '\x5A');
    };
    uint8_t templ[604];
    std::memset(templ, 0, sizeof templ);
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), 0);
    EXPECT_EQ(templ[599], 0x5A);
    EXPECT_EQ(templ[600], 0x00);
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

struct SignatureCase {
    uint32_t lengthField;
    uint32_t expectedCount;
};

class SignatureCount : public RunnersTest, public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(SignatureCount, CountIsLengthFieldMinusSevenClampedToTheArea) {
    const uint32_t field = GetParam().lengthField;
    dialogs.script["GETSIGNATURE"] = [field](CAcqDialog& d) {
        d.m_nRetCode = 0;
        std::memset(d.m_abSignature, 0x33, sizeof d.m_abSignature);
        g_nSignatureLen = field;
    };
    std::vector<uint8_t> data(6000, 0);
    uint32_t count = 12345;
    EXPECT_EQ(runners.GetSignature(1, 7, data.data(), &count), 0);
    EXPECT_EQ(count, GetParam().expectedCount);
    if (count > 0) {
        EXPECT_EQ(data[count - 1], 0x33);
    }
    EXPECT_EQ(data[count], 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SignatureCount,
                         ::testing::Values(SignatureCase{10, 3}, SignatureCase{7, 0},
                                           SignatureCase{3, 0}, SignatureCase{9000, 5000}));

TEST_F(RunnersTest, SignatureFailureCopiesNothing) {
    dialogs.script["GETSIGNATURE"] = [](CAcqDialog& d) { d.m_nRetCode = -9; };
    uint8_t data[8] = {0};
    uint32_t count = 0;
    EXPECT_EQ(runners.GetSignature(1, 7, data, &count), -9);
    EXPECT_EQ(count, 0u);
}

struct CardCase {
    const char* mode;
    bool photo;
    uint8_t verify;
};

TEST_F(RunnersTest, MyKadRunnersSetModeAndVerificationSwitch) {
    uint8_t card[2000];
    uint8_t photo[4100];
    const CardCase cases[] = {{"MYKAD", true, 1},
                              {"MYKADONLY", false, 1},
                              {"MYKADNOVERIFY", true, 0},
                              {"MYKADNOVERIFYNOPHOTO", false, 0}};
    for (const CardCase& c : cases) {
        uint8_t seenSwitch = 0xFF;
        dialogs.script[c.mode] = [&seenSwitch](CAcqDialog& d) {
            seenSwitch = g_bVerifyFinger;
            d.m_nRetCode = 0;
            d.m_bFullRecord = 1;
            d.m_nOpenDataLen = 3;
            std::memcpy(d.m_abOpenData, "ABC", 3);
            d.m_strPhoto = std::string(4000, 'P');
        };
        std::memset(card, 0, sizeof card);
        std::memset(photo, 0, sizeof photo);
        const std::string mode = c.mode;
        int result;
        if (mode == "MYKAD") result = runners.ReadMyKAD(1, 4, card, photo);
        else if (mode == "MYKADONLY") result = runners.ReadMyKADData(1, 4, card);
        else if (mode == "MYKADNOVERIFY") result = runners.ReadMyKADNoVerify(1, 4, card, photo);
        else result = runners.ReadMyKADNoVerifyNoPhoto(1, 4, card);
        EXPECT_EQ(result, 0) << c.mode;
        EXPECT_EQ(dialogs.runs.back().mode, c.mode);
        EXPECT_EQ(seenSwitch, c.verify) << c.mode;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(card), 5), std::string("0ABC\0", 5));
        EXPECT_EQ(photo[3999], c.photo ? 'P' : 0) << c.mode;
    }
}

TEST_F(RunnersTest, MyKidCopiesTheAlternateRecordAndNoPhoto) {
    dialogs.script["MYKAD"] = [](CAcqDialog& d) {
        d.m_nRetCode = 0;
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
