// The runners: the operations they run with which show flag and port, the template check, the
// delay after the status query, and the results copied into the dispatcher's buffers.
#include "command/operation_runners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "dialog_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

// Notes each run as "MODE show port" and plays the test's script on it (by default: the
// command is sent and succeeds).
struct ScriptedDialogs : IDialogRunner {
    std::vector<std::string> runs;
    FakeHost host;
    std::function<void(Operation&)> script = [this](Operation& op) {
        op.SendCommand(host);
        op.SetRetCode(0);
    };
    void Run(Operation& op, bool show, int comPort) override {
        runs.push_back(Format("%s %d %d", op.Setup().name, show ? 1 : 0, comPort));
        script(op);
    }
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
        const int n = int(row.length);
        EXPECT_EQ(row.format == 2 || (row.format == 0 && n > 1000)
                      ? runners.PerformVerify2F(1, 7, n, t.data())
                      : runners.PerformVerify(1, 7, n, t.data()),
                  row.format ? 0 : -5);
        EXPECT_EQ(Join(dialogs.runs),
                  row.format ? "GETLLTSTATUS 0 7|VERIFY 1 7" : "GETLLTSTATUS 0 7");
        const std::vector<uint8_t>& frame = dialogs.host.port.frames.back();
        EXPECT_EQ(frame.size(), row.format ? row.length + 13 : 6u);
        EXPECT_EQ(frame[4], row.format == 2 ? 0xC1 : row.format ? 0x01 : 0x23);
    }
}

TEST_F(RunnersTest, AFailedStatusQueryEndsTheOperationAndASuccessfulOneIsFollowedByTheDelay) {
    uint8_t templ[600] = {0};
    char text[50] = {0};
    dialogs.script = [](Operation& op) {
        op.SetRetCode(op.GetMode() == Mode::kGetLltStatus ? -4 : 0);
    };
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), -4);
    EXPECT_EQ(Join(dialogs.runs), "GETLLTSTATUS 0 7");
    EXPECT_TRUE(clock.sleeps.empty());
    dialogs.script = [](Operation& op) { op.SetRetCode(0); };
    dialogs.runs.clear();
    EXPECT_EQ(runners.PerformEnroll(1, 7, templ), 0);
    EXPECT_EQ(clock.sleeps, std::vector<int>{500});  // the default
    rig.profile.Set(rig.locator.GetIniPath(), "APDU", "DELAY_AFTER_FIRSTCALL", "120");
    runners.QueryText(Mode::kGetSn, 1, 7, text);
    runners.QueryText(Mode::kGetLltStatus, 1, 7, text);  // on its own it waits for nothing
    EXPECT_EQ(clock.sleeps, (std::vector<int>{500, 120}));
    EXPECT_EQ(Join(dialogs.runs),
              "GETLLTSTATUS 0 7|ENROLL 1 7|GETLLTSTATUS 0 7|GETSN 0 7|GETLLTSTATUS 0 7");
}

TEST_F(RunnersTest, TerminalResultsAreCopiedBoundedByTheDispatchersBuffers) {
    std::vector<uint8_t> body(1300);
    for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i + 1);
    std::map<Mode, std::pair<uint8_t, std::vector<uint8_t>>> replies = {
        {Mode::kEnroll, {0x27, {0x06, 0, 0}}},
        {Mode::kGetSn, {0x25, {0x06, 0, 60}}},
        {Mode::kGetLltStatus, {0x23, {0x06, 60}}},
        {Mode::kGetSignature, {0xF3, {0, 0, 0, 0, 0, 0x06}}}};
    std::vector<uint8_t>& signature = replies[Mode::kGetSignature].second;
    replies[Mode::kEnroll].second.insert(replies[Mode::kEnroll].second.end(), body.begin(),
                                         body.end());
    replies[Mode::kGetSn].second.resize(3 + 60, 'S');
    replies[Mode::kGetLltStatus].second.resize(2 + 60 + 32, 'S');
    signature.insert(signature.end(), body.begin(), body.begin() + 40);
    dialogs.script = [&](Operation& op) {
        const auto& reply = replies[op.GetMode()];
        PlayReply(op, dialogs.host, reply.first, reply.second);
    };
    std::vector<uint8_t> templ(700, 0);
    EXPECT_EQ(runners.PerformEnroll(1, 3, templ.data()), 0);
    EXPECT_EQ(Format("%d %d %d", templ[0], templ[597], templ[598]), "1 86 0") << "598 bytes";

    for (const Mode mode : {Mode::kGetSn, Mode::kGetLltStatus}) {
        std::vector<char> text(60, 'x');
        EXPECT_EQ(runners.QueryText(mode, 0, 3, text.data()), 0);
        EXPECT_EQ(std::string(text.data(), 51), std::string(49, 'S') + '\0' + 'x');
    }

    std::vector<uint8_t> out(50, 0xEE);
    uint32_t count = 0;
    EXPECT_EQ(runners.GetSignature(1, 3, out.data(), &count), 0);
    EXPECT_EQ(Format("%u %d %d %d", count, out[0], out[39], out[40]), "40 1 40 238");
    signature.resize(6 + 1);
    EXPECT_EQ(runners.GetSignature(1, 3, out.data(), &count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(dialogs.runs.back(), "GETSIGNATURE 1 3");
}

TEST_F(RunnersTest, SetTerminalTimeSendsTwelveGivenCharactersElseTheClocksNeverShown) {
    const auto sent = [this] {
        const std::vector<uint8_t>& f = dialogs.host.port.frames.back();
        return std::string(f.begin() + 6, f.begin() + 18);
    };
    EXPECT_EQ(runners.SetTerminalTime(5, 1, "99AB123456789"), 0);
    EXPECT_EQ(sent(), "99AB12345678");
    clock.now = LocalTime{2031, 11, 30, 8, 7, 6, 0};
    EXPECT_EQ(runners.SetTerminalTime(5, 0, "ignored"), 0);
    EXPECT_EQ(sent(), "311130080706");
    EXPECT_EQ(Join(dialogs.runs), "SET_TERMINAL_TIME 0 5|SET_TERMINAL_TIME 0 5");
}

TEST_F(RunnersTest, CardReadsCopyTheRecordOfTheirCardTypeAndThePhotoOnlyWhenAsked) {
    std::vector<uint8_t> card(2002), photo(4101);
    ReaderResult r;  // a record of each type, each one byte more than the card buffer holds
    r.fullRecordSet = r.openDataSet = r.altDataSet = r.photoSet = true;
    r.openDataLength = 599;
    std::memset(r.openData, 'O', 599);
    r.altDataLength = 2000;
    std::memset(r.altData, 'K', sizeof r.altData);
    r.photo = std::string(4000, 'P');
    dialogs.script = [&](Operation& op) { op.TakeReaderResult(r); };
    // The result, the run, the card type and the bytes written to each buffer.
    const auto read = [&](int result) {
        const auto written = [](std::vector<uint8_t>& b) {
            const long n = long(b.size()) - std::count(b.begin(), b.end(), 0);
            return std::fill(b.begin(), b.end(), 0), n;
        };
        const char type = char(card[0] ? card[0] : '-');
        return Format("%d ", result) + dialogs.runs.back() +
               Format(" %c %ld", type, written(card)) + Format(" %ld", written(photo));
    };
    EXPECT_EQ(read(runners.ReadCard(Mode::kMyKad, 0, 4, card.data(), photo.data())),
              "0 MYKAD 0 4 0 600 4000");
    EXPECT_EQ(read(runners.ReadCard(Mode::kMyKadOnly, 0, 4, card.data(), photo.data())),
              "0 MYKADONLY 0 4 0 600 0");
    EXPECT_EQ(read(runners.ReadCard(Mode::kMyKadNoVerifyNoPhoto, 0, 4, card.data(), photo.data())),
              "0 MYKADNOVERIFYNOPHOTO 0 4 0 600 0");
    r.fullRecord = 0;  // a MyKid's: no photo even when asked
    EXPECT_EQ(read(runners.ReadCard(Mode::kMyKadNoVerify, 0, 4, card.data(), photo.data())),
              "0 MYKADNOVERIFY 0 4 1 2000 0");
    r.retCode = -21;
    EXPECT_EQ(read(runners.ReadCard(Mode::kMyKadOnly, 1, 4, card.data(), photo.data())),
              "-21 MYKADONLY 1 4 - 0 0");
}

}  // namespace
}  // namespace quillon
