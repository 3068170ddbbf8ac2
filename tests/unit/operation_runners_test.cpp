// The runners: which operations they run with which show flag and port, the template check, the
// delay after the status query, and the results copied into the dispatcher's buffers.
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

// Plays each run: records "MODE show port", lets the status query succeed, then runs the test's
// script on the operation (by default it ends with 0).
class ScriptedDialogs : public IDialogRunner {
  public:
    std::vector<std::string> runs;
    std::function<void(Operation&)> script = [](Operation& op) { op.SetRetCode(0); };
    FakeHost host;

    void Run(Operation& op, bool show, int comPort) override {
        runs.push_back(Format("%s %d %d", op.Setup().name, show ? 1 : 0, comPort));
        if (op.GetMode() == Mode::kGetLltStatus && runs.size() == 1 && queryFirst != 0) {
            return op.SetRetCode(queryFirst);
        }
        script(op);
    }
    int queryFirst = 0;  // the result of a first status query; 0 leaves it to the script
};

class RunnersTest : public ::testing::Test {
  protected:
    DialogRig rig;
    ScriptedDialogs dialogs;
    FakeRegistry registry;
    FakeClock clock;
    OperationRunners runners{rig.env, dialogs, registry, clock};
};

TEST_F(RunnersTest, VerifyChecksByte17OfEachTemplateAfterTheStatusQuery) {
    const struct {
        size_t length;
        uint8_t byte17, byte615;
        int format;  // of the verify frame sent; 0: refused with -5, no verify run
    } rows[] = {{598, 2, 0, 1},  {598, 3, 0, 0},  {599, 2, 0, 0}, {1196, 2, 2, 2},
                {1196, 2, 7, 0}, {1196, 0, 2, 0}, {1197, 0, 0, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(Format("%zu %d/%d", row.length, row.byte17, row.byte615));
        // The dispatcher's buffer is larger than the template: byte 615 is there to test.
        std::vector<uint8_t> t(1300, 0x11);
        t[17] = row.byte17;
        t[615] = row.byte615;
        dialogs.runs.clear();
        std::vector<uint8_t> frame;
        dialogs.script = [&](Operation& op) {
            op.SetRetCode(0);
            dialogs.host.port.frames.clear();
            op.SendCommand(dialogs.host);
            frame = dialogs.host.port.frames.at(0);
        };
        const int n = int(row.length);
        const bool twoFingers = row.format == 2;
        EXPECT_EQ(twoFingers || (row.format == 0 && n > 1000)
                      ? runners.PerformVerify2F(1, 7, n, t.data())
                      : runners.PerformVerify(1, 7, n, t.data()),
                  row.format ? 0 : -5);
        EXPECT_EQ(Join(dialogs.runs),
                  row.format ? "GETLLTSTATUS 0 7|VERIFY 1 7" : "GETLLTSTATUS 0 7");
        if (row.format) {
            ASSERT_EQ(frame.size(), row.length + 13);
            EXPECT_EQ(frame[4], row.format == 2 ? 0xC1 : 0x01);
        }
    }
}

TEST_F(RunnersTest, AFailedStatusQueryEndsTheOperationAndASuccessfulOneIsFollowedByTheDelay) {
    uint8_t templ[600] = {0};
    char text[50] = {0};
    dialogs.queryFirst = -4;
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), -4);
    EXPECT_EQ(Join(dialogs.runs), "GETLLTSTATUS 0 7");
    EXPECT_TRUE(clock.sleeps.empty());
    dialogs.queryFirst = 0;
    dialogs.runs.clear();
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), 0);
    EXPECT_EQ(clock.sleeps, std::vector<int>{500});  // the default
    rig.profile.Set(rig.locator.GetIniPath(), "APDU", "DELAY_AFTER_FIRSTCALL", "120");
    runners.GetSerialNumber(1, 7, text);
    runners.GetLLTStatus(1, 7, text);  // the status query on its own waits for nothing
    EXPECT_EQ(clock.sleeps, (std::vector<int>{500, 120}));
    EXPECT_EQ(Join(dialogs.runs),
              "GETLLTSTATUS 0 7|ENROLL 1 7|GETLLTSTATUS 0 7|GETSN 0 7|GETLLTSTATUS 0 7");
}

TEST_F(RunnersTest, TerminalResultsAreCopiedBoundedByTheDispatchersBuffers) {
    std::vector<uint8_t> body(1300);
    for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i + 1);
    int signed_ = 40;  // signature bytes in the reply
    dialogs.script = [&](Operation& op) {
        std::vector<uint8_t> data;
        switch (op.GetMode()) {
            case Mode::kEnroll:
                data = {0x06, 0, 0};
                data.insert(data.end(), body.begin(), body.end());
                return PlayReply(op, dialogs.host, 0x27, data);
            case Mode::kGetSn:
                data = {0x06, 0, 60};
                data.insert(data.end(), 60, 'S');
                return PlayReply(op, dialogs.host, 0x25, data);
            case Mode::kGetSignature:
                data = {0, 0, 0, 0, 0, 0x06};
                data.insert(data.end(), body.begin(), body.begin() + signed_);
                return PlayReply(op, dialogs.host, 0xF3, data);
            default:
                data = {0x06, 60};
                data.insert(data.end(), 60 + 32, 'N');
                return PlayReply(op, dialogs.host, 0x23, data);
        }
    };
    std::vector<uint8_t> templ(700, 0);
    EXPECT_EQ(runners.PerformEnroll(1, 3, templ.data()), 0);
    EXPECT_EQ(templ[0], 1);
    EXPECT_EQ(templ[597], 598 & 0xFF);
    EXPECT_EQ(templ[598], 0) << "the enrolment format's 598 bytes";

    std::vector<char> text(60, 'x');
    EXPECT_EQ(runners.GetSerialNumber(0, 3, text.data()), 0);
    EXPECT_EQ(std::string(text.data()), std::string(49, 'S'));
    EXPECT_EQ(text[50], 'x') << "only the terminator after the 49 characters";
    std::fill(text.begin(), text.end(), 'x');
    EXPECT_EQ(runners.GetLLTStatus(1, 3, text.data()), 0);
    EXPECT_EQ(std::string(text.data(), 50), std::string(49, 'N') + "x") << "no terminator";

    std::vector<uint8_t> signature(50, 0xEE);
    uint32_t count = 0;
    EXPECT_EQ(runners.GetSignature(1, 3, signature.data(), &count), 0);
    EXPECT_EQ(count, 40u);
    EXPECT_EQ(signature[0], 1);
    EXPECT_EQ(signature[39], 40);
    EXPECT_EQ(signature[40], 0xEE);
    signed_ = 1;
    EXPECT_EQ(runners.GetSignature(1, 3, signature.data(), &count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(dialogs.runs.back(), "GETSIGNATURE 1 3");
}

TEST_F(RunnersTest, SetTerminalTimeSendsTwelveGivenCharactersElseTheClocksNeverShown) {
    std::string sent;
    dialogs.script = [&](Operation& op) {
        dialogs.host.port.frames.clear();
        op.SendCommand(dialogs.host);
        const std::vector<uint8_t>& f = dialogs.host.port.frames.at(0);
        sent.assign(f.begin() + 6, f.begin() + 18);
        op.SetRetCode(0);
    };
    EXPECT_EQ(runners.SetTerminalTime(5, 1, "99AB123456789"), 0);
    EXPECT_EQ(sent, "99AB12345678");
    clock.now = LocalTime{2031, 11, 30, 8, 7, 6, 0};
    EXPECT_EQ(runners.SetTerminalTime(5, 0, "ignored"), 0);
    EXPECT_EQ(sent, "311130080706");
    EXPECT_EQ(dialogs.runs,
              (std::vector<std::string>{"SET_TERMINAL_TIME 0 5", "SET_TERMINAL_TIME 0 5"}));
}

TEST_F(RunnersTest, CardReadsCopyTheRecordOfTheirCardTypeAndThePhotoOnlyWhenAsked) {
    std::vector<uint8_t> card(2002), photo(4101);
    const struct {
        bool myKad, photoMode;
        const char* name;
        std::function<int()> read;
    } rows[] = {
        {true, true, "MYKAD", [&] { return runners.ReadMyKAD(0, 4, card.data(), photo.data()); }},
        {true, false, "MYKADONLY", [&] { return runners.ReadMyKADData(0, 4, card.data()); }},
        {false, true, "MYKADNOVERIFY",
         [&] { return runners.ReadMyKADNoVerify(0, 4, card.data(), photo.data()); }},
        {true, false, "MYKADNOVERIFYNOPHOTO",
         [&] { return runners.ReadMyKADNoVerifyNoPhoto(0, 4, card.data()); }}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        dialogs.script = [&](Operation& op) {
            ReaderResult r;
            r.retCode = 0;
            r.fullRecordSet = r.openDataSet = r.altDataSet = r.photoSet = true;
            r.fullRecord = row.myKad ? 1 : 0;
            r.openDataLength = 599;
            std::memset(r.openData, 'O', 599);
            r.altDataLength = 2000;  // one more than the card buffer holds behind its type
            std::memset(r.altData, 'K', sizeof r.altData);
            r.photo = std::string(4000, 'P');
            op.TakeReaderResult(r);
        };
        std::fill(card.begin(), card.end(), 0);
        std::fill(photo.begin(), photo.end(), 0);
        EXPECT_EQ(row.read(), 0);
        EXPECT_EQ(dialogs.runs.back(), Format("%s 0 4", row.name));
        EXPECT_EQ(card[0], row.myKad ? '0' : '1');
        const size_t length = row.myKad ? 599 : 1999;
        EXPECT_EQ(card[length], row.myKad ? 'O' : 'K');
        EXPECT_EQ(card[length + 1], 0);
        EXPECT_EQ(photo[3999], row.myKad && row.photoMode ? 'P' : 0);
        EXPECT_EQ(photo[4000], 0);
    }
    dialogs.script = [](Operation& op) { op.SetRetCode(-21); };
    card[0] = 0;
    EXPECT_EQ(runners.ReadMyKADData(1, 4, card.data()), -21);
    EXPECT_EQ(card[0], 0) << "nothing copied on failure";
}

}  // namespace
}  // namespace quillon
