// What each reply and terminal event does to the operation it reaches.
#include "acqdialog/operations.h"

#include <gtest/gtest.h>

#include "dialog_fakes.h"
#include "terminal/terminal_commands.h"
#include "terminal/terminal_replies.h"

namespace quillon {
namespace {

using namespace testing_support;

// A card read closes at 0xB1 unless the last verify event of the run was a success.
TEST(TerminalEvents, EachEventShowsItsModesPromptAndSetsTheCodeAndCloses) {
    const struct {
        Mode mode;
        int events;  // played from the highest byte down: 0xA4A3B1 is A4, A3, B1
        int before;  // result code before them
        const char* prompt;
        int after, closes;
    } rows[] = {
        {Mode::kEnroll, 0xA0, -9, "E2+log", -9, 0},  {Mode::kVerify, 0xA0, -9, "V3+log", -9, 0},
        {Mode::kGetSn, 0xA0, -9, "V3+log", -9, 0},   {Mode::kVerify, 0xA3, -9, "V4+log", -9, 0},
        {Mode::kEnroll, 0xA3, -9, "M4", -2, 0},      {Mode::kVerify, 0xA4, -9, "V5+log", -9, 0},
        {Mode::kEnroll, 0xA5, -9, "E3+log", -9, 0},  {Mode::kGetSignature, 0xA4, -9, "M5", -1, 0},
        {Mode::kEnroll, 0xA6, -9, "E9+log", -9, 0},  {Mode::kEnroll, 0xA7, -9, "E7", -5, 1},
        {Mode::kVerify, 0xB1, -9, "M6", -1, 1},      {Mode::kVerify, 0xB2, -9, "M7", -2, 1},
        {Mode::kVerify, 0xB3, 0, "M8+log", 0, 0},    {Mode::kVerify, 0xB3, -1, "M8+log", -1, 1},
        {Mode::kVerify, 0xB3, -2, "M8+log", -2, 1},  {Mode::kVerify, 0xB4, -2, "M9", -2, 1},
        {Mode::kVerify, 0xB7, -9, "P12+log", -9, 0}, {Mode::kVerify, 0x9F, -9, "", -9, 0},
        {Mode::kVerify, 0xA8, -9, "", -9, 0},        {Mode::kVerify, 0xB0, -9, "", -9, 0},
        {Mode::kVerify, 0xB8, -9, "", -9, 0},        {Mode::kVerify, 0xA4A3B1, -9, "M6", -9, 0},
        {Mode::kVerify, 0xA3A4B1, -9, "M6", -1, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Format("%s 0x%X", SetupFor(row.mode).name, row.events));
        FakeHost host;
        const std::unique_ptr<Operation> op = MakeOperation(row.mode);
        op->SetRetCode(row.before);
        for (int shift = 16; shift >= 0; shift -= 8) {
            const uint8_t e = uint8_t(row.events >> shift);
            if (e != 0) PlayReply(*op, host, 0x94, {0, 0, e});  // an event reply
        }
        EXPECT_EQ(host.prompt, row.prompt);
        EXPECT_EQ(op->RetCode(), row.after);
        EXPECT_EQ(host.closes, row.closes);
    }
}

// The data of a status reply: the name, the terminal's identity, then key bytes A0, A1, ...
std::vector<uint8_t> Status(const std::string& name, int keyBytes) {
    std::vector<uint8_t> d = {0x06, uint8_t(name.size())};
    d.insert(d.end(), name.begin(), name.end());
    d.insert(d.end(), 16, 0x1D);
    for (int i = 0; i < keyBytes; ++i) d.push_back(uint8_t(0xA0 + i));
    return d;
}

// A serial-number reply's data: length field k, then `present` letters A, B, ...
std::vector<uint8_t> Serial(int k, int present) {
    std::vector<uint8_t> d = {0x06, uint8_t(k >> 8), uint8_t(k)};
    for (int i = 0; i < present; ++i) d.push_back(uint8_t('A' + i % 26));
    return d;
}

// A head followed by 1300 bytes 00, 01, ... FF, 00, ...
std::vector<uint8_t> Body(std::vector<uint8_t> head) {
    for (int i = 0; i < 1300; ++i) head.push_back(uint8_t(i));
    return head;
}

// A head followed by 20 bytes 0x11.
std::vector<uint8_t> Twenty(std::vector<uint8_t> head) {
    head.insert(head.end(), 20, 0x11);
    return head;
}

// What a reply did: code, closes, then the key, template, text or signature it left.
std::string Outcome(Operation& op, const FakeHost& host) {
    std::string s = Format("%d closes %d", op.RetCode(), host.closes);
    const std::vector<uint8_t>& key = host.port.linkKey;
    if (!key.empty()) s += Format(" key %02X..", key.front()) + Format("%02X", key.back());
    if (auto* finger = dynamic_cast<FingerOperation*>(&op)) {
        const std::string t = finger->Result().templ;
        if (!t.empty()) s += Format(" templ %d ", int(t.size())) + Format("%02X..", uint8_t(t[0]));
        if (!t.empty()) s += Format("%02X", uint8_t(t.back()));
    }
    if (auto* query = dynamic_cast<TerminalQuery*>(&op)) {
        std::string t = query->Result().text;
        for (char& c : t) c = c < ' ' ? '.' : c;
        if (!t.empty()) s += Format(" text %d ", int(t.size())) + t.substr(0, 4);
    }
    if (auto* sig = dynamic_cast<SignatureOperation*>(&op)) {
        const SignatureResult& r = sig->Result();
        s += Format(" sig %d ", int(r.lengthField)) + Format("%02X %02X", r.data[0], r.data[4999]);
    }
    return s;
}

// Replies, also to another family's command: such a reply acts as in its own family.
TEST(OperationReplies, EachReplySetsTheCodeClosesAndLeavesItsResult) {
    std::vector<uint8_t> longest(6 + 5003, 0x44);  // a signature of 5003 bytes
    longest[5] = 0x06;
    longest[6 + 4999] = 0x45;
    const struct {
        Mode mode;
        int format;
        uint8_t code;
        std::vector<uint8_t> data;
        std::string outcome;
    } rows[] = {
        {Mode::kEnroll, 1, 0x27, Body({0x06, 0, 0}), "0 closes 1 templ 598 00..55"},
        {Mode::kEnroll, 2, 0x27, Body({0x06, 0, 0}), "0 closes 1 templ 1196 00..AB"},
        {Mode::kEnroll, 1, 0x51, Body({0, 0, 0, 0, 0, 0x06, 0x01, 0x02}),
         "0 closes 1 templ 258 00..01"},
        // A length beyond the frame: only what the frame holds.
        {Mode::kEnroll, 1, 0x51, Twenty({0, 0, 0, 0, 0, 0x06, 0xFF, 0xFF}),
         "0 closes 1 templ 20 11..11"},
        {Mode::kVerify, 1, 0x28, Body({0x06}), "0 closes 1"},
        {Mode::kVerify, 1, 0x53, Body({0, 0, 0, 0, 0, 0x06}), "0 closes 1"},
        // A failed enrolment waits for the terminal's later frames.
        {Mode::kEnroll, 1, 0x27, Body({0x09, 0, 0}), "-3 closes 0"},
        {Mode::kEnroll, 1, 0x51, Body({0, 0, 0, 0, 0, 0x15}), "-3 closes 0"},
        {Mode::kVerify, 1, 0x28, Body({0x09}), "-3 closes 1"},
        {Mode::kVerify, 1, 0x53, Body({0x06, 0, 0, 0, 0, 0x09}), "-3 closes 1"},
        // The text ends at its first zero; the key still sits behind the whole name.
        {Mode::kGetLltStatus, 1, 0x23, Status(std::string("BN\0K", 4), 16),
         "0 closes 1 key A0..AF text 2 BN"},
        {Mode::kGetLltStatus, 1, 0x23, Status(std::string(49, 'N'), 16),
         "0 closes 1 key A0..AF text 49 NNNN"},
        {Mode::kGetLltStatus, 1, 0x23, Status(std::string(60, 'N'), 16),
         "0 closes 1 key A0..AF text 49 NNNN"},
        {Mode::kGetLltStatus, 1, 0x23, Status("NNN", 15), "0 closes 1 text 3 NNN"},
        {Mode::kGetLltStatus, 1, 0x23, {0x06, 0xFF, 'N', 'A', 'M', 'E'}, "0 closes 1 text 4 NAME"},
        {Mode::kGetSn, 1, 0x25, {0x06, 0, 6, 'Q', 'T', '-', '7', 0, 'X'}, "0 closes 1 text 4 QT-7"},
        {Mode::kGetSn, 1, 0x25, Serial(5, 9), "0 closes 1 text 5 ABCD"},
        // Filling its frame it ends there, not at the checksum behind it.
        {Mode::kGetSn, 1, 0x25, Serial(9, 4), "0 closes 1 text 4 ABCD"},
        {Mode::kGetSn, 1, 0x25, Serial(99, 99), "0 closes 1 text 99 ABCD"},
        {Mode::kGetSn, 1, 0x25, Serial(100, 100), "0 closes 1 text 99 ABCD"},
        {Mode::kSetTerminalTime, 1, 0x72, {0x06}, "0 closes 1"},
        // From position 10, up to 5000 bytes.
        {Mode::kGetSignature, 1, 0xF3, Body({0, 0, 0, 0, 0, 0x06}), "0 closes 1 sig 1307 00 00"},
        {Mode::kGetSignature, 1, 0xF3, longest, "0 closes 1 sig 5010 44 45"},
        {Mode::kGetSignature, 1, 0xF3, {0, 0, 0, 0, 0, 0x07, 0xA1}, "-9 closes 1 sig 0 00 00"},
        {Mode::kEnroll, 1, 0x23, Status("AB", 16), "0 closes 1 key A0..AF"},
        // The two queries' texts are two things: a crossed reply leaves the asked one empty.
        {Mode::kGetSn, 1, 0x23, Status("AB", 16), "0 closes 1 key A0..AF"},
        {Mode::kGetLltStatus, 1, 0x25, Serial(4, 4), "0 closes 1"},
        {Mode::kGetSn, 1, 0xF3, {0, 0, 0, 0, 0, 0x06, 0x11}, "0 closes 1"},
        {Mode::kGetSignature, 1, 0x72, {0x06}, "0 closes 1 sig 0 00 00"},
        {Mode::kGetLltStatus, 1, 0x28, {0x15}, "-3 closes 1"},
        {Mode::kGetSignature, 1, 0x27, {0x06, 0, 0, 7}, "0 closes 1 sig 0 00 00"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Format("%s 0x%02X", SetupFor(row.mode).name, row.code) + row.outcome);
        FakeHost host;
        std::unique_ptr<Operation> op = MakeOperation(row.mode);
        if (row.format == 2) op.reset(new FingerOperation(row.mode, 2));
        op->SetRetCode(-9);
        PlayReply(*op, host, row.code, row.data);
        EXPECT_EQ(Outcome(*op, host), row.outcome);
    }
}

// An event storm before the reply: nothing piles up, nothing closes early.
TEST(TerminalEvents, AThousandEventsBeforeTheReplyLeaveItsResult) {
    FakeHost host;
    const std::unique_ptr<Operation> op = MakeOperation(Mode::kGetSn);
    op->SetRetCode(-9);
    for (int i = 0; i < 1000; ++i) PlayReply(*op, host, 0x94, {0, 0, 0xA5});
    EXPECT_EQ(Outcome(*op, host), "-9 closes 0");
    PlayReply(*op, host, 0x25, Serial(4, 4));
    EXPECT_EQ(Outcome(*op, host), "0 closes 1 text 4 ABCD");
}

}  // namespace
}  // namespace quillon
