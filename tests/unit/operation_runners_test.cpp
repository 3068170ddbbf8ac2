// The runners' own rules: the template check, the delay after the status query and copies
// bounded by the dispatcher's buffers. The dialogs they run, ports, clock texts, signatures and
// MyKad modes are checked end to end.
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

// Plays each dialog run: records what the runner set, lets it succeed, then runs the test's
// script on it.
class ScriptedDialogs : public IDialogRunner {
public:
    std::vector<std::string> runs;  // "MODE format length"
    std::function<void(CAcqDialog&)> script = [](CAcqDialog&) {};

    void DoModal(CAcqDialog& d) override {
        runs.push_back(Format("%s %d %zu", d.m_strMode.c_str(), d.m_nTemplateFormat,
                              d.m_strVerifyTemplate.size()));
        d.m_nRetCode = 0;
        script(d);
    }
};

class RunnersTest : public ::testing::Test {
protected:
    DialogRig rig;
    ScriptedDialogs dialogs;
    FakeRegistry registry;
    FakeClock clock;
    OperationRunners runners{rig.env, dialogs, registry, clock};
    uint8_t templ[604] = {0};
};

TEST_F(RunnersTest, VerifyRefusesTemplatesWhoseByte17IsNot2AfterTheStatusQuery) {
    const struct {
        size_t length;
        uint8_t byte17, byte615;
        const char* verifyRun;  // "": refused with -5
    } cases[] = {{598, 2, 0, "VERIFY 1 598"},   {598, 3, 0, ""}, {1196, 2, 2, "VERIFY 2 1196"},
                 {1196, 2, 7, ""}, {1196, 0, 2, ""}, {1197, 0, 0, "VERIFY 2 1197"}};
    for (const auto& c : cases) {
        std::vector<uint8_t> t(c.length, 0x11);
        t[17] = c.byte17;
        if (c.length > 615) t[615] = c.byte615;
        dialogs.runs.clear();
        const int n = static_cast<int>(c.length);
        EXPECT_EQ(n < 1000 ? runners.PerformVerify(1, 7, n, t.data())
                           : runners.PerformVerify2F(1, 7, n, t.data()),
                  *c.verifyRun ? 0 : -5);
        std::vector<std::string> runs = {"GETLLTSTATUS 1 0"};
        if (*c.verifyRun) runs.push_back(c.verifyRun);
        EXPECT_EQ(dialogs.runs, runs) << c.length << " " << int(c.byte17) << "/" << int(c.byte615);
    }
}

TEST_F(RunnersTest, TheStatusQueryBeforeAnOperationIsFollowedByTheConfiguredDelay) {
    char text[100] = {0};
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), 0);
    EXPECT_EQ(clock.sleeps, std::vector<int>{500});  // the default
    rig.profile.Set(rig.locator.GetIniPath(), "APDU", "DELAY_AFTER_FIRSTCALL", "120");
    clock.sleeps.clear();
    runners.GetSerialNumber(1, 7, text);
    runners.GetLLTStatus(1, 7, text);  // the status query on its own waits for nothing
    EXPECT_EQ(clock.sleeps, std::vector<int>{120});
}

TEST_F(RunnersTest, EnrollCopiesAtMost600TemplateBytesAndAMyKidItsBoundedRecordAndNoPhoto) {
    dialogs.script = [](CAcqDialog& d) {
        d.m_strTemplate = std::string(1196, 'Z');
        d.m_bFullRecord = 0;
        d.m_nAltDataLen = 5000;
        std::memset(d.m_abAltData, 'K', sizeof d.m_abAltData);
        d.m_strPhoto = std::string(4000, 'P');
    };
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), 0);
    EXPECT_EQ(templ[599], 'Z');
    EXPECT_EQ(templ[600], 0);
    std::vector<uint8_t> card(2004, 0), photo(4100, 0);
    EXPECT_EQ(runners.ReadMyKAD(0, 4, card.data(), photo.data()), 0);
    EXPECT_EQ(card[0], '1');
    EXPECT_EQ(card[1999], 'K');
    EXPECT_EQ(card[2000], 0);
    EXPECT_EQ(photo[0], 0);
}

}  // namespace
}  // namespace quillon
