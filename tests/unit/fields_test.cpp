#include "command/fields.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace quillon {
namespace {

TEST(GetField, CopiesTheFieldCutToTheBufferOrLeavesOutAlone) {
    const struct {
        std::string text;
        int index, result;
        std::string expected;  // out after the call; it starts as "keep"
    } cases[] = {
        {"[P][Q][R]", 3, 0, "R"},      // a short field is terminated over the old content
        {"[P][Q][R]", 4, -1, "keep"},  // no such field
        {"[P[Q]][R]", 1, 0, "P[Q"},    // "[" is content...
        {"[P[Q]][R]", 2, 0, "Q"},      // ...and opens the next field
        {"[ENROLL", 1, 0, "ENROLL"},   // unterminated
        {"[P]X[Q]", 2, 0, "Q"},        // X belongs to no field
        {"[][B]", 1, -1, "keep"},      // an empty field copies nothing
        {"[][B]", 2, 0, "B"},
        {"no brackets", 1, -1, "keep"},
        {"[A]", 0, -1, "keep"},  // fields count from 1
        {"[" + std::string(5000, 'Z') + "][2]", 1, 0, std::string(31, 'Z')},
    };
    for (const auto& c : cases) {
        char out[32] = "keep";
        EXPECT_EQ(GetField(c.index, c.text.c_str(), out, sizeof out), c.result)
            << c.text.substr(0, 20) << " #" << c.index;
        EXPECT_EQ(std::string(out), c.expected);
    }
}

TEST(ParseInt, ReadsTheLeadingDecimalAndSaturates) {
    const std::pair<const char*, int> cases[] = {{"12", 12},
                                                 {"  7", 7},
                                                 {"\t-5", -5},
                                                 {"+3", 3},
                                                 {"3abc", 3},
                                                 {"abc", 0},
                                                 {"-", 0},
                                                 {" - 4", 0},
                                                 {"0010", 10},
                                                 {"2147483647", INT_MAX},
                                                 {"99999999999999999999", INT_MAX},
                                                 {"-99999999999999999999", INT_MIN}};
    for (const auto& c : cases) EXPECT_EQ(ParseInt(c.first), c.second) << '"' << c.first << '"';
}

// Encoding is checked through the ENROLL and GETSIGNATURE replies (dispatch_test).
TEST(HexDecode, ReadsPairsEitherCasePaddingWithZeros) {
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"00FFa5A5", {0x00, 0xFF, 0xA5, 0xA5}},
        {"abCDeF09", {0xAB, 0xCD, 0xEF, 0x09}},
        // A short text pads with zero bytes; an odd last digit stands alone.
        {"12", {0x12, 0x00, 0x00}},
        {"123", {0x12, 0x03, 0x00}},
        {"", {0x00, 0x00}},
        // A pair is read up to its first non-digit.
        {"1G", {0x01}},
        {"G1", {0x00}},
        {" 5", {0x00}},
        {"zz41", {0x00, 0x41}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out(c.second.size(), 0xEE);
        HexDecode(c.first, out.size(), out.data());
        EXPECT_EQ(out, c.second) << '"' << c.first << '"';
    }
}

}  // namespace
}  // namespace quillon
