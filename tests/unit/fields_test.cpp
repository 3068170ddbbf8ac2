#include "command/fields.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace quillon {
namespace {

struct FieldCase {
    const char* text;
    int index;
    int result;
    const char* expected;  // content of out after the call (out starts as "keep")
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.text << " #" << c.index; }

class GetFieldTable : public ::testing::TestWithParam<FieldCase> {};

TEST_P(GetFieldTable, CopiesTheFieldOrLeavesOutAlone) {
    const FieldCase& c = GetParam();
    char out[32];
    std::strcpy(out, "keep");
    EXPECT_EQ(GetField(c.index, c.text, out, sizeof out), c.result);
    EXPECT_STREQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, GetFieldTable,
    ::testing::Values(FieldCase{"[P][Q][R]", 3, 0, "R"},            //
                      FieldCase{"[P][Q][R]", 4, -1, "keep"},        // no such field
                      FieldCase{"[P[Q]][R]", 1, 0, "P[Q"},          // "[" is content...
                      FieldCase{"[P[Q]][R]", 2, 0, "Q"},            // ...and opens field 2
                      FieldCase{"[P[Q]][R]", 3, 0, "R"},            //
                      FieldCase{"[ENROLL", 1, 0, "ENROLL"},         // unterminated
                      FieldCase{"[P]X[Q]", 2, 0, "Q"},              // X belongs to no field
                      FieldCase{"XX[ENROLL][1][3]", 1, 0, "ENROLL"},  // leading text skipped
                      FieldCase{"[][B]", 1, -1, "keep"},            // empty field copies nothing
                      FieldCase{"[][B]", 2, 0, "B"},                //
                      FieldCase{"", 1, -1, "keep"},                 // empty text
                      FieldCase{"no brackets", 1, -1, "keep"},      //
                      FieldCase{"[A]", 0, -1, "keep"}));            // fields count from 1

TEST(GetField, ShortContentIsTerminatedOverLongerOldContent) {
    char out[16];
    std::strcpy(out, "LONGER_TEXT");
    ASSERT_EQ(GetField(1, "[AB]", out, sizeof out), 0);
    EXPECT_STREQ(out, "AB");
}

TEST(GetField, OverLongFieldIsCutToTheBuffer) {
    std::string text = "[" + std::string(5000, 'Z') + "][2]";
    char out[50];
    std::memset(out, 0x7F, sizeof out);
    ASSERT_EQ(GetField(1, text.c_str(), out, sizeof out), 0);
    EXPECT_EQ(std::strlen(out), 49u);
    EXPECT_EQ(std::string(out), std::string(49, 'Z'));
}

TEST(GetField, MegabyteRequestWithManyBracketsFindsLaterField) {
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "[x]";
    text += "[last]";
    char out[8] = {0};
    ASSERT_EQ(GetField(200001, text.c_str(), out, sizeof out), 0);
    EXPECT_STREQ(out, "last");
}

struct IntCase {
    const char* text;
    int value;
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }

class ParseIntTable : public ::testing::TestWithParam<IntCase> {};

TEST_P(ParseIntTable, ReadsLeadingDecimal) {
    EXPECT_EQ(ParseInt(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Integers, ParseIntTable,
                         ::testing::Values(IntCase{"0", 0}, IntCase{"1", 1}, IntCase{"12", 12},
                                           IntCase{"  7", 7}, IntCase{"\t-5", -5},
                                           IntCase{"+3", 3}, IntCase{"3abc", 3},
                                           IntCase{"abc", 0}, IntCase{"", 0},
                                           IntCase{"-", 0}, IntCase{" - 4", 0},
                                           IntCase{"0010", 10}, IntCase{"2147483647", INT_MAX},
                                           IntCase{"99999999999999999999", INT_MAX},
                                           IntCase{"-99999999999999999999", INT_MIN}));

TEST(Hex, EncodesUppercaseTwoDigitsPerByte) {
    const uint8_t bytes[] = {0x00, 0x0F, 0xA5, 0xFF, 0x10};
    char out[11];
    HexEncode(bytes, sizeof bytes, out);
    EXPECT_STREQ(out, "000FA5FF10");
}

TEST(Hex, EncodesNothingAsEmptyText) {
    char out[1] = {'x'};
    HexEncode(nullptr, 0, out);
    EXPECT_STREQ(out, "");
}

struct HexDecodeCase {
    const char* text;
    std::vector<uint8_t> bytes;
};

void PrintTo(const HexDecodeCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }

class HexDecodeTable : public ::testing::TestWithParam<HexDecodeCase> {};

TEST_P(HexDecodeTable, DecodesPairs) {
    const HexDecodeCase& c = GetParam();
    std::vector<uint8_t> out(c.bytes.size(), 0xEE);
    HexDecode(c.text, out.size(), out.data());
    EXPECT_EQ(out, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, HexDecodeTable,
    ::testing::Values(HexDecodeCase{"00FFa5A5", {0x00, 0xFF, 0xA5, 0xA5}},
                      HexDecodeCase{"0a0B", {0x0A, 0x0B}},
                      // A short text pads with zero bytes; an odd last digit stands alone.
                      HexDecodeCase{"12", {0x12, 0x00, 0x00}},
                      HexDecodeCase{"123", {0x12, 0x03, 0x00}},
                      HexDecodeCase{"", {0x00, 0x00}},
                      // Parsing a pair stops at its first non-digit.
                      HexDecodeCase{"1G", {0x01}}, HexDecodeCase{"G1", {0x00}},
                      HexDecodeCase{" 5", {0x00}}, HexDecodeCase{"zz41", {0x00, 0x41}}));

TEST(Hex, LowercaseDecodesAsUppercase) {
    std::string upper, lower;
    for (int i = 0; i < 256; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", i);
        upper += pair;
        std::snprintf(pair, sizeof pair, "%02x", i);
        lower += pair;
    }
    std::vector<uint8_t> a(256), b(256);
    HexDecode(upper.c_str(), 256, a.data());
    HexDecode(lower.c_str(), 256, b.data());
    EXPECT_EQ(a, b);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(a[i], i);
}

TEST(Hex, RoundTripOfATemplate) {
    std::vector<uint8_t> bytes(598);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    std::vector<char> text(2 * bytes.size() + 1);
    HexEncode(bytes.data(), bytes.size(), text.data());
    EXPECT_EQ(std::strlen(text.data()), 1196u);
    std::vector<uint8_t> back(bytes.size());
    HexDecode(text.data(), back.size(), back.data());
    EXPECT_EQ(back, bytes);
}

}  // namespace
}  // namespace quillon
