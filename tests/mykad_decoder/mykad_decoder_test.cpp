// The decoder against replies of the library's own record builder, and against hand-made ones.
#include "mykad_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/mykad_record.h"
#include "fakes.h"
#include "mykad_fakes.h"

namespace {

using namespace quillon;
using namespace quillon::testing_support;
using mykaddecode::DecodedReply;
using mykaddecode::DecodeReply;
using mykaddecode::Layout;
using Bytes = std::vector<uint8_t>;

struct Library : MyKadReplyRig {
    Library() : MyKadReplyRig("QUILLON.ini") {
        for (size_t i = 1; i < card.size(); ++i) card[i] = static_cast<uint8_t>(i * 13 + 1);
        for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i * 7);
    }
};

struct RoundTrip {
    const char* command;
    char type;
    bool labelled;
    Layout layout;
    size_t offset;
    const char* label;
    bool photo;
};

class DecoderRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(DecoderRoundTrip, GivesBackWhatTheLibraryScrambled) {
    const RoundTrip& c = GetParam();
    Library lib;
    if (c.labelled) lib.profile.Set("QUILLON.ini", "MYKAD", "LABELLED_RECORD", "1");
    lib.card[0] = static_cast<uint8_t>(c.type);
    const char* const texts[3] = {"JOHOR-0042", "T07", "SEMAK KAUNTER 3"};
    const std::string text = lib.reply.Build(c.command, lib.card.data(), lib.photo.data(), texts);

    DecodedReply d;
    std::string error;
    ASSERT_TRUE(DecodeReply(text, d, error)) << error;
    EXPECT_EQ(d.cardType, std::string(1, c.type));
    EXPECT_TRUE(d.markerCheck);
    EXPECT_TRUE(d.dataCheck);
    const std::string padding(6, c.type == '0' ? ' ' : '\0');
    EXPECT_EQ(std::string(d.marker.begin(), d.marker.end()),
              "KESTRELMARGINFOLDINGPLATE" + padding);
    const FakeGuid first;
    EXPECT_EQ(d.random, Bytes(first.next, first.next + 16));
    EXPECT_EQ(d.layout, c.layout);
    // Card data as the builder left it (record included), up to the check byte.
    ASSERT_FALSE(d.data.empty());
    EXPECT_EQ(d.data, Bytes(lib.card.begin(), lib.card.begin() + d.data.size()));
    if (c.layout != Layout::kMyKid) {
        EXPECT_EQ(d.recordOffset, c.offset);
        EXPECT_EQ(d.record.label, c.label);
        EXPECT_EQ(d.record.first, "JOHOR-0042          ");
        EXPECT_EQ(d.record.second, "T07   ");
        EXPECT_EQ(d.record.timeStamp, "07032024090502");
        EXPECT_EQ(d.record.third, "SEMAK KAUNTER 3     ");
        EXPECT_EQ(d.record.address, "192.0.2.2          ");  // the 20th byte is the check byte
    }
    EXPECT_EQ(d.hasPhoto, c.photo);
    if (c.photo) {
        EXPECT_TRUE(d.photoCheck);
        EXPECT_EQ(d.photo, Bytes(lib.photo.begin(), lib.photo.begin() + 3999));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DecoderRoundTrip,
    ::testing::Values(
        RoundTrip{"READMYKAD", '0', false, Layout::kPlain, 603, "", true},
        RoundTrip{"READMYKADNOPHOTO", '0', false, Layout::kPlain, 603, "", false},
        RoundTrip{"READMYKADNOVERIFYNOPHOTO", '0', true, Layout::kLabelled, 303, "VERIFY FAIL   ",
                  false},
        RoundTrip{"READMYKAD", '0', true, Layout::kLabelled, 303, "VERIFIED      ", true},
        RoundTrip{"READMYKADNOVERIFYWITHPHOTO", '0', true, Layout::kLabelled, 303,
                  "VERIFY FAIL   ", true},
        RoundTrip{"READMYKAD", '1', false, Layout::kMyKid, 0, "", false},
        RoundTrip{"READMYKADNOVERIFYNOPHOTO", '1', true, Layout::kMyKid, 0, "", false}));

// A reply made by hand: the random block equals the mask, so the key is zero and every byte
// travels as it is; only the check bytes need working out.
std::string HandMadeReply(uint8_t dataCheckAdjust) {
    Bytes payload;
    for (int i = 0; i < 16; ++i) payload.push_back(i % 2 == 0 ? 0xA7 : 0x3D);
    const std::string marker = "KESTRELMARGINFOLDINGPLATE      ";
    uint8_t check = 0;
    for (char ch : marker) {
        payload.push_back(static_cast<uint8_t>(ch));
        check ^= static_cast<uint8_t>(ch);
    }
    payload.push_back(check);
    // MyKid data block of 1445 bytes: "1", "KID", zeros, check byte.
    Bytes data(1444, 0);
    data[0] = '1';
    data[1] = 'K';
    data[2] = 'I';
    data[3] = 'D';
    payload.insert(payload.end(), data.begin(), data.end());
    payload.push_back(static_cast<uint8_t>(('1' ^ 'K' ^ 'I' ^ 'D') ^ dataCheckAdjust));
    std::string text = Base64Encode(payload.data(), payload.size());
    text.pop_back();
    return "[READMYKAD][0][1][" + text + "]";
}

TEST(Decoder, ReadsAHandMadeMyKidReply) {
    const std::string reply = HandMadeReply(0);
    ASSERT_EQ(reply.size(), std::string("[READMYKAD][0][1][]").size() + 1991);
    DecodedReply d;
    std::string error;
    ASSERT_TRUE(DecodeReply(reply, d, error)) << error;
    EXPECT_EQ(d.key, Bytes(16, 0));
    EXPECT_EQ(d.layout, Layout::kMyKid);
    EXPECT_TRUE(d.markerCheck);
    EXPECT_TRUE(d.dataCheck);
    EXPECT_EQ(d.data.size(), 1444u);
    EXPECT_EQ(std::string(d.data.begin(), d.data.begin() + 4), "1KID");
    std::string zeros;
    for (int i = 0; i < 57; ++i) zeros += "\\x00";
    EXPECT_EQ(mykaddecode::Describe(d),
              "command:      READMYKAD\n"
              "card type:    1 (MyKid)\n"
              "marker:       \"KESTRELMARGINFOLDINGPLATE      \"\n"
              "layout:       MyKid (no record)\n"
              "data:         1444 bytes\n"
              "card bytes:   \"KID" +
                  zeros +
                  "\"...\n"
                  "photo:        none\n");
}

TEST(Decoder, NoticesAWrongCheckByte) {
    DecodedReply d;
    std::string error;
    ASSERT_TRUE(DecodeReply(HandMadeReply(0x01), d, error)) << error;
    EXPECT_TRUE(d.markerCheck);
    EXPECT_FALSE(d.dataCheck);
}

TEST(Decoder, RefusesWhatIsNotAMyKadSuccessReply) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[READMYKAD][-30][123]", "expected 4 or 5 bracketed fields"},
        {"[READMYKAD][-4][0][AAAA]", "not a success reply (result -4)"},
        {"[READMYKAD][0][0][AA*A]", "payload is not base64"},
        {"[READMYKAD][0][0][AAAA]", "payload too short"},
    };
    for (const auto& c : cases) {
        DecodedReply d;
        std::string error;
        EXPECT_FALSE(DecodeReply(c.first, d, error)) << c.first;
        EXPECT_EQ(error, c.second);
    }
}

TEST(Decoder, Base64DecodesWithOrWithoutPadding) {
    Bytes out;
    EXPECT_TRUE(mykaddecode::Base64Decode("Zm9vYg==", out));
    EXPECT_EQ(std::string(out.begin(), out.end()), "foob");
    EXPECT_TRUE(mykaddecode::Base64Decode("Zm9vYg=", out));
    EXPECT_EQ(std::string(out.begin(), out.end()), "foob");
    EXPECT_TRUE(mykaddecode::Base64Decode("+/+/AA", out));
    EXPECT_EQ(out, (Bytes{0xFB, 0xFF, 0xBF, 0x00}));
    EXPECT_FALSE(mykaddecode::Base64Decode("Zm=9", out));
}

}  // namespace
