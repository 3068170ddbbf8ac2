// What each reply and terminal event does to the operation it reaches, the commands' frames
// (written out by hand) and the bounds of the replies' parsers.
#include "acqdialog/operations.h"

#include <gtest/gtest.h>

#include "dialog_fakes.h"
#include "terminal/terminal_commands.h"
#include "terminal/terminal_replies.h"

namespace quillon {
namespace {

using namespace testing_support;

void Event(Operation& op, FakeHost& host, uint8_t event) {
    PlayReply(op, host, kReplyEvent, {0, 0, event});
}

std::string Hex(const uint8_t* bytes, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) out += Format(i ? " %02X" : "%02X", bytes[i]);
    return out;
}

TEST(TerminalEvents, EachEventShowsItsModesPromptAndSetsTheCodeAndCloses) {
    const struct {
        Mode mode;
        uint8_t event;
        int before;  // result code before the event
        const char* prompt;
        int after, closes;
    } rows[] = {
        {Mode::kEnroll, 0xA0, -9, "E2+log", -9, 0},   {Mode::kVerify, 0xA0, -9, "V3+log", -9, 0},
        {Mode::kGetSn, 0xA0, -9, "V3+log", -9, 0},    {Mode::kVerify, 0xA3, -9, "V4+log", -9, 0},
        {Mode::kEnroll, 0xA3, -9, "M4", -2, 0},       {Mode::kVerify, 0xA4, -9, "V5+log", -9, 0},
        {Mode::kGetSignature, 0xA4, -9, "M5", -1, 0}, {Mode::kEnroll, 0xA6, -9, "E9+log", -9, 0},
        {Mode::kEnroll, 0xA7, -9, "E7", -5, 1},       {Mode::kVerify, 0xB1, -9, "M6", -1, 1},
        {Mode::kVerify, 0xB2, -9, "M7", -2, 1},       {Mode::kVerify, 0xB3, 0, "M8+log", 0, 0},
        {Mode::kVerify, 0xB3, -1, "M8+log", -1, 1},   {Mode::kVerify, 0xB3, -2, "M8+log", -2, 1},
        {Mode::kVerify, 0xB4, -2, "M9", -2, 1},       {Mode::kVerify, 0xB7, -9, "P12+log", -9, 0},
        {Mode::kVerify, 0x9F, -9, "", -9, 0},         {Mode::kVerify, 0xA8, -9, "", -9, 0},
        {Mode::kVerify, 0xB0, -9, "", -9, 0},         {Mode::kVerify, 0xB8, -9, "", -9, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Format("%s 0x%02X", SetupFor(row.mode).name, row.event));
        FakeHost host;
        const std::unique_ptr<Operation> op = MakeOperation(row.mode);
        op->SetRetCode(row.before);
        Event(*op, host, row.event);
        EXPECT_EQ(host.prompt, row.prompt);
        EXPECT_EQ(op->RetCode(), row.after);
        EXPECT_EQ(host.closes, row.closes);
    }
}

// The card read closes at 0xB1 unless the last verify event of the same run was a success.
TEST(TerminalEvents, CardReadClosesWithMinus1UnlessTheLastVerifyEventMatched) {
    const std::vector<uint8_t> rows[] = {{}, {0xA3}, {0xA4}, {0xA4, 0xA3}, {0xA3, 0xA4}};
    for (const auto& before : rows) {
        FakeHost host;
        FingerOperation op(Mode::kVerify, 1);
        for (uint8_t e : before) Event(op, host, e);
        op.SetRetCode(-9);
        Event(op, host, 0xB1);
        const bool matched = !before.empty() && before.back() == 0xA3;
        EXPECT_EQ(host.closes, matched ? 0 : 1) << before.size();
        EXPECT_EQ(op.RetCode(), matched ? -9 : -1);
    }
}

// A reply to another family's command still sets the code, installs its key and closes.
TEST(TerminalReplies, AnotherFamilysReplyActsAsInItsOwnFamily) {
    std::vector<uint8_t> status = {0, 2, 'A', 'B'};
    status.insert(status.end(), 16, 0);
    for (uint8_t i = 1; i <= 16; ++i) status.push_back(i);
    const struct {
        Mode mode;
        uint8_t code;
        std::vector<uint8_t> data;
        int after;
    } rows[] = {
        {Mode::kEnroll, 0x23, status, 0},
        {Mode::kGetSn, 0xF3, {0, 0, 0, 0, 0, 0x06, 0x11}, 0},
        {Mode::kGetSn, 0xF3, {0, 0, 0, 0, 0, 0x15}, -9},
        {Mode::kGetSignature, 0x25, {0, 0, 1, 'Q'}, 0},
        {Mode::kGetSignature, 0x72, {0x06}, 0},
        {Mode::kGetLltStatus, 0x28, {0x15}, -3},
        {Mode::kGetSignature, 0x27, {0x06, 0, 0, 7}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Format("%s 0x%02X", SetupFor(row.mode).name, row.code));
        FakeHost host;
        const std::unique_ptr<Operation> op = MakeOperation(row.mode);
        op->SetRetCode(-9);
        PlayReply(*op, host, row.code, row.data);
        EXPECT_EQ(op->RetCode(), row.after);
        EXPECT_EQ(host.closes, 1);
        const std::vector<uint8_t> key(status.end() - 16, status.end());
        EXPECT_EQ(host.port.linkKey, row.code == 0x23 ? key : std::vector<uint8_t>());
    }
}

TEST(FingerReplies, SuccessStoresTheTemplateOfTheFormatsSizeAndErrorsEndOnlyAVerification) {
    std::vector<uint8_t> body(1300);
    for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i * 7);
    const struct {
        Mode mode;
        int format;
        uint8_t code;
        std::vector<uint8_t> head;
        int ret, closes;
        size_t templ;
    } rows[] = {
        {Mode::kEnroll, 1, 0x27, {0x06, 0, 0}, 0, 1, 598},
        {Mode::kEnroll, 2, 0x27, {0x06, 0, 0}, 0, 1, 1196},
        {Mode::kEnroll, 1, 0x51, {0, 0, 0, 0, 0, 0x06, 0x01, 0x02}, 0, 1, 258},
        {Mode::kVerify, 1, 0x28, {0x06}, 0, 1, 0},
        {Mode::kVerify, 1, 0x53, {0, 0, 0, 0, 0, 0x06}, 0, 1, 0},
        {Mode::kEnroll, 1, 0x27, {0x09, 0, 0}, -3, 0, 0},
        {Mode::kEnroll, 1, 0x51, {0, 0, 0, 0, 0, 0x15}, -3, 0, 0},
        {Mode::kVerify, 1, 0x28, {0x09}, -3, 1, 0},
        {Mode::kVerify, 1, 0x53, {0x06, 0, 0, 0, 0, 0x09}, -3, 1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Format("0x%02X format %d", row.code, row.format));
        FakeHost host;
        FingerOperation op(row.mode, row.format);
        op.SetRetCode(-9);
        std::vector<uint8_t> data = row.head;
        data.insert(data.end(), body.begin(), body.end());
        PlayReply(op, host, row.code, data);
        const FingerResult result = op.Result();
        EXPECT_EQ(result.retCode, row.ret);
        EXPECT_EQ(host.closes, row.closes);
        ASSERT_EQ(result.templ.size(), row.templ);
        EXPECT_TRUE(std::equal(result.templ.begin(), result.templ.end(), body.begin(),
                               [](char a, uint8_t b) { return uint8_t(a) == b; }));
    }
}

TEST(QueryReplies, StatusInstallsTheKeyAndKeepsTheNameSerialStopsAtZeroTimeJustEnds) {
    FakeHost host;
    TerminalQuery status(Mode::kGetLltStatus);
    std::vector<uint8_t> data = {0x06, 4, 'B', 'N', 0, 'K'};
    data.insert(data.end(), 16, 0x1D);
    for (int i = 0; i < 16; ++i) data.push_back(uint8_t(0x40 + i));
    PlayReply(status, host, 0x23, data);
    EXPECT_EQ(status.Result().retCode, 0);
    EXPECT_EQ(status.Result().text, std::string("BN\0K", 4));
    EXPECT_EQ(Hex(host.port.linkKey.data(), 16), Hex(data.data() + 22, 16));

    TerminalQuery serial(Mode::kGetSn);
    PlayReply(serial, host, 0x25, {0x06, 0, 6, 'Q', 'T', '-', '7', 0, 'X'});
    EXPECT_EQ(serial.Result().text, "QT-7");
    EXPECT_EQ(serial.Result().retCode, 0);
    // A serial number that fills its frame ends there, not at the checksum behind it.
    const uint8_t full[] = {0x02, 0, 8, 0x25, 0x06, 0, 4, 'A', 'B', 'C', 'D', 0x7E, 0x03};
    TerminalQuery whole(Mode::kGetSn);
    whole.OnReply(full, int(sizeof full), host);
    EXPECT_EQ(whole.Result().text, "ABCD");

    TerminalQuery time(Mode::kSetTerminalTime, "260101000000");
    PlayReply(time, host, 0x72, {0x06});
    EXPECT_EQ(time.Result().retCode, 0);
    EXPECT_EQ(host.closes, 4);
}

TEST(SignatureReplies, SuccessKeepsTheLengthFieldAndTheBytesFromPosition10FailureClearsThem) {
    FakeHost host;
    SignatureOperation op;
    std::vector<uint8_t> longest(5 + 1 + 5003, 0x44);
    longest[5] = 0x06;
    longest[6 + 4999] = 0x45;
    PlayReply(op, host, 0xF3, longest);
    EXPECT_EQ(op.Result().retCode, 0);
    EXPECT_EQ(op.Result().lengthField, 5010u);
    EXPECT_EQ(Hex(&op.Result().data[4998], 2), "44 45") << "5000 bytes kept, the rest dropped";
    PlayReply(op, host, 0xF3, {0, 0, 0, 0, 0, 0x07, 0xA1});
    EXPECT_EQ(op.Result().retCode, -9);
    EXPECT_EQ(op.Result().lengthField, 0u);
    EXPECT_EQ(op.Result().data[0], 0);
    EXPECT_EQ(host.closes, 2);
}

TEST(CardRead, TheReaderIsStartedWithTheModesReadAndSwitchAndOnlyTheSetPartsAreTaken) {
    const struct {
        Mode mode;
        MyKadReadMode read;
        uint8_t verify;
    } rows[] = {{Mode::kMyKad, MyKadReadMode::kPhotoAndFinger, 1},
                {Mode::kMyKadOnly, MyKadReadMode::kFinger, 1},
                {Mode::kMyKadNoVerify, MyKadReadMode::kPhoto, 0},
                {Mode::kMyKadNoVerifyNoPhoto, MyKadReadMode::kRecordOnly, 0}};
    for (const auto& row : rows) {
        const ReaderInputs in = CardReadOperation(row.mode).ReaderStart(3, "p.ini");
        EXPECT_EQ(in.readMode, row.read) << SetupFor(row.mode).name;
        EXPECT_EQ(in.verifySwitch, row.verify) << SetupFor(row.mode).name;
        EXPECT_EQ(in.comPort, 3);
        EXPECT_EQ(in.settingsPath, "p.ini");
    }
}

TEST(TerminalCommands, EachBuilderMakesItsCommandsExactFrame) {
    uint8_t f[kBuildAreaSize];
    const auto built = [&f](int n) { return Hex(f, n); };
    EXPECT_EQ(built(BuildQueryFrame(f, CMD_GETLLTSTATUS)), "02 00 01 23 23 03");
    const std::string zeros20 = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    EXPECT_EQ(built(BuildEnrollFrame(f, 1)), "02 00 16 27 01" + zeros20 + " 28 03");
    EXPECT_EQ(built(BuildEnrollFrame(f, 2)), "02 00 16 27 C1" + zeros20 + " E8 03");
    EXPECT_EQ(built(BuildSetTerminalTimeFrame(f, "991231235959")),
              "02 00 0F 72 01 00 39 39 31 32 33 31 32 33 35 39 35 39 ED 03");
    EXPECT_EQ(built(BuildGetSignatureFrame(f)), "02 00 06 F3 00 00 00 00 00 F3 03");
}

TEST(TerminalCommands, VerifySendsTheTemplateWithBothRangesBlankedAndIsCutToItsArea) {
    const struct {
        int format;
        size_t length, sent;  // template bytes given, and in the frame
        const char* header;
        uint8_t checksum;
    } rows[] = {{1, 598, 598, "01 04 00 00 00 02 56", 0x90},
                {2, 1196, 1196, "C1 04 00 00 00 04 AC", 0x73},
                {1, 512, 512, "01 04 00 00 00 02 56", 0xD0},
                {1, 2036, 2035, "01 04 00 00 00 02 56", 0x9D}};  // one more than the area holds
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        // Exactly `length` bytes: a builder reading one more fails under AddressSanitizer.
        std::vector<uint8_t> t(row.length);
        for (size_t i = 0; i < t.size(); ++i) t[i] = uint8_t(i % 251 + 1);
        uint8_t f[kVerifyBuildAreaSize];
        const int n = BuildVerifyFrame(f, row.format, t.data(), t.size());
        ASSERT_EQ(n, int(row.sent) + 13);
        EXPECT_EQ(f[1] * 256 + f[2], int(row.sent) + 8);
        EXPECT_EQ(Hex(f + 3, 8), std::string("28 ") + row.header);
        EXPECT_EQ(Hex(f + n - 2, 2), Hex(&row.checksum, 1) + " 03");
        const std::pair<int, bool> edges[] = {{511, false}, {512, true},   {597, true},
                                              {598, false}, {1109, false}, {1110, true},
                                              {1195, true}, {1196, false}};  // blanked?
        for (const auto& e : edges) {
            if (e.first >= n - 13) continue;
            EXPECT_EQ(f[11 + e.first], e.second ? 0x20 : t[size_t(e.first)]) << e.first;
        }
    }
}

TEST(TerminalReplies, SerialNumberIsBoundedByItsLengthTheFrameAnd99Bytes) {
    const int rows[][3] = {{5, 9, 5}, {9, 4, 4}, {99, 99, 99}, {100, 100, 99}};  // k, present, got
    for (const auto& row : rows) {
        std::vector<uint8_t> data = {0x06, uint8_t(row[0] >> 8), uint8_t(row[0])};
        data.insert(data.end(), size_t(row[1]), 'S');
        const std::vector<uint8_t> f = ReplyFrame(CMD_GETSN, data);
        const ByteSpan serial = ParseSerialNumberReply(f.data(), int(f.size()));
        EXPECT_EQ(serial.length, row[2]) << row[0] << "/" << row[1];
        EXPECT_EQ(serial.data, f.data() + 7);
    }
}

TEST(TerminalReplies, StatusReplyGivesTheNameUpTo49BytesAndTheKeyBehindTheIdentity) {
    const int rows[][3] = {{49, 16, 49}, {60, 16, 49}, {3, 15, 3}};  // name, key bytes, got
    for (const auto& row : rows) {
        std::vector<uint8_t> data = {0x06, uint8_t(row[0])};
        data.insert(data.end(), size_t(row[0]), 'N');
        data.insert(data.end(), 16, 0x1D);  // the terminal's identity
        for (int i = 0; i < row[1]; ++i) data.push_back(uint8_t(0xA0 + i));
        const std::vector<uint8_t> f = ReplyFrame(CMD_GETLLTSTATUS, data);
        const StatusReply reply = ParseStatusReply(f.data(), int(f.size()));
        EXPECT_EQ(reply.customerName.length, row[2]);
        EXPECT_EQ(reply.customerName.data, f.data() + 6);
        EXPECT_EQ(reply.linkKey, row[1] == 16 ? f.data() + 22 + row[0] : nullptr) << row[0];
    }
}

TEST(TerminalReplies, BytesBeyondAShortFrameReadAsZero) {
    const uint8_t empty[5] = {0x02, 0x00, 0x00, 0x00, 0x03};  // invalid padding decodes to m = 0
    EXPECT_EQ(ParseEventCode(empty, 5), 0);
    EXPECT_EQ(ParseSignatureReply(empty, 5).ok, false);
    EXPECT_EQ(ReplyData(empty, 5, 3).length, 0);
}

}  // namespace
}  // namespace quillon
