// The record builder's parts that the round trips of tests/mykad_decoder (whose decoder has its
// own base64, key and unscrambling) do not reach: fallbacks, odd commands, long texts, bounds.
#include "command/mykad_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mykad_fakes.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(MakeRandomBlock, FallsBackToRandDividedBy255WhenTheGuidFails) {
    testing_support::FakeGuid guid;
    guid.works = false;
    testing_support::FakeRandomSequence rand;
    rand.values = {0, 254, 255, 509, 510, 32767, 32640, 1000, 2000, 3000, 4000, 5000, 6000, 7000};
    uint8_t block[16];
    MakeRandomBlock(guid, rand, block);
    EXPECT_EQ(Bytes(block, block + 16),
              (Bytes{0, 0, 1, 1, 2, 128, 128, 3, 7, 11, 15, 19, 23, 27, 0, 0}));
}

// NOPHOTO without either keyword ran a photo runner in the dispatcher.
TEST(ClassifyMyKadCommand, NamesTheCommandTheWayTheDispatcherChoseItsRunner) {
    EXPECT_EQ(ClassifyMyKadCommand("READMYKADNOVERIFYWITHPHOTO+NOPHOTO"),
              MyKadCommand::kNoVerifyWithPhoto);
    EXPECT_EQ(ClassifyMyKadCommand("READMYKAD-NOPHOTO"), MyKadCommand::kFull);
}

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
