// The stand-in's scenario model. Its default scenario and call record are played through the DLL
// by the end-to-end MyKad test (tests/e2e/test_commands.py).
#include "standin_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace orvstandin {
namespace {

struct Host : IStandinHost {
    std::vector<int> sleeps, cancelWaits;
    bool cancelled = false;
    void Sleep(int ms) override { sleeps.push_back(ms); }
    bool WaitForCancel(int ms) override { return cancelWaits.push_back(ms), cancelled; }
    void Record(const std::string&) override {}
};

std::vector<int> g_codes;
int Prompt(int code) { return g_codes.push_back(code), 1; }

Scenario Parse(const std::string& text) {
    Scenario s = DefaultScenario();
    std::string error;
    EXPECT_TRUE(ParseScenario(text, s, error)) << error;
    return s;
}

TEST(StandinScenario, FileSetsResultsInOrderThenDefaultsAndTheCardsBytes) {
    Host host;
    StandinReader reader(Parse("# a comment\n"
                               "result OrvMyKadGetCardStatus 0 0\n"
                               "result OrvMyKadGetCardStatus -7\n"
                               "card mykid\neba no\nversion ORV 9.9 test\nkey 01 02 0A0B\n"
                               "record hex 41 42 00 43\nrecord-length 2500\nphoto fill 10 0x7e\n"
                               "prompts 170 0xB1\ndelay OrvMyKadVerifyFinger 250\n"),
                         host);
    for (int expected : {0, 0, -7, 2}) EXPECT_EQ(reader.GetCardStatus(1, 2000), expected);
    char version[48] = {0}, duv[20] = "DUV";
    unsigned char key[20] = {0}, record[2000] = {0}, photo[4000] = {0};
    int length = 0;
    EXPECT_EQ(reader.GetFirmwareVersion(100, version, key), 0);
    EXPECT_STREQ(version, "ORV 9.9 test");
    EXPECT_EQ(std::vector<int>(key, key + 5), (std::vector<int>{1, 2, 10, 11, 0}));
    EXPECT_EQ(reader.ReadOpenData(record, &length), 9999) << "a MyKid";
    EXPECT_EQ(length, 2500);
    EXPECT_EQ(std::memcmp(record, "AB\0C\0", 5), 0);
    EXPECT_EQ(reader.IsEBA(), 0);
    EXPECT_EQ(reader.ReadPhoto(photo), 0);
    EXPECT_EQ(photo[9], 0x7E);
    EXPECT_EQ(photo[10], 0);
    g_codes.clear();
    reader.VerifyFinger(duv, &Prompt);
    EXPECT_EQ(g_codes, (std::vector<int>{170, 0xB1}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{250}));
}

TEST(StandinScenario, DelaysGoCallByCallAndACancelledWaitTakesNoResult) {
    Host host;
    StandinReader reader(Parse("result OrvMyKadGetCardStatus 0 5\n"
                               "delay OrvMyKadGetCardStatus 0 1500 900\n"
                               "delay OrvMyKadReadPhoto 70 0 30\n"),
                         host);
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 0);
    host.cancelled = true;
    EXPECT_EQ(reader.GetCardStatus(1, 2000), -30);
    host.cancelled = false;
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 5);
    EXPECT_EQ(reader.GetCardStatus(1, 2000), 2) << "the results ran out: the default";
    EXPECT_EQ(host.cancelWaits, (std::vector<int>{0, 1500, 900, 900}));
    unsigned char photo[4000];
    for (int i = 0; i < 5; ++i) reader.ReadPhoto(photo);
    EXPECT_EQ(host.sleeps, (std::vector<int>{70, 30, 30, 30})) << "0: no sleep at all";
}

}  // namespace
}  // namespace orvstandin
