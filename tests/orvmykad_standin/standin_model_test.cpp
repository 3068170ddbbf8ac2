#include "standin_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace orvstandin {
namespace {

class RecordingHost : public IStandinHost {
public:
    std::vector<std::string> lines;
    std::vector<int> sleeps;
    std::vector<int> cancelWaits;
    bool cancelled = false;
    void Sleep(int ms) override { sleeps.push_back(ms); }
    bool WaitForCancel(int ms) override {
        cancelWaits.push_back(ms);
        return cancelled;
    }
    void Record(const std::string& line) override { lines.push_back(line); }
};

std::vector<int> g_codes;
int Prompt(int code) {
    g_codes.push_back(code);
    return 1;
}

Scenario Parse(const std::string& text) {
    Scenario s = DefaultScenario();
    std::string error;
    EXPECT_TRUE(ParseScenario(text, s, error)) << error;
    return s;
}

TEST(StandinScenario, DefaultIsAnEbaMyKadThatMatchesAtOnce) {
    RecordingHost host;
    StandinReader reader(DefaultScenario(), host);
    char version[48];
    unsigned char key[20] = {0};
    unsigned char record[2000];
    int length = 0;
    unsigned char photo[4000];
    char duv[20] = "DUV";
    g_codes.clear();
    EXPECT_EQ(reader.Init(7), 0);
    EXPECT_EQ(reader.GetFirmwareVersion(2000, version, key), 0);
    EXPECT_STREQ(version, "OrvMyKad stand-in 1.0");
    EXPECT_EQ(key[0], 3);
    EXPECT_EQ(key[19], static_cast<unsigned char>(19 * 17 + 3));
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 2);
    EXPECT_EQ(reader.ReadOpenData(record, &length), 0);
    EXPECT_EQ(length, 450);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record), 14), "900101-14-5678");
    EXPECT_EQ(reader.IsEBA(), 1);
    EXPECT_EQ(reader.ReadPhoto(photo), 0);
    EXPECT_EQ(photo[0], 0xFF);
    EXPECT_EQ(photo[3999], 0xD9);
    EXPECT_EQ(reader.ReadBio(duv), 0);
    EXPECT_EQ(reader.SecurityLevel(4), 0);
    EXPECT_EQ(reader.VerifyFinger(duv, &Prompt), 0);
    EXPECT_EQ(reader.Close(), 0);
    EXPECT_EQ(g_codes, (std::vector<int>{0xA0, 0xA3}));
    EXPECT_EQ(host.lines,
              (std::vector<std::string>{
                  "OrvMyKadInit 7 -> 0", "OrvMyKadGetFirmwareVersion 2000 -> 0",
                  "OrvMyKadGetCardStatus 1 2000 -> 2", "OrvMyKadReadOpenData -> 0",
                  "OrvMyKadIsEBA -> 1", "OrvMyKadReadPhoto -> 0", "OrvMyKadReadBio DUV -> 0",
                  "OrvMyKadSecurityLevel 4 -> 0",
                  "OrvMyKadVerifyFinger DUV prompts 160,163 -> 0", "OrvMyKadClose -> 0"}));
}

TEST(StandinScenario, ResultsAreTakenInOrderThenTheDefaultAnswers) {
    RecordingHost host;
    StandinReader reader(Parse("# three polls without a card\n"
                               "result OrvMyKadGetCardStatus 0 0\n"
                               "result OrvMyKadGetCardStatus -7\n"
                               "result OrvMyKadVerifyFinger -3 0x0\n"),
                         host);
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 0);
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 0);
    EXPECT_EQ(reader.GetCardStatus(1, 2000), -7);
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 2);
    char duv[20] = "DUV";
    EXPECT_EQ(reader.VerifyFinger(duv, nullptr), -3);
    EXPECT_EQ(reader.VerifyFinger(duv, nullptr), 0);
}

TEST(StandinScenario, AMyKidAnswersTheRecordReadWith9999AndIsNotEba) {
    RecordingHost host;
    StandinReader reader(Parse("card mykid\neba no\n"), host);
    unsigned char record[2000];
    int length = 0;
    EXPECT_EQ(reader.ReadOpenData(record, &length), 9999);
    EXPECT_EQ(length, 1444);
    EXPECT_EQ(reader.IsEBA(), 0);
}

TEST(StandinScenario, BytesVersionKeyAndReportedLengthComeFromTheFile) {
    RecordingHost host;
    StandinReader reader(Parse("version ORV 9.9 test\n"
                               "key 01 02 0A0B\n"
                               "record hex 41 42 00 43\n"
                               "record-length 2500\n"
                               "photo fill 10 0x7e\n"
                               "prompts 170 0xB1\n"
                               "delay OrvMyKadVerifyFinger 250\n"),
                         host);
    char version[48];
    unsigned char key[20] = {0};
    EXPECT_EQ(reader.GetFirmwareVersion(100, version, key), 0);
    EXPECT_STREQ(version, "ORV 9.9 test");
    EXPECT_EQ((std::vector<int>(key, key + 5)), (std::vector<int>{1, 2, 10, 11, 0}));
    unsigned char record[2000];
    int length = 0;
    EXPECT_EQ(reader.ReadOpenData(record, &length), 0);
    EXPECT_EQ(length, 2500);
    EXPECT_EQ(std::memcmp(record, "AB\0C", 4), 0);
    EXPECT_EQ(record[4], 0);
    unsigned char photo[4000];
    EXPECT_EQ(reader.ReadPhoto(photo), 0);
    EXPECT_EQ(photo[9], 0x7E);
    EXPECT_EQ(photo[10], 0);
    char duv[20] = "DUV";
    g_codes.clear();
    reader.VerifyFinger(duv, &Prompt);
    EXPECT_EQ(g_codes, (std::vector<int>{170, 0xB1}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{250}));
}

TEST(StandinScenario, ACancelledCardWaitAnswersMinus30WithoutTakingAResult) {
    RecordingHost host;
    StandinReader reader(Parse("result OrvMyKadGetCardStatus 0 2\n"
                               "delay OrvMyKadGetCardStatus 1500\n"),
                         host);
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 0);
    host.cancelled = true;
    EXPECT_EQ(reader.GetCardStatus(1, 2000), -30);
    host.cancelled = false;
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 2);
    EXPECT_EQ(host.cancelWaits, (std::vector<int>{1500, 1500, 1500}));
    EXPECT_EQ(host.lines[1], "OrvMyKadGetCardStatus 1 2000 -> -30");
}

TEST(StandinScenario, BadLinesAreReportedWithTheirNumber) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"card passport", "line 1: expected mykad or mykid"},
        {"\n\nresult OrvMyKadOpen 0", "line 3: unknown function 'OrvMyKadOpen'"},
        {"result OrvMyKadInit x", "line 1: bad number 'x'"},
        {"key 0102030405060708090A0B0C0D0E0F101112131415", "line 1: expected up to 20 hexadecimal bytes"},
        {"record fill 2001 0", "line 1: more than 2000 bytes"},
        {"photo hex 4", "line 1: bad hexadecimal bytes"},
        {"delay OrvMyKadClose", "line 1: expected: delay FUNCTION MILLISECONDS"},
        {"speed fast", "line 1: unknown directive 'speed'"},
    };
    for (const auto& c : cases) {
        Scenario s = DefaultScenario();
        std::string error;
        EXPECT_FALSE(ParseScenario(c.first, s, error)) << c.first;
        EXPECT_EQ(error, c.second);
    }
}

}  // namespace
}  // namespace orvstandin
