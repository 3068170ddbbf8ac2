// The record builder's parts; tests/mykad_decoder takes whole replies apart with the host-side
// decoder, which unscrambles every block and checks its check byte on its own.
#include "command/mykad_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mykad_fakes.h"

namespace quillon {
namespace {

using testing_support::FakeGuid;
using testing_support::FakeRandomSequence;
using Bytes = std::vector<uint8_t>;

TEST(Base64Encode, MatchesTheRfc4648VectorsAndMyKadTextDropsTheLastCharacter) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}};
    for (const auto& v : vectors) {
        EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>(v.first.data()), v.first.size()),
                  v.second);
    }
    const uint8_t high[] = {0xFB, 0xFF, 0xBF, 0x00};
    EXPECT_EQ(Base64Encode(high, 4), "+/+/AA==");
    EXPECT_EQ(MyKadText(high, 2), "+/8");
}

// Worked by hand with the key 0F F0: 41^0F = 4E; 00 and 20 stay; D0^F0 = 20 and 0F^0F = 00, so
// both stay; the last byte is 4E^00^20^D0^0F = B1, whatever the input held there.
TEST(ScrambleBlock, KeepsPaddingAndZerosXorsTheRestAndEndsWithTheCheckByte) {
    const uint8_t key[2] = {0x0F, 0xF0};
    const struct {
        Bytes in;
        int length, keyLength;
        Bytes out;  // starts as EE throughout
    } cases[] = {
        {{0x41, 0x00, 0x20, 0xD0, 0x0F, 0x99}, 6, 2, {0x4E, 0x00, 0x20, 0xD0, 0x0F, 0xB1}},
        {{0x41, 0x41, 0x41}, 3, 1, {0x4E, 0x4E, 0x00}},  // one key byte for every position
        {{0x41}, 1, 2, {0x00}},                          // the check byte of nothing
        {{0x41, 0x41}, 0, 2, {0xEE, 0xEE}},              // nothing written
        {{0x41, 0x41}, 2, 0, {0xEE, 0xEE}},
    };
    for (const auto& c : cases) {
        Bytes out(c.out.size(), 0xEE);
        ScrambleBlock(out.data(), c.in.data(), c.length, key, c.keyLength);
        EXPECT_EQ(out, c.out) << c.length << " " << c.keyLength;
    }
}

TEST(DeriveMyKadKey, AppliesTheTwoMaskBytesAlternately) {
    const uint8_t random[16] = {0x00, 0x00, 0xFF, 0xFF, 0xA7, 0x3D, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    uint8_t key[16];
    DeriveMyKadKey(random, key);
    EXPECT_EQ(Bytes(key, key + 16), (Bytes{0xA7, 0x3D, 0x58, 0xC2, 0x00, 0x00, 0xA6, 0x3F, 0xA4,
                                           0x39, 0xA2, 0x3B, 0xA0, 0x35, 0xAE, 0x37}));
}

TEST(MakeRandomBlock, FallsBackToRandDividedBy255WhenTheGuidFails) {
    FakeGuid guid;
    guid.works = false;
    FakeRandomSequence rand;
    rand.values = {0, 254, 255, 509, 510, 32767, 32640, 1000, 2000, 3000, 4000, 5000, 6000, 7000};
    uint8_t block[16];
    MakeRandomBlock(guid, rand, block);
    EXPECT_EQ(Bytes(block, block + 16),
              (Bytes{0, 0, 1, 1, 2, 128, 128, 3, 7, 11, 15, 19, 23, 27, 0, 0}));
}

// The decoder's round trips (tests/mykad_decoder) name each plain command.
TEST(ClassifyMyKadCommand, NamesTheCommandTheWayTheDispatcherChoseItsRunner) {
    // NOPHOTO without either keyword ran a photo runner in the dispatcher.
    EXPECT_EQ(ClassifyMyKadCommand("READMYKADNOVERIFYWITHPHOTO+NOPHOTO"),
              MyKadCommand::kNoVerifyWithPhoto);
    EXPECT_EQ(ClassifyMyKadCommand("READMYKAD-NOPHOTO"), MyKadCommand::kFull);
}

// The round trips of tests/mykad_decoder check the columns of ordinary texts.
TEST(FormatMyKadRecord, PadsEachColumnButNeverCutsALongText) {
    const char* const texts[3] = {"ABCDEFGHIJKLMNOPQRSTUVW", "1234567", nullptr};
    EXPECT_EQ(FormatMyKadRecord(MyKadLayout::kLabelledVerifyFail, texts, "01012025000000", ""),
              "VERIFY FAIL   ABCDEFGHIJKLMNOPQRSTUVW123456701012025000000" + std::string(40, ' '));
}

TEST(WriteMyKadRecord, NeverWritesPastTheCardBuffer) {
    Bytes card(2000, 0);
    EXPECT_EQ(WriteMyKadRecord(card.data(), card.size(), 1990, std::string(30, 'x')), 10u);
    EXPECT_EQ(card[1989], 0);
    EXPECT_EQ(card[1999], 'x');
    EXPECT_EQ(WriteMyKadRecord(card.data(), card.size(), 2000, "y"), 0u);
}

}  // namespace
}  // namespace quillon
