// The terminal simulator against the host codec: what it decodes from the host's frames and what
// the host's own parser makes of its answers. Scenario files and their line faults are played
// against the real host by the end-to-end tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes.h"
#include "simulator/scenario.h"
#include "simulator/terminal_model.h"
#include "simulator/terminal_wire.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
using Frames = std::vector<Bytes>;

uint8_t g_pair[2] = {0x11, 0xC3};
void TestPair(uint8_t pair[2]) { std::memcpy(pair, g_pair, 2); }

Bytes Plain(const Bytes& payload) {
    Bytes f = {kStx, static_cast<uint8_t>(payload.size() >> 8),
               static_cast<uint8_t>(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(ByteSum(payload.data(), static_cast<int>(payload.size())));
    f.push_back(kEtx);
    return f;
}

Scenario Parsed(const std::string& text) {
    Scenario s;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, &s, &error)) << error;
    return s;
}

const Bytes kSerialReply = {0x25, 0x06, 0x00, 0x07, 'Q', 'T', '-', '0', '0', '0', '1'};

// The host's half: the real EncodeFrame and the real reply parser.
class HostSideTest : public ::testing::Test, public IReplyTarget {
  protected:
    void SetUp() override {
        std::memset(LinkKey, 0, sizeof LinkKey);
        g_nRxLen = 0;
        SetScramblePairSource(TestPair);
        SetReplyTarget(this);
    }
    void TearDown() override {
        SetScramblePairSource(nullptr);
        SetReplyTarget(nullptr);
        std::memset(LinkKey, 0, sizeof LinkKey);
    }
    void OnFrameComplete() override {  // keeps code and data
        received.emplace_back(g_abRxFrame + 3,
                              g_abRxFrame + 3 + g_abRxFrame[1] * 256 + g_abRxFrame[2]);
    }
    Bytes Send(const Bytes& payload) {
        Bytes plain = Plain(payload);
        plain.resize(plain.size() + 8, 0);
        Bytes out(kWorkAreaSize);
        out.resize(static_cast<size_t>(
            EncodeFrame(out.data(), plain.data(), static_cast<int>(payload.size()) + 5)));
        return out;
    }
    void Receive(const Bytes& wire) {
        for (uint8_t b : wire) CollectReplyByte(b);
    }
    // Sends a command to the terminal; returns what the host decodes from the answer.
    Frames Exchange(TerminalModel* terminal, const Bytes& payload) {
        HostFrame frame;
        received.clear();
        for (const Action& a : terminal->OnWireFrame(Send(payload), &frame)) Receive(a.bytes);
        return received;
    }

    Frames received;
    testing_support::CapturingLog log;
};

TEST_F(HostSideTest, FramesOfEveryLengthDecodeExactlyOnTheOtherSideBothWays) {
    const uint8_t key[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                             0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    std::memcpy(LinkKey, key, 16);
    for (size_t length = 1; length <= 2000; ++length) {
        g_pair[0] = static_cast<uint8_t>(length * 7);
        g_pair[1] = static_cast<uint8_t>(length * 13 + 1);
        Bytes payload(length);
        for (size_t i = 0; i < length; ++i) payload[i] = static_cast<uint8_t>(i * 131 + length);
        payload[0] = length % 5 == 0 ? 0x23 : 0x28;
        const Bytes wire = Send(payload);
        HostFrame frame;
        ASSERT_TRUE(DecodeHostFrame(wire.data(), wire.size(), key, &frame)) << length;
        ASSERT_TRUE(frame.paddingValid) << length;
        ASSERT_EQ(frame.plain, Plain(payload)) << length;
        ASSERT_EQ(frame.defaultKey, payload[0] == 0x23) << length;
        ASSERT_EQ(Bytes(frame.pair, frame.pair + 2), Bytes(g_pair, g_pair + 2)) << length;

        payload[0] = 0x27;  // the answer goes back with the key and pair of the host's frame
        received.clear();
        Receive(EncodeTerminalFrame(payload, frame.defaultKey ? DefaultKey : key, frame.pair));
        ASSERT_EQ(received, Frames{payload}) << length;
    }
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(HostSideTest, StatusReplyHandsOutAFreshLinkKeyThatBothSidesThenUse) {
    TerminalModel terminal(Parsed("# a story\nname  ACME # BANK \n"), 7);
    const Bytes first = Exchange(&terminal, {0x23}).at(0);
    ASSERT_EQ(first.size(), 3u + 11 + 16 + 16);
    EXPECT_EQ(std::string(first.begin(), first.end() - 16),
              "\x23\x06\x0B"
              "ACME # BANKQUILLON-TERM-001");
    EXPECT_EQ(Bytes(first.end() - 16, first.end()),
              Bytes(terminal.LinkKey(), terminal.LinkKey() + 16));
    // A host process that has not installed a key yet is answered with the zero key.
    EXPECT_EQ(Exchange(&terminal, {0x25}), Frames{kSerialReply});

    const Bytes second = Exchange(&terminal, {0x23}).at(0);
    EXPECT_NE(Bytes(second.end() - 16, second.end()), Bytes(first.end() - 16, first.end()));
    std::memcpy(LinkKey, second.data() + second.size() - 16, 16);  // as the host installs it
    EXPECT_EQ(Exchange(&terminal, {0x25}), Frames{kSerialReply});
    EXPECT_EQ(Bytes(terminal.LinkKey(), terminal.LinkKey() + 16), Bytes(LinkKey, LinkKey + 16));
}

// The host's verify command for a 598-byte template, bytes 512..597 sent as spaces.
Bytes VerifyCommand(Bytes templ) {
    for (size_t i = 512; i < 598; ++i) templ[i] = 0x20;
    Bytes c = {0x28, 0x01, 0x04, 0, 0, 0, 0x02, 0x56};
    c.insert(c.end(), templ.begin(), templ.end());
    return c;
}

TEST_F(HostSideTest, EnrolmentGivesATemplateOfTheAskedSizeThatVerificationThenMatches) {
    TerminalModel terminal(Scenario(), 1);
    const Bytes a0 = {0x94, 0x00, 0x00, 0xA0};
    Bytes templ;
    for (uint8_t d1 : {0xC1, 0x01}) {
        const Frames frames = Exchange(
            &terminal, {0x27, d1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        const size_t size = d1 == 0xC1 ? 1196 : 598;
        ASSERT_EQ(frames.size(), 4u);
        EXPECT_EQ(Frames(frames.begin(), frames.end() - 1),
                  (Frames{a0, {0x94, 0x00, 0x00, 0xA5}, {0x94, 0x00, 0x00, 0xA6}}));
        ASSERT_EQ(frames[3].size(), 4 + size);
        EXPECT_EQ(Bytes(frames[3].begin(), frames[3].begin() + 4),
                  (Bytes{0x27, 0x06, static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)}));
        EXPECT_EQ(frames[3][4 + 17], 2) << "template byte 17 (frame position 24)";
        templ.assign(frames[3].begin() + 4, frames[3].end());
    }
    const struct {
        size_t changed;  // index of a byte changed before sending; templ.size(): none
        uint8_t event;
    } cases[] = {{templ.size(), 0xA3}, {0, 0xA4}, {511, 0xA4}};
    for (const auto& c : cases) {
        Bytes sent = templ;
        if (c.changed < sent.size()) sent[c.changed] ^= 0x01;
        EXPECT_EQ(Exchange(&terminal, VerifyCommand(sent)),
                  (Frames{a0, {0x94, 0x00, 0x00, c.event}, {0x28, 0x06}}))
            << c.changed;
    }
}

TEST_F(HostSideTest, BadSumSpoilsTheChecksumOfTheNextFrameOnlyAndMuteEndsAllAnswers) {
    TerminalModel terminal(Parsed("on 25\n badsum\n default\n default\n mute\nend\n"), 1);
    HostFrame frame;
    const std::vector<Action> actions = terminal.OnWireFrame(Send({0x25}), &frame);
    ASSERT_EQ(actions.size(), 2u);
    const Bytes whole = EncodeTerminalFrame(kSerialReply, LinkKey, g_pair);
    EXPECT_EQ(actions[1].bytes, whole);
    Bytes badSum = actions[0].bytes;
    ASSERT_EQ(badSum.size(), whole.size());
    EXPECT_NE(badSum[badSum.size() - 2], whole[whole.size() - 2]);
    badSum[badSum.size() - 2] = whole[whole.size() - 2];
    EXPECT_EQ(badSum, whole) << "the checksum alone is wrong";
    EXPECT_TRUE(terminal.OnWireFrame(Send({0x25}), &frame).empty());
    EXPECT_EQ(frame.plain, Plain({0x25})) << "a muted terminal still decodes";
}

}  // namespace
}  // namespace sim
}  // namespace quillon
