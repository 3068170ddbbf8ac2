#include "cardreader/mykad_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "fakes.h"
#include "mykad_fakes.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using testing_support::CapturingLog;
using testing_support::FakeCardReader;
using testing_support::FakeClock;
using testing_support::FakeMyKadDialog;
using testing_support::FakeProfile;
using Calls = std::vector<std::string>;

std::vector<int> g_promptCodes;
int RecordPromptCode(int code) {
    g_promptCodes.push_back(code);
    return 1;
}

const char kPath[] = ".\\QUILLON.ini";

struct Reader {
    FakeCardReader library;
    FakeMyKadDialog dialog;
    FakeProfile profile;
    FakeClock clock;
    uint8_t verifySwitch = 1;

    Reader() {
        library.dialog = &dialog;
        g_promptCodes.clear();
    }
    int Run() {
        MyKadReaderParts parts{library, dialog, profile, clock, &RecordPromptCode, &verifySwitch};
        return RunMyKadReader(parts);
    }
    void Set(const char* section, const char* key, const char* value) {
        profile.Set(kPath, section, key, value);
    }
};

Calls Concat(std::initializer_list<Calls> parts) {
    Calls all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
Calls Times(int n, const Calls& calls) {
    Calls all;
    for (int i = 0; i < n; ++i) all.insert(all.end(), calls.begin(), calls.end());
    return all;
}

const Calls kStart = {"Init(7)", "FW(2000)"};
const Calls kFound = {"CS(1,2000)", "Reset", "ReadData", "IsEBA"};

struct Case {
    const char* name;
    const char* mode;
    uint8_t verifySwitch;
    std::map<std::string, std::deque<int>> results;
    std::vector<std::array<const char*, 3>> settings;  // section, key, value
    int expected;
    Calls calls;
};

std::vector<Case> Cases() {
    return {
        {"mode MYKAD reads the photo and verifies the finger", "MYKAD", 1, {}, {}, 0,
         Concat({kStart, kFound, {"Photo", "Bio(DUV)", "Level(4)", "Verify(DUV)", "Close"}})},
        {"mode MYKADONLY verifies without the photo", "MYKADONLY", 1, {}, {}, 0,
         Concat({kStart, kFound, {"Bio(DUV)", "Level(4)", "Verify(DUV)", "Close"}})},
        {"mode MYKADNOVERIFY reads the photo only", "MYKADNOVERIFY", 0, {}, {}, 0,
         Concat({kStart, kFound, {"Photo", "Close"}})},
        {"mode MYKADNOVERIFYNOPHOTO does neither", "MYKADNOVERIFYNOPHOTO", 0, {}, {}, 0,
         Concat({kStart, kFound, {"Close"}})},
        {"mode MYKAD with the switch off reads the photo and does not verify", "MYKAD", 0, {}, {},
         0, Concat({kStart, kFound, {"Photo", "Close"}})},
        {"a mode in lower case reads neither", "mykad", 1, {}, {}, 0,
         Concat({kStart, kFound, {"Close"}})},
        {"init failure ends with -4 after closing", "MYKAD", 1, {{"Init", {-4}}}, {}, -4,
         {"Init(7)", "Close"}},
        {"any init failure ends with -4", "MYKAD", 1, {{"Init", {-7}}}, {}, -4,
         {"Init(7)", "Close"}},
        {"a card still inserted ends with -1", "MYKAD", 1, {{"FW", {-15}}}, {}, -1,
         {"Init(7)", "FW(2000)", "Close"}},
        {"a version that keeps failing re-initialises RETRY_COUNT_FW + 1 times, then the card "
         "wait starts",
         "MYKADNOVERIFYNOPHOTO", 0, {{"FW", {-2, -2, -2, -2, -2, -2, -2}}}, {}, 0,
         Concat({{"Init(7)"}, Times(6, {"FW(2000)", "Close", "Init(7)"}), kFound, {"Close"}})},
        {"RETRY_COUNT_FW 1 asks the version twice", "MYKADNOVERIFYNOPHOTO", 0,
         {{"FW", {-2, -2, -2}}}, {{"APDU", "RETRY_COUNT_FW", "1"}, {"APDU", "V_TIMEOUT", "900"}}, 0,
         Concat({{"Init(7)"}, Times(2, {"FW(900)", "Close", "Init(7)"}), kFound, {"Close"}})},
        {"the version answering on the second try goes on", "MYKADNOVERIFYNOPHOTO", 0,
         {{"FW", {5}}}, {}, 0,
         Concat({{"Init(7)", "FW(2000)", "Close", "Init(7)", "FW(2000)"}, kFound, {"Close"}})},
        {"re-initialising with -4 ends with -4", "MYKAD", 1, {{"FW", {-2}}, {"Init", {0, -4}}}, {},
         -4, {"Init(7)", "FW(2000)", "Close", "Init(7)", "Close"}},
        {"re-initialising with another failure goes on", "MYKADNOVERIFYNOPHOTO", 0,
         {{"FW", {-2}}, {"Init", {0, -6}}}, {}, 0,
         Concat({{"Init(7)", "FW(2000)", "Close", "Init(7)", "FW(2000)"}, kFound, {"Close"}})},
        {"no card within INSERT_COUNT polls ends with -30", "MYKAD", 1, {{"CS", {0, 0, 0}}},
         {{"MYKAD", "INSERT_COUNT", "3"}}, -30,
         Concat({kStart, Times(3, {"CS(1,2000)"}), {"Close"}})},
        {"a card on the last allowed poll is too late", "MYKAD", 1, {{"CS", {0, 2}}},
         {{"MYKAD", "INSERT_COUNT", "2"}}, -30, Concat({kStart, Times(2, {"CS(1,2000)"}), {"Close"}})},
        {"the library giving up the wait ends with -30", "MYKAD", 1, {{"CS", {0, -30}}}, {}, -30,
         Concat({kStart, Times(2, {"CS(1,2000)"}), {"Close"}})},
        {"a card on the third poll is read", "MYKADNOVERIFYNOPHOTO", 0, {{"CS", {0, 1}}}, {}, 0,
         Concat({kStart, Times(2, {"CS(1,2000)"}), kFound, {"Close"}})},
        {"a MyKid ends after the record whatever the mode", "MYKAD", 1, {{"ReadData", {9999}}},
         {}, 0, Concat({kStart, {"CS(1,2000)", "Reset", "ReadData", "Close"}})},
        {"a failed reset skips the record, photo and finger", "MYKAD", 1, {{"Reset", {-12}}}, {},
         -12, Concat({kStart, {"CS(1,2000)", "Reset", "IsEBA", "Close"}})},
        {"a failed record read skips the photo", "MYKADNOVERIFY", 0, {{"ReadData", {-13}}}, {},
         -13, Concat({kStart, kFound, {"Close"}})},
        {"a failed photo read skips the finger", "MYKAD", 1, {{"Photo", {-14}}}, {}, -14,
         Concat({kStart, kFound, {"Photo", "Close"}})},
        {"a failed fingerprint read ends with its code", "MYKADONLY", 1, {{"Bio", {-16}}}, {},
         -16, Concat({kStart, kFound, {"Bio(DUV)", "Close"}})},
        {"VERIFY_TIMES non-matches end with -3", "MYKADONLY", 1, {{"Verify", {-3, -3, -3}}}, {},
         -3, Concat({kStart, kFound, {"Bio(DUV)"}, Times(3, {"Level(4)", "Verify(DUV)"}),
                     {"Close"}})},
        {"a match on the second attempt succeeds", "MYKADONLY", 1, {{"Verify", {-3, 0}}}, {}, 0,
         Concat({kStart, kFound, {"Bio(DUV)"}, Times(2, {"Level(4)", "Verify(DUV)"}),
                 {"Close"}})},
        {"the lower level applies once SET_LOW_TIMES attempts failed", "MYKADONLY", 1,
         {{"Verify", {-3, -3, -3, 0}}},
         {{"MYKAD", "SET_LOW_TIMES", "2"}, {"MYKAD", "SET_LOW_LEVEL", "2"}, {"MYKAD", "VERIFY_TIMES", "5"}}, 0,
         Concat({kStart, kFound,
                  {"Bio(DUV)", "Level(4)", "Verify(DUV)", "Level(4)", "Verify(DUV)", "Level(2)",
                   "Verify(DUV)", "Level(2)", "Verify(DUV)", "Close"}})},
        {"a lower level outside 1 to 4 means 4", "MYKADONLY", 1, {{"Verify", {-3, 0}}},
         {{"MYKAD", "SET_LOW_TIMES", "1"}, {"MYKAD", "SET_LOW_LEVEL", "0"}}, 0,
         Concat({kStart, kFound,
                 {"Bio(DUV)", "Level(4)", "Verify(DUV)", "Level(4)", "Verify(DUV)", "Close"}})},
        {"a verification failure other than -3 is not retried", "MYKAD", 1, {{"Verify", {-21}}},
         {}, -21, Concat({kStart, kFound, {"Photo", "Bio(DUV)", "Level(4)", "Verify(DUV)",
                                           "Close"}})},
    };
}

class ReaderResults : public ::testing::TestWithParam<Case> {};

TEST_P(ReaderResults, CallsTheLibraryInOrderAndEndsWithItsResult) {
    const Case& c = GetParam();
    Reader r;
    r.dialog.mode = c.mode;
    r.verifySwitch = c.verifySwitch;
    r.library.results = c.results;
    for (const auto& s : c.settings) r.Set(s[0], s[1], s[2]);
    EXPECT_EQ(r.Run(), c.expected);
    EXPECT_EQ(r.dialog.retCode, c.expected);
    EXPECT_EQ(r.library.calls, c.calls);
    // Every way out clears the running flag, then closes the dialog, last of all.
    ASSERT_GE(r.dialog.events.size(), 3u);
    EXPECT_EQ(r.dialog.events.front(), "running:1");
    const size_t n = r.dialog.events.size();
    EXPECT_EQ(r.dialog.events[n - 3], Format("ret:%d", c.expected));
    EXPECT_EQ(r.dialog.events[n - 2], "running:0");
    EXPECT_EQ(r.dialog.events[n - 1], "close");
}

INSTANTIATE_TEST_SUITE_P(Sequences, ReaderResults, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return Format("case%02d", static_cast<int>(param.index));
                         });

TEST(MyKadReader, CancelDuringTheCardWaitEndsWithMinus9AndNoPrompt5) {
    Reader r;
    r.library.results["CS"] = {0, 0, 0};
    r.library.cancelAtPoll = 2;
    EXPECT_EQ(r.Run(), -9);
    EXPECT_EQ(r.library.calls, Concat({kStart, {"CS(1,2000)", "CS(1,2000)", "Close"}}));
    EXPECT_EQ(r.dialog.line2s, (std::vector<std::string>{"Init Port", "Please Insert MyKad",
                                                         "Please Insert MyKad", "User Cancel"}));
    EXPECT_EQ(r.clock.sleeps, (std::vector<int>{2000}));
}

TEST(MyKadReader, CancelWhileVerifyingEndsWithMinus9) {
    Reader r;
    r.dialog.mode = "MYKADONLY";
    r.library.results["Verify"] = {-3, -3, -3};
    r.library.cancelAtVerify = 1;
    EXPECT_EQ(r.Run(), -9);
    EXPECT_EQ(r.library.calls,
              Concat({kStart, kFound, {"Bio(DUV)", "Level(4)", "Verify(DUV)", "Close"}}));
    EXPECT_EQ(r.dialog.line2s.back(), "Process Completed");
}

TEST(MyKadReader, WaitsBetweenPollsAndRetriesAsConfigured) {
    Reader r;
    r.dialog.mode = "MYKADONLY";
    r.Set("APDU", "RETRY_WAIT_INIT", "11");
    r.Set("APDU", "RETRY_WAIT_TRY", "22");
    r.Set("APDU", "RETRY_WAIT_FW", "33");
    r.library.results["FW"] = {-2};
    r.library.results["CS"] = {0, 0};
    r.library.results["Verify"] = {-3, -3, -3};
    EXPECT_EQ(r.Run(), -3);
    // Version retry, then the second and third polls, then two retried fingers.
    EXPECT_EQ(r.clock.sleeps, (std::vector<int>{11, 22, 33, 2000, 2000, 1000, 1000}));
}

TEST(MyKadReader, SuccessShowsEveryPromptInOrderForAnEbaCard) {
    Reader r;
    r.library.promptCodes = {0xA0, 0xA3};
    EXPECT_EQ(r.Run(), 0);
    EXPECT_EQ(r.dialog.line2s,
              (std::vector<std::string>{"Init Port", "Please Insert MyKad", "Reading Open Data",
                                        "Reading Photo", "Reading Photo", "Reading Bio",
                                        "Verify Bio", "Copying MyKad Data and Photo",
                                        "Process Completed"}));
    EXPECT_EQ(r.dialog.line1s,
              (std::vector<std::string>{"Pengesahan MyKad", "Pengesahan MyKad",
                                        "Pengesahan MyKad", "Pengesahan EBA MyKad",
                                        "Pengesahan EBA MyKad", "Pengesahan EBA MyKad",
                                        "Pengesahan EBA MyKad", "Pengesahan EBA MyKad",
                                        "Pengesahan EBA MyKad"}));
    // Each prompt repaints both lines before it sets them.
    EXPECT_EQ(r.dialog.events[1], "refresh");
    EXPECT_EQ(r.dialog.events[2], "line1:Pengesahan MyKad");
    EXPECT_EQ(r.dialog.events[3], "line2:Init Port");
    EXPECT_EQ(g_promptCodes, (std::vector<int>{0xA0, 0xA3}));
}

TEST(MyKadReader, PromptKeysOfAnOlderCardCarryPoint1) {
    Reader r;
    r.library.defaults["IsEBA"] = 0;
    r.library.results["Verify"] = {-3, -3, -3};
    r.Set("MESSAGE", "EBA_M3.1_L1", "old three");
    r.Set("MESSAGE", "EBA_M3_L1", "eba three");
    r.Set("MESSAGE", "EBA_M3_L2", "photo now");
    r.Set("MESSAGE", "EBA_M10_L2", "again");
    r.Set("MESSAGE", "EBA_M12_L1", "twelve");
    EXPECT_EQ(r.Run(), -3);
    EXPECT_EQ(r.dialog.line1s,
              (std::vector<std::string>{"Pengesahan MyKad", "Pengesahan MyKad",
                                        "Pengesahan MyKad", "twelve", "old three",
                                        "Pengesahan OLD MyKad", "Pengesahan OLD MyKad",
                                        "Pengesahan OLD MyKad", "Pengesahan OLD MyKad",
                                        "Pengesahan OLD MyKad", "Pengesahan OLD MyKad",
                                        "Pengesahan OLD MyKad"}));
    EXPECT_EQ(r.dialog.line2s,
              (std::vector<std::string>{"Init Port", "Please Insert MyKad", "Reading Open Data",
                                        "Reading Photo", "photo now", "Reading Bio",
                                        "Verify Bio", "again", "Verify Bio", "again",
                                        "Verify Bio", "Process Completed"}));
}

TEST(MyKadReader, ACardStillInsertedShowsPrompt14) {
    Reader r;
    r.library.results["FW"] = {-15};
    r.Set("MESSAGE", "EBA_M14_L2", "Keluarkan kad");
    EXPECT_EQ(r.Run(), -1);
    EXPECT_EQ(r.dialog.line2s, (std::vector<std::string>{"Init Port", "Keluarkan kad"}));
}

TEST(MyKadReader, SuccessCopiesRecordPhotoAndLinkKeyAndLogsTheSteps) {
    CapturingLog log;
    Reader r;
    std::memset(LinkKey, 0, kKeySize);
    EXPECT_EQ(r.Run(), 0);
    EXPECT_EQ(r.dialog.fullRecord, 1);
    EXPECT_EQ(r.dialog.openData, std::vector<uint8_t>(120, 0x41));
    EXPECT_EQ(r.dialog.photo, std::vector<uint8_t>(4000, 0x5C));
    EXPECT_FALSE(r.dialog.altDataSet);
    for (int i = 0; i < kKeySize; ++i) EXPECT_EQ(LinkKey[i], i + 1);
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{
                  "INSIDE THREAD", "Pengesahan MyKad", "Init Port", "Init : 0", "FW : 0",
                  "------------------", "ORV 2.31", "------------------", "Pengesahan MyKad",
                  "Please Insert MyKad", "CS : 2", "RC : 0", "Pengesahan MyKad",
                  "Reading Open Data", "RD : 0", "EBA : 1", "Pengesahan EBA MyKad",
                  "Reading Photo", "Pengesahan EBA MyKad", "Reading Photo", "RP : 0",
                  "Pengesahan EBA MyKad", "Reading Bio", "RB : 0", "Pengesahan EBA MyKad",
                  "Verify Bio", "VF : 0", "Pengesahan EBA MyKad",
                  "Copying MyKad Data and Photo", "Pengesahan EBA MyKad", "Process Completed",
                  "Return Code : 0", "EXIT THREAD"}));
}

TEST(MyKadReader, AVersionNeverGivenLeavesTheLinkKeyAlone) {
    Reader r;
    std::memset(LinkKey, 0x77, kKeySize);
    r.dialog.mode = "MYKADNOVERIFYNOPHOTO";
    r.library.defaults["FW"] = -2;
    EXPECT_EQ(r.Run(), 0);
    for (int i = 0; i < kKeySize; ++i) EXPECT_EQ(LinkKey[i], 0x77);
}

TEST(MyKadReader, ModesWithoutPhotoLeaveAnEmptyPhoto) {
    Reader r;
    r.dialog.mode = "MYKADONLY";
    EXPECT_EQ(r.Run(), 0);
    EXPECT_TRUE(r.dialog.photoSet);
    EXPECT_TRUE(r.dialog.photo.empty());
}

TEST(MyKadReader, FailureAfterTheCardLeavesTheResultMembersAndShowsPrompt5) {
    Reader r;
    r.library.results["Photo"] = {-14};
    EXPECT_EQ(r.Run(), -14);
    EXPECT_EQ(r.dialog.fullRecord, -1);
    EXPECT_FALSE(r.dialog.openDataSet);
    EXPECT_FALSE(r.dialog.photoSet);
    EXPECT_EQ(r.dialog.line2s.back(), "Process Completed");
}

TEST(MyKadReader, AMyKidRecordGoesToTheAltBufferWithTheMyKidPrompt5) {
    Reader r;
    r.library.results["ReadData"] = {9999};
    r.library.record.assign(1444, 0x31);
    EXPECT_EQ(r.Run(), 0);
    EXPECT_EQ(r.dialog.fullRecord, 0);
    EXPECT_EQ(r.dialog.altData, std::vector<uint8_t>(1444, 0x31));
    EXPECT_FALSE(r.dialog.openDataSet);
    EXPECT_FALSE(r.dialog.photoSet);
    EXPECT_EQ(r.dialog.line1s.back(), "Pengesahan MyKad");
    EXPECT_EQ(r.dialog.line2s.back(), "Process Completed");
}

struct LengthCase {
    int readResult;
    int32_t reported;
    size_t recordSize;
    size_t expectedCopied;
};

class RecordLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(RecordLengths, CopiesAreBoundedByTheirDestinations) {
    const LengthCase& c = GetParam();
    Reader r;
    r.dialog.mode = "MYKADNOVERIFYNOPHOTO";
    r.library.results["ReadData"] = {c.readResult};
    r.library.record.assign(c.recordSize, 0x39);
    r.library.reportedLength = c.reported;
    EXPECT_EQ(r.Run(), 0);
    const auto& copied = c.readResult == 9999 ? r.dialog.altData : r.dialog.openData;
    EXPECT_EQ(copied.size(), c.expectedCopied);
}

INSTANTIATE_TEST_SUITE_P(MyKadReader, RecordLengths,
                         ::testing::Values(LengthCase{0, 599, 599, 599},
                                           LengthCase{0, 600, 600, 599},
                                           LengthCase{0, 2000, 2000, 599},
                                           LengthCase{0, 70000, 2000, 599},
                                           LengthCase{0, -5, 100, 0},
                                           LengthCase{9999, 2000, 2000, 2000},
                                           LengthCase{9999, 5000, 2000, 2000},
                                           LengthCase{9999, 10, 10, 10}));

}  // namespace
}  // namespace quillon
