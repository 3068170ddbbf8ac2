// The commands' frames, written out by hand (the checksums summed on their own).
#include "terminal/terminal_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"

namespace quillon {
namespace {

std::string Hex(const uint8_t* bytes, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) out += Format(i ? " %02X" : "%02X", bytes[i]);
    return out;
}

TEST(TerminalCommands, EachBuilderMakesItsCommandsExactFrame) {
    uint8_t f[kBuildAreaSize];
    const auto built = [&f](int n) { return Hex(f, n); };
    EXPECT_EQ(built(BuildQueryFrame(f, CMD_GETLLTSTATUS)), "02 00 01 23 23 03");
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
        EXPECT_EQ(Hex(f + n - 2, 2), Hex(&row.checksum, 1) + " 03");
    }
}

}  // namespace
}  // namespace quillon
