// The reader thread against a scripted card-reader library: the calls it makes, in order, and
// what each answer leads to.
#include "cardreader/mykad_reader.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "fakes.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

class FakeMyKadDialog : public IMyKadDialog {
  public:
    MyKadReadMode mode = MyKadReadMode::kPhotoAndFinger;
    int cancelCode = 0, fullRecord = -1;  // -1: never set
    std::vector<std::string> events;      // "refresh", "line1:TEXT", "ret:N", "close", ...
    std::string lines[3];                 // the texts put into prompt line 1 and 2, "|" after each
    std::vector<uint8_t> openData, altData, photo, linkKey;
    bool photoSet = false;

    int ComPort() override { return 7; }
    MyKadReadMode Mode() override { return mode; }
    std::string SettingsPath() override { return ".\\QUILLON.ini"; }
    int CancelCode() override { return cancelCode; }
    void RefreshPromptLines() override { events.push_back("refresh"); }
    void SetPromptLine(int n, const std::string& text) override {
        events.push_back(Format("line%d:", n) + text);
        lines[n] += text + "|";
    }
    void SetLinkKey(const uint8_t* key) override { linkKey.assign(key, key + kKeySize); }
    void SetRetCode(int code) override { events.push_back(Format("ret:%d", code)); }
    void SetFullRecord(bool full) override { fullRecord = full; }
    void SetOpenData(const uint8_t* b, int n) override { openData.assign(b, b + n); }
    void SetAltData(const uint8_t* b, int n) override { altData.assign(b, b + n); }
    void SetPhoto(const uint8_t* b, size_t n) override { photo.assign(b, b + n), photoSet = true; }
    void Close() override { events.push_back("close"); }
};

// Results per function (named as in `calls`, without arguments) are taken in order; once a
// list runs out, the function answers its default.
class FakeCardReader : public ICardReaderLibrary {
  public:
    explicit FakeCardReader(int& cancelCode) : cancelCode_(cancelCode) {}
    std::map<std::string, std::deque<int>> results;
    std::map<std::string, int> defaults{{"CS", 2}, {"IsEBA", 1}};  // the others answer 0
    std::string calls;                                             // "Init(7) FW(2000) ..."
    std::vector<uint8_t> record = std::vector<uint8_t>(120, 0x41);
    int32_t reportedLength = 120;
    std::vector<int> promptCodes;  // handed to the prompt routine during each VerifyFinger
    std::string cancelDuring;      // "CS#2": the user presses Cancel during the second CS

    int OrvMyKadInit(int port) override { return Call(Format("Init(%d)", port)); }
    int OrvMyKadGetFirmwareVersion(int timeoutMs, char*, uint8_t* keyArea) override {
        for (int i = 0; i < kOrvKeyAreaSize; ++i) keyArea[i] = uint8_t(i + 1);
        return Call(Format("FW(%d)", timeoutMs));
    }
    int OrvMyKadGetCardStatus(int m, int ms) override { return Call(Format("CS(%d,%d)", m, ms)); }
    int OrvMyKadResetCard(uint8_t*) override { return Call("Reset"); }
    int OrvMyKadReadOpenData(uint8_t* out, int32_t* length) override {
        std::copy(record.begin(), record.end(), out);
        *length = reportedLength;
        return Call("ReadData");
    }
    int OrvMyKadIsEBA() override { return Call("IsEBA"); }
    int OrvMyKadReadPhoto(uint8_t* photo) override {
        std::fill(photo, photo + kOrvPhotoSize, 0x5C);
        return Call("Photo");
    }
    int OrvMyKadReadBio(char* app) override { return Call(std::string("Bio(") + app + ")"); }
    int OrvMyKadSecurityLevel(int level) override { return Call(Format("L%d", level)); }
    int OrvMyKadVerifyFinger(char* app, MyKadPromptRoutine prompt) override {
        for (int code : promptCodes) prompt(code);
        return Call(std::string("Verify(") + app + ")");
    }
    int OrvMyKadClose() override { return Call("Close"); }

  private:
    int Call(const std::string& call) {
        calls += (calls.empty() ? "" : " ") + call;
        const std::string name = call.substr(0, call.find('('));
        if (Format("%s#%d", name.c_str(), ++counts_[name]) == cancelDuring) cancelCode_ = -9;
        std::deque<int>& queue = results[name];
        if (queue.empty()) return defaults[name];
        const int r = queue.front();
        queue.pop_front();
        return r;
    }
    int& cancelCode_;
    std::map<std::string, int> counts_;
};

std::vector<int> g_promptCodes;
int RecordPromptCode(int code) { return g_promptCodes.push_back(code), 1; }

struct Reader {
    FakeMyKadDialog dialog;
    FakeCardReader library{dialog.cancelCode};
    testing_support::FakeProfile profile;
    testing_support::FakeClock clock;
    uint8_t verifySwitch = 1;

    int Run() {
        g_promptCodes.clear();
        MyKadReaderParts parts{library, dialog, profile, clock, &RecordPromptCode, &verifySwitch};
        return RunMyKadReader(parts);
    }
    void Set(const std::string& sectionKey, const char* value) {  // "SECTION/KEY"
        const size_t slash = sectionKey.find('/');
        profile.Set(".\\QUILLON.ini", sectionKey.substr(0, slash), sectionKey.substr(slash + 1),
                    value);
    }
};

std::string Times(int n, const std::string& calls) {
    std::string all;
    for (int i = 0; i < n; ++i) all += calls;
    return all;
}

const MyKadReadMode kMyKad = MyKadReadMode::kPhotoAndFinger, kOnly = MyKadReadMode::kFinger,
                    kNoVerify = MyKadReadMode::kPhoto,
                    kNoVerifyNoPhoto = MyKadReadMode::kRecordOnly;
const std::string kStart = "Init(7) FW(2000) ";
const std::string kFound = "CS(1,2000) Reset ReadData IsEBA ";
const std::string kPoll = "CS(1,2000) ";
const std::string kVerify = "L4 Verify(DUV) ";

TEST(MyKadReadModeNamed, NamesTheDialogsFourReaderModesAndReadsOnlyTheRecordForAnyOther) {
    const std::pair<const char*, MyKadReadMode> cases[] = {
        {"MYKAD", kMyKad},
        {"MYKADONLY", kOnly},
        {"MYKADNOVERIFY", kNoVerify},
        {"MYKADNOVERIFYNOPHOTO", kNoVerifyNoPhoto},
        {"mykad", kNoVerifyNoPhoto},
        {"", kNoVerifyNoPhoto}};
    for (const auto& c : cases) EXPECT_EQ(MyKadReadModeNamed(c.first), c.second) << c.first;
}

TEST(MyKadReader, CallsTheLibraryInOrderAndEndsWithItsResultAndPrompt) {
    struct Case {
        MyKadReadMode mode;
        uint8_t verifySwitch;
        std::map<std::string, std::deque<int>> results;
        std::map<std::string, const char*> settings;  // "SECTION/KEY" and value
        int expected;
        std::string calls;
        const char* lastPrompt;  // line 2 of the last prompt
        const char* cancelDuring = "";
    };
    const char* done = "Process Completed";
    const Case cases[] = {
        // Each mode reads the photo and verifies the finger as it asks (MYKAD, which does both,
        // is played end to end; MYKADNOVERIFYNOPHOTO does neither).
        {kOnly, 1, {}, {}, 0, kStart + kFound + "Bio(DUV) " + kVerify + "Close", done},
        {kNoVerify, 1, {}, {}, 0, kStart + kFound + "Photo Close", done},
        {kMyKad, 0, {}, {}, 0, kStart + kFound + "Photo Close", done},  // switch off
        // Reader start-up: any init failure is -4, a card left in is -1, the version is retried.
        {kMyKad, 1, {{"Init", {-7}}}, {}, -4, "Init(7) Close", "Init Port"},
        {kMyKad, 1, {{"FW", {-15}}}, {}, -1, "Init(7) FW(2000) Close", "Please remove MyKad..."},
        {kNoVerifyNoPhoto,
         1,
         {{"FW", {-2, -2, -2}}},
         {{"APDU/RETRY_COUNT_FW", "1"}, {"APDU/V_TIMEOUT", "900"}},
         0,
         "Init(7) " + Times(2, "FW(900) Close Init(7) ") + kFound + "Close",
         done},
        {kMyKad,
         1,
         {{"FW", {-2}}, {"Init", {0, -4}}},
         {},
         -4,
         "Init(7) FW(2000) Close Init(7) Close",
         "Init Port"},
        {kNoVerifyNoPhoto,
         1,
         {{"FW", {-2}}, {"Init", {0, -6}}},
         {},
         0,
         "Init(7) FW(2000) Close Init(7) FW(2000) " + kFound + "Close",
         done},
        // The card wait.
        {kMyKad,
         1,
         {{"CS", {0, 2}}},
         {{"MYKAD/INSERT_COUNT", "2"}},
         -30,
         kStart + Times(2, kPoll) + "Close",
         "User Cancel"},  // a card on the last poll is late
        {kMyKad, 1, {{"CS", {0, -30}}}, {}, -30, kStart + kPoll + kPoll + "Close", "User Cancel"},
        {kNoVerifyNoPhoto,
         1,
         {{"CS", {0, 1}}},
         {},
         0,  // only status 2 is a card
         kStart + Times(2, kPoll) + kFound + "Close",
         done},
        {kMyKad,
         1,
         {{"CS", {0, 0, 0}}},
         {},
         -9,
         kStart + Times(2, kPoll) + "Close",
         "User Cancel",
         "CS#2"},
        // Reading the card: a MyKid ends after its record, a failure skips what follows.
        {kMyKad, 1, {{"ReadData", {9999}}}, {}, 0, kStart + kPoll + "Reset ReadData Close", done},
        {kMyKad, 1, {{"Reset", {-12}}}, {}, -12, kStart + kPoll + "Reset IsEBA Close", done},
        {kMyKad,
         1,
         {{"ReadData", {-13}}},
         {},
         -13,
         kStart + kPoll + "Reset ReadData IsEBA Close",
         done},
        {kMyKad, 1, {{"Photo", {-14}}}, {}, -14, kStart + kFound + "Photo Close", done},
        // The finger: VERIFY_TIMES non-matches, then the lower level after SET_LOW_TIMES.
        {kOnly,
         1,
         {{"Verify", {-3, -3, -3}}},
         {},
         -3,
         kStart + kFound + "Bio(DUV) " + Times(3, kVerify) + "Close",
         done},
        {kOnly,
         1,
         {{"Verify", {-3, -3, -3, 0}}},
         {{"MYKAD/SET_LOW_TIMES", "2"}, {"MYKAD/SET_LOW_LEVEL", "2"}, {"MYKAD/VERIFY_TIMES", "5"}},
         0,
         kStart + kFound + "Bio(DUV) " + Times(2, kVerify) + Times(2, "L2 Verify(DUV) ") + "Close",
         done},
        {kOnly,
         1,
         {{"Verify", {-3, 0}}},  // a lower level outside 1 to 4 means 4
         {{"MYKAD/SET_LOW_TIMES", "1"}, {"MYKAD/SET_LOW_LEVEL", "0"}},
         0,
         kStart + kFound + "Bio(DUV) " + Times(2, kVerify) + "Close",
         done},
        {kOnly,
         1,
         {{"Verify", {-3, 0}}},
         {{"MYKAD/SET_LOW_TIMES", "1"}, {"MYKAD/SET_LOW_LEVEL", "5"}},
         0,
         kStart + kFound + "Bio(DUV) " + Times(2, kVerify) + "Close",
         done},
        {kOnly, 1, {{"Bio", {-22}}}, {}, -22, kStart + kFound + "Bio(DUV) Close", done},
        {kOnly,
         1,
         {{"L4", {-1}}, {"Close", {-1}}},
         {},
         0,  // their results are ignored
         kStart + kFound + "Bio(DUV) " + kVerify + "Close",
         done},
        {kOnly,
         1,
         {{"Verify", {-21}}},
         {},
         -21,  // only -3 is retried
         kStart + kFound + "Bio(DUV) " + kVerify + "Close",
         done},
        {kOnly,
         1,
         {{"Verify", {-3, -3, -3}}},
         {},
         -9,
         kStart + kFound + "Bio(DUV) " + kVerify + "Close",
         done,
         "Verify#1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.calls);
        Reader r;
        r.dialog.mode = c.mode;
        r.verifySwitch = c.verifySwitch;
        r.library.results = c.results;
        r.library.cancelDuring = c.cancelDuring;
        for (const auto& s : c.settings) r.Set(s.first, s.second);
        EXPECT_EQ(r.Run(), c.expected);
        EXPECT_EQ(r.library.calls, c.calls);
        // Every way out leaves the result, then hands it over with the close, last of all.
        const auto& e = r.dialog.events;
        ASSERT_GE(e.size(), 4u);
        EXPECT_EQ(e.front(), "refresh");
        EXPECT_EQ(std::vector<std::string>(e.end() - 3, e.end()),
                  (std::vector<std::string>{std::string("line2:") + c.lastPrompt,
                                            Format("ret:%d", c.expected), "close"}));
        if (c.expected != 0) {
            EXPECT_EQ(r.dialog.fullRecord, -1) << "a failure leaves the result members alone";
            EXPECT_TRUE(r.dialog.openData.empty() && !r.dialog.photoSet);
        }
    }
}

TEST(MyKadReader, WaitsAsConfiguredAndAVersionNeverGivenLeavesTheLinkKeyAlone) {
    Reader r;
    r.dialog.mode = kOnly;
    r.Set("APDU/RETRY_WAIT_INIT", "11");
    r.Set("APDU/RETRY_WAIT_TRY", "22");
    r.Set("APDU/RETRY_WAIT_FW", "33");
    r.Set("APDU/RETRY_COUNT_FW", "0");
    r.library.defaults["FW"] = -2;
    r.library.results = {{"CS", {0, 0}}, {"Verify", {-3, -3, -3}}};
    EXPECT_EQ(r.Run(), -3);
    // The version retry, the second and third polls, then two retried fingers.
    EXPECT_EQ(r.clock.sleeps, (std::vector<int>{11, 22, 33, 2000, 2000, 1000, 1000}));
    EXPECT_TRUE(r.dialog.linkKey.empty());
}

// The calls, the record and the photo of a plain MYKAD read are played end to end.
TEST(MyKadReader, SuccessCopiesTheLinkKeyAndGuidesAnEbaCardHolder) {
    Reader r;
    r.library.promptCodes = {0xA0, 0xA3};
    EXPECT_EQ(r.Run(), 0);
    EXPECT_EQ(r.dialog.fullRecord, 1);
    ASSERT_EQ(r.dialog.linkKey.size(), 16u);
    for (int i = 0; i < kKeySize; ++i) EXPECT_EQ(r.dialog.linkKey[i], i + 1);
    EXPECT_EQ(g_promptCodes, (std::vector<int>{0xA0, 0xA3}));
    EXPECT_EQ(r.dialog.lines[2],
              "Init Port|Please Insert MyKad|Reading Open Data|Reading Photo|Reading Photo|"
              "Reading Bio|Verify Bio|Copying MyKad Data and Photo|Process Completed|");
    EXPECT_EQ(r.dialog.lines[1], Times(3, "Pengesahan MyKad|") + Times(6, "Pengesahan EBA MyKad|"));
    EXPECT_EQ(r.dialog.events[0], "refresh") << "each prompt repaints both lines first";
    Reader older;  // a card that is not EBA is named so in the same prompts
    older.library.defaults["IsEBA"] = 0;
    EXPECT_EQ(older.Run(), 0);
    EXPECT_EQ(older.dialog.lines[1],
              Times(3, "Pengesahan MyKad|") + Times(6, "Pengesahan OLD MyKad|"));
}

TEST(MyKadReader, RecordCopiesAreBoundedByTheirDestinations) {
    const struct {
        int readResult;
        int32_t reported;
        size_t recordSize, copied;
    } cases[] = {{0, 600, 600, 599}, {0, -5, 100, 0}, {9999, 10, 10, 10}, {9999, 5000, 2000, 2000}};
    for (const auto& c : cases) {
        Reader r;
        r.dialog.mode = kOnly;
        r.library.results["ReadData"] = {c.readResult};
        r.library.record.assign(c.recordSize, 0x39);
        r.library.reportedLength = c.reported;
        EXPECT_EQ(r.Run(), 0);
        const bool mykid = c.readResult == 9999;
        EXPECT_EQ(r.dialog.fullRecord, mykid ? 0 : 1);
        EXPECT_EQ((mykid ? r.dialog.altData : r.dialog.openData).size(), c.copied) << c.reported;
        EXPECT_EQ(r.dialog.photoSet && r.dialog.photo.empty(), !mykid) << "no photo in this mode";
        const std::string lines = r.dialog.lines[1];  // a MyKid's last prompt names no card kind
        const std::string last = mykid ? "|Pengesahan MyKad|" : "|Pengesahan EBA MyKad|";
        EXPECT_EQ(lines.substr(lines.size() - last.size()), last);
    }
}

}  // namespace
}  // namespace quillon
