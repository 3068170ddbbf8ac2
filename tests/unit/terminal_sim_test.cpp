// The terminal simulator's side of the wire against the host codec, its scenario files and its
// answers, checked by decoding everything with the host's own parser.
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

uint8_t g_pair[2] = {0x11, 0xC3};
void TestPair(uint8_t pair[2]) {
    pair[0] = g_pair[0];
    pair[1] = g_pair[1];
}

class Collector : public IReplyTarget {
public:
    void OnFrameComplete() override {
        const int length = g_abRxFrame[1] * 256 + g_abRxFrame[2];
        frames.emplace_back(g_abRxFrame + 3, g_abRxFrame + 3 + length);  // code and data
    }
    std::vector<Bytes> frames;
};

Bytes Plain(const Bytes& payload) {
    Bytes f = {0x02, static_cast<uint8_t>(payload.size() >> 8),
               static_cast<uint8_t>(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(ByteSum(payload.data(), static_cast<int>(payload.size())));
    f.push_back(0x03);
    return f;
}

Bytes Payload(size_t length, uint8_t code, unsigned salt) {
    Bytes p(length);
    for (size_t i = 0; i < length; ++i)
        p[i] = static_cast<uint8_t>((i * 131 + salt * 7 + 3) & 0xFF);
    p[0] = code;
    return p;
}

// The host's half: encodes with the real EncodeFrame, decodes with the real reply parser.
class HostSideTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(LinkKey, 0, sizeof LinkKey);
        g_nRxLen = 0;
        SetScramblePairSource(TestPair);
        SetReplyTarget(&host);
    }
    void TearDown() override {
        SetScramblePairSource(nullptr);
        SetReplyTarget(nullptr);
        std::memset(LinkKey, 0, sizeof LinkKey);
    }
    Bytes Send(const Bytes& payload) {
        Bytes plain = Plain(payload);
        plain.resize(plain.size() + 8, 0);
        Bytes out(kWorkAreaSize);
        const int n = EncodeFrame(out.data(), plain.data(), static_cast<int>(payload.size()) + 5);
        out.resize(static_cast<size_t>(n));
        return out;
    }
    void Receive(const Bytes& wire) {
        for (uint8_t b : wire) CollectReplyByte(b);
    }
    // Sends a command to the terminal and returns what the host decodes from the answer.
    std::vector<Bytes> Exchange(TerminalModel* terminal, const Bytes& payload) {
        HostFrame frame;
        const std::vector<Action> actions = terminal->OnWireFrame(Send(payload), &frame);
        host.frames.clear();
        for (const Action& a : actions) {
            if (a.kind == Action::Kind::kSend) Receive(a.bytes);
        }
        return host.frames;
    }

    Collector host;
    testing_support::CapturingLog log;
};

// ---- Wire encoding, both directions, every length ----

TEST_F(HostSideTest, HostFramesDecodeExactlyOnTheTerminalSideForEveryLength) {
    const uint8_t terminalKey[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                                     0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    std::memcpy(LinkKey, terminalKey, 16);
    for (size_t length = 1; length <= 2000; ++length) {
        g_pair[0] = static_cast<uint8_t>(length * 7);
        g_pair[1] = static_cast<uint8_t>(length * 13 + 1);
        const uint8_t code = length % 5 == 0 ? 0x23 : 0x28;
        const Bytes payload = Payload(length, code, static_cast<unsigned>(length));
        const Bytes wire = Send(payload);
        HostFrame frame;
        ASSERT_TRUE(DecodeHostFrame(wire.data(), wire.size(), terminalKey, &frame)) << length;
        ASSERT_TRUE(frame.paddingValid) << length;
        ASSERT_EQ(frame.plain, Plain(payload)) << length;
        ASSERT_EQ(frame.defaultKey, code == 0x23) << length;
        ASSERT_EQ(frame.pair[0], g_pair[0]) << length;
        ASSERT_EQ(frame.pair[1], g_pair[1]) << length;
    }
}

TEST_F(HostSideTest, TerminalFramesDecodeExactlyOnTheHostSideForEveryLength) {
    const uint8_t terminalKey[16] = {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87,
                                     0x78, 0x69, 0x5A, 0x4B, 0x3C, 0x2D, 0x1E, 0x0F};
    std::memcpy(LinkKey, terminalKey, 16);
    for (size_t length = 1; length <= 2000; ++length) {
        KeyFlag = length % 3 == 0;
        ScramblePair[0] = static_cast<uint8_t>(length * 5 + 2);
        ScramblePair[1] = static_cast<uint8_t>(length * 11);
        const Bytes payload = Payload(length, 0x27, static_cast<unsigned>(length) + 9);
        host.frames.clear();
        Receive(EncodeTerminalFrame(payload, KeyFlag ? DefaultKey : terminalKey, ScramblePair));
        ASSERT_EQ(host.frames.size(), 1u) << length;
        ASSERT_EQ(host.frames[0], payload) << length;
    }
    EXPECT_TRUE(log.Lines().empty());
}

TEST(TerminalWire, RejectsWhatIsNotAWholeOutboundFrame) {
    const uint8_t key[16] = {};
    Bytes wire = {0x02, 0x00, 0x0B, 0x51, 0x72, 0x85, 0x6B, 0x10,
                  0x3D, 0x22, 0xC4, 0x4B, 0x99, 0x00, 0xCA, 0x03};
    HostFrame frame;
    ASSERT_TRUE(DecodeHostFrame(wire.data(), wire.size(), key, &frame));
    EXPECT_EQ(frame.plain, Plain({0x25}));
    EXPECT_FALSE(DecodeHostFrame(wire.data(), wire.size() - 1, key, &frame)) << "short";
    wire[0] = 0x03;
    EXPECT_FALSE(DecodeHostFrame(wire.data(), wire.size(), key, &frame)) << "no STX";
}

TEST(TerminalWire, FramerSkipsStrayBytesAndResynchronisesAfterAnAbsurdLength) {
    WireFramer framer;
    std::vector<Bytes> frames;
    const Bytes frame = {0x02, 0x00, 0x0B, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x03};
    Bytes stream = {0x41, 0x42, 0x02, 0xFF, 0xFF};  // garbage, then a length of 65535
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), frame.begin(), frame.end());
    for (uint8_t b : stream) {
        if (framer.Push(b)) frames.push_back(framer.Frame());
    }
    EXPECT_EQ(frames, (std::vector<Bytes>{frame, frame}));
    EXPECT_EQ(framer.SkippedBytes(), 5u);
    EXPECT_FALSE(framer.Partial());
}

TEST(TerminalWire, RecordLineIsThePlainFrameInHexAndTheKeyFlag) {
    HostFrame frame;
    frame.plain = {0x02, 0x00, 0x01, 0x23, 0x23, 0x03};
    frame.defaultKey = true;
    EXPECT_EQ(RecordLine(frame, {}), "020001232303 1");
    frame.defaultKey = false;
    frame.paddingValid = false;
    EXPECT_EQ(RecordLine(frame, {0x02, 0xAB}), "BAD 02AB 0");
}

// ---- Scenario files ----

TEST(ScenarioParser, ReadsSettingsAndBlocks) {
    const std::string text =
        "# a story\n"
        "name  ACME # BANK \n"
        "serial SN-42\n"
        "identity 00112233445566778899AABBCCDDEEFF\n"
        "linkkey 0x00 0x01 0203 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
        "signature 01 02 03\n"
        "template A1B2\n"
        "verify nomatch\n"
        "on 0x27\n"
        "  delay 150   # think\n"
        "  garbage 3\n"
        "  event A0 A7\n"
        "  split 4 20\n"
        "  badsum\n"
        "  result 15\n"
        "end\n"
        "on any always\n"
        "  reply 06 01\n"
        "  frame 94 00 00 A0\n"
        "  raw 02 00\n"
        "  oversize\n"
        "  oversize 3000\n"
        "  silence\n"
        "  mute\n"
        "  hangup\n"
        "  default\n"
        "end\n";
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(text, &s, &error)) << error;
    EXPECT_EQ(s.name, "ACME # BANK");
    EXPECT_EQ(s.serial, "SN-42");
    EXPECT_EQ(s.identity, (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA,
                                 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
    EXPECT_EQ(s.linkKey, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(s.signature, (Bytes{1, 2, 3}));
    EXPECT_EQ(s.enrolTemplate, (Bytes{0xA1, 0xB2}));
    EXPECT_EQ(s.verify, VerifyRule::kNoMatch);
    ASSERT_EQ(s.blocks.size(), 2u);

    using K = Step::Kind;
    const Block& enrol = s.blocks[0];
    EXPECT_EQ(enrol.code, 0x27);
    EXPECT_FALSE(enrol.always);
    ASSERT_EQ(enrol.steps.size(), 6u);
    EXPECT_EQ(enrol.steps[0].kind, K::kDelay);
    EXPECT_EQ(enrol.steps[0].a, 150);
    EXPECT_EQ(enrol.steps[1].kind, K::kGarbage);
    EXPECT_EQ(enrol.steps[1].a, 3);
    EXPECT_EQ(enrol.steps[2].kind, K::kEvent);
    EXPECT_EQ(enrol.steps[2].bytes, (Bytes{0xA0, 0xA7}));
    EXPECT_EQ(enrol.steps[3].kind, K::kSplit);
    EXPECT_EQ(enrol.steps[3].a, 4);
    EXPECT_EQ(enrol.steps[3].b, 20);
    EXPECT_EQ(enrol.steps[4].kind, K::kBadSum);
    EXPECT_EQ(enrol.steps[5].kind, K::kResult);
    EXPECT_EQ(enrol.steps[5].bytes, Bytes{0x15});

    const Block& any = s.blocks[1];
    EXPECT_EQ(any.code, -1);
    EXPECT_TRUE(any.always);
    const K kinds[] = {K::kReply,   K::kFrame, K::kRaw,    K::kOversize, K::kOversize,
                       K::kSilence, K::kMute,  K::kHangup, K::kDefault};
    ASSERT_EQ(any.steps.size(), 9u);
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(any.steps[i].kind, kinds[i]) << i;
    EXPECT_EQ(any.steps[0].bytes, (Bytes{0x06, 0x01}));
    EXPECT_EQ(any.steps[3].a, 4000);
    EXPECT_EQ(any.steps[4].a, 3000);
}

TEST(ScenarioParser, ReportsTheLineOfEachMistake) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"name X\nfrobnicate 1\n", "line 2: unknown setting: frobnicate"},
        {"identity 0011\n", "line 1: identity needs 16 hexadecimal bytes"},
        {"signature 0G\n", "line 1: bad hexadecimal bytes"},
        {"template 012\n", "line 1: bad hexadecimal bytes"},
        {"verify maybe\n", "line 1: verify takes compare, match or nomatch"},
        {"on 123\nend\n", "line 1: on takes a command code (hex) or any, then optionally always"},
        {"on 25 twice\nend\n", "line 1: unknown word after on: twice"},
        {"on 25\n  delay soon\nend\n", "line 2: delay takes milliseconds"},
        {"on 25\n  result 06 07\nend\n", "line 2: result takes one status byte"},
        {"on 25\n  split 4\nend\n", "line 2: split takes a piece size and milliseconds"},
        {"on 25\n  cut\nend\n", "line 2: cut takes a byte count"},
        {"on 25\n  event\nend\n", "line 2: event needs hexadecimal bytes"},
        {"on 25\n  jump\nend\n", "line 2: unknown step: jump"},
        {"on 25\n  hangup now\nend\n", "line 2: hangup takes nothing"},
        {"on 25\n  reply 06\n", "line 2: missing end of the block"},
    };
    for (const Case& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(c.text, &s, &error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

// ---- Default answers, decoded by the host ----

TEST_F(HostSideTest, StatusReplyHandsOutALinkKeyThatBothSidesThenUse) {
    Scenario s;
    s.name = "ACME";
    TerminalModel terminal(s, 7);
    const std::vector<Bytes> status = Exchange(&terminal, {0x23});
    ASSERT_EQ(status.size(), 1u);
    const Bytes& r = status[0];
    ASSERT_EQ(r.size(), 3u + 4 + 16 + 16);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 7), (Bytes{0x23, 0x06, 0x04, 'A', 'C', 'M', 'E'}));
    EXPECT_EQ(std::string(r.begin() + 7, r.begin() + 23), "QUILLON-TERM-001");
    EXPECT_EQ(Bytes(r.begin() + 23, r.end()), Bytes(terminal.LinkKey(), terminal.LinkKey() + 16));
    EXPECT_NE(Bytes(r.begin() + 23, r.end()), Bytes(16, 0));

    std::memcpy(LinkKey, r.data() + 23, 16);  // as the host's reply handling installs it
    const std::vector<Bytes> serial = Exchange(&terminal, {0x25});
    ASSERT_EQ(serial.size(), 1u);
    EXPECT_EQ(serial[0], (Bytes{0x25, 0x06, 0x00, 0x07, 'Q', 'T', '-', '0', '0', '0', '1'}));
}

TEST_F(HostSideTest, EachStatusQueryGivesAFreshKeyUnlessTheScenarioFixesIt) {
    TerminalModel fresh(Scenario(), 1);
    const Bytes first = Exchange(&fresh, {0x23})[0];
    const Bytes second = Exchange(&fresh, {0x23})[0];
    EXPECT_NE(Bytes(first.end() - 16, first.end()), Bytes(second.end() - 16, second.end()));

    Scenario s;
    s.linkKey = Bytes(16, 0x5A);
    TerminalModel fixed(s, 1);
    const Bytes status = Exchange(&fixed, {0x23})[0];
    EXPECT_EQ(Bytes(status.end() - 16, status.end()), Bytes(16, 0x5A));
}

TEST_F(HostSideTest, SimpleCommandsGetTheirDefaultAnswers) {
    Scenario s;
    s.signature = {0xDE, 0xAD, 0xBE, 0xEF};
    TerminalModel terminal(s, 1);
    const Bytes clock = {0x72, 0x01, 0x00, '2', '6', '0', '3', '1',
                         '5',  '0',  '9',  '3', '0', '4', '5'};
    EXPECT_EQ(Exchange(&terminal, clock), std::vector<Bytes>{(Bytes{0x72, 0x06})});
    EXPECT_EQ(terminal.TerminalTime(), "260315093045");
    // Signature: status at frame position 9, bytes from 10, so L = 4 + 7.
    EXPECT_EQ(Exchange(&terminal, {0xF3, 0, 0, 0, 0, 0}),
              std::vector<Bytes>{(Bytes{0xF3, 0, 0, 0, 0, 0, 0x06, 0xDE, 0xAD, 0xBE, 0xEF})});
    EXPECT_EQ(Exchange(&terminal, {0x5E, 0x01}), std::vector<Bytes>{(Bytes{0x5E, 0x06})});
}

TEST_F(HostSideTest, EnrolmentSendsItsEventsThenATemplateOfTheAskedSize) {
    TerminalModel terminal(Scenario(), 1);
    struct Case {
        uint8_t d1;
        size_t size;
    };
    for (Case c : {Case{0x01, 598}, Case{0xC1, 1196}}) {
        Bytes command(22, 0x00);
        command[0] = 0x27;
        command[1] = c.d1;
        const std::vector<Bytes> frames = Exchange(&terminal, command);
        ASSERT_EQ(frames.size(), 4u);
        EXPECT_EQ(frames[0], (Bytes{0x94, 0x00, 0x00, 0xA0}));
        EXPECT_EQ(frames[1], (Bytes{0x94, 0x00, 0x00, 0xA5}));
        EXPECT_EQ(frames[2], (Bytes{0x94, 0x00, 0x00, 0xA6}));
        const Bytes& result = frames[3];
        ASSERT_EQ(result.size(), 4 + c.size);
        EXPECT_EQ(result[0], 0x27);
        EXPECT_EQ(result[1], 0x06);
        EXPECT_EQ(result[2] * 256 + result[3], static_cast<int>(c.size));
        EXPECT_EQ(result[4 + 17], 2) << "template byte 17 (frame position 24)";
    }
}

// The host's verify command: 0x28, D1, 0x04, three zeros, the length, then the template with
// bytes 512..597 sent as spaces.
Bytes VerifyCommand(Bytes templ) {
    for (size_t i = 512; i < templ.size() && i < 598; ++i) templ[i] = 0x20;
    Bytes c = {0x28,
               0x01,
               0x04,
               0,
               0,
               0,
               static_cast<uint8_t>(templ.size() >> 8),
               static_cast<uint8_t>(templ.size())};
    c.insert(c.end(), templ.begin(), templ.end());
    return c;
}

TEST_F(HostSideTest, VerificationMatchesTheEnrolledTemplateOnTheBytesThatTravel) {
    TerminalModel terminal(Scenario(), 1);
    Bytes enrol(22, 0x00);
    enrol[0] = 0x27;
    enrol[1] = 0x01;
    const Bytes result = Exchange(&terminal, enrol).back();
    const Bytes templ(result.begin() + 4, result.end());

    struct Case {
        size_t changed;  // index of a byte changed before sending; templ.size(): none
        uint8_t event;
    };
    for (Case c : {Case{templ.size(), 0xA3}, Case{0, 0xA4}, Case{511, 0xA4}}) {
        Bytes sent = templ;
        if (c.changed < sent.size()) sent[c.changed] ^= 0x01;
        const std::vector<Bytes> frames = Exchange(&terminal, VerifyCommand(sent));
        ASSERT_EQ(frames.size(), 3u) << c.changed;
        EXPECT_EQ(frames[0], (Bytes{0x94, 0x00, 0x00, 0xA0}));
        EXPECT_EQ(frames[1], (Bytes{0x94, 0x00, 0x00, c.event})) << c.changed;
        EXPECT_EQ(frames[2], (Bytes{0x28, 0x06}));
    }
}

TEST_F(HostSideTest, VerifySwitchOverridesTheComparison) {
    Scenario s;
    s.verify = VerifyRule::kNoMatch;
    TerminalModel terminal(s, 1);
    const Bytes same(s.enrolTemplate.begin(), s.enrolTemplate.begin() + 598);
    EXPECT_EQ(Exchange(&terminal, VerifyCommand(same))[1], (Bytes{0x94, 0x00, 0x00, 0xA4}));
    s.verify = VerifyRule::kMatch;
    TerminalModel lenient(s, 1);
    EXPECT_EQ(Exchange(&lenient, VerifyCommand(Bytes(598, 0x77)))[1],
              (Bytes{0x94, 0x00, 0x00, 0xA3}));
}

TEST_F(HostSideTest, HostWithoutAStatusQueryIsAnsweredWithTheZeroKey) {
    Scenario s;
    s.linkKey = Bytes(16, 0x44);
    TerminalModel terminal(s, 1);
    Exchange(&terminal, {0x23});  // the terminal now holds 44..44; this host process does not
    EXPECT_EQ(Exchange(&terminal, {0x25})[0][0], 0x25);
    EXPECT_EQ(Bytes(terminal.LinkKey(), terminal.LinkKey() + 16), Bytes(16, 0x00));
}

// ---- Scripted answers ----

Scenario Parsed(const std::string& text) {
    Scenario s;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, &s, &error)) << error;
    return s;
}

TEST_F(HostSideTest, BlocksAreTakenInOrderOnceAndAlwaysBlocksStay) {
    TerminalModel terminal(Parsed("on 25\n reply 15\nend\n"
                                  "on 25\n reply 16\nend\n"
                                  "on 72 always\n reply 17\nend\n"),
                           1);
    EXPECT_EQ(Exchange(&terminal, {0x25}), std::vector<Bytes>{(Bytes{0x25, 0x15})});
    EXPECT_EQ(Exchange(&terminal, {0x25}), std::vector<Bytes>{(Bytes{0x25, 0x16})});
    EXPECT_EQ(Exchange(&terminal, {0x25})[0][1], 0x06) << "back to the default";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Exchange(&terminal, {0x72, 0x01}), std::vector<Bytes>{(Bytes{0x72, 0x17})});
    }
}

TEST_F(HostSideTest, ResultReplacesTheStatusOfTheDefaultResultFrame) {
    TerminalModel terminal(Parsed("on 27\n event A0 A7\n result 15\nend\n"
                                  "on F3\n result 09\nend\n"),
                           1);
    Bytes enrol(22, 0x00);
    enrol[0] = 0x27;
    const std::vector<Bytes> frames = Exchange(&terminal, enrol);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], (Bytes{0x94, 0x00, 0x00, 0xA7}));
    EXPECT_EQ(Bytes(frames[2].begin(), frames[2].begin() + 2), (Bytes{0x27, 0x15}));
    const Bytes signature = Exchange(&terminal, {0xF3, 0, 0, 0, 0, 0})[0];
    EXPECT_EQ(signature[6], 0x09) << "signature status sits at frame position 9";
}

TEST_F(HostSideTest, LineFaultsBecomeTheirActions) {
    TerminalModel terminal(Parsed("on 25\n"
                                  " delay 250\n"
                                  " garbage 5\n"
                                  " raw 41 42\n"
                                  " split 3 40\n"
                                  " badsum\n"
                                  " default\n"
                                  " oversize 2188\n"
                                  " hangup\n"
                                  "end\n"),
                           1);
    HostFrame frame;
    const std::vector<Action> actions = terminal.OnWireFrame(Send({0x25}), &frame);
    ASSERT_EQ(actions.size(), 6u);
    EXPECT_EQ(actions[0].kind, Action::Kind::kDelay);
    EXPECT_EQ(actions[0].delayMs, 250);
    ASSERT_EQ(actions[1].bytes.size(), 5u);
    for (uint8_t b : actions[1].bytes) EXPECT_NE(b, 0x02);
    EXPECT_EQ(actions[2].bytes, (Bytes{0x41, 0x42}));

    const Action& reply = actions[3];
    EXPECT_EQ(reply.pieceSize, 3);
    EXPECT_EQ(reply.pieceGapMs, 40);
    const Bytes good = EncodeTerminalFrame(
        {0x25, 0x06, 0x00, 0x07, 'Q', 'T', '-', '0', '0', '0', '1'}, LinkKey, g_pair);
    ASSERT_EQ(reply.bytes.size(), good.size());
    EXPECT_EQ(Bytes(reply.bytes.begin(), reply.bytes.end() - 2),
              Bytes(good.begin(), good.end() - 2));
    EXPECT_NE(reply.bytes[reply.bytes.size() - 2], good[good.size() - 2]) << "wrong checksum";

    const Bytes& oversize = actions[4].bytes;
    ASSERT_EQ(oversize.size(), 2188u + 5);
    EXPECT_EQ(Bytes(oversize.begin(), oversize.begin() + 3), (Bytes{0x02, 0x08, 0x8C}));
    EXPECT_EQ(actions[4].pieceSize, 0) << "split applies to one frame only";
    EXPECT_EQ(actions[5].kind, Action::Kind::kHangup);

    // The host survives the lot: stray bytes, bad checksum, oversize, in that order.
    host.frames.clear();
    for (const Action& a : actions) Receive(a.bytes);
    EXPECT_EQ(host.frames, std::vector<Bytes>{
                               (Bytes{0x25, 0x06, 0x00, 0x07, 'Q', 'T', '-', '0', '0', '0', '1'})});
    EXPECT_EQ(log.Count("OVERSIZE FRAME DROPPED (length 2188)"), 1u);
}

TEST_F(HostSideTest, CutSendsTheStartOfOneFrameOnly) {
    TerminalModel terminal(Parsed("on 25\n cut 7\n default\n default\nend\n"), 1);
    HostFrame frame;
    const std::vector<Action> actions = terminal.OnWireFrame(Send({0x25}), &frame);
    ASSERT_EQ(actions.size(), 2u);
    const Bytes whole = EncodeTerminalFrame(
        {0x25, 0x06, 0x00, 0x07, 'Q', 'T', '-', '0', '0', '0', '1'}, LinkKey, g_pair);
    EXPECT_EQ(actions[0].bytes, Bytes(whole.begin(), whole.begin() + 7));
    EXPECT_EQ(actions[1].bytes, whole) << "cut applies to one frame only";

    // The host keeps waiting for the rest of the cut frame: nothing is handed on.
    host.frames.clear();
    Receive(actions[0].bytes);
    EXPECT_TRUE(host.frames.empty());
    EXPECT_EQ(g_nRxLen.load(), 7);
}

TEST_F(HostSideTest, MuteStopsAllAnswersButFramesAreStillDecoded) {
    TerminalModel terminal(Parsed("on 25\n silence\nend\non 72\n mute\nend\n"), 1);
    EXPECT_TRUE(Exchange(&terminal, {0x25}).empty());
    EXPECT_FALSE(terminal.Muted());
    EXPECT_TRUE(Exchange(&terminal, {0x72, 0x01}).empty());
    EXPECT_TRUE(terminal.Muted());
    HostFrame frame;
    EXPECT_TRUE(terminal.OnWireFrame(Send({0x25}), &frame).empty());
    EXPECT_EQ(frame.plain, Plain({0x25}));
}

}  // namespace
}  // namespace sim
}  // namespace quillon
