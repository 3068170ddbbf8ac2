// Reading a reply frame shorter than its code says.
#include "terminal/terminal_replies.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(TerminalReplies, BytesBeyondAShortFrameReadAsZero) {
    const uint8_t empty[5] = {0x02, 0x00, 0x00, 0x00, 0x03};  // invalid padding decodes to m = 0
    EXPECT_EQ(ParseEventCode(empty, 5), 0);
    EXPECT_EQ(ParseSignatureReply(empty, 5).ok, false);
    EXPECT_EQ(ReplyData(empty, 5, 3).length, 0);
}

}  // namespace
}  // namespace quillon
