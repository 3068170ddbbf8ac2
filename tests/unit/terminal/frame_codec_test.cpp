// The link codec and reply collector against reference vectors; the link path allocates nothing.
#include "terminal/frame_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "counting_allocator.h"
#include "fakes.h"
#include "simulator/scenario.h"
#include "simulator/terminal_wire.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;
using Frames = std::vector<Bytes>;
using Lines = std::vector<std::string>;

Bytes Hex(const std::string& text) {
    Bytes bytes;
    EXPECT_TRUE(sim::ParseHexBytes(text, &bytes)) << text;
    return bytes;
}
Bytes Part(const Bytes& b, size_t from, size_t to) { return {b.begin() + from, b.begin() + to}; }

const Bytes kZeroKey(16, 0);
const Bytes kKey = Hex("000102030405060708090A0B0C0D0E0F");

// Published vectors (key words big-endian there); blocks of spaces or a zero word pass as they are.
TEST(Xtea, PublishedVectorsAndPassThroughBlocksBothWays) {
    const Bytes published = Hex("03020100 07060504 0B0A0908 0F0E0D0C");
    const std::tuple<const Bytes&, const char*, const char*> vectors[] = {
        {published, "4142434445464748", "497DF3D072612CB5"},
        {kZeroKey, "4141414141414141", "ED23375A821A8C2D"},
        {kKey, "2020202020202020", "2020202020202020"},
        {kKey, "0000000041424344", "0000000041424344"},
        {kKey, "4142434420202020", "4142434420202020"}};
    for (const auto& v : vectors) {
        Bytes data = Hex(std::get<1>(v));
        data.resize(16);
        ASSERT_EQ(EncipherBlocks(data.data(), 8, std::get<0>(v).data()), 16);
        EXPECT_EQ(Part(data, 0, 8), Hex(std::get<2>(v)));
        EXPECT_NE(Part(data, 8, 16), Bytes(8, 0x08)) << "the padding block is enciphered";
        EXPECT_EQ(DecipherBlocks(data.data(), 16, std::get<0>(v).data()), 8);
        EXPECT_EQ(Part(data, 0, 8), Hex(std::get<1>(v)));
    }
}

TEST(ScrambleBytes, XorsFromPosition3WithThePairInTurnUnlessTheByteIsOrWouldBecome00_20OrFF) {
    Bytes frame = Hex("020008 41 20 00 FF 11 31 EE 50 99");
    const uint8_t same[2] = {0x11, 0x11}, pair[2] = {0x01, 0x02};
    ScrambleBytes(frame.data(), 11, same);
    EXPECT_EQ(frame, Hex("020008 50 20 00 FF 11 31 EE 41 99"));
    frame = Hex("020006 41 41 41 41 41 41");
    ScrambleBytes(frame.data(), 8, pair);
    EXPECT_EQ(frame, Hex("020006 40 43 40 43 40 41"));
}

uint8_t g_pair[2];
void FixedPair(uint8_t pair[2]) { std::memcpy(pair, g_pair, 2); }

class FrameCodecTest : public ::testing::Test, public testing_support::FrameCollector {
  protected:
    // As the port's write step does; the builder's length and checksum are wrong on purpose.
    Bytes Encode(const Bytes& payload) {
        Bytes plain = Hex("02 7F7F");
        plain.insert(plain.end(), payload.begin(), payload.end());
        plain.resize(plain.size() + 18, 0x99);
        const int length = link.Encode(plain.data(), int(payload.size()) + 5);
        return Bytes(link.WorkArea(), link.WorkArea() + length);
    }
    void Feed(const Bytes& bytes, bool handOver = true) {
        for (uint8_t b : bytes) link.CollectReplyByte(b, handOver ? this : nullptr);
    }
    // A reply as the terminal sends it: with the link key and the pair of the host's last frame.
    Bytes Inbound(const Bytes& payload) {
        return sim::EncodeTerminalFrame(payload, link.LinkKey(), link.ScramblePair());
    }

    testing_support::CapturingLog log;
    TerminalLink link{FixedPair};
};

// Reference frames computed independently of this code.
TEST_F(FrameCodecTest, EncodesReferenceFramesWithTheKeyTheirCommandCalls) {
    const struct {
        const char* payload;
        const Bytes& linkKey;
        uint8_t pair[2];
        const char* wire;  // the last three padded-payload bytes go out unscrambled
    } cases[] = {
        {"25", kZeroKey, {0x11, 0xC3}, "02000B 5172856B103D22C4 4B99 00 CA 03"},
        {"23", kKey, {0x11, 0xC3}, "02000B FF6F496A54CADED8 4B99 01 DA 03"},  // DefaultKey
        {"7201003236303131",
         kKey,
         {0x5C, 0xA7},  // a whole padding block
         "020013 01975B8C3DC6C0B6EB0D85AB9CC366BD 06FD 00 A5 03"},
    };
    ASSERT_EQ(kTrailerMask, 0x5A) << "the reference trailers assume the default mask";
    for (const auto& c : cases) {
        link.InstallLinkKey(c.linkKey.data());
        std::memcpy(g_pair, c.pair, 2);
        EXPECT_EQ(Encode(Hex(c.payload)), Hex(c.wire)) << c.payload;
        EXPECT_EQ(link.KeyFlag(), std::string(c.payload) == "23");
        EXPECT_EQ(Bytes(link.ScramblePair(), link.ScramblePair() + 2), Bytes(c.pair, c.pair + 2));
    }
}

// L = 2184 pads to 2192: n + 8 = 2200 does not fit; L = 2183 pads to 2184 and fits exactly.
TEST_F(FrameCodecTest, FramesWithoutACommandOrTooLongForTheWorkAreaAreNotEncodedNorChangeTheLink) {
    Bytes plain(kWorkAreaSize + 32, 0x23);
    g_pair[0] = 0x77;
    EXPECT_EQ(link.Encode(plain.data(), 2184 + 5), 0);
    EXPECT_EQ(link.Encode(plain.data(), 5), 0);
    uint8_t out[8];
    EXPECT_EQ(EncodeFrame(out, plain.data(), 5, kKey.data(), g_pair), 0);
    EXPECT_FALSE(link.KeyFlag());
    EXPECT_EQ(link.ScramblePair()[0], 0);
    EXPECT_EQ(link.Encode(plain.data(), 2183 + 5), kWorkAreaSize);
    EXPECT_TRUE(link.KeyFlag());
    EXPECT_EQ(link.ScramblePair()[0], 0x77);
}

TEST_F(FrameCodecTest, DecodesAReferenceReplyAndDropsStrayBytesOneByOneWithoutCheckingSumOrEtx) {
    link.InstallLinkKey(kKey.data());
    const uint8_t pair[2] = {0x5C, 0xA7};
    link.SetOutbound(pair, false);
    Feed(Hex("020008 CD31190189 82F38E A4 03"));  // serial number "ABC", computed independently
    EXPECT_EQ(frames, Frames{Hex("020007 25 060003 414243 F4 03")});
    EXPECT_TRUE(log.lines.empty());
    Bytes reply = Inbound({0x72, 0x06});
    reply[11] ^= 0xFF;
    reply[12] = 0x7E;
    Feed(Hex("41 03 FF"));
    Feed(reply);
    EXPECT_EQ(log.lines, Lines(3, "INVALID PROTOCOL REPLY RETURN"));
    EXPECT_EQ(frames.back(), Hex("020002 7206 78 03"));
}

TEST_F(FrameCodecTest, FrameTooLongForTheWorkAreaIsDroppedAtItsLengthTheLongestThatFitsIsTaken) {
    Feed(Hex("02 088C 55"));  // L = 2188: L + 5 = 2193; its body is a stray byte now
    EXPECT_EQ(log.lines.size(), 2u);
    // L = 2187. Spaces pass the cipher and the scramble; the last byte (a partial block, never
    // deciphered) says 3 bytes of padding.
    Bytes wire = Hex("02 088B");
    wire.resize(kWorkAreaSize - 3, 0x20);
    wire.insert(wire.end(), {0x03, 0x00, 0x03});
    Feed(wire);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 2184u + 5);
    EXPECT_EQ(Part(frames[0], 0, 3), Hex("02 0888"));
}

TEST_F(FrameCodecTest, ShortAndBadlyPaddedFramesCompleteAtTheirLengthWithAtLeastSevenBytes) {
    const std::pair<const char*, const char*> cases[] = {
        {"020000 41424344", "020000 00 03"},
        {"020001 05 0003 00", "020000 00 03"},    // count above the length
        {"020002 7201 0003", "020001 72 72 03"},  // one data byte survives
        {"020010 2020202020202020 2020202020202009 00 03", "020000 00 03"},  // count above 8
    };
    for (const auto& c : cases) {
        const Bytes wire = Hex(c.first);
        frames.clear();
        Feed(Bytes(wire.begin(), wire.end() - 1));
        EXPECT_TRUE(frames.empty()) << c.first;
        Feed({wire.back()});
        EXPECT_EQ(frames, Frames{Hex(c.second)}) << c.first;
    }
}

// The plain frame of a payload: STX, L, the payload, its byte sum, ETX.
Bytes Plain(const Bytes& payload) {
    Bytes f = {0x02, uint8_t(payload.size() >> 8), uint8_t(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    uint8_t sum = 0;
    for (uint8_t b : payload) sum = uint8_t(sum + b);
    return f.push_back(sum), f.push_back(0x03), f;
}

// Against the simulator's side of the codec: a status query goes out with DefaultKey and its
// answer comes back deciphered with it, every other frame with the link key.
TEST_F(FrameCodecTest, FramesOfEveryLengthDecodeExactlyOnTheOtherSideBothWays) {
    const Bytes key = Hex("1032547698BADCFE 0123456789ABCDEF");
    link.InstallLinkKey(key.data());
    for (size_t length = 1; length <= 2000; ++length) {
        g_pair[0] = uint8_t(length * 7), g_pair[1] = uint8_t(length * 13 + 1);
        Bytes payload(length);
        for (size_t i = 0; i < length; ++i) payload[i] = uint8_t(i * 131 + length);
        payload[0] = length % 5 == 0 ? 0x23 : 0x28;
        const Bytes wire = Encode(payload);
        sim::HostFrame frame;
        ASSERT_TRUE(sim::DecodeHostFrame(wire.data(), wire.size(), key.data(), &frame)) << length;
        ASSERT_TRUE(frame.paddingValid) << length;
        ASSERT_EQ(frame.plain, Plain(payload)) << length;
        ASSERT_EQ(frame.defaultKey, payload[0] == 0x23) << length;
        ASSERT_EQ(Bytes(frame.pair, frame.pair + 2), Bytes(g_pair, g_pair + 2)) << length;

        payload[0] = 0x27;  // the answer goes back with the key and pair of the host's frame
        frames.clear();
        Feed(sim::EncodeTerminalFrame(payload, frame.defaultKey ? DefaultKey : key.data(),
                                      frame.pair));
        ASSERT_EQ(frames, Frames{Plain(payload)}) << length;
    }
    EXPECT_TRUE(log.lines.empty());
}

// The monitor thread runs the link path for every byte and frame: it must not touch the heap
// while log lines are discarded (the default).
TEST(LinkPathAllocation, EncodingAVerifyAndCollectingRepliesAmongGarbageAllocateNothing) {
    using testing_support::AllocationsIn;
    ASSERT_EQ(GetLogSink(), nullptr);
    static uint8_t plain[1204 + 5 + 8] = {kStx, 0x04, 0xB4, 0x28};  // a two-finger verification
    static TerminalLink link;
    EXPECT_EQ(AllocationsIn([] { link.Encode(plain, 1204 + 5); }), 0);
    // Stray bytes, an oversize frame dropped at its length, a frame of a bad length (not a whole
    // block, its padding invalid), then an enrolment's template.
    Bytes result = {0x27, 0x06, 0x02, 0x56}, stream = {0x41, 0x03, 0x02, 0x08, 0x8C};
    result.resize(4 + 598, 0x33);
    stream.resize(40, 0x55);
    stream.insert(stream.end(), {0x02, 0x00, 0x03, 0x41, 0x42, 0x20, 0xA3, 0x03});
    const Bytes wire = sim::EncodeTerminalFrame(result, link.LinkKey(), link.ScramblePair());
    stream.insert(stream.end(), wire.begin(), wire.end());
    testing_support::FrameCollector sink;
    sink.frames.reserve(2);
    EXPECT_EQ(AllocationsIn([&] {
                  for (uint8_t b : stream) link.CollectReplyByte(b, &sink);
              }),
              2)
        << "only the collector's copies of the frames";
    EXPECT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(link.ReceivedLength(), 0);
}

}  // namespace
}  // namespace quillon
