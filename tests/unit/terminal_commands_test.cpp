#include "terminal/terminal_commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "acqdialog/acq_dialog.h"
#include "dialog_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

std::vector<uint8_t> Frame(const uint8_t* frame, int length) {
    return std::vector<uint8_t>(frame, frame + length);
}

TEST(Builders, OneByteCommandsAreSixBytesLong) {
    uint8_t frame[kBuildAreaSize] = {0};
    const int length = BuildFrame(frame, sizeof frame, CMD_GETSN, nullptr, 0);
    EXPECT_EQ(Frame(frame, length), (std::vector<uint8_t>{0x02, 0x00, 0x01, 0x25, 0x25, 0x03}));
}

TEST(Builders, EnrollCarriesTheTemplateFormatAndTwentyZeros) {
    for (int format : {1, 2}) {
        uint8_t frame[kBuildAreaSize] = {0};
        const int length = BuildEnrollFrame(frame, format);
        ASSERT_EQ(length, 27);
        EXPECT_EQ(frame[1] * 256 + frame[2], 22);
        EXPECT_EQ(frame[3], 0x27);
        EXPECT_EQ(frame[4], format == 2 ? 0xC1 : 0x01);
        for (int i = 5; i <= 24; ++i) EXPECT_EQ(frame[i], 0) << i;
        EXPECT_EQ(frame[25], static_cast<uint8_t>(0x27 + frame[4]));
        EXPECT_EQ(frame[26], 0x03);
    }
}

TEST(Builders, SetTerminalTimeSendsTheTwelveCharactersUnchecked) {
    uint8_t frame[kBuildAreaSize] = {0};
    const int length = BuildSetTerminalTimeFrame(frame, "99AB12345678");
    ASSERT_EQ(length, 20);
    EXPECT_EQ(frame[1] * 256 + frame[2], 15);
    const std::vector<uint8_t> data(frame + 3, frame + 18);
    EXPECT_EQ(data, (std::vector<uint8_t>{0x72, 0x01, 0x00, '9', '9', 'A', 'B', '1', '2', '3',
                                          '4', '5', '6', '7', '8'}));
}

struct VerifyCase {
    int format;
    size_t templateLength;
    uint8_t d1, d6, d7;
};

void PrintTo(const VerifyCase& c, std::ostream* os) {
    *os << "format " << c.format << " length " << c.templateLength;
}

class VerifyFrame : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(VerifyFrame, HeaderThenTemplateWithBlankedRanges) {
    const VerifyCase& c = GetParam();
    std::vector<uint8_t> templ(c.templateLength);
    for (size_t i = 0; i < templ.size(); ++i) templ[i] = static_cast<uint8_t>(0x80 | (i & 0x3F));
    uint8_t frame[kVerifyBuildAreaSize] = {0};
    const int length = BuildVerifyFrame(frame, c.format, templ.data(), templ.size());
    const int l = static_cast<int>(c.templateLength) + 8;
    ASSERT_EQ(length, l + 5);
    EXPECT_EQ(frame[1] * 256 + frame[2], l);
    EXPECT_EQ(frame[3], 0x28);
    EXPECT_EQ(Frame(frame + 4, 7), (std::vector<uint8_t>{c.d1, 0x04, 0, 0, 0, c.d6, c.d7}));
    for (size_t i = 0; i < templ.size(); ++i) {
        const bool blank = (i >= 512 && i <= 597) || (i >= 1110 && i <= 1195);
        ASSERT_EQ(frame[11 + i], blank ? 0x20 : templ[i]) << "template byte " << i;
    }
    EXPECT_EQ(frame[l + 4], 0x03);
}

INSTANTIATE_TEST_SUITE_P(Layouts, VerifyFrame,
                         ::testing::Values(VerifyCase{1, 598, 0x01, 0x02, 0x56},
                                           VerifyCase{2, 1196, 0xC1, 0x04, 0xAC},
                                           // the blanked range falls behind a short template
                                           VerifyCase{1, 512, 0x01, 0x02, 0x56}));

TEST(Builders, OverlongVerifyTemplateIsCutToTheBuildArea) {
    std::vector<uint8_t> templ(5000, 0x41);
    uint8_t frame[kVerifyBuildAreaSize] = {0};
    const int length = BuildVerifyFrame(frame, 1, templ.data(), templ.size());
    EXPECT_EQ(length, kVerifyBuildAreaSize);
    EXPECT_EQ(frame[length - 1], 0x03);
}

TEST(Builders, DialogBuildersHandTheirFrameToThePort) {
    DialogRig rig;
    CAcqDialog dialog(rig.env);
    dialog.Attach(&rig.window);
    dialog.m_nTemplateFormat = 2;
    dialog.m_strVerifyTemplate = std::string(1196, '\x02');
    dialog.SendEnroll();
    dialog.SendVerify();
    dialog.SendGetSignature();
    ASSERT_EQ(rig.port.frames.size(), 3u);
    EXPECT_EQ(rig.port.frames[0][4], 0xC1);
    EXPECT_EQ(rig.port.frames[1].size(), 1196u + 13);
    EXPECT_EQ(Frame(rig.port.frames[2].data(), 11),
              (std::vector<uint8_t>{0x02, 0x00, 0x06, 0xF3, 0, 0, 0, 0, 0, 0xF3, 0x03}));
}

}  // namespace
}  // namespace quillon
