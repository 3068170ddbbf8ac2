// The reader thread against a scripted card-reader library: its calls and what each answer does.
#include "cardreader/mykad_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dialog_fakes.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using Strings = std::vector<std::string>;

class FakeMyKadDialog : public IMyKadDialog {
  public:
    MyKadReadPlan plan = {true, true};
    int cancelCode = 0, fullRecord = -1;  // -1: never set
    Strings events;                       // "refresh", "line2:TEXT", "ret:N", "close"
    std::string lines[3];                 // each text put into prompt line 1 and 2, "|" after
    std::vector<uint8_t> openData, altData, photo, linkKey;
    bool photoSet = false;

    int ComPort() override { return 7; }
    MyKadReadPlan Plan() override { return plan; }
    std::string SettingsPath() override { return ".\\QUILLON.ini"; }
    int CancelCode() override { return cancelCode; }
    void RefreshPromptLines() override { events.push_back("refresh"); }
    void SetPromptLine(int n, const std::string& text) override {
        events.push_back(Format("line%d:", n) + text), lines[n] += text + "|";
    }
    void SetLinkKey(const uint8_t* key) override { linkKey.assign(key, key + kKeySize); }
    void SetRetCode(int code) override { events.push_back(Format("ret:%d", code)); }
    void SetFullRecord(bool full) override { fullRecord = full; }
    void SetOpenData(const uint8_t* b, int n) override { openData.assign(b, b + n); }
    void SetAltData(const uint8_t* b, int n) override { altData.assign(b, b + n); }
    void SetPhoto(const uint8_t* b, size_t n) override { photo.assign(b, b + n), photoSet = true; }
    void Close() override { events.push_back("close"); }
};

std::vector<int> g_promptCodes;
int RecordPromptCode(int code) { return g_promptCodes.push_back(code), 1; }

struct Reader {
    FakeMyKadDialog dialog;
    testing_support::FakeCardReader library;
    testing_support::FakeProfile profile;
    testing_support::FakeClock clock;

    int Run() {
        g_promptCodes.clear();
        MyKadReaderParts parts{library, dialog, profile, clock, &RecordPromptCode};
        return RunMyKadReader(parts);
    }
    // Answers "FW=-2,-2 CS#2" (Cancel pressed during the second CS), settings "APDU/V_TIMEOUT=9".
    void Script(const std::string& answers, const std::string& settings) {
        std::istringstream a(answers), s(settings);
        for (std::string w; a >> w;) {
            const size_t eq = w.find('='), hash = w.find('#');
            if (hash != std::string::npos) {
                library.hook = [this, w](const std::string& name, int count, int answer) {
                    if (Format("%s#%d", name.c_str(), count) == w) dialog.cancelCode = -9;
                    return answer;
                };
            }
            std::istringstream values(hash != std::string::npos ? "" : w.substr(eq + 1));
            for (std::string v; std::getline(values, v, ',');)
                library.results[w.substr(0, eq)].push_back(std::stoi(v));
        }
        for (std::string w; s >> w;) {
            const size_t slash = w.find('/'), eq = w.find('=');
            profile.Set(".\\QUILLON.ini", w.substr(0, slash), w.substr(slash + 1, eq - slash - 1),
                        w.substr(eq + 1));
        }
    }
};

std::string Times(int n, const std::string& calls) {
    std::string all;
    while (n-- > 0) all += calls;
    return all;
}

// What each reader mode's row asks: photo, finger.
const MyKadReadPlan kMyKad = {true, true}, kOnly = {false, true}, kNoVerify = {true, false},
                    kNoPhoto = {false, false};
const std::string kStart = "Init(7) FW(2000) ", kFound = "CS(1,2000) Reset ReadData IsEBA ",
                  kPoll = "CS(1,2000) ", kVerify = "L4 Verify(DUV) ", kBio = "Bio(DUV) ";

TEST(MyKadReader, CallsTheLibraryInOrderAndEndsWithItsResultAndPrompt) {
    const char* done = "Process Completed";
    const struct {
        MyKadReadPlan plan;
        const char *answers, *settings;
        int expected;
        std::string calls;
        const char* lastPrompt;  // line 2 of the last prompt
    } cases[] = {
        // Each mode reads the photo and verifies the finger as it asks.
        {kOnly, "", "", 0, kStart + kFound + kBio + kVerify + "Close", done},
        {kNoVerify, "", "", 0, kStart + kFound + "Photo Close", done},
        // Reader start-up: any init failure is -4, a card left in is -1, the version is retried.
        {kMyKad, "Init=-7", "", -4, "Init(7) Close", "Init Port"},
        {kMyKad, "FW=-15", "", -1, kStart + "Close", "Please remove MyKad..."},
        {kNoPhoto, "FW=-2,-2,-2", "APDU/RETRY_COUNT_FW=1 APDU/V_TIMEOUT=900", 0,
         "Init(7) " + Times(2, "FW(900) Close Init(7) ") + kFound + "Close", done},
        {kMyKad, "FW=-2 Init=0,-4", "", -4, kStart + "Close Init(7) Close", "Init Port"},
        {kNoPhoto, "FW=-2 Init=0,-6", "", 0, kStart + "Close " + kStart + kFound + "Close", done},
        // The card wait: a card on the last poll is late, only status 2 is a card.
        {kMyKad, "CS=0,2", "MYKAD/INSERT_COUNT=2", -30, kStart + kPoll + kPoll + "Close",
         "User Cancel"},
        {kMyKad, "CS=0,-30", "", -30, kStart + kPoll + kPoll + "Close", "User Cancel"},
        {kNoPhoto, "CS=0,1", "", 0, kStart + kPoll + kPoll + kFound + "Close", done},
        {kMyKad, "CS=0,0,0 CS#2", "", -9, kStart + kPoll + kPoll + "Close", "User Cancel"},
        // Reading the card: a failure skips what follows (a failed photo: fault_tables.py).
        {kMyKad, "Reset=-12", "", -12, kStart + kPoll + "Reset IsEBA Close", done},
        {kMyKad, "ReadData=-13", "", -13, kStart + kPoll + "Reset ReadData IsEBA Close", done},
        // The finger: VERIFY_TIMES non-matches, the lower level (1 to 4, else 4) after
        // SET_LOW_TIMES; only -3 is retried.
        {kOnly, "Verify=-3,-3,-3,0",
         "MYKAD/SET_LOW_TIMES=2 MYKAD/SET_LOW_LEVEL=2 MYKAD/VERIFY_TIMES=5", 0,
         kStart + kFound + kBio + Times(2, kVerify) + Times(2, "L2 Verify(DUV) ") + "Close", done},
        {kOnly, "Verify=-3,0", "MYKAD/SET_LOW_TIMES=1 MYKAD/SET_LOW_LEVEL=0", 0,
         kStart + kFound + kBio + kVerify + kVerify + "Close", done},
        {kOnly, "Verify=-3,0", "MYKAD/SET_LOW_TIMES=1 MYKAD/SET_LOW_LEVEL=5", 0,
         kStart + kFound + kBio + kVerify + kVerify + "Close", done},
        {kOnly, "Bio=-22", "", -22, kStart + kFound + kBio + "Close", done},
        {kOnly, "Verify=-21", "", -21, kStart + kFound + kBio + kVerify + "Close", done},
        // What SecurityLevel and Close answer is not looked at.
        {kOnly, "L4=-1 Close=-1", "", 0, kStart + kFound + kBio + kVerify + "Close", done},
        {kOnly, "Verify=-3,-3,-3 Verify#1", "", -9, kStart + kFound + kBio + kVerify + "Close",
         done},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.calls);
        Reader r;
        r.dialog.plan = c.plan;
        r.Script(c.answers, c.settings);
        EXPECT_EQ(r.Run(), c.expected);
        EXPECT_EQ(r.library.Calls(), c.calls);
        // Every way out leaves the result, then hands it over with the close, last of all.
        const auto& e = r.dialog.events;
        ASSERT_GE(e.size(), 4u);
        EXPECT_EQ(e.front(), "refresh");
        EXPECT_EQ(Strings(e.end() - 3, e.end()), (Strings{std::string("line2:") + c.lastPrompt,
                                                          Format("ret:%d", c.expected), "close"}));
        if (c.expected != 0) {  // a failure leaves the result members alone
            EXPECT_TRUE(r.dialog.fullRecord == -1 && r.dialog.openData.empty() &&
                        !r.dialog.photoSet);
        }
    }
}

TEST(MyKadReader, WaitsAsConfiguredAndAVersionNeverGivenLeavesTheLinkKeyAlone) {
    Reader r;
    r.dialog.plan = kOnly;
    r.Script("CS=0,0 Verify=-3,-3,-3",
             "APDU/RETRY_WAIT_INIT=11 APDU/RETRY_WAIT_TRY=22 "
             "APDU/RETRY_WAIT_FW=33 APDU/RETRY_COUNT_FW=0");
    r.library.defaults["FW"] = -2;
    EXPECT_EQ(r.Run(), -3);
    // The version retry, the second and third polls, then two retried fingers.
    EXPECT_EQ(r.clock.sleeps, (std::vector<int>{11, 22, 33, 2000, 2000, 1000, 1000}));
    EXPECT_TRUE(r.dialog.linkKey.empty());
}

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
    Reader older;  // a card that is not EBA is named so in the same prompts
    older.library.defaults["IsEBA"] = 0;
    EXPECT_EQ(older.Run(), 0);
    EXPECT_EQ(older.dialog.lines[1],
              Times(3, "Pengesahan MyKad|") + Times(6, "Pengesahan OLD MyKad|"));
}

// A MyKid's record goes to the other buffer, without a photo, and its last prompt names no kind.
TEST(MyKadReader, RecordCopiesAreBoundedByTheirDestinations) {
    const struct {
        int readResult;
        int32_t reported;
        size_t recordSize, copied;
    } cases[] = {{0, 600, 600, 599}, {0, -5, 100, 0}, {9999, 10, 10, 10}, {9999, 5000, 2000, 2000}};
    for (const auto& c : cases) {
        Reader r;
        r.dialog.plan = kOnly;
        r.library.results["ReadData"] = {c.readResult};
        r.library.record.assign(c.recordSize, 0x39);
        r.library.reportedLength = c.reported;
        EXPECT_EQ(r.Run(), 0);
        const bool mykid = c.readResult == 9999;
        EXPECT_EQ(r.dialog.fullRecord, mykid ? 0 : 1);
        EXPECT_EQ((mykid ? r.dialog.altData : r.dialog.openData).size(), c.copied) << c.reported;
        EXPECT_EQ(r.dialog.photoSet && r.dialog.photo.empty(), !mykid) << "no photo in this mode";
        const std::string lines = r.dialog.lines[1],
                          last = mykid ? "|Pengesahan MyKad|" : "|Pengesahan EBA MyKad|";
        EXPECT_EQ(lines.substr(lines.size() - last.size()), last);
    }
}

}  // namespace
}  // namespace quillon
