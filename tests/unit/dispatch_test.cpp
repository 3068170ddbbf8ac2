#include "command/dispatch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

// Records which runner ran with which arguments and answers with a scripted code and data.
class RecordingRunners : public IRunners {
public:
    std::string called;
    int show = -100, port = -100, useGiven = -1, result = 0;
    std::vector<uint8_t> templ, data = {0xDE, 0xAD, 0x01};  // template or signature handed back
    std::string dateTime;
    std::function<void()> during;  // runs inside the runner

    int PerformEnroll(int s, int p, uint8_t* out) override {
        std::memcpy(out, data.data(), std::min<size_t>(data.size(), 600));
        return Note("PerformEnroll", s, p);
    }
    int PerformVerify(int s, int p, int len, const uint8_t* t) override {
        templ.assign(t, t + len);
        return Note("PerformVerify", s, p);
    }
    int PerformVerify2F(int s, int p, int len, const uint8_t* t) override {
        templ.assign(t, t + len);
        return Note("PerformVerify2F", s, p);
    }
    int GetSerialNumber(int s, int p, char* out) override {
        std::strcpy(out, "SN-0042");
        return Note("GetSerialNumber", s, p);
    }
    int GetLLTStatus(int s, int p, char* out) override {
        std::strcpy(out, "LLT 7");
        return Note("GetLLTStatus", s, p);
    }
    int SetTerminalTime(int p, int given, const char* t) override {
        useGiven = given;
        dateTime = t;
        return Note("SetTerminalTime", -1, p);
    }
    int GetSignature(int s, int p, uint8_t* out, uint32_t* count) override {
        if (!data.empty()) std::memcpy(out, data.data(), data.size());
        *count = static_cast<uint32_t>(data.size());
        return Note("GetSignature", s, p);
    }
    int ReadMyKAD(int s, int p, uint8_t* card, uint8_t*) override {
        return Card("ReadMyKAD", s, p, card);
    }
    int ReadMyKADData(int s, int p, uint8_t* card) override {
        return Card("ReadMyKADData", s, p, card);
    }
    int ReadMyKADNoVerify(int s, int p, uint8_t* card, uint8_t*) override {
        return Card("ReadMyKADNoVerify", s, p, card);
    }
    int ReadMyKADNoVerifyNoPhoto(int s, int p, uint8_t* card) override {
        return Card("ReadMyKADNoVerifyNoPhoto", s, p, card);
    }

private:
    int Note(const char* name, int s, int p) {
        called = name;
        show = s;
        port = p;
        if (during) during();
        return result;
    }
    int Card(const char* name, int s, int p, uint8_t* card) {
        card[0] = '0';
        return Note(name, s, p);
    }
};

class FakeMyKadReply : public IMyKadReply {
public:
    std::vector<std::string> texts;
    std::string Build(const char* command, uint8_t* card, const uint8_t*,
                      const char* const t[3]) override {
        texts.assign(t, t + 3);
        return std::string("[") + command + "][0][" + static_cast<char>(card[0]) + "][record]";
    }
};

class DispatchTest : public ::testing::Test {
protected:
    FakeFileSystem files;
    FakeProfile profile;
    FakeHostAddress host;
    RecordingRunners runners;
    FakeMyKadReply mykad;
    IniLocator locator{files};
    CommandContext context{locator, profile, host, runners, nullptr, &mykad};
    std::vector<char> reply = std::vector<char>(1 << 21, '\0');

    int Send(const std::string& request) {
        std::fill(reply.begin(), reply.end(), '\0');
        return ProcessWebMessageCore("QLN26", request.c_str(), reply.data(), context);
    }
    std::string Reply() const { return std::string(reply.data()); }
};

TEST_F(DispatchTest, WrongAccessCodeLeavesReplyUntouchedAndRunsNothing) {
    for (const char* code : {"QLN25", "qln26", "QLN2", "", "XLN26"}) {
        std::strcpy(reply.data(), "untouched");
        EXPECT_EQ(ProcessWebMessageCore(code, "[ENROLL][1][3]", reply.data(), context), -9999)
            << code;
        EXPECT_STREQ(reply.data(), "untouched");
    }
    EXPECT_EQ(runners.called, "");
    EXPECT_EQ(files.probes, 0) << "the settings file is not looked for before the gate";
    // Only five bytes are compared.
    EXPECT_EQ(ProcessWebMessageCore("QLN26 and more", "[PING]", reply.data(), context), -1007);
}

TEST_F(DispatchTest, EachCommandRunsItsRunnerAndRepliesWithItsCode) {
    struct Case {
        const char* request;
        int result;
        const char* runner;
        const char* reply;
    };
    const Case cases[] = {
        {"[GETSERIALNUMBER][0][4]", 0, "GetSerialNumber", "[GETSERIALNUMBER][0][SN-0042][123]"},
        {"[GETSERIALNUMBER][0][4]", -30, "GetSerialNumber", "[GETSERIALNUMBER][-30][123]"},
        {"[GETFIRMWAREVERSION][0][4]", 0, "GetLLTStatus", "[GETFIRMWAREVERSION][0][LLT 7][123]"},
        {"[GETFIRMWAREVERSION][0][4]", -4, "GetLLTStatus", "[GETFIRMWAREVERSION][-4][123]"},
        {"[ENROLL][1][4]", -5, "PerformEnroll", "[ENROLL][-5][123]"},
        // Keywords are found anywhere in field 1, earlier ones in the table first.
        {"[XENROLLX][1][4]", -5, "PerformEnroll", "[ENROLL][-5][123]"},
        {"[ENROLLVERIFY][0][0]", -5, "PerformEnroll", "[ENROLL][-5][123]"},
        {"[GETSIGNATUREENROLL][0][0]", -5, "PerformEnroll", "[ENROLL][-5][123]"},
        {"[GETSIGNATURE][1][4]", 0, "GetSignature", "[GETSIGNATURE][0][DEAD01][123]"},
        {"[GETSIGNATURE][1][4]", -9, "GetSignature", "[GETSIGNATURE][-9][123]"},
        {"[VERIFY][1][4][]", 0, "PerformVerify", "[VERIFY][0][123]"},
        {"[VERIFY][1][4][]", -5, "PerformVerify", "[VERIFY][-5][123]"},
        {"[VERIFY2F][1][4][]", -3, "PerformVerify2F", "[VERIFY2F][-3][123]"},
        {"[SETDATETIME][4][x]", -4, "SetTerminalTime", "[SETDATETIME][-4][123]"},
        {"[SETDATETIMEVERIFY][4][x]", 0, "SetTerminalTime", "[SETDATETIME][0][123]"},
        {"[READMYKAD][1][4][a][b][c]", -30, "ReadMyKAD", "[READMYKAD][-30][123]"},
        {"[READMYKAD][1][4][a][b][c]", 0, "ReadMyKAD", "[READMYKAD][0][0][record]"},
        // MyKad failures echo field 1 as received.
        {"[xREADMYKADNOPHOTOx][1][4]", -1, "ReadMyKADData", "[xREADMYKADNOPHOTOx][-1][123]"},
        {"[READMYKADNOVERIFYWITHPHOTO][1][4]", -2, "ReadMyKADNoVerify",
         "[READMYKADNOVERIFYWITHPHOTO][-2][123]"},
        {"[READMYKADNOVERIFYNOPHOTO][1][4]", -9, "ReadMyKADNoVerifyNoPhoto",
         "[READMYKADNOVERIFYNOPHOTO][-9][123]"},
        {"[PING]", -1007, "", "[PING][-1007][123]"},
        {"[enroll][1][3]", -1007, "", "[enroll][-1007][123]"},  // case-sensitive
        {"", -1007, "", "[][-1007][123]"},
    };
    for (const Case& c : cases) {
        runners.called = "";
        runners.result = c.result;
        EXPECT_EQ(Send(c.request), c.result) << c.request;
        EXPECT_EQ(runners.called, c.runner) << c.request;
        EXPECT_EQ(Reply(), c.reply);
    }
}

TEST_F(DispatchTest, ShowAndPortComeFromFieldsTwoAndThree) {
    Send("XX[ENROLL][1][3]");
    EXPECT_EQ(runners.show, 1);
    EXPECT_EQ(runners.port, 3);
    Send("[GETSERIALNUMBER]");
    EXPECT_EQ(runners.show, 0);
    EXPECT_EQ(runners.port, 0);
}

TEST_F(DispatchTest, EnrollRepliesWith598TemplateBytesAs1196HexDigits) {
    runners.data.resize(600);
    for (size_t i = 0; i < 600; ++i) runners.data[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(Send("[ENROLL][1][0]"), 0);
    const std::string r = Reply();
    ASSERT_EQ(r.size(), std::string("[ENROLL][0][][123]").size() + 1196);
    EXPECT_EQ(r.substr(0, 18), "[ENROLL][0][000102");
    EXPECT_EQ(r.substr(12 + 1194), "55][123]") << "byte 597 is the last one sent";
}

TEST_F(DispatchTest, SignatureBuffersAreClearedBeforeEachCall) {
    runners.data = {1, 2, 3, 4};
    Send("[GETSIGNATURE][0][0]");
    runners.data = {9};
    Send("[GETSIGNATURE][0][0]");
    EXPECT_EQ(Reply(), "[GETSIGNATURE][0][09][123]");
    runners.data.clear();
    Send("[GETSIGNATURE][0][0]");
    EXPECT_EQ(Reply(), "[GETSIGNATURE][0][][123]");
}

TEST_F(DispatchTest, VerifyTemplatesAreDecodedFromField4PaddedWithZeros) {
    Send("[VERIFY][1][2][" + std::string(1194, '0') + "7fEE]");
    ASSERT_EQ(runners.templ.size(), 598u);
    EXPECT_EQ(runners.templ[597], 0x7F) << "text past 598 bytes is ignored";
    Send("[VERIFY][1][2][0102]");
    EXPECT_EQ(runners.templ[1], 2);
    EXPECT_EQ(runners.templ[2], 0);
    Send("[VERIFY][1][2]");
    EXPECT_EQ(runners.templ, std::vector<uint8_t>(598, 0));
    Send("[VERIFY2F][1][2][" + std::string(1196, 'A') + std::string(1196, 'b') + "]");
    ASSERT_EQ(runners.templ.size(), 1196u);
    EXPECT_EQ(runners.templ[597], 0xAA);
    EXPECT_EQ(runners.templ[598], 0xBB);
    EXPECT_EQ(runners.templ[1195], 0xBB);
}

TEST_F(DispatchTest, SetDateTimeUsesTheFieldOnlyWhenItIsTwelveCharacters) {
    for (const char* field : {"261206101500", "26120610150", "2612061015001", ""}) {
        Send(std::string("[SETDATETIME][7][") + field + "]");
        EXPECT_EQ(runners.port, 7) << "the port comes from field 2";
        EXPECT_EQ(runners.useGiven, std::strlen(field) == 12 ? 1 : 0) << field;
        EXPECT_EQ(runners.dateTime, field);
    }
}

TEST_F(DispatchTest, MyKadTextsReachTheRecordCutTo19Characters) {
    Send("[READMYKAD][1][0][" + std::string(40, 'N') + "][BR01][OPERATOR]");
    EXPECT_EQ(mykad.texts, (std::vector<std::string>{std::string(19, 'N'), "BR01", "OPERATOR"}));
    Send("[READMYKAD][1][0]");
    EXPECT_EQ(mykad.texts[0], "") << "texts are emptied for every MyKad command";
}

TEST_F(DispatchTest, GetBranchCodeReturnsZeroWithStatusOneUntilTheNameIsSet) {
    files.files.insert(".\\QUILLON.ini");
    profile.Set(".\\QUILLON.ini", "BRANCH", "CODE", "B042");
    EXPECT_EQ(Send("[GETBRANCHCODE]"), 0);
    EXPECT_EQ(Reply(), "[GETBRANCHCODE][1][B042][EMPTY][192.0.2.2][123]");
    profile.Set(".\\QUILLON.ini", "BRANCH", "NAME", "Kuala Lumpur Sentral");
    EXPECT_EQ(Send("[GETBRANCHCODE]"), 0);
    EXPECT_EQ(Reply(), "[GETBRANCHCODE][0][B042][Kuala Lumpur Sentral][192.0.2.2][123]");
}

TEST_F(DispatchTest, GetBranchCodeCutsLongSettingsAndToleratesNoAddress) {
    files.files.insert(".\\QUILLON.ini");
    profile.Set(".\\QUILLON.ini", "BRANCH", "CODE", std::string(249, 'C'));
    profile.Set(".\\QUILLON.ini", "BRANCH", "NAME", "EMPTYVILLE" + std::string(239, 'n'));
    host.address = "";
    EXPECT_EQ(Send("[GETBRANCHCODE]"), 0);
    EXPECT_EQ(Reply(), "[GETBRANCHCODE][1][" + std::string(49, 'C') + "][EMPTYVILLE" +
                           std::string(139, 'n') + "][][123]");
}

TEST_F(DispatchTest, OverLongFieldsAreCutNeverCopiedPast) {
    const std::string huge(3 << 20, 'Q');
    EXPECT_EQ(Send("[" + huge + "]"), -1007);
    EXPECT_EQ(Reply(), "[" + std::string(499, 'Q') + "][-1007][123]");
    Send("[GETSERIALNUMBER][" + huge + "][" + huge + "]");
    EXPECT_EQ(runners.called, "GetSerialNumber");
    Send("[VERIFY2F][1][1][" + huge + "]");
    EXPECT_EQ(runners.templ.size(), 1196u);
    Send("[READMYKAD][1][1][" + huge + "][" + huge + "][" + huge + "]");
    EXPECT_EQ(mykad.texts[2], std::string(19, 'Q'));
}

class RecordingSwitch : public ILogSwitch {
public:
    std::vector<std::pair<bool, std::string>> calls;
    void Configure(bool enabled, const std::string& file) override {
        calls.emplace_back(enabled, file);
    }
};

TEST_F(DispatchTest, FileLogSwitchIsReadOncePerCall) {
    RecordingSwitch logSwitch;
    context.logSwitch = &logSwitch;
    files.files.insert(".\\QUILLON.ini");
    Send("[PING]");
    profile.Set(".\\QUILLON.ini", "DEBUG", "ENABLE", "1");
    Send("[PING]");
    profile.Set(".\\QUILLON.ini", "DEBUG", "FILE", "C:\\trace.txt");
    Send("[PING]");
    using Call = std::pair<bool, std::string>;
    EXPECT_EQ(logSwitch.calls, (std::vector<Call>{{false, ""}, {true, ".\\Log.txt"},
                                                  {true, "C:\\trace.txt"}}));
}

// A second request while one runs (a host's window procedure during the dialog, or another
// thread) is refused without touching the running call; the access gate still comes first.
TEST_F(DispatchTest, SecondCallDuringARunningCallIsRefusedWithMinus1008) {
    int innerCode = 0, wrongCode = 0;
    char inner[64] = "untouched";
    runners.during = [&] {
        wrongCode = ProcessWebMessageCore("XXXXX", "[PING]", inner, context);
        innerCode = ProcessWebMessageCore("QLN26", "[GETBRANCHCODE]", inner, context);
    };
    EXPECT_EQ(Send("[GETSERIALNUMBER][0][3]"), 0);
    EXPECT_EQ(Reply(), "[GETSERIALNUMBER][0][SN-0042][123]");
    EXPECT_EQ(wrongCode, -9999);
    EXPECT_EQ(innerCode, -1008);
    EXPECT_STREQ(inner, "[GETBRANCHCODE][-1008][123]");
    runners.during = nullptr;
    EXPECT_EQ(Send("[PING]"), -1007) << "once the first call returned, the next one runs";
}

}  // namespace
}  // namespace quillon
