// What each reply and terminal event does to the operation it reaches: result codes, results,
// the prompt shown and whether the dialog is told to close.
#include "acqdialog/operations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

void Event(Operation& op, FakeHost& host, uint8_t event) {
    PlayReply(op, host, kReplyEvent, {0, 0, event});
}

TEST(TerminalEvents, EachEventShowsItsModesPromptAndSetsTheCodeAndCloses) {
    const struct {
        Mode mode;
        uint8_t event;
        int before;  // result code before the event
        const char* prompt;
        int after;
        int closes;
    } rows[] = {
        {Mode::kEnroll, 0xA0, -9, "E2+log", -9, 0},   {Mode::kVerify, 0xA0, -9, "V3+log", -9, 0},
        {Mode::kGetSn, 0xA0, -9, "V3+log", -9, 0},    {Mode::kEnroll, 0xA1, -9, "E4+log", -9, 0},
        {Mode::kEnroll, 0xA2, -9, "E5+log", -9, 0},   {Mode::kVerify, 0xA3, -9, "V4+log", -9, 0},
        {Mode::kEnroll, 0xA3, -9, "M4", -2, 0},       {Mode::kVerify, 0xA4, -9, "V5+log", -9, 0},
        {Mode::kGetSignature, 0xA4, -9, "M5", -1, 0}, {Mode::kEnroll, 0xA5, -9, "E3+log", -9, 0},
        {Mode::kEnroll, 0xA6, -9, "E9+log", -9, 0},   {Mode::kEnroll, 0xA7, -9, "E7", -5, 1},
        {Mode::kVerify, 0xB1, -9, "M6", -1, 1},       {Mode::kVerify, 0xB2, -9, "M7", -2, 1},
        {Mode::kVerify, 0xB3, 0, "M8+log", 0, 0},     {Mode::kVerify, 0xB3, -1, "M8+log", -1, 1},
        {Mode::kVerify, 0xB3, -2, "M8+log", -2, 1},   {Mode::kVerify, 0xB4, -9, "M9", -9, 0},
        {Mode::kVerify, 0xB4, -2, "M9", -2, 1},       {Mode::kVerify, 0xB5, -9, "P10+log", -9, 0},
        {Mode::kVerify, 0xB6, -9, "P11+log", -9, 0},  {Mode::kVerify, 0xB7, -9, "P12+log", -9, 0},
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

// A terminal that answers another family's command: the reply still sets the code, installs
// its key and closes, as in the family it belongs to.
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
        EXPECT_EQ(host.port.linkKey.size(), row.code == 0x23 ? 16u : 0u);
        EXPECT_EQ(host.port.linkKey.empty() ? 0 : host.port.linkKey[0], row.code == 0x23);
    }
}

// The card read closes at 0xB1 unless the last verify event of the same run was a success.
TEST(TerminalEvents, CardReadClosesWithMinus1UnlessTheLastVerifyEventMatched) {
    const struct {
        std::vector<uint8_t> before;
        int closes;
    } rows[] = {{{}, 1}, {{0xA3}, 0}, {{0xA4}, 1}, {{0xA4, 0xA3}, 0}, {{0xA3, 0xA4}, 1}};
    for (const auto& row : rows) {
        FakeHost host;
        FingerOperation op(Mode::kVerify, 1);
        for (uint8_t e : row.before) Event(op, host, e);
        op.SetRetCode(-9);
        Event(op, host, 0xB1);
        EXPECT_EQ(host.closes, row.closes) << row.before.size();
        EXPECT_EQ(op.RetCode(), row.closes ? -1 : -9);
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
        {Mode::kEnroll, 1, 0x51, {0, 0, 0, 0, 0, 0x06, 0, 0}, 0, 1, 0},
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
        if (row.templ > 0) {
            EXPECT_EQ(uint8_t(result.templ.front()), body[0]);
            EXPECT_EQ(uint8_t(result.templ.back()), body[row.templ - 1]);
        }
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
    ASSERT_EQ(host.port.linkKey.size(), 16u);
    EXPECT_EQ(host.port.linkKey[0], 0x40);
    EXPECT_EQ(host.port.linkKey[15], 0x4F);

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
    PlayReply(op, host, 0xF3, {0, 0, 0, 0, 0, 0x06, 0xA1, 0xB2, 0xC3, 0xD4});
    EXPECT_EQ(op.Result().retCode, 0);
    EXPECT_EQ(op.Result().lengthField, 11u);
    EXPECT_EQ(op.Result().data[0], 0xA1);
    EXPECT_EQ(op.Result().data[3], 0xD4);
    EXPECT_EQ(op.Result().data[4], 0);
    std::vector<uint8_t> longest(5 + 1 + 5003, 0x44);
    longest[5] = 0x06;
    longest[6 + 4999] = 0x45;
    PlayReply(op, host, 0xF3, longest);
    EXPECT_EQ(op.Result().lengthField, 5010u);
    EXPECT_EQ(op.Result().data[4999], 0x45) << "5000 bytes kept, the rest dropped";
    PlayReply(op, host, 0xF3, {0, 0, 0, 0, 0, 0x07, 0xA1});
    EXPECT_EQ(op.Result().retCode, -9);
    EXPECT_EQ(op.Result().lengthField, 0u);
    EXPECT_EQ(op.Result().data[0], 0);
    EXPECT_EQ(host.closes, 3);
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
    CardReadOperation op(Mode::kMyKad);
    ReaderResult r;
    r.retCode = 0;
    r.altDataSet = true;
    r.altDataLength = 7;
    r.altData[6] = 'k';
    r.photo = "not set";
    op.TakeReaderResult(r);
    EXPECT_EQ(op.RetCode(), 0);
    EXPECT_EQ(op.Result().fullRecord, 1);
    EXPECT_EQ(op.Result().altDataLength, 7);
    EXPECT_EQ(op.Result().altData[6], 'k');
    EXPECT_EQ(op.Result().photo, "");
}

}  // namespace
}  // namespace quillon
