// The decoder against replies of the library's own record builder and malformed ones; then the
// builder's parts the round trips cannot reach (the decoder has its own base64, key, unscrambling).
#include "mykad_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "command/commands.h"
#include "command/mykad_record.h"
#include "mykad_fakes.h"
#include "quillon.h"

namespace {

using namespace quillon;
using mykaddecode::DecodedReply;
using mykaddecode::Layout;
using Bytes = std::vector<uint8_t>;

struct Library : testing_support::MyKadReplyRig {
    Library() : MyKadReplyRig("QUILLON.ini") {
        for (size_t i = 1; i < card.size(); ++i) card[i] = static_cast<uint8_t>(i * 13 + 1);
        for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i * 7);
    }
    // As the dispatcher builds it: the row that field 1 `command` selects.
    std::string Build(const char* command, char type) {
        card[0] = static_cast<uint8_t>(type);
        const char* const texts[3] = {"JOHOR-0042", "T07", "SEMAK KAUNTER 3"};
        const CommandRow& row = *MatchCommand(command);
        return reply.Build(row.keyword, *row.mode, card.data(), photo.data(), texts);
    }
};

DecodedReply Decode(const std::string& text) {
    DecodedReply d;
    std::string error;
    EXPECT_TRUE(mykaddecode::DecodeReply(text, d, error)) << error;
    return d;
}

// The decoder gives back the shape the command and card ask for, and the data scrambled.
TEST(DecoderRoundTrip, GivesBackWhatTheLibraryScrambledInTheShapeOfItsCommand) {
    const struct {
        const char *command, *keyword;
        char type;
        bool labelled;
        Layout layout;
        size_t dataSize, offset;
        const char* label;  // names the command's kind, not the outcome of any verification
        bool photo;
    } cases[] = {
        // The longest reply of any request: the longest keyword, the plain record, the photo.
        {"READMYKADNOVERIFYWITHPHOTO", "READMYKADNOVERIFYWITHPHOTO", '0', false, Layout::kPlain,
         682, 603, "", true},
        {"xREADMYKADNOPHOTOx", "READMYKADNOPHOTO", '0', true, Layout::kLabelled, 396, 303,
         "VERIFIED      ", false},
        {"READMYKADNOVERIFYWITHPHOTO", "READMYKADNOVERIFYWITHPHOTO", '0', true, Layout::kLabelled,
         396, 303, "VERIFY FAIL   ", true},
        {"READMYKADNOVERIFYNOPHOTO", "READMYKADNOVERIFYNOPHOTO", '0', true, Layout::kLabelled, 396,
         303, "VERIFY FAIL   ", false},
        // A MyKid (any type byte but '0') carries no record and no photo, whatever the command.
        {"READMYKAD", "READMYKAD", 'K', true, Layout::kMyKid, 1444, 0, "", false},
    };
    size_t longest = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.type + (c.labelled ? " labelled" : ""));
        Library lib;
        if (c.labelled) lib.profile.Set("QUILLON.ini", "MYKAD", "LABELLED_RECORD", "1");
        Bytes expected = lib.card;
        expected[0] = static_cast<uint8_t>(c.type);
        const std::string record = std::string(c.label) + "JOHOR-0042          T07   " +
                                   "07032024090502SEMAK KAUNTER 3     192.0.2.2           ";
        if (c.offset != 0) std::copy(record.begin(), record.end(), expected.begin() + c.offset);
        const std::string text = lib.Build(c.command, c.type);
        longest = std::max(longest, text.size());
        const DecodedReply d = Decode(text);
        EXPECT_EQ(d.command, c.keyword);
        EXPECT_EQ(d.cardType, c.type == '0' ? "0" : "1");
        EXPECT_TRUE(d.markerCheck && d.dataCheck && (!c.photo || d.photoCheck));
        EXPECT_EQ(std::string(d.marker.begin(), d.marker.end()),
                  "KESTRELMARGINFOLDINGPLATE" + std::string(6, c.type == '0' ? ' ' : '\0'));
        const testing_support::FakeGuid fresh;
        EXPECT_EQ(d.random, Bytes(fresh.next, fresh.next + 16)) << "in clear";
        EXPECT_EQ(d.layout, c.layout);
        EXPECT_EQ(d.data, Bytes(expected.begin(), expected.begin() + c.dataSize))
            << "the record is the only change to the card data";
        EXPECT_EQ(d.record.label, c.label);
        EXPECT_EQ(d.photo, c.photo ? Bytes(lib.photo.begin(), lib.photo.begin() + 3999) : Bytes());
    }
    EXPECT_EQ(longest + 1, size_t{QUILLON_REPLY_MAX}) << "the longest reply, NUL and all";
}

TEST(Decoder, NoticesAWrongCheckByteAndRefusesWhatIsNotAMyKadSuccessReply) {
    std::string text = Library().Build("READMYKAD", '0');
    const size_t at = text.find("][", text.find("][0][0][") + 8) - 100;  // in the card data
    text[at] = text[at] == 'A' ? 'B' : 'A';
    const DecodedReply d = Decode(text);
    EXPECT_TRUE(d.markerCheck && d.photoCheck);
    EXPECT_FALSE(d.dataCheck);
    const std::pair<const char*, const char*> cases[] = {
        {"[READMYKAD][-30][123]", "expected 4 or 5 bracketed fields"},
        {"[READMYKAD][-4][0][AAAA]", "not a success reply (result -4)"},
        {"[READMYKAD][0][0][AA*A]", "payload is not base64"},
        {"[READMYKAD][0][0][AAAA]", "payload too short"},
    };
    for (const auto& c : cases) {
        DecodedReply refused;
        std::string error;
        EXPECT_FALSE(mykaddecode::DecodeReply(c.first, refused, error)) << c.first;
        EXPECT_EQ(error, c.second);
    }
}

TEST(MakeRandomBlock, FallsBackToRandDividedBy255WhenTheGuidFails) {
    testing_support::FakeGuid guid;
    guid.works = false;
    testing_support::FakeRandomSequence rand;
    rand.values = {0, 254, 255, 509, 510, 32767, 32640, 1000, 2000, 3000, 4000, 5000, 6000, 7000};
    uint8_t block[16];
    MakeRandomBlock(guid, rand, block);
    EXPECT_EQ(Bytes(block, block + 16),
              (Bytes{0, 0, 1, 1, 2, 128, 128, 3, 7, 11, 15, 19, 23, 27, 0, 0}));
}

// With no key or no block nothing is written (a zero key length would divide by zero); one byte
// is only its check byte, of nothing.
TEST(ScrambleBlock, WritesNothingWithoutAKeyOrABlock) {
    const uint8_t in[2] = {0x41, 0x41}, key[2] = {0x0F, 0xF0};
    const struct {
        int length, keyLength;
        Bytes out;
    } cases[] = {{0, 2, {0xEE, 0xEE}}, {2, 0, {0xEE, 0xEE}}, {1, 2, {0x00, 0xEE}}};
    for (const auto& c : cases) {
        Bytes out(2, 0xEE);
        ScrambleBlock(out.data(), in, c.length, key, c.keyLength);
        EXPECT_EQ(out, c.out) << c.length << " " << c.keyLength;
    }
}

// Worked by hand with the key 0F F0: 0x00 and 0x20 stay, as does a byte whose XOR would give 0x00
// or 0x20; the last byte gives way to the check byte; scrambling again gives the input back.
TEST(ScrambleBlock, XorsWithTheKeyButKeeps00And20AndEndsWithTheCheckByte) {
    const uint8_t key[2] = {0x0F, 0xF0};
    const Bytes in = {0x00, 0x20, 0x0F, 0xD0, 0x41, 0x42, 0x99};
    Bytes once(7), twice(7);
    ScrambleBlock(once.data(), in.data(), 7, key, 2);
    EXPECT_EQ(once, (Bytes{0x00, 0x20, 0x0F, 0xD0, 0x4E, 0xB2, 0x03}));
    ScrambleBlock(twice.data(), once.data(), 7, key, 2);
    EXPECT_EQ(twice, (Bytes{0x00, 0x20, 0x0F, 0xD0, 0x41, 0x42, 0xFC}));
}

// The replies' lengths all leave one or two bytes over; the standard's vectors take each case.
TEST(Base64Encode, GivesTheStandardTextWhateverTheLengthLeavesOver) {
    const char* const cases[][2] = {{"", ""},
                                    {"f", "Zg=="},
                                    {"fo", "Zm8="},
                                    {"foo", "Zm9v"},
                                    {"foob", "Zm9vYg=="},
                                    {"fooba", "Zm9vYmE="},
                                    {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>(c[0]), std::strlen(c[0])), c[1]);
    }
    const uint8_t high[] = {0xFB, 0xFF, 0xBF};  // the alphabet's last two letters
    EXPECT_EQ(Base64Encode(high, 3), "+/+/");
}

// NOPHOTO without either keyword ran a photo runner in the dispatcher.

TEST(FormatMyKadRecord, PadsEachColumnButNeverCutsALongText) {
    const char* const texts[3] = {"ABCDEFGHIJKLMNOPQRSTUVW", "1234567", nullptr};
    EXPECT_EQ(FormatMyKadRecord(MyKadLayout::kLabelledVerifyFail, texts, "01012025000000", ""),
              "VERIFY FAIL   ABCDEFGHIJKLMNOPQRSTUVW123456701012025000000" + std::string(40, ' '));
}

}  // namespace
