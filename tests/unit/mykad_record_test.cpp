#include "command/mykad_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes.h"
#include "mykad_fakes.h"
#include "quillon_build_config.h"

namespace quillon {
namespace {

using testing_support::FakeGuid;
using testing_support::FakeRandomSequence;
using testing_support::MyKadReplyRig;
using Bytes = std::vector<uint8_t>;

// ---- ScrambleBlock ----

struct ScrambleCase {
    const char* name;
    Bytes in;
    Bytes out;
};

TEST(ScrambleBlock, KeepsZeroAndSpaceAndBytesThatWouldBecomeThem) {
    // Key byte i is 0x10 + i.
    uint8_t key[16];
    for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(0x10 + i);
    const std::vector<ScrambleCase> cases = {
        {"zero and space stay", {0x00, 0x20, 0x77}, {0x00, 0x20, 0x20}},
        {"x ^ k == 0 stays", {0x10, 0x11, 0x99}, {0x10, 0x11, 0x01}},
        {"x ^ k == 0x20 stays", {0x30, 0x31, 0x99}, {0x30, 0x31, 0x01}},
        {"others are XORed, last is the check byte",
         {0x00, 0x20, 0x12, 0x33, 0x41, 0xFF, 0x99},
         {0x00, 0x20, 0x12, 0x33, 0x55, 0xEA, 0xBE}},
        {"the key repeats after 16 bytes",
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x01, 0x00},
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x10, 0x01}},
        {"one byte is only the check byte", {0x42}, {0x00}},
    };
    for (const auto& c : cases) {
        Bytes out(c.in.size(), 0xCC);
        ScrambleBlock(out.data(), c.in.data(), static_cast<int>(c.in.size()), key, 16);
        EXPECT_EQ(out, c.out) << c.name;
    }
}

TEST(ScrambleBlock, IsItsOwnInverseAndItsCheckByteIsTheXorOfTheRest) {
    uint8_t key[16];
    for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i * 37 + 5);
    Bytes in(300);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + i / 5);
    Bytes once(in.size()), twice(in.size());
    ScrambleBlock(once.data(), in.data(), 300, key, 16);
    ScrambleBlock(twice.data(), once.data(), 300, key, 16);
    EXPECT_TRUE(std::equal(in.begin(), in.end() - 1, twice.begin()));
    uint8_t x = 0;
    for (int i = 0; i < 299; ++i) x ^= once[i];
    EXPECT_EQ(once[299], x);
    uint8_t plain = 0;
    for (int i = 0; i < 299; ++i) plain ^= in[i];
    EXPECT_EQ(twice[299], plain);
    // The last input byte never reaches the output.
    Bytes other = in;
    other[299] ^= 0xFF;
    Bytes again(300);
    ScrambleBlock(again.data(), other.data(), 300, key, 16);
    EXPECT_EQ(again, once);
}

TEST(ScrambleBlock, WorksInPlace) {
    uint8_t key[16] = {0x55};
    uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x04};
    ScrambleBlock(bytes, bytes, 4, key, 16);
    EXPECT_EQ(bytes[0], 0x54);
    EXPECT_EQ(bytes[1], 0x02);  // key byte 1 is 0
    EXPECT_EQ(bytes[2], 0x03);
    EXPECT_EQ(bytes[3], 0x54 ^ 0x02 ^ 0x03);
}

// ---- Base64 ----

TEST(Base64Encode, MatchesTheRfc4648Vectors) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>(v.first.data()), v.first.size()),
                  v.second);
    }
    const uint8_t high[] = {0xFB, 0xFF, 0xBF, 0x00};
    EXPECT_EQ(Base64Encode(high, 4), "+/+/AA==");
}

TEST(MyKadText, DropsTheLastCharacter) {
    const uint8_t bytes[] = {'f', 'o'};
    EXPECT_EQ(MyKadText(bytes, 2), "Zm8");
    Bytes zeros(4000, 0);
    EXPECT_EQ(MyKadText(zeros.data(), zeros.size()).size(), 5335u);
}

// ---- Key and random block ----

TEST(DeriveMyKadKey, AppliesTheTwoMaskBytesAlternately) {
    const uint8_t random[16] = {0x00, 0x00, 0xFF, 0xFF, 0xA7, 0x3D, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    uint8_t key[16];
    DeriveMyKadKey(random, key);
    EXPECT_EQ(QUILLON_MYKAD_MASK_EVEN, 0xA7);
    EXPECT_EQ(QUILLON_MYKAD_MASK_ODD, 0x3D);
    const uint8_t expected[16] = {0xA7, 0x3D, 0x58, 0xC2, 0x00, 0x00, 0xA6, 0x3F,
                                  0xA4, 0x39, 0xA2, 0x3B, 0xA0, 0x35, 0xAE, 0x37};
    EXPECT_EQ(Bytes(key, key + 16), Bytes(expected, expected + 16));
}

TEST(MakeRandomBlock, TakesTheGuidOrFallsBackToRandDividedBy255) {
    FakeGuid guid;
    FakeRandomSequence rand;
    uint8_t block[16];
    MakeRandomBlock(guid, rand, block);
    EXPECT_EQ(block[0], 0x10);
    EXPECT_EQ(block[15], 0x0F);

    guid.works = false;
    rand.values = {0, 254, 255, 509, 510, 32767, 32640, 1000, 2000, 3000, 4000, 5000, 6000, 7000,
                   8000, 9000};
    MakeRandomBlock(guid, rand, block);
    const uint8_t expected[16] = {0, 0, 1, 1, 2, 128, 128, 3, 7, 11, 15, 19, 23, 27, 31, 35};
    EXPECT_EQ(Bytes(block, block + 16), Bytes(expected, expected + 16));
    EXPECT_TRUE(rand.values.empty());
}

// ---- Commands and layouts ----

TEST(ClassifyMyKadCommand, TellsTheFourCommandsApart) {
    const std::vector<std::pair<const char*, MyKadCommand>> cases = {
        {"READMYKAD", MyKadCommand::kFull},
        {"READMYKADNOPHOTO", MyKadCommand::kNoPhoto},
        {"READMYKADNOVERIFYNOPHOTO", MyKadCommand::kNoVerifyNoPhoto},
        {"READMYKADNOVERIFYWITHPHOTO", MyKadCommand::kNoVerifyWithPhoto},
        {"xxREADMYKADNOPHOTOxx", MyKadCommand::kNoPhoto},
        {"READMYKADNOVERIFYWITHPHOTO+NOPHOTO", MyKadCommand::kNoVerifyWithPhoto},
        {"READMYKAD-NOPHOTO", MyKadCommand::kFull},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifyMyKadCommand(c.first), c.second) << c.first;
    }
    EXPECT_STREQ(MyKadKeyword(MyKadCommand::kNoVerifyNoPhoto), "READMYKADNOVERIFYNOPHOTO");
}

TEST(FormatMyKadRecord, WritesTheThreeLayouts) {
    const char* const texts[3] = {"CUST0001", "B01", "COUNTER 4"};
    EXPECT_EQ(FormatMyKadRecord(MyKadLayout::kPlain, texts, "07032024090502", "192.0.2.2"),
              "CUST0001            B01   07032024090502COUNTER 4           192.0.2.2           ");
    EXPECT_EQ(
        FormatMyKadRecord(MyKadLayout::kLabelledVerified, texts, "07032024090502", "10.1.2.3"),
        "VERIFIED      CUST0001            B01   07032024090502COUNTER 4           10.1.2.3"
        "            ");
    const std::string fail =
        FormatMyKadRecord(MyKadLayout::kLabelledVerifyFail, texts, "07032024090502", "");
    EXPECT_EQ(fail.size(), 94u);
    EXPECT_EQ(fail.substr(0, 14), "VERIFY FAIL   ");
    EXPECT_EQ(fail.substr(74), std::string(20, ' '));
}

TEST(FormatMyKadRecord, ALongTextWidensTheRecordAndShiftsTheLaterColumns) {
    const char* const texts[3] = {"ABCDEFGHIJKLMNOPQRSTUVW", "1234567", nullptr};
    const std::string record =
        FormatMyKadRecord(MyKadLayout::kPlain, texts, "01012025000000", "1.2.3.4");
    EXPECT_EQ(record,
              "ABCDEFGHIJKLMNOPQRSTUVW123456701012025000000                    1.2.3.4             ");
}

TEST(FormatMyKadTimeStamp, IsDayMonthYearHourMinuteSecond) {
    EXPECT_EQ(FormatMyKadTimeStamp(LocalTime{2024, 3, 7, 9, 5, 2, 999}), "07032024090502");
    EXPECT_EQ(FormatMyKadTimeStamp(LocalTime{1999, 12, 31, 23, 59, 58, 0}), "31121999235958");
}

TEST(WriteMyKadRecord, NeverWritesPastTheCardBuffer) {
    Bytes card(2000, 0);
    EXPECT_EQ(WriteMyKadRecord(card.data(), card.size(), 1990, std::string(30, 'x')), 10u);
    EXPECT_EQ(card[1989], 0);
    EXPECT_EQ(card[1999], 'x');
    EXPECT_EQ(WriteMyKadRecord(card.data(), card.size(), 2000, "y"), 0u);
}

// ---- Whole replies ----

std::string DecodeBase64(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const size_t v = alphabet.find(c);
        if (v == std::string::npos) break;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// Splits "[a][b][c]" into its fields.
std::vector<std::string> Fields(const std::string& reply) {
    std::vector<std::string> fields;
    size_t at = 0;
    while ((at = reply.find('[', at)) != std::string::npos) {
        const size_t end = reply.find(']', at);
        fields.push_back(reply.substr(at + 1, end - at - 1));
        at = end;
    }
    return fields;
}

struct Builder : MyKadReplyRig {
    const char* texts[3] = {"CUST0001", "B01", "COUNTER 4"};

    Builder() : MyKadReplyRig("C:\\q\\QUILLON.ini") {
        for (size_t i = 1; i < card.size(); ++i) card[i] = static_cast<uint8_t>('A' + i % 26);
        for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i % 251);
    }
    std::string Build(const char* command, char type) {
        card[0] = static_cast<uint8_t>(type);
        return reply.Build(command, card.data(), photo.data(), texts);
    }
    // Payload bytes unscrambled back, from the payload text of a reply.
    // count 0: to the end of the payload.
    std::string Unscrambled(const std::string& payloadText, size_t from, size_t count) {
        const std::string payload = DecodeBase64(payloadText + "=");
        if (count == 0) count = payload.size() - from;
        uint8_t key[16];
        DeriveMyKadKey(reinterpret_cast<const uint8_t*>(payload.data()), key);
        std::string out(count, '\0');
        ScrambleBlock(reinterpret_cast<uint8_t*>(&out[0]),
                      reinterpret_cast<const uint8_t*>(payload.data()) + from,
                      static_cast<int>(count), key, 16);
        return out;
    }
};

struct ReplyCase {
    const char* command;
    char type;
    bool labelled;
    const char* keyword;
    size_t payloadLength;
    bool photo;
    size_t recordOffset;  // 0: no record
    const char* label;
};

class MyKadReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(MyKadReplies, HaveTheShapeOfTheirCommandAndCard) {
    const ReplyCase& c = GetParam();
    Builder b;
    if (c.labelled) b.profile.Set("C:\\q\\QUILLON.ini", "MYKAD", "LABELLED_RECORD", "1");
    const Bytes before = b.card;
    const std::string reply = b.Build(c.command, c.type);
    const auto fields = Fields(reply);
    ASSERT_EQ(fields.size(), c.photo ? 5u : 4u) << reply.substr(0, 60);
    EXPECT_EQ(fields[0], c.keyword);
    EXPECT_EQ(fields[1], "0");
    EXPECT_EQ(fields[2], c.type == '0' ? "0" : "1");
    EXPECT_EQ(fields[3].size(), c.payloadLength);
    EXPECT_EQ(reply.back(), ']');
    if (c.photo) {
        EXPECT_EQ(fields[4].size(), 5335u);
    }

    // The random block leads the payload unscrambled.
    EXPECT_EQ(fields[3].substr(0, 20), Base64Encode(FakeGuid().next, 15));
    const char padding = c.type == '0' ? ' ' : '\0';
    EXPECT_EQ(b.Unscrambled(fields[3], 16, 32).substr(0, 31),
              std::string("KESTRELMARGINFOLDINGPLATE") + std::string(6, padding));

    if (c.recordOffset != 0) {
        const std::string record(reinterpret_cast<const char*>(&b.card[c.recordOffset]),
                                 c.labelled ? 94 : 80);
        EXPECT_EQ(record, std::string(c.label) +
                              "CUST0001            B01   07032024090502COUNTER 4           "
                              "192.0.2.2           ");
        // Everything but the record is the card data as the runner left it.
        for (size_t i = 0; i < b.card.size(); ++i) {
            if (i < c.recordOffset || i >= c.recordOffset + record.size()) {
                ASSERT_EQ(b.card[i], i == 0 ? c.type : before[i]) << i;
            }
        }
        const std::string data = b.Unscrambled(fields[3], 48, 0);
        EXPECT_EQ(data.substr(c.recordOffset, record.size() - 1), record.substr(0, record.size() - 1));
    } else {
        EXPECT_TRUE(std::equal(b.card.begin() + 1, b.card.end(), before.begin() + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(
    MyKadRecordReply, MyKadReplies,
    ::testing::Values(
        ReplyCase{"READMYKAD", '0', false, "READMYKAD", 975, true, 603, ""},
        ReplyCase{"READMYKADNOPHOTO", '0', false, "READMYKADNOPHOTO", 975, false, 603, ""},
        ReplyCase{"READMYKADNOVERIFYWITHPHOTO", '0', false, "READMYKADNOVERIFYWITHPHOTO", 975,
                  true, 603, ""},
        ReplyCase{"READMYKADNOVERIFYNOPHOTO", '0', false, "READMYKADNOVERIFYNOPHOTO", 975, false,
                  603, ""},
        ReplyCase{"READMYKAD", '0', true, "READMYKAD", 595, true, 303, "VERIFIED      "},
        ReplyCase{"READMYKADNOPHOTO", '0', true, "READMYKADNOPHOTO", 595, false, 303,
                  "VERIFIED      "},
        ReplyCase{"READMYKADNOVERIFYWITHPHOTO", '0', true, "READMYKADNOVERIFYWITHPHOTO", 595,
                  true, 303, "VERIFY FAIL   "},
        ReplyCase{"READMYKADNOVERIFYNOPHOTO", '0', true, "READMYKADNOVERIFYNOPHOTO", 595, false,
                  303, "VERIFY FAIL   "},
        ReplyCase{"READMYKAD", '1', false, "READMYKAD", 1991, false, 0, ""},
        ReplyCase{"READMYKADNOVERIFYWITHPHOTO", '1', true, "READMYKADNOVERIFYWITHPHOTO", 1991,
                  false, 0, ""},
        ReplyCase{"READMYKADNOPHOTO", '1', false, "READMYKADNOPHOTO", 1991, false, 0, ""},
        ReplyCase{"READMYKADNOVERIFYNOPHOTO", '1', false, "READMYKADNOVERIFYNOPHOTO", 1991, false,
                  0, ""}));

TEST(MyKadRecordReply, ReadsTheFlagFromTheSettingsFileWhenEachReplyIsFormed) {
    Builder b;
    EXPECT_EQ(Fields(b.Build("READMYKADNOPHOTO", '0'))[3].size(), 975u);
    b.profile.Set("C:\\q\\QUILLON.ini", "MYKAD", "LABELLED_RECORD", "1");
    EXPECT_EQ(Fields(b.Build("READMYKADNOPHOTO", '0'))[3].size(), 595u);
    b.profile.Set("C:\\q\\QUILLON.ini", "MYKAD", "LABELLED_RECORD", "0");
    EXPECT_EQ(Fields(b.Build("READMYKADNOPHOTO", '0'))[3].size(), 975u);
}

TEST(MyKadRecordReply, TwoIdenticalReadsGiveDifferentPayloads) {
    Builder b;
    const Bytes card = b.card;
    const std::string first = b.Build("READMYKAD", '0');
    b.card = card;
    const std::string second = b.Build("READMYKAD", '0');
    EXPECT_NE(Fields(first)[3], Fields(second)[3]);
    EXPECT_NE(Fields(first)[4], Fields(second)[4]);
    EXPECT_EQ(b.guid.calls, 2);
}

TEST(MyKadRecordReply, NoHostAddressLeavesTheColumnBlank) {
    Builder b;
    b.host.address = "";
    b.Build("READMYKADNOPHOTO", '0');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b.card[603 + 60]), 20),
              std::string(20, ' '));
}

TEST(MyKadRecordReply, ThePhotoIsTheFirst4000BytesScrambled) {
    Builder b;
    const std::string reply = b.Build("READMYKAD", '0');
    const std::string photoBlock = DecodeBase64(Fields(reply)[4] + "=");
    ASSERT_EQ(photoBlock.size(), 4000u);
    const std::string payload = DecodeBase64(Fields(reply)[3] + "=");
    uint8_t key[16];
    DeriveMyKadKey(reinterpret_cast<const uint8_t*>(payload.data()), key);
    Bytes photo(4000);
    ScrambleBlock(photo.data(), reinterpret_cast<const uint8_t*>(photoBlock.data()), 4000, key,
                  16);
    EXPECT_TRUE(std::equal(photo.begin(), photo.end() - 1, b.photo.begin()));
}

TEST(MyKadRecordReply, AFailingGuidGeneratorStillGivesAReply) {
    Builder b;
    b.guid.works = false;
    for (int i = 0; i < 16; ++i) b.rand.values.push_back(255 * (i + 1));
    const std::string reply = b.Build("READMYKADNOPHOTO", '1');
    const uint8_t expected[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(Fields(reply)[3].substr(0, 20), Base64Encode(expected, 15));
}

TEST(MyKadRecordReply, OverlongTextsStayInsideTheCardBuffer) {
    Builder b;
    const std::string huge(3000, 'Z');
    b.texts[0] = huge.c_str();
    const std::string reply = b.Build("READMYKAD", '0');
    EXPECT_EQ(Fields(reply)[3].size(), 975u);
    EXPECT_EQ(b.card[1999], 'Z');
}

}  // namespace
}  // namespace quillon
