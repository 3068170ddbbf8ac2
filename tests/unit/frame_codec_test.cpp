#include "terminal/frame_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "fakes.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kKey00To0F[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
const uint8_t kZeroKey[16] = {};

uint8_t g_testPair[2] = {0x11, 0xC3};
void FixedPair(uint8_t pair[2]) {
    pair[0] = g_testPair[0];
    pair[1] = g_testPair[1];
}

// Records each frame handed over, as the dialog would read it from g_abRxFrame.
class RecordingTarget : public IReplyTarget {
public:
    void OnFrameComplete() override {
        const int length = g_abRxFrame[1] * 256 + g_abRxFrame[2];
        frames.emplace_back(g_abRxFrame, g_abRxFrame + length + 5);
        countsAtHandOver.push_back(g_nRxLen.load());
    }
    std::vector<Bytes> frames;
    std::vector<int32_t> countsAtHandOver;
};

// The terminal's side of an inbound frame: padded, enciphered, every payload byte scrambled.
Bytes InboundFrame(const Bytes& payload, const uint8_t key[16], const uint8_t pair[2]) {
    Bytes f(3 + payload.size() + 8 + 2, 0);
    std::copy(payload.begin(), payload.end(), f.begin() + 3);
    const int n = EncipherBlocks(f.data() + 3, static_cast<int>(payload.size()), key);
    f.resize(static_cast<size_t>(n) + 5);
    f[0] = 0x02;
    f[1] = static_cast<uint8_t>(n >> 8);
    f[2] = static_cast<uint8_t>(n);
    ScrambleBytes(f.data(), n + 3, pair);
    f[n + 3] = ByteSum(f.data() + 3, n);
    f[n + 4] = 0x03;
    return f;
}

// The plain frame a builder produces: STX, L, payload, checksum, ETX, then zeroed room.
Bytes PlainFrame(const Bytes& payload) {
    Bytes f = {0x02, static_cast<uint8_t>(payload.size() >> 8),
               static_cast<uint8_t>(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(ByteSum(payload.data(), static_cast<int>(payload.size())));
    f.push_back(0x03);
    f.resize(f.size() + 16, 0);
    return f;
}

class FrameCodecTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(LinkKey, 0, sizeof LinkKey);
        KeyFlag = false;
        ScramblePair[0] = ScramblePair[1] = 0;
        g_nRxLen = 0;
        std::memset(g_abRxFrame, 0, sizeof g_abRxFrame);
        g_testPair[0] = 0x11;
        g_testPair[1] = 0xC3;
        SetScramblePairSource(FixedPair);
        SetReplyTarget(&target);
    }
    void TearDown() override {
        SetScramblePairSource(nullptr);
        SetReplyTarget(nullptr);
        std::memset(LinkKey, 0, sizeof LinkKey);
    }

    // Encodes like the port's write step; returns the wire bytes.
    Bytes Encode(const Bytes& payload) {
        Bytes plain = PlainFrame(payload);
        Bytes out(kWorkAreaSize, 0xEE);
        const int n = EncodeFrame(out.data(), plain.data(), static_cast<int>(payload.size()) + 5);
        out.resize(static_cast<size_t>(n));
        return out;
    }
    void Feed(const Bytes& bytes) {
        for (uint8_t b : bytes) CollectReplyByte(b);
    }

    testing_support::CapturingLog log;
    RecordingTarget target;
};

// ---- XTEA ----

struct XteaVector {
    uint8_t key[16];  // as published: four big-endian words
    uint8_t plain[8];
    uint8_t cipher[8];
};

// Published XTEA test vectors (32 cycles), given with big-endian block and key words.
const XteaVector kXteaVectors[] = {
    {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
      0x0F},
     {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48},
     {0x49, 0x7D, 0xF3, 0xD0, 0x72, 0x61, 0x2C, 0xB5}},
    {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
      0x0F},
     {0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41},
     {0xE7, 0x8F, 0x2D, 0x13, 0x74, 0x43, 0x41, 0xD8}},
    {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
      0x0F},
     {0x5A, 0x5B, 0x6E, 0x27, 0x89, 0x48, 0xD7, 0x7F},
     {0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41}},
    {{0},
     {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48},
     {0xA0, 0x39, 0x05, 0x89, 0xF8, 0xB8, 0xEF, 0xA5}},
    {{0},
     {0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41},
     {0xED, 0x23, 0x37, 0x5A, 0x82, 0x1A, 0x8C, 0x2D}},
    {{0},
     {0x70, 0xE1, 0x22, 0x5D, 0x6E, 0x4E, 0x76, 0x55},
     {0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41}},
};

// Our blocks are big-endian words like the published ones, but our key words are little-endian:
// each published 4-byte key word is stored byte-reversed to give the same word values.
void RepackPublishedKey(const uint8_t published[16], uint8_t ours[16]) {
    for (int w = 0; w < 4; ++w) {
        for (int i = 0; i < 4; ++i) ours[4 * w + i] = published[4 * w + 3 - i];
    }
}

TEST(Xtea, PublishedVectorsEncipherAndDecipherThroughTheBlockRoutines) {
    for (const XteaVector& v : kXteaVectors) {
        uint8_t key[16];
        RepackPublishedKey(v.key, key);
        uint8_t data[16];
        std::memcpy(data, v.plain, 8);
        ASSERT_EQ(EncipherBlocks(data, 8, key), 16);
        EXPECT_EQ(Bytes(data, data + 8), Bytes(v.cipher, v.cipher + 8));
        EXPECT_EQ(DecipherBlocks(data, 16, key), 8);
        EXPECT_EQ(Bytes(data, data + 8), Bytes(v.plain, v.plain + 8));
    }
}

TEST(Xtea, KeyWordsAreLittleEndian) {
    uint32_t k[4];
    LoadKeyWords(kKey00To0F, k);
    EXPECT_EQ(k[0], 0x03020100u);
    EXPECT_EQ(k[1], 0x07060504u);
    EXPECT_EQ(k[2], 0x0B0A0908u);
    EXPECT_EQ(k[3], 0x0F0E0D0Cu);
}

// ---- Blocks: padding and the pass-through rule ----

TEST(EncipherBlocks, PadsToTheNextWholeBlockWithTheCount) {
    struct Case {
        int length, padded;
    };
    for (Case c : {Case{0, 8}, Case{1, 8}, Case{7, 8}, Case{8, 16}, Case{9, 16}, Case{15, 16},
                   Case{16, 24}}) {
        uint8_t data[32];
        for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>(0x40 + i);
        ASSERT_EQ(EncipherBlocks(data, c.length, kKey00To0F), c.padded) << c.length;
        ASSERT_EQ(DecipherBlocks(data, c.padded, kKey00To0F), c.length) << c.length;
        for (int i = 0; i < c.length; ++i) EXPECT_EQ(data[i], 0x40 + i) << c.length;
        for (int i = c.length; i < c.padded; ++i) EXPECT_EQ(data[i], c.padded - c.length);
        EXPECT_EQ(data[c.padded], 0x40 + c.padded) << "nothing written past the padding";
    }
}

TEST(EncipherBlocks, BlocksOfSpacesOrWithAZeroWordPassUnchangedBothWays) {
    const Bytes blocks[] = {
        {0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20},
        {0x00, 0x00, 0x00, 0x00, 0x41, 0x42, 0x43, 0x44},
        {0x41, 0x42, 0x43, 0x44, 0x00, 0x00, 0x00, 0x00},
        {0x20, 0x20, 0x20, 0x20, 0x41, 0x42, 0x43, 0x44},
        {0x41, 0x42, 0x43, 0x44, 0x20, 0x20, 0x20, 0x20},
    };
    for (const Bytes& block : blocks) {
        uint8_t data[16];
        std::memcpy(data, block.data(), 8);
        EncipherBlocks(data, 8, kKey00To0F);
        EXPECT_EQ(Bytes(data, data + 8), block);
        EXPECT_NE(Bytes(data + 8, data + 16), Bytes(8, 0x08)) << "the padding block is enciphered";
        DecipherBlocks(data, 16, kKey00To0F);
        EXPECT_EQ(Bytes(data, data + 8), block);
    }
}

TEST(DecipherBlocks, InvalidPaddingGivesZero) {
    struct Case {
        Bytes data;
        const char* why;
    };
    const Case cases[] = {
        {{0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x09}, "count 9"},
        {{0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0xFF}, "count 255"},
        {{0x41, 0x42, 0x05}, "count above a short length"},
    };
    for (const Case& c : cases) {
        Bytes data = c.data;
        EXPECT_EQ(DecipherBlocks(data.data(), static_cast<int>(data.size()), kZeroKey), 0) << c.why;
    }
    uint8_t one = 0x01;
    EXPECT_EQ(DecipherBlocks(&one, 0, kZeroKey), 0) << "no bytes at all";
}

TEST(DecipherBlocks, OnlyWholeBlocksAreDecipheredAndTheTailIsLeftAlone) {
    uint8_t data[16] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    EncipherBlocks(data, 8, kKey00To0F);  // 16 bytes; keep the first block and add a tail
    const Bytes firstBlockCipher(data, data + 8);
    data[8] = 0x61;
    data[9] = 0x62;
    data[10] = 0x63;
    data[11] = 0x02;
    EXPECT_EQ(DecipherBlocks(data, 12, kKey00To0F), 10);
    EXPECT_EQ(Bytes(data, data + 12),
              (Bytes{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x61, 0x62, 0x63, 0x02}));
    EXPECT_NE(firstBlockCipher, Bytes(data, data + 8));
}

// ---- Byte scrambling ----

TEST(ScrambleBytes, ExceptionsKeepTheByte) {
    struct Case {
        uint8_t b, r, expected;
        const char* why;
    };
    const Case cases[] = {
        {0x41, 0x11, 0x50, "plain xor"},
        {0x20, 0x11, 0x20, "space is never scrambled"},
        {0x00, 0x11, 0x00, "zero is never scrambled"},
        {0xFF, 0x11, 0xFF, "0xFF is never scrambled"},
        {0x11, 0x11, 0x11, "would become 0x00"},
        {0x31, 0x11, 0x31, "would become 0x20"},
        {0xEE, 0x11, 0xEE, "would become 0xFF"},
        {0x50, 0x11, 0x41, "the rule undoes itself"},
    };
    for (const Case& c : cases) {
        uint8_t frame[5] = {0x02, 0x00, 0x08, c.b, c.b};
        const uint8_t pair[2] = {c.r, c.r};
        ScrambleBytes(frame, 5, pair);
        EXPECT_EQ(frame[3], c.expected) << c.why;
        EXPECT_EQ(frame[4], c.expected) << c.why;
    }
}

TEST(ScrambleBytes, StartsAtPosition3AndAlternatesThePair) {
    uint8_t frame[9] = {0x02, 0x00, 0x06, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41};
    const uint8_t pair[2] = {0x01, 0x02};
    ScrambleBytes(frame, 8, pair);
    EXPECT_EQ(Bytes(frame, frame + 9),
              (Bytes{0x02, 0x00, 0x06, 0x40, 0x43, 0x40, 0x43, 0x40, 0x41}));
}

// ---- EncodeFrame ----

// Reference frames computed independently of this code (pair 0x11, 0xC3 unless said otherwise).
TEST_F(FrameCodecTest, GetSerialNumberIsASixteenByteWireFrameWithLengthField11) {
    const Bytes wire = Encode({0x25});
    EXPECT_EQ(wire, (Bytes{0x02, 0x00, 0x0B, 0x51, 0x72, 0x85, 0x6B, 0x10, 0x3D, 0x22, 0xC4, 0x4B,
                           0x99, 0x00, 0xCA, 0x03}));
    EXPECT_FALSE(KeyFlag);
    EXPECT_EQ(ScramblePair[0], 0x11);
    EXPECT_EQ(ScramblePair[1], 0xC3);
}

TEST_F(FrameCodecTest, StatusQueryUsesDefaultKeyAndSetsTheKeyFlag) {
    std::memcpy(LinkKey, kKey00To0F, 16);  // must not be used
    const Bytes wire = Encode({0x23});
    EXPECT_EQ(wire, (Bytes{0x02, 0x00, 0x0B, 0xFF, 0x6F, 0x49, 0x6A, 0x54, 0xCA, 0xDE, 0xD8, 0x4B,
                           0x99, 0x01, 0xDA, 0x03}));
    EXPECT_TRUE(KeyFlag);
}

TEST_F(FrameCodecTest, EightBytePayloadGetsAFullPaddingBlock) {
    std::memcpy(LinkKey, kKey00To0F, 16);
    g_testPair[0] = 0x5C;
    g_testPair[1] = 0xA7;
    const Bytes wire = Encode({0x72, 0x01, 0x00, 0x32, 0x36, 0x30, 0x31, 0x31});
    ASSERT_EQ(wire.size(), 24u);  // n = 16
    EXPECT_EQ(wire[1], 0x00);
    EXPECT_EQ(wire[2], 19);
    EXPECT_EQ(wire,
              (Bytes{0x02, 0x00, 0x13, 0x01, 0x97, 0x5B, 0x8C, 0x3D, 0xC6, 0xC0, 0xB6, 0xEB,
                     0x0D, 0x85, 0xAB, 0x9C, 0xC3, 0x66, 0xBD, 0x06, 0xFD, 0x00, 0xA5, 0x03}));
}

TEST_F(FrameCodecTest, TrailerCarriesMaskedPairKeyFlagAndTheSumOfWhatIsSent) {
    g_testPair[0] = 0xA5;
    g_testPair[1] = 0x0F;
    const Bytes wire = Encode({0x25});
    ASSERT_EQ(wire.size(), 16u);
    EXPECT_EQ(wire[11], 0xA5 ^ kTrailerMask);
    EXPECT_EQ(wire[12], 0x0F ^ kTrailerMask);
    EXPECT_EQ(wire[13], 0x00);
    EXPECT_EQ(wire[14], ByteSum(wire.data() + 3, 11));
    EXPECT_EQ(wire[15], 0x03);
    EXPECT_EQ(kTrailerMask, 0x5A);
}

TEST_F(FrameCodecTest, LastThreePaddedPayloadBytesGoOutUnscrambled) {
    // 0x25 enciphered with the zero key, before scrambling (computed independently). Positions
    // 3..7 carry the scramble; 8..10 are the enciphered bytes as they are.
    const Bytes wire = Encode({0x25});
    uint8_t enciphered[16] = {0x25};
    EncipherBlocks(enciphered, 1, kZeroKey);
    EXPECT_EQ(Bytes(enciphered, enciphered + 8),
              (Bytes{0x40, 0xB1, 0x94, 0xA8, 0x01, 0x3D, 0x22, 0xC4}));
    EXPECT_EQ(Bytes(wire.begin() + 8, wire.begin() + 11), (Bytes{0x3D, 0x22, 0xC4}));
    EXPECT_EQ(wire[3], 0x40 ^ 0x11);
    EXPECT_EQ(wire[4], 0xB1 ^ 0xC3);
}

TEST_F(FrameCodecTest, SpacesAndZeroWordsTravelAsTheyAreAndAreNotScrambled) {
    // Block 1 has a zero second word, block 2 is all spaces; only the padding block is enciphered.
    const Bytes payload = {0x72, 0x01, 0x41, 0x42, 0x00, 0x00, 0x00, 0x00,
                           0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
    const Bytes wire = Encode(payload);
    ASSERT_EQ(wire.size(), 32u);
    EXPECT_EQ(wire[2], 27);
    EXPECT_EQ(Bytes(wire.begin() + 3, wire.begin() + 19),
              (Bytes{0x72 ^ 0x11, 0x01 ^ 0xC3, 0x41 ^ 0x11, 0x42 ^ 0xC3, 0x00, 0x00, 0x00, 0x00,
                     0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20}));
}

TEST_F(FrameCodecTest, BuildersLengthFieldAndChecksumHaveNoEffect) {
    Bytes plain = {0x02, 0x7F, 0x7F, 0x25, 0x99, 0x03};
    plain.resize(32, 0);
    Bytes out(kWorkAreaSize, 0);
    ASSERT_EQ(EncodeFrame(out.data(), plain.data(), 6), 16);
    out.resize(16);
    EXPECT_EQ(out, Encode({0x25}));
}

TEST_F(FrameCodecTest, FramesWithoutACommandOrTooLongForTheWorkAreaAreNotEncoded) {
    Bytes plain(kWorkAreaSize + 32, 0x41);
    plain[0] = 0x02;
    Bytes out(kWorkAreaSize, 0xEE);
    EXPECT_EQ(EncodeFrame(out.data(), plain.data(), 5), 0);
    // L = 2184 pads to 2192: n + 8 = 2200 does not fit; L = 2183 pads to 2184 and fits exactly.
    EXPECT_EQ(EncodeFrame(out.data(), plain.data(), 2184 + 5), 0);
    EXPECT_EQ(out, Bytes(kWorkAreaSize, 0xEE));
    EXPECT_EQ(EncodeFrame(out.data(), plain.data(), 2183 + 5), kWorkAreaSize);
}

TEST(ScramblePairSource, DefaultSeedsTheRuntimeGeneratorWithTheTimeInSeconds) {
    SetScramblePairSource(nullptr);
    uint8_t plain[32] = {0x02, 0x00, 0x01, 0x25, 0x25, 0x03};
    uint8_t out[32];
    // Retry across a second boundary between the expectation and the call.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        std::srand(static_cast<unsigned>(before));
        const int first = std::rand() & 0xFF, second = std::rand() & 0xFF;
        std::memcpy(plain, "\x02\x00\x01\x25\x25\x03", 6);
        EncodeFrame(out, plain, 6);
        if (std::time(nullptr) != before) continue;
        EXPECT_EQ(ScramblePair[0], first);
        EXPECT_EQ(ScramblePair[1], second);
        EXPECT_EQ(out[11], first ^ kTrailerMask);
        return;
    }
    FAIL() << "clock kept moving";
}

// ---- Reply parser and DecodeFrame ----

TEST_F(FrameCodecTest, DecodesAReferenceInboundFrame) {
    std::memcpy(LinkKey, kKey00To0F, 16);
    ScramblePair[0] = 0x5C;
    ScramblePair[1] = 0xA7;
    // Serial-number reply "ABC", enciphered with 00..0F and scrambled by the far end.
    Feed({0x02, 0x00, 0x08, 0xCD, 0x31, 0x19, 0x01, 0x89, 0x82, 0xF3, 0x8E, 0xA4, 0x03});
    ASSERT_EQ(target.frames.size(), 1u);
    EXPECT_EQ(target.frames[0],
              (Bytes{0x02, 0x00, 0x07, 0x25, 0x06, 0x00, 0x03, 0x41, 0x42, 0x43, 0xF4, 0x03}));
    EXPECT_EQ(target.countsAtHandOver[0], 13);
    EXPECT_EQ(g_nRxLen.load(), 0);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FrameCodecTest, StatusReplyIsDecipheredWithDefaultKeyAndLaterRepliesWithLinkKey) {
    const uint8_t newKey[16] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18,
                                0x29, 0x3A, 0x4B, 0x5C, 0x6D, 0x7E, 0x8F, 0x90};
    Bytes status = {0x23, 0x06, 0x03, 'B', 'N', 'K'};
    status.insert(status.end(), 16, 0x49);
    status.insert(status.end(), newKey, newKey + 16);

    Encode({0x23});
    Feed(InboundFrame(status, DefaultKey, g_testPair));
    ASSERT_EQ(target.frames.size(), 1u);
    EXPECT_EQ(Bytes(target.frames[0].begin() + 3, target.frames[0].end() - 2), status);
    std::memcpy(LinkKey, newKey, 16);  // as the reply handling installs it

    g_testPair[0] = 0x3C;
    g_testPair[1] = 0x81;
    Encode({0x25});
    const Bytes serial = {0x25, 0x06, 0x00, 0x02, 'S', '1'};
    Feed(InboundFrame(serial, newKey, g_testPair));
    ASSERT_EQ(target.frames.size(), 2u);
    EXPECT_EQ(Bytes(target.frames[1].begin() + 3, target.frames[1].end() - 2), serial);

    // The same reply enciphered with DefaultKey does not come out as sent.
    Encode({0x25});
    Feed(InboundFrame(serial, DefaultKey, g_testPair));
    ASSERT_EQ(target.frames.size(), 3u);
    EXPECT_NE(Bytes(target.frames[2].begin() + 3, target.frames[2].end() - 2), serial);
}

TEST_F(FrameCodecTest, WrongChecksumAndWrongEtxAreAccepted) {
    Encode({0x25});
    Bytes wire = InboundFrame({0x72, 0x06}, LinkKey, g_testPair);
    wire[11] ^= 0xFF;
    wire[12] = 0x7E;
    Feed(wire);
    ASSERT_EQ(target.frames.size(), 1u);
    EXPECT_EQ(target.frames[0], (Bytes{0x02, 0x00, 0x02, 0x72, 0x06, 0x78, 0x03}));
}

TEST_F(FrameCodecTest, GarbageBeforeStxIsDroppedByteByByteWithOneLogLineEach) {
    Encode({0x25});
    Bytes stream = {0x41, 0x03, 0xFF};
    const Bytes wire = InboundFrame({0x72, 0x06}, LinkKey, g_testPair);
    stream.insert(stream.end(), wire.begin(), wire.end());
    Feed(stream);
    EXPECT_EQ(log.Lines(), std::vector<std::string>(3, "INVALID PROTOCOL REPLY RETURN"));
    ASSERT_EQ(target.frames.size(), 1u);
    EXPECT_EQ(target.frames[0], (Bytes{0x02, 0x00, 0x02, 0x72, 0x06, 0x78, 0x03}));
}

TEST_F(FrameCodecTest, OversizeFrameIsDroppedAtItsLengthAndTheNextFrameDecodes) {
    Encode({0x25});
    // L = 2188: L + 5 = 2193 exceeds the work area.
    Feed({0x02, 0x08, 0x8C});
    EXPECT_EQ(g_nRxLen.load(), 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"OVERSIZE FRAME DROPPED (length 2188)"});
    Feed(Bytes(2000, 0x55));  // the dropped frame's body: stray bytes now
    EXPECT_EQ(log.Count("INVALID PROTOCOL REPLY RETURN"), 2000u);
    EXPECT_TRUE(target.frames.empty());

    Feed(InboundFrame({0x72, 0x06}, LinkKey, g_testPair));
    ASSERT_EQ(target.frames.size(), 1u);
    EXPECT_EQ(target.frames[0], (Bytes{0x02, 0x00, 0x02, 0x72, 0x06, 0x78, 0x03}));
}

TEST_F(FrameCodecTest, LargestFrameThatFitsTheWorkAreaIsDecoded) {
    // L = 2187, L + 5 = 2192. Spaces pass the cipher and the scramble untouched; the last byte
    // (a partial block, never deciphered) says 3 bytes of padding.
    ScramblePair[0] = ScramblePair[1] = 0x00;
    Bytes wire = {0x02, 0x08, 0x8B};
    wire.insert(wire.end(), 2186, 0x20);
    wire.push_back(0x03);
    wire.push_back(0x00);
    wire.push_back(0x03);
    ASSERT_EQ(wire.size(), static_cast<size_t>(kWorkAreaSize));
    Feed(wire);
    ASSERT_EQ(target.frames.size(), 1u);
    EXPECT_EQ(target.frames[0].size(), 2184u + 5);
    EXPECT_EQ(target.frames[0][1], 0x08);
    EXPECT_EQ(target.frames[0][2], 0x88);
    EXPECT_EQ(target.countsAtHandOver[0], kWorkAreaSize);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FrameCodecTest, InvalidPaddingStillHandsOverAnEmptyFrame) {
    // Deciphered with the wrong key, the padding count is garbage: m = 0.
    Encode({0x25});
    Bytes wire = InboundFrame({0x72, 0x06}, DefaultKey, g_testPair);
    const uint8_t pair[2] = {0x11, 0xC3};
    Bytes frame = wire;
    ScrambleBytes(frame.data(), 11, pair);
    DecipherBlocks(frame.data() + 3, 8, kZeroKey);
    ASSERT_GT(frame[10], 8) << "pick another reply: this one happens to look padded";
    Feed(wire);
    ASSERT_EQ(target.frames.size(), 1u);
    EXPECT_EQ(target.frames[0], (Bytes{0x02, 0x00, 0x00, 0x00, 0x03}));
}

TEST_F(FrameCodecTest, TinyLengthsCompleteAtSevenBytesWithinBounds) {
    struct Case {
        Bytes wire;
        Bytes decoded;
    };
    const Case cases[] = {
        {{0x02, 0x00, 0x00, 0x41, 0x42, 0x43, 0x44}, {0x02, 0x00, 0x00, 0x00, 0x03}},
        // L = 1: no whole block; the byte 0x05 claims more padding than there is.
        {{0x02, 0x00, 0x01, 0x05, 0x00, 0x03, 0x00}, {0x02, 0x00, 0x00, 0x00, 0x03}},
        // L = 2 ending in 0x01: one data byte survives, unscrambled (pair 0, 0).
        {{0x02, 0x00, 0x02, 0x72, 0x01, 0x00, 0x03}, {0x02, 0x00, 0x01, 0x72, 0x72, 0x03}},
    };
    for (const Case& c : cases) {
        target.frames.clear();
        Feed(Bytes(c.wire.begin(), c.wire.end() - 1));
        EXPECT_TRUE(target.frames.empty());
        Feed({c.wire.back()});
        ASSERT_EQ(target.frames.size(), 1u);
        EXPECT_EQ(target.frames[0], c.decoded);
        EXPECT_EQ(g_nRxLen.load(), 0);
    }
}

TEST_F(FrameCodecTest, SendingACommandDiscardsAPartlyReceivedFrame) {
    Encode({0x25});
    const Bytes wire = InboundFrame({0x72, 0x06}, LinkKey, g_testPair);
    Feed(Bytes(wire.begin(), wire.begin() + 6));
    g_nRxLen = 0;  // a builder sends
    Feed(wire);
    ASSERT_EQ(target.frames.size(), 1u);
    EXPECT_EQ(target.frames[0], (Bytes{0x02, 0x00, 0x02, 0x72, 0x06, 0x78, 0x03}));
}

TEST_F(FrameCodecTest, BackToBackFramesAreHandedOverInOrder) {
    Encode({0x27});
    Bytes stream = InboundFrame({0x94, 0x00, 0x00, 0xA0}, LinkKey, g_testPair);
    const Bytes second = InboundFrame({0x94, 0x00, 0x00, 0xA6}, LinkKey, g_testPair);
    stream.insert(stream.end(), second.begin(), second.end());
    Feed(stream);
    ASSERT_EQ(target.frames.size(), 2u);
    EXPECT_EQ(target.frames[0][6], 0xA0);
    EXPECT_EQ(target.frames[1][6], 0xA6);
}

TEST_F(FrameCodecTest, WithoutATargetAFrameIsDecodedAndDropped) {
    SetReplyTarget(nullptr);
    Encode({0x25});
    Feed(InboundFrame({0x72, 0x06}, LinkKey, g_testPair));
    EXPECT_EQ(g_nRxLen.load(), 0);
    EXPECT_EQ(Bytes(g_abRxFrame, g_abRxFrame + 7),
              (Bytes{0x02, 0x00, 0x02, 0x72, 0x06, 0x78, 0x03}));
    EXPECT_TRUE(target.frames.empty());
}

TEST_F(FrameCodecTest, DecodeFrameRefusesALengthBeyondTheWorkArea) {
    Bytes in(kRxFrameSize, 0x41);
    in[0] = 0x02;
    in[1] = 0x1F;
    in[2] = 0xF0;
    Bytes out(kWorkAreaSize, 0xEE);
    EXPECT_EQ(DecodeFrame(out.data(), in.data()), 0);
    EXPECT_EQ(out, Bytes(kWorkAreaSize, 0xEE));
}

}  // namespace
}  // namespace quillon
