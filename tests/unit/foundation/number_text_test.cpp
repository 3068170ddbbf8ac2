// Numbers and hexadecimal in request texts.
#include "foundation/number_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace quillon {
namespace {

TEST(ParseInt, ReadsTheLeadingDecimalAndSaturates) {
    const char* const texts[] = {"\t-5", "+3",         "3abc",       "abc",        " - 4",
                                 "0010", "2147483647", "2147483648", "-2147483649"};
    const int values[] = {-5, 3, 3, 0, 0, 10, INT_MAX, INT_MAX, INT_MIN};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(ParseInt(texts[i]), values[i]) << '"' << texts[i] << '"';
}
// A pair is read up to its first non-digit; a short text pads with zeros.
TEST(HexDecode, ReadsPairsEitherCasePaddingWithZeros) {
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {{"aAf009", {0xAA, 0xF0, 0x09}},
                                                                  {"12", {0x12, 0x00, 0x00}},
                                                                  {"123", {0x12, 0x03, 0x00}},
                                                                  {"1G", {0x01}},
                                                                  {"G1", {0x00}}};
    for (const auto& c : cases) {
        std::vector<uint8_t> out(c.second.size(), 0xEE);
        HexDecode(c.first, out.size(), out.data());
        EXPECT_EQ(out, c.second) << '"' << c.first << '"';
    }
}

}  // namespace
}  // namespace quillon
