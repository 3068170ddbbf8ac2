// The terminal's commands as plain frames, and the bounds of the replies' parsers (what the
// replies mean to an operation is in operations_test.cpp). Expected frames are written out by
// hand; the verify frame's checksum is summed here on its own.
#include "terminal/terminal_replies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_fakes.h"
#include "terminal/terminal_commands.h"

namespace quillon {
namespace {

using testing_support::ReplyFrame;

std::string Hex(const uint8_t* bytes, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) {
        char two[4];
        std::snprintf(two, sizeof two, i ? " %02X" : "%02X", bytes[i]);
        out += two;
    }
    return out;
}

TEST(TerminalCommands, EachBuilderMakesItsCommandsExactFrame) {
    uint8_t f[kBuildAreaSize];
    const auto built = [&f](int n) { return Hex(f, n); };
    EXPECT_EQ(built(BuildQueryFrame(f, CMD_GETLLTSTATUS)), "02 00 01 23 23 03");
    EXPECT_EQ(built(BuildQueryFrame(f, CMD_GETSN)), "02 00 01 25 25 03");
    const std::string zeros20 = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    EXPECT_EQ(built(BuildEnrollFrame(f, 1)), "02 00 16 27 01" + zeros20 + " 28 03");
    EXPECT_EQ(built(BuildEnrollFrame(f, 2)), "02 00 16 27 C1" + zeros20 + " E8 03");
    EXPECT_EQ(built(BuildSetTerminalTimeFrame(f, "991231235959")),
              "02 00 0F 72 01 00 39 39 31 32 33 31 32 33 35 39 35 39 ED 03");
    EXPECT_EQ(built(BuildGetSignatureFrame(f)), "02 00 06 F3 00 00 00 00 00 F3 03");
}

TEST(TerminalCommands, VerifySendsTheTemplateWithBothRangesBlankedAndIsCutToItsArea) {
    const struct {
        int format;
        size_t length, sent;  // template bytes given, and in the frame
        const char* header;
        uint8_t checksum;
    } rows[] = {{1, 598, 598, "01 04 00 00 00 02 56", 0x90},
                {2, 1196, 1196, "C1 04 00 00 00 04 AC", 0x73},
                {1, 512, 512, "01 04 00 00 00 02 56", 0xD0},
                {1, 2036, 2035, "01 04 00 00 00 02 56", 0x9D}};  // one more than the area holds
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        // Exactly `length` bytes: a builder reading one more fails under AddressSanitizer.
        std::vector<uint8_t> t(row.length);
        for (size_t i = 0; i < t.size(); ++i) t[i] = uint8_t(i % 251 + 1);
        uint8_t f[kVerifyBuildAreaSize];
        const int n = BuildVerifyFrame(f, row.format, t.data(), t.size());
        ASSERT_EQ(n, int(row.sent) + 13);
        EXPECT_EQ(f[1] * 256 + f[2], int(row.sent) + 8);
        EXPECT_EQ(Hex(f + 3, 8), std::string("28 ") + row.header);
        for (size_t i = 0; i < row.sent; ++i) {
            const bool blank = (i >= 512 && i <= 597) || (i >= 1110 && i <= 1195);
            ASSERT_EQ(f[11 + i], blank ? 0x20 : t[i]) << i;
        }
        EXPECT_EQ(Hex(f + n - 2, 2), Hex(&row.checksum, 1) + " 03");
    }
}

TEST(TerminalReplies, SerialNumberIsBoundedByItsLengthTheFrameAnd99Bytes) {
    const struct {
        int k, present;  // length field and serial bytes in the frame
        int expected;
    } rows[] = {{5, 5, 5}, {5, 9, 5}, {9, 4, 4}, {99, 99, 99}, {100, 100, 99}, {300, 300, 99}};
    for (const auto& row : rows) {
        std::vector<uint8_t> data = {0x06, uint8_t(row.k >> 8), uint8_t(row.k)};
        for (int i = 0; i < row.present; ++i) data.push_back(uint8_t('A' + i % 26));
        const std::vector<uint8_t> f = ReplyFrame(CMD_GETSN, data);
        const ByteSpan serial = ParseSerialNumberReply(f.data(), int(f.size()));
        EXPECT_EQ(serial.length, row.expected) << row.k << "/" << row.present;
        EXPECT_TRUE(serial.length == 0 || serial.data == f.data() + 7);
    }
}

TEST(TerminalReplies, StatusReplyGivesTheNameUpTo49BytesAndTheKeyBehindTheIdentity) {
    const struct {
        int nameLength, keyBytes;
        int name;
        bool key;
    } rows[] = {{3, 16, 3, true}, {49, 16, 49, true}, {60, 16, 49, true}, {3, 15, 3, false}};
    for (const auto& row : rows) {
        std::vector<uint8_t> data = {0x06, uint8_t(row.nameLength)};
        data.insert(data.end(), size_t(row.nameLength), 'N');
        data.insert(data.end(), 16, 0x1D);  // the terminal's identity
        for (int i = 0; i < row.keyBytes; ++i) data.push_back(uint8_t(0xA0 + i));
        const std::vector<uint8_t> f = ReplyFrame(CMD_GETLLTSTATUS, data);
        const StatusReply reply = ParseStatusReply(f.data(), int(f.size()));
        EXPECT_EQ(reply.customerName.length, row.name);
        EXPECT_EQ(reply.customerName.data, f.data() + 6);
        ASSERT_EQ(reply.linkKey != nullptr, row.key) << row.nameLength;
        if (row.key) {
            EXPECT_EQ(Hex(reply.linkKey, 2) + Hex(reply.linkKey + 15, 1), "A0 A1AF");
        }
    }
}

TEST(TerminalReplies, BytesBeyondAShortFrameReadAsZero) {
    const std::vector<uint8_t> event = ReplyFrame(kReplyEvent, {0x00, 0x00, 0xA5});
    EXPECT_EQ(ParseEventCode(event.data(), int(event.size())), 0xA5);
    const uint8_t empty[5] = {0x02, 0x00, 0x00, 0x00, 0x03};  // invalid padding decodes to m = 0
    EXPECT_EQ(ParseEventCode(empty, 5), 0);
    EXPECT_EQ(ParseSignatureReply(empty, 5).ok, false);
    EXPECT_EQ(ReplyData(empty, 5, 3).length, 0);
}

}  // namespace
}  // namespace quillon
