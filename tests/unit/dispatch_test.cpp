#include "command/dispatch.h"

#include <gtest/gtest.h>

#include <cstring>
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
    int show = -100, port = -100, length = -1, useGiven = -1;
    std::vector<uint8_t> templ;
    std::string dateTime;
    int result = 0;
    std::string text = "SN-0042";
    std::vector<uint8_t> data;  // template or signature handed back
    char cardType = '0';

    int PerformEnroll(int s, int p, uint8_t* out) override {
        Note("PerformEnroll", s, p);
        if (result == 0 && !data.empty()) std::memcpy(out, data.data(), data.size());
        return result;
    }
    int PerformVerify(int s, int p, int len, const uint8_t* t) override {
        Note("PerformVerify", s, p);
        length = len;
        templ.assign(t, t + len);
        return result;
    }
    int PerformVerify2F(int s, int p, int len, const uint8_t* t) override {
        Note("PerformVerify2F", s, p);
        length = len;
        templ.assign(t, t + len);
        return result;
    }
    int GetSerialNumber(int s, int p, char* out) override {
        Note("GetSerialNumber", s, p);
        if (result == 0) std::strcpy(out, text.c_str());
        return result;
    }
    int GetLLTStatus(int s, int p, char* out) override {
        Note("GetLLTStatus", s, p);
        if (result == 0) std::strcpy(out, text.c_str());
        return result;
    }
    int SetTerminalTime(int p, int given, const char* t) override {
        Note("SetTerminalTime", -1, p);
        useGiven = given;
        dateTime = t;
        return result;
    }
    int GetSignature(int s, int p, uint8_t* out, uint32_t* count) override {
        Note("GetSignature", s, p);
        if (result == 0) {
            if (!data.empty()) std::memcpy(out, data.data(), data.size());
            *count = static_cast<uint32_t>(data.size());
        }
        return result;
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
    void Note(const char* name, int s, int p) {
        called = name;
        show = s;
        port = p;
    }
    int Card(const char* name, int s, int p, uint8_t* card) {
        Note(name, s, p);
        if (result == 0) card[0] = static_cast<uint8_t>(cardType);
        return result;
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
}

TEST_F(DispatchTest, AccessCodeComparesExactlyFiveBytes) {
    EXPECT_EQ(ProcessWebMessageCore("QLN26 and more", "[PING]", reply.data(), context), -1007);
}

struct SelectCase {
    const char* request;
    const char* runner;
};

void PrintTo(const SelectCase& c, std::ostream* os) { *os << c.request; }

class DispatchOrder : public DispatchTest, public ::testing::WithParamInterface<SelectCase> {};

TEST_P(DispatchOrder, SelectsTheRunnerByContainmentInTableOrder) {
    Send(GetParam().request);
    EXPECT_EQ(runners.called, GetParam().runner) << GetParam().request;
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, DispatchOrder,
    ::testing::Values(SelectCase{"[VERIFY2F][0][0][]", "PerformVerify2F"},
                      SelectCase{"[VERIFY][0][0][]", "PerformVerify"},
                      SelectCase{"[ENROLL2][0][0]", "PerformEnroll"},
                      SelectCase{"[XENROLLX][0][0]", "PerformEnroll"},
                      SelectCase{"[READMYKAD][0][0]", "ReadMyKAD"},
                      SelectCase{"[READMYKADNOPHOTO][0][0]", "ReadMyKADData"},
                      SelectCase{"[READMYKADNOVERIFYWITHPHOTO][0][0]", "ReadMyKADNoVerify"},
                      SelectCase{"[READMYKADNOVERIFYNOPHOTO][0][0]", "ReadMyKADNoVerifyNoPhoto"},
                      SelectCase{"[GETSERIALNUMBER][0][0]", "GetSerialNumber"},
                      SelectCase{"[GETFIRMWAREVERSION][0][0]", "GetLLTStatus"},
                      SelectCase{"[GETSIGNATURE][0][0]", "GetSignature"},
                      SelectCase{"[SETDATETIME][0][0]", "SetTerminalTime"},
                      // Earlier keywords win over later ones contained in the same field.
                      SelectCase{"[ENROLLVERIFY][0][0]", "PerformEnroll"},
                      SelectCase{"[SETDATETIMEVERIFY][0][0]", "SetTerminalTime"},
                      SelectCase{"[GETSIGNATUREENROLL][0][0]", "PerformEnroll"}));

TEST_F(DispatchTest, NoKeywordRepliesWithFieldOneAndMinus1007) {
    EXPECT_EQ(Send("[PING]"), -1007);
    EXPECT_EQ(Reply(), "[PING][-1007][123]");
    EXPECT_EQ(Send(""), -1007);
    EXPECT_EQ(Reply(), "[][-1007][123]");
    EXPECT_EQ(Send("[enroll][1][3]"), -1007) << "keywords are case-sensitive";
    EXPECT_EQ(Reply(), "[enroll][-1007][123]");
    EXPECT_EQ(runners.called, "");
}

TEST_F(DispatchTest, TextBeforeTheFirstBracketIsIgnored) {
    Send("XX[ENROLL][1][3]");
    EXPECT_EQ(runners.called, "PerformEnroll");
    EXPECT_EQ(runners.show, 1);
    EXPECT_EQ(runners.port, 3);
}

TEST_F(DispatchTest, MissingShowAndPortReadAsZero) {
    Send("[GETSERIALNUMBER]");
    EXPECT_EQ(runners.show, 0);
    EXPECT_EQ(runners.port, 0);
}

struct ReplyCase {
    const char* request;
    int result;
    const char* reply;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.request << " -> " << c.result; }

class ReplyTemplates : public DispatchTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTemplates, WritesTheTemplateAndReturnsTheCode) {
    runners.result = GetParam().result;
    runners.text = "SN-0042";
    runners.data = {0xDE, 0xAD, 0x01};
    EXPECT_EQ(Send(GetParam().request), GetParam().result);
    EXPECT_EQ(Reply(), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTemplates,
    ::testing::Values(
        ReplyCase{"[GETSERIALNUMBER][0][4]", 0, "[GETSERIALNUMBER][0][SN-0042][123]"},
        ReplyCase{"[GETSERIALNUMBER][0][4]", -30, "[GETSERIALNUMBER][-30][123]"},
        ReplyCase{"[GETFIRMWAREVERSION][0][4]", 0, "[GETFIRMWAREVERSION][0][SN-0042][123]"},
        ReplyCase{"[GETFIRMWAREVERSION][0][4]", -4, "[GETFIRMWAREVERSION][-4][123]"},
        ReplyCase{"[ENROLL][1][4]", -5, "[ENROLL][-5][123]"},
        ReplyCase{"[GETSIGNATURE][1][4]", 0, "[GETSIGNATURE][0][DEAD01][123]"},
        ReplyCase{"[GETSIGNATURE][1][4]", -9, "[GETSIGNATURE][-9][123]"},
        ReplyCase{"[VERIFY][1][4][]", 0, "[VERIFY][0][123]"},
        ReplyCase{"[VERIFY][1][4][]", -5, "[VERIFY][-5][123]"},
        ReplyCase{"[VERIFY2F][1][4][]", -3, "[VERIFY2F][-3][123]"},
        ReplyCase{"[SETDATETIME][4][261206101500]", 0, "[SETDATETIME][0][123]"},
        ReplyCase{"[SETDATETIME][4][x]", -4, "[SETDATETIME][-4][123]"},
        ReplyCase{"[READMYKAD][1][4][a][b][c]", -30, "[READMYKAD][-30][123]"},
        ReplyCase{"[xREADMYKADNOPHOTOx][1][4]", -1, "[xREADMYKADNOPHOTOx][-1][123]"},
        ReplyCase{"[READMYKAD][1][4][a][b][c]", 0, "[READMYKAD][0][0][record]"}));

TEST_F(DispatchTest, EnrollRepliesWith598TemplateBytesAs1196HexDigits) {
    runners.data.resize(600);
    for (size_t i = 0; i < 600; ++i) runners.data[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(Send("[ENROLL][1][0]"), 0);
    const std::string r = Reply();
    ASSERT_EQ(r.size(), std::string("[ENROLL][0][][123]").size() + 1196);
    EXPECT_EQ(r.substr(0, 18), "[ENROLL][0][000102");
    // Byte 597 (0x55 of 597 mod 256) is the last one sent; bytes 598 and 599 are not.
    EXPECT_EQ(r.substr(12 + 1194, 2), "55");
    EXPECT_EQ(r.substr(12 + 1196), "][123]");
}

TEST_F(DispatchTest, EmptySignatureGivesAnEmptyDataField) {
    runners.data.clear();
    EXPECT_EQ(Send("[GETSIGNATURE][0][0]"), 0);
    EXPECT_EQ(Reply(), "[GETSIGNATURE][0][][123]");
}

TEST_F(DispatchTest, SignatureBuffersAreClearedBeforeEachCall) {
    runners.data = {1, 2, 3, 4};
    Send("[GETSIGNATURE][0][0]");
    runners.data = {9};
    Send("[GETSIGNATURE][0][0]");
    EXPECT_EQ(Reply(), "[GETSIGNATURE][0][09][123]");
}

TEST_F(DispatchTest, VerifyDecodes598BytesAndLowercaseMatchesUppercase) {
    std::string upper, lower;
    for (int i = 0; i < 598; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", (i * 7) & 0xFF);
        upper += pair;
        std::snprintf(pair, sizeof pair, "%02x", (i * 7) & 0xFF);
        lower += pair;
    }
    Send("[VERIFY][1][2][" + upper + "]");
    const std::vector<uint8_t> fromUpper = runners.templ;
    EXPECT_EQ(runners.length, 598);
    Send("[VERIFY][1][2][" + lower + "]");
    EXPECT_EQ(runners.templ, fromUpper);
    ASSERT_EQ(fromUpper.size(), 598u);
    EXPECT_EQ(fromUpper[597], (597 * 7) & 0xFF);
}

TEST_F(DispatchTest, Verify2FDecodesBothTemplatesInto1196Bytes) {
    std::string text = std::string(1196, 'A') + std::string(1196, 'b');
    Send("[VERIFY2F][1][2][" + text + "]");
    ASSERT_EQ(runners.length, 1196);
    ASSERT_EQ(runners.templ.size(), 1196u);
    EXPECT_EQ(runners.templ[0], 0xAA);
    EXPECT_EQ(runners.templ[597], 0xAA);
    EXPECT_EQ(runners.templ[598], 0xBB);
    EXPECT_EQ(runners.templ[1195], 0xBB);
}

TEST_F(DispatchTest, ShortOrMissingTemplateDecodesToZeros) {
    Send("[VERIFY][1][2]");
    EXPECT_EQ(runners.templ, std::vector<uint8_t>(598, 0));
    Send("[VERIFY][1][2][0102]");
    EXPECT_EQ(runners.templ[0], 1);
    EXPECT_EQ(runners.templ[1], 2);
    EXPECT_EQ(runners.templ[2], 0);
}

struct DateCase {
    const char* field;
    int useGiven;
};

void PrintTo(const DateCase& c, std::ostream* os) { *os << "\"" << c.field << "\""; }

class SetDateTimeArgs : public DispatchTest, public ::testing::WithParamInterface<DateCase> {};

TEST_P(SetDateTimeArgs, UsesTheFieldOnlyWhenItIsTwelveCharacters) {
    Send(std::string("[SETDATETIME][7][") + GetParam().field + "]");
    EXPECT_EQ(runners.port, 7) << "the port comes from field 2";
    EXPECT_EQ(runners.useGiven, GetParam().useGiven);
    EXPECT_EQ(runners.dateTime, GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SetDateTimeArgs,
                         ::testing::Values(DateCase{"261206101500", 1},
                                           DateCase{"ABCDEFGHIJKL", 1},  // not validated
                                           DateCase{"26120610150", 0},
                                           DateCase{"2612061015001", 0}, DateCase{"", 0}));

TEST_F(DispatchTest, MyKadTextsReachTheRecordCutTo19Characters) {
    Send("[READMYKAD][1][0][" + std::string(40, 'N') + "][BR01][OPERATOR]");
    ASSERT_EQ(mykad.texts.size(), 3u);
    EXPECT_EQ(mykad.texts[0], std::string(19, 'N'));
    EXPECT_EQ(mykad.texts[1], "BR01");
    EXPECT_EQ(mykad.texts[2], "OPERATOR");
    Send("[READMYKAD][1][0]");
    EXPECT_EQ(mykad.texts[0], "") << "texts are emptied for every MyKad command";
}

TEST_F(DispatchTest, GetBranchCodeReturnsZeroEvenWithStatusOne) {
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
    EXPECT_EQ(runners.length, 1196);
    Send("[READMYKAD][1][1][" + huge + "][" + huge + "][" + huge + "]");
    EXPECT_EQ(mykad.texts[2], std::string(19, 'Q'));
}

TEST_F(DispatchTest, LogsBeforeCheckingAndTheFinalReply) {
    CapturingLog log;
    Send("[PING]");
    const auto lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "Before Checking");
    EXPECT_EQ(lines.back(), "[PING][-1007][123]");
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
    ASSERT_EQ(logSwitch.calls.size(), 3u);
    EXPECT_EQ(logSwitch.calls[0], std::make_pair(false, std::string()));
    EXPECT_EQ(logSwitch.calls[1], std::make_pair(true, std::string(".\\Log.txt")));
    EXPECT_EQ(logSwitch.calls[2], std::make_pair(true, std::string("C:\\trace.txt")));
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// A runner that, while it runs, receives a second request (as a host's window procedure or
// another thread would send it during the dialog).
class ReentrantRunners : public RecordingRunners {
public:
    CommandContext* context = nullptr;
    int innerCode = 0;
    std::string innerReply;
    int GetSerialNumber(int s, int p, char* out) override {
        char reply[256] = "untouched";
        innerCode = ProcessWebMessageCore("QLN26", "[GETBRANCHCODE]", reply, *context);
        innerReply = reply;
        return RecordingRunners::GetSerialNumber(s, p, out);
    }
};

TEST(DispatchGuard, SecondCallDuringARunningCallIsRefusedWithMinus1008) {
    FakeFileSystem files;
    FakeProfile profile;
    FakeHostAddress host;
    ReentrantRunners runners;
    IniLocator locator(files);
    CommandContext context{locator, profile, host, runners, nullptr, nullptr};
    runners.context = &context;
    char reply[256] = {0};
    EXPECT_EQ(ProcessWebMessageCore("QLN26", "[GETSERIALNUMBER][0][3]", reply, context), 0);
    EXPECT_STREQ(reply, "[GETSERIALNUMBER][0][SN-0042][123]");
    EXPECT_EQ(runners.innerCode, -1008);
    EXPECT_EQ(runners.innerReply, "[GETBRANCHCODE][-1008][123]");
    // Once the first call has returned, the next one runs normally.
    EXPECT_EQ(ProcessWebMessageCore("QLN26", "[PING]", reply, context), -1007);
}

TEST(DispatchGuard, WrongAccessCodeIsStillRefusedFirstDuringACall) {
    FakeFileSystem files;
    FakeProfile profile;
    FakeHostAddress host;
    RecordingRunners runners;
    IniLocator locator(files);
    CommandContext context{locator, profile, host, runners, nullptr, nullptr};
    char reply[32] = "untouched";
    EXPECT_EQ(ProcessWebMessageCore("XXXXX", "[PING]", reply, context), -9999);
    EXPECT_STREQ(reply, "untouched");
}

}  // namespace
}  // namespace quillon
