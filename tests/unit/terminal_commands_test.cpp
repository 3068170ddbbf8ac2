#include "terminal/terminal_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acqdialog/acq_dialog.h"
#include "dialog_fakes.h"
#include "simulator/scenario.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& text) {
    Bytes bytes;
    EXPECT_TRUE(sim::ParseHexBytes(text, &bytes)) << text;
    return bytes;
}

TEST(Commands, EachGoesToThePortAsItsExactPlainFrameAndDiscardsAPartReply) {
    testing_support::DialogRig rig;
    CAcqDialog dialog(rig.env);
    dialog.Attach(&rig.window);
    std::strcpy(dialog.m_szTerminalTime, "99AB12345678");  // sent as it is, unchecked
    const struct {
        void (CAcqDialog::*send)();
        int templateFormat;
        const char* frame;
    } cases[] = {
        {&CAcqDialog::SendGetLLTStatus, 1, "020001 23 23 03"},
        {&CAcqDialog::SendGetSN, 1, "020001 25 25 03"},
        {&CAcqDialog::SendGetSignature, 1, "020006 F3 0000000000 F3 03"},
        {&CAcqDialog::SendEnroll, 1, "020016 27 01 0000000000000000000000000000000000000000 28 03"},
        {&CAcqDialog::SendEnroll, 2, "020016 27 C1 0000000000000000000000000000000000000000 E8 03"},
        {&CAcqDialog::SendSetTerminalTime, 1, "02000F 72 0100 393941423132333435363738 0C 03"},
    };
    for (const auto& c : cases) {
        dialog.m_nTemplateFormat = c.templateFormat;
        g_nRxLen = 5;  // part of an earlier reply
        (dialog.*c.send)();
        EXPECT_EQ(rig.port.frames.back(), Hex(c.frame));
        EXPECT_EQ(g_nRxLen.load(), 0) << c.frame;
    }
}

TEST(Commands, VerifyCarriesItsFormatsHeaderAndTheTemplateWithBlankedRangesCutToTheArea) {
    testing_support::DialogRig rig;
    CAcqDialog dialog(rig.env);
    dialog.Attach(&rig.window);
    const struct {
        int format;
        size_t length, sent;
        const char* header;  // code and the seven bytes before the template
    } cases[] = {{1, 598, 598, "28 01 04 000000 0256"},
                 {2, 1196, 1196, "28 C1 04 000000 04AC"},
                 {1, 5000, kVerifyBuildAreaSize - 13, "28 01 04 000000 0256"}};
    for (const auto& c : cases) {
        dialog.m_nTemplateFormat = c.format;
        dialog.m_strVerifyTemplate.clear();
        for (size_t i = 0; i < c.length; ++i) {
            dialog.m_strVerifyTemplate.push_back(static_cast<char>(0x80 | (i & 0x3F)));
        }
        dialog.SendVerify();
        const Bytes& frame = rig.port.frames.back();
        ASSERT_EQ(frame.size(), c.sent + 13);
        EXPECT_EQ(frame[1] * 256 + frame[2], static_cast<int>(c.sent) + 8);
        EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 11), Hex(c.header));
        for (size_t i = 0; i < c.sent; ++i) {
            const bool blank = (i >= 512 && i <= 597) || (i >= 1110 && i <= 1195);
            ASSERT_EQ(frame[11 + i], blank ? 0x20 : (0x80 | (i & 0x3F))) << "template byte " << i;
        }
        EXPECT_EQ(frame.back(), 0x03);
    }
}

}  // namespace
}  // namespace quillon
