// The dispatcher with scripted runners: the access gate, the keyword table and the fields each
// runner gets. Every command's whole reply is played end to end (tests/e2e).
#include "command/dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "mykad_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

// Stands for the record builder: shows the command and the host's three texts.
class TextsReply : public IMyKadReply {
  public:
    std::string Build(const char* command, uint8_t*, const uint8_t*,
                      const char* const t[3]) override {
        return Format("[%s][0][%s|%s|%s]", command, t[0], t[1], t[2]);
    }
};

// Notes when the file log is opened, with which file, and when it is closed.
class RecordingLogSwitch : public ILogSwitch {
  public:
    std::vector<std::string> calls;
    void Open(const LogSettings& s) override {
        calls.push_back(s.enabled ? "open " + s.file : "open, switched off");
    }
    void Close() override { calls.push_back("close"); }
};

class DispatchTest : public ::testing::Test {
  protected:
    FakeFileSystem files;
    FakeProfile profile;
    FakeHostAddress host;
    ScriptedRunners runners;
    TextsReply mykadReply;
    IniLocator locator{files};
    std::unique_ptr<CallWorkspace> work{new CallWorkspace()};
    std::atomic<bool> busy{false};
    CommandContext context{*work, busy, locator, profile, host, runners, nullptr, &mykadReply};
    std::vector<char> reply = std::vector<char>(1 << 21, '\0');

    int Send(const std::string& request, const char* code = "QLN26") {
        std::strcpy(reply.data(), "untouched");
        return ProcessWebMessageCore(code, request.c_str(), reply.data(), context);
    }
    std::string Reply() const { return std::string(reply.data()); }
};

TEST_F(DispatchTest, OnlyTheFiveBytesOfTheAccessCodeAreComparedBeforeAnythingElse) {
    for (const char* code : {"qln26", "QLN2", ""}) {
        EXPECT_EQ(Send("[ENROLL][1][3]", code), -9999) << code;
        EXPECT_EQ(Reply(), "untouched");
    }
    EXPECT_EQ(runners.called, "");
    EXPECT_EQ(files.probes, 0) << "the settings file is not looked for before the gate";
    EXPECT_EQ(Send("[PING]", "QLN26 and more"), -1007);
}

TEST_F(DispatchTest, EachCommandRunsItsRunnerAndRepliesWithItsCode) {
    const char* const cases[][3] = {
        // request, runner called with show and port, reply; the runner answers the reply's code
        {"[GETSERIALNUMBER][1][4]", "GetSerialNumber 1 4", "[GETSERIALNUMBER][0][SN-0042][123]"},
        {"[GETSERIALNUMBER]", "GetSerialNumber 0 0", "[GETSERIALNUMBER][-30][123]"},
        {"[GETFIRMWAREVERSION][0][4]", "GetLLTStatus 0 4", "[GETFIRMWAREVERSION][-4][123]"},
        {"[GETFIRMWAREVERSION][0][4]", "GetLLTStatus 0 4",
         "[GETFIRMWAREVERSION][0][KOPERASI CONTOH][123]"},
        {"XX[ENROLL][1][3]", "PerformEnroll 1 3", "[ENROLL][-5][123]"},
        // Keywords are found anywhere in field 1, earlier ones in the table first.
        {"[XENROLLX][1][4]", "PerformEnroll 1 4", "[ENROLL][-5][123]"},
        {"[ENROLLVERIFY][0][0]", "PerformEnroll 0 0", "[ENROLL][-5][123]"},
        {"[GETSIGNATUREENROLL][0][0]", "PerformEnroll 0 0", "[ENROLL][-5][123]"},
        {"[GETSIGNATURE][1][4]", "GetSignature 1 4", "[GETSIGNATURE][-9][123]"},
        {"[VERIFY][1][4][]", "PerformVerify 1 4", "[VERIFY][-5][123]"},
        {"[VERIFY2F][1][4][]", "PerformVerify2F 1 4", "[VERIFY2F][-3][123]"},
        // The date is used when it has twelve characters, whatever they are.
        {"[SETDATETIME][4][ABCDEFGHIJKL]", "SetTerminalTime 1 ABCDEFGHIJKL -1 4",
         "[SETDATETIME][0][123]"},
        {"[SETDATETIMEVERIFY][4][2612061015]", "SetTerminalTime 0 2612061015 -1 4",
         "[SETDATETIME][-4][123]"},
        {"[READMYKAD][1][4][a][b][c]", "ReadMyKAD 1 4", "[READMYKAD][0][a|b|c]"},
        // MyKad failures echo field 1 as received.
        {"[READMYKAD][1][4]", "ReadMyKAD 1 4", "[READMYKAD][-30][123]"},
        {"[xREADMYKADNOPHOTOx][1][4]", "ReadMyKADData 1 4", "[xREADMYKADNOPHOTOx][-1][123]"},
        {"[READMYKADNOVERIFYWITHPHOTO][0][2]", "ReadMyKADNoVerify 0 2",
         "[READMYKADNOVERIFYWITHPHOTO][-2][123]"},
        {"[READMYKADNOVERIFYNOPHOTO][1][4]", "ReadMyKADNoVerifyNoPhoto 1 4",
         "[READMYKADNOVERIFYNOPHOTO][0][||]"},
        {"[enroll][1][3]", "", "[enroll][-1007][123]"},  // case-sensitive
    };
    for (const auto& c : cases) {
        runners.called = "";
        runners.result = std::atoi(std::strchr(c[2], ']') + 2);
        EXPECT_EQ(Send(c[0]), runners.result) << c[0];
        EXPECT_EQ(runners.called, c[1]);
        EXPECT_EQ(Reply(), c[2]);
    }
    context.mykadReply = nullptr;  // without a record builder a read card cannot be answered
    for (int code : {0, -30}) {
        runners.result = code;
        EXPECT_EQ(Send("[READMYKAD][1][4]"), code == 0 ? -10 : code);
        EXPECT_EQ(Reply(), code == 0 ? "[READMYKAD][-10][123]" : "[READMYKAD][-30][123]");
    }
}

// A short or missing text pads with zeros (HexDecode's own test).
TEST_F(DispatchTest, TemplatesTravelAsHexadecimalOfExactly598BytesEachWay) {
    EXPECT_EQ(Send("[ENROLL][1][2]"), 0);
    std::string digits;
    for (int i = 0; i < 598; ++i) digits += "AB";  // the runner's template is 0xAB throughout
    EXPECT_EQ(Reply(), "[ENROLL][0][" + digits + "][123]");
    Send("[VERIFY][1][2][" + std::string(1194, '0') + "7fEE]");
    ASSERT_EQ(runners.templ.size(), 598u);
    EXPECT_EQ(runners.templ[597], 0x7F) << "text past 598 bytes is ignored";
    Send("[VERIFY2F][1][2][" + std::string(1196, 'A') + std::string(1196, 'b') + "]");
    ASSERT_EQ(runners.templ.size(), 1196u);
    EXPECT_EQ(runners.templ[597], 0xAA);
    EXPECT_EQ(runners.templ[598], 0xBB);
    EXPECT_EQ(runners.templ[1195], 0xBB);
}

TEST_F(DispatchTest, BranchStatusIsOneWhileTheNameHoldsEmptyAnywhere) {
    profile.Set(locator.GetIniPath(), "BRANCH", "NAME", "EMPTYVILLE");
    host.address = "";
    EXPECT_EQ(Send("[GETBRANCHCODE]"), 0);
    EXPECT_EQ(Reply(), "[GETBRANCHCODE][1][EMPTY][EMPTYVILLE][][123]");
}

TEST_F(DispatchTest, OverLongFieldsAreCutNeverCopiedPast) {
    const std::string huge(3 << 20, 'Q');  // field 1 alone is played end to end
    Send("[GETSERIALNUMBER][" + huge + "][" + huge + "]");
    EXPECT_EQ(runners.called, "GetSerialNumber 0 0");
    Send("[VERIFY2F][1][1][" + huge + "]");
    EXPECT_EQ(runners.templ.size(), 1196u);
    // The host's three MyKad texts are cut to 19 characters and emptied for every command.
    Send("[READMYKAD][1][1][" + huge + "][" + huge + "][BR01]");
    const std::string cut(19, 'Q');
    EXPECT_EQ(Reply(), "[READMYKAD][0][" + cut + "|" + cut + "|BR01]");
    Send("[READMYKAD][1][1]");
    EXPECT_EQ(Reply(), "[READMYKAD][0][||]");
}

// A second request while one runs (a host's window procedure during the dialog, or another
// thread) is refused without touching the running call or its file log; the gate comes first.
TEST_F(DispatchTest, SecondCallDuringACallIsRefusedWithMinus1008AndTheLogOpensOncePerCall) {
    RecordingLogSwitch logSwitch;
    context.logSwitch = &logSwitch;
    Send("[PING]", "XXXXX");
    Send("[PING]");
    EXPECT_EQ(logSwitch.calls, (std::vector<std::string>{"open, switched off", "close"}));
    profile.Set(locator.GetIniPath(), "DEBUG", "ENABLE", "1");
    profile.Set(locator.GetIniPath(), "DEBUG", "FILE", "D:\\trace.txt");
    logSwitch.calls.clear();
    int innerCode = 0, wrongCode = 0;
    char inner[64] = "untouched";
    runners.during = [&] {
        logSwitch.calls.push_back("runner");
        wrongCode = ProcessWebMessageCore("XXXXX", "[PING]", inner, context);
        innerCode = ProcessWebMessageCore("QLN26", "[GETBRANCHCODE]", inner, context);
    };
    EXPECT_EQ(Send("[GETSERIALNUMBER][0][3]"), 0);
    EXPECT_EQ(Reply(), "[GETSERIALNUMBER][0][SN-0042][123]");
    EXPECT_EQ(std::make_tuple(wrongCode, innerCode, std::string(inner)),
              std::make_tuple(-9999, -1008, std::string("[GETBRANCHCODE][-1008][123]")));
    runners.during = nullptr;
    EXPECT_EQ(Send("[PING]"), -1007) << "once the first call returned, the next one runs";
    EXPECT_EQ(logSwitch.calls, (std::vector<std::string>{"open D:\\trace.txt", "runner", "close",
                                                         "open D:\\trace.txt", "close"}));
}

// The signature area is cleared for every call; the text holds at most 524287 bytes' digits.
TEST_F(DispatchTest, SignatureRepliesTheBytesTheRunnerCountedInHexAndNothingOfAnEarlierOne) {
    const struct {
        std::vector<uint8_t> data;
        uint32_t count;
        size_t digits;  // hexadecimal digits in the reply
        const char* startsWith;
    } cases[] = {
        {{0x00, 0x01, 0x7F, 0xFF, 0xEE}, 4, 8, "[GETSIGNATURE][0][00017FFF]"},
        {{}, 0, 0, "[GETSIGNATURE][0][]"},  // the earlier call's bytes and count are gone
        {{0xC3}, 524287, 1048574, "[GETSIGNATURE][0][C3000000"},
        {{0xC3}, 524288, 1048574, "[GETSIGNATURE][0][C3000000"},
    };
    for (const auto& c : cases) {
        runners.signature = c.data;
        runners.signatureCount = c.count;
        EXPECT_EQ(Send("[GETSIGNATURE][0][3]"), 0);
        const std::string text = Reply();
        EXPECT_EQ(text.compare(0, std::strlen(c.startsWith), c.startsWith), 0) << c.count;
        EXPECT_EQ(text.size(), std::strlen("[GETSIGNATURE][0][][123]") + c.digits) << c.count;
        EXPECT_EQ(text.substr(text.size() - 6), "][123]");
    }
}

}  // namespace
}  // namespace quillon
