// The dispatcher with scripted runners, its field and number readers, and what the log keeps.
#include "command/dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command/fields.h"
#include "command/reply_log.h"
#include "mykad_fakes.h"
#include "quillon.h"

namespace quillon {
namespace {

using namespace testing_support;

// Stands for the record builder: shows the keyword, the reader's mode and the host's texts.
class TextsReply : public IMyKadReply {
  public:
    std::string Build(const char* keyword, const ModeSetup& reader, uint8_t*, const uint8_t*,
                      const char* const t[3]) override {
        return Format("[%s][0][", keyword) + reader.name + Format(":%s|%s|%s]", t[0], t[1], t[2]);
    }
};

class RecordingLogSwitch : public ILogSwitch {
  public:
    std::vector<std::string> calls;
    void Open(const LogSettings& s) override { calls.push_back("open " + s.file); }
    void Close() override { calls.push_back("close"); }
};

// Notes where in the call the preparation runs (the Win32 services load the reader library).
struct RecordingPreparation : ICallPreparation {
    explicit RecordingPreparation(std::vector<std::string>& c) : calls(c) {}
    void Prepare() override { calls.push_back("prepare"); }
    std::vector<std::string>& calls;
};

class DispatchTest : public ::testing::Test {
  protected:
    FakeFileSystem files;
    FakeProfile profile;
    FakeHostAddress host;
    TextsReply mykadReply;
    IniLocator locator{files};
    CommandRig rig{locator, profile, host, &mykadReply};
    ScriptedRunners& runners = rig.runners;
    CommandContext& context = rig.context;
    // Exactly the documented room: ASan reports a reply that outgrows it.
    std::vector<char> reply = std::vector<char>(QUILLON_REPLY_MAX, '\0');

    int Send(const std::string& request, const char* code = "QLN26") {
        std::strcpy(reply.data(), "untouched");
        return ProcessWebMessageCore(code, request.c_str(), reply.data(), context);
    }
    std::string Reply() const { return std::string(reply.data()); }
};

TEST_F(DispatchTest, EachCommandRunsItsRunnerAndRepliesWithItsCode) {
    const char* const cases[][3] = {
        // request, runner called with show and port, reply; the runner answers the reply's code
        {"[GETSERIALNUMBER]", "GetSerialNumber 0 0", "[GETSERIALNUMBER][-30][123]"},
        {"[GETFIRMWAREVERSION][0][4]", "GetLLTStatus 0 4", "[GETFIRMWAREVERSION][-4][123]"},
        {"XX[ENROLL][1][3]", "PerformEnroll 1 3", "[ENROLL][-5][123]"},
        // Keywords are found anywhere in field 1, earlier ones in the table first.
        {"[ENROLLVERIFY][0][0]", "PerformEnroll 0 0", "[ENROLL][-5][123]"},
        {"[GETSIGNATUREENROLL][0][0]", "PerformEnroll 0 0", "[ENROLL][-5][123]"},
        {"[ENROLL2][1][3]", "PerformEnroll 1 3", "[ENROLL][-5][123]"},
        {"[GETSIGNATURE][0][3]", "GetSignature 0 3", "[GETSIGNATURE][-9][123]"},
        // The date is used when it has twelve characters, whatever they are.
        {"[SETDATETIME][4][ABCDEFGHIJKL]", "SetTerminalTime 1 ABCDEFGHIJKL -1 4",
         "[SETDATETIME][0][123]"},
        {"[SETDATETIMEVERIFY][4][ABCDEFGHIJK]", "SetTerminalTime 0 ABCDEFGHIJK -1 4",
         "[SETDATETIME][-4][123]"},
        {"[SETDATETIME][4][ABCDEFGHIJKLM]", "SetTerminalTime 0 ABCDEFGHIJKLM -1 4",
         "[SETDATETIME][0][123]"},
        {"[READMYKAD][1][4][a][b][c]", "MYKAD 1 4", "[READMYKAD][0][MYKAD:a|b|c]"},
        // The runner's mode is the one the reply is built for, named by the keyword found.
        {"[READMYKADNOVERIFYWITHPHOTO+NOPHOTO][0][4]", "MYKADNOVERIFY 0 4",
         "[READMYKADNOVERIFYWITHPHOTO][0][MYKADNOVERIFY:||]"},
        {"[READMYKAD-NOPHOTO][0][4]", "MYKAD 0 4", "[READMYKAD][0][MYKAD:||]"},
        // MyKad failures echo field 1 as received.
        {"[xREADMYKADNOPHOTOx][1][4]", "MYKADONLY 1 4", "[xREADMYKADNOPHOTOx][-1][123]"},
        {"[READMYKADNOVERIFYNOPHOTO][1][4]", "MYKADNOVERIFYNOPHOTO 1 4",
         "[READMYKADNOVERIFYNOPHOTO][-1][123]"},
        {"[enroll][1][3]", "", "[enroll][-1007][123]"},  // case-sensitive
        {"", "", "[][-1007][123]"},
    };
    for (const auto& c : cases) {
        runners.called = "";
        runners.result = std::atoi(std::strchr(c[2], ']') + 2);
        EXPECT_EQ(Send(c[0]), runners.result) << c[0];
        EXPECT_EQ(runners.called, c[1]);
        EXPECT_EQ(Reply(), c[2]);
    }
    context.mykadReply = nullptr;  // without a record builder a read card cannot be answered
    runners.result = 0;
    EXPECT_EQ(Send("[READMYKAD][1][4]"), -10);
    EXPECT_EQ(Reply(), "[READMYKAD][-10][123]");
}

// A card read's steps in the log; of the host's texts only their lengths.
TEST_F(DispatchTest, ACardReadLogsItsStepsAndOfTheTextsOnlyTheirLengths) {
    CapturingLog log;
    EXPECT_EQ(Send("[READMYKAD][1][4][a][bb][ccc]"), 0);
    log.lines.pop_back();  // the reply, as the reply log's own test has it
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"Before Checking", "show 1, port 4", "text 1: 1 characters",
                                        "text 2: 2 characters", "text 3: 3 characters",
                                        "Before Calling Read MyKad", "After Calling Read MyKad",
                                        "MYKAD RET = 0", "MYKAD DATA GOT"}));
}

// Each text is cut to its buffer: the code and the address to 49 characters, the name to 149.
TEST_F(DispatchTest, BranchStatusIsOneWhileTheNameHoldsEmptyAnywhere) {
    profile.Set(locator.GetIniPath(), "BRANCH", "NAME", "EMPTYVILLE" + std::string(200, 'N'));
    profile.Set(locator.GetIniPath(), "BRANCH", "CODE", std::string(60, 'C'));
    host.address = std::string(60, '9');
    EXPECT_EQ(Send("[GETBRANCHCODE]"), 0);
    EXPECT_EQ(Reply(), "[GETBRANCHCODE][1][" + std::string(49, 'C') + "][EMPTYVILLE" +
                           std::string(139, 'N') + "][" + std::string(49, '9') + "][123]");
}

// Templates are read as exactly 598 bytes each; the host's MyKad texts as 19 characters.
TEST_F(DispatchTest, TemplatesAndOverLongFieldsAreCutNeverCopiedPast) {
    Send("[VERIFY][1][2][" + std::string(1194, '0') + "7fEE" + std::string(2000, '1') + "]");
    ASSERT_EQ(runners.templ.size(), 598u);
    EXPECT_EQ(runners.templ[597], 0x7F) << "text past 598 bytes is ignored";
    const std::string huge(3 << 20, 'A');
    Send("[VERIFY2F][1][1][" + std::string(1196, 'b') + huge + "]");
    ASSERT_EQ(runners.templ.size(), 1196u);
    EXPECT_EQ(runners.templ[597], 0xBB);
    EXPECT_EQ(runners.templ[598], 0xAA);
    Send("[READMYKAD][1][1][" + huge + "][" + huge + "][" + huge + "]");
    const std::string cut(19, 'A');
    EXPECT_EQ(Reply(), "[READMYKAD][0][MYKAD:" + cut + "|" + cut + "|" + cut + "]");
    Send("[READMYKAD][1][1]");
    EXPECT_EQ(Reply(), "[READMYKAD][0][MYKAD:||]") << "no texts of the call before";
    // Show and port as 49 characters: the 50th digit is not read.
    Send("[ENROLL][" + std::string(49, '0') + "1][" + std::string(48, '0') + "12]");
    EXPECT_EQ(runners.called, "PerformEnroll 0 1");
    // A date over the buffer is cut to 49 digits, so not the twelve that are used.
    Send("[SETDATETIME][4][" + std::string(80, '1') + "]");
    EXPECT_EQ(runners.called, "SetTerminalTime 0 " + std::string(49, '1') + " -1 4");
}

// A call during a call (the dialog's window procedure, another thread) leaves the first alone.
TEST_F(DispatchTest, SecondCallDuringACallIsRefusedWithMinus1008AndTheLogOpensOncePerCall) {
    RecordingLogSwitch logSwitch;
    context.logSwitch = &logSwitch;
    // Only a call that holds the busy flag prepares: two first calls never prepare at once.
    RecordingPreparation preparation(logSwitch.calls);
    context.preparation = &preparation;
    profile.Set(locator.GetIniPath(), "DEBUG", "ENABLE", "1");
    profile.Set(locator.GetIniPath(), "DEBUG", "FILE", "D:\\trace.txt");
    Send("[PING]", "XXXXX");
    int innerCode = 0, wrongCode = 0;
    char inner[64] = "untouched";
    runners.during = [&] {
        logSwitch.calls.push_back("runner");
        wrongCode = ProcessWebMessageCore("XXXXX", "[PING]", inner, context);
        innerCode = ProcessWebMessageCore("QLN26", "[GETBRANCHCODE]", inner, context);
    };
    EXPECT_EQ(Send("[GETSERIALNUMBER][0][3]"), 0);
    EXPECT_EQ(Reply(), "[GETSERIALNUMBER][0][SN-0042][123]");
    EXPECT_EQ(wrongCode, -9999) << "the gate comes first";
    EXPECT_EQ(Format("%d %s", innerCode, inner), "-1008 [GETBRANCHCODE][-1008][123]");
    runners.during = nullptr;
    EXPECT_EQ(Send("[PING]"), -1007) << "once the first call returned, the next one runs";
    EXPECT_EQ(logSwitch.calls,
              (std::vector<std::string>{"prepare", "open D:\\trace.txt", "runner", "close",
                                        "prepare", "open D:\\trace.txt", "close"}));
}

// The signature area is cleared per call; a reply holds at most one frame's 2180 bytes.
TEST_F(DispatchTest, SignatureRepliesTheBytesTheRunnerCountedInHexAndNothingOfAnEarlierOne) {
    const struct {
        std::vector<uint8_t> data;
        uint32_t count;
        std::string hex;  // then zero bytes up to the count
    } cases[] = {{{0x00, 0x01, 0x7F, 0xFF, 0xEE}, 4, "00017FFF"},
                 {{}, 0, ""},
                 {{0xC3}, 2180, "C3" + std::string(4358, '0')},
                 {{0xC3}, 2181, "C3" + std::string(4358, '0')}};
    for (const auto& c : cases) {
        runners.signature = c.data, runners.signatureCount = c.count;
        EXPECT_EQ(Send("[GETSIGNATURE][0][3]"), 0);
        EXPECT_EQ(Reply(), "[GETSIGNATURE][0][" + c.hex + "][123]") << c.count;
    }
}

}  // namespace
}  // namespace quillon
