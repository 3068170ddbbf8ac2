// The dialog's side of the terminal link: the frame each command sends and what each reply and
// terminal event does. Result codes are named as the public header names them: a host that
// tests a code by its name must see the value the library really returns.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "acqdialog/acq_dialog.h"
#include "cardreader/mykad_reader.h"
#include "command/dispatch.h"
#include "dialog_fakes.h"
#include "quillon.h"
#include "simulator/scenario.h"
#include "terminal/frame_codec.h"
#include "terminal/terminal_commands.h"

namespace quillon {
namespace {

static_assert(QUILLON_ACCESS_CODE_LENGTH == sizeof kAccessCode, "access-code length");
static_assert(QUILLON_RESULT_WRONG_ACCESS == kResultWrongAccess, "-9999");
static_assert(QUILLON_RESULT_NO_COMMAND == kResultNoCommand, "-1007");
static_assert(QUILLON_RESULT_BUSY == kResultBusy, "-1008");
static_assert(QUILLON_RESULT_PORT_OPEN_FAILED == kResultOpenPortFailed, "-4");
static_assert(QUILLON_RESULT_PORT_OPEN_FAILED == kOrvPortUnusable, "-4 of the reader");
static_assert(QUILLON_RESULT_NO_RESULT == kResultNoResult, "-9");
static_assert(QUILLON_RESULT_NO_RESULT == kResultCancelled, "-9 of the reader");
static_assert(QUILLON_RESULT_NOT_STARTED == kResultNotStarted, "-10");
static_assert(QUILLON_RESULT_NOT_STARTED == kResultDialogNoResult, "-10 of the runners");
static_assert(QUILLON_RESULT_TIMEOUT == kResultTimeout, "-30");
static_assert(QUILLON_RESULT_TIMEOUT == kOrvWaitAbandoned, "-30 of the reader");
static_assert(QUILLON_RESULT_MYKAD_NOT_VERIFIED == kResultCardAlreadyIn, "-1 of the reader");
static_assert(QUILLON_RESULT_TERMINAL_ERROR == kOrvNoMatch, "-3 of the reader");

// The codes the reply handling sets as plain numbers.
const int kNoResult = QUILLON_RESULT_NO_RESULT, kRefused = QUILLON_RESULT_TEMPLATE_REFUSED;
const int kTerminalError = QUILLON_RESULT_TERMINAL_ERROR;
const int kNotVerified = QUILLON_RESULT_MYKAD_NOT_VERIFIED;
const int kReadFailed = QUILLON_RESULT_MYKAD_READ_FAILED;

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

Bytes Hex(const std::string& text) {
    Bytes bytes;
    EXPECT_TRUE(sim::ParseHexBytes(text, &bytes)) << text;
    return bytes;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class TerminalDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.Attach(&rig.window);
        dialog.m_nRetCode = -9;
    }
    // Hands a decoded reply (code and data) over as the port does, from a receive frame whose
    // bytes behind the reply are zero.
    void Reply(uint8_t code, const Bytes& data) {
        std::fill(rx.begin(), rx.end(), 0);
        const int length = BuildFrame(rx.data(), int(rx.size()), code, data.data(), int(data.size()));
        dialog.OnTerminalReply(rx.data(), length);
    }

    std::vector<uint8_t> rx = std::vector<uint8_t>(kRxFrameSize);

    testing_support::DialogRig rig;
    CAcqDialog dialog{rig.env};
    testing_support::CapturingLog log;
};

// The exact plain frame of every command is played end to end, but for the double format's enrol.
TEST_F(TerminalDialogTest, EverySendHandsOneFrameToThePortAndTheDoubleFormatEnrolAsksForIt) {
    for (auto send : {&CAcqDialog::SendGetLLTStatus, &CAcqDialog::SendGetSN,
                      &CAcqDialog::SendGetSignature, &CAcqDialog::SendEnroll,
                      &CAcqDialog::SendVerify, &CAcqDialog::SendSetTerminalTime}) {
        const size_t before = rig.port.frames.size();
        (dialog.*send)();
        EXPECT_EQ(rig.port.frames.size(), before + 1);
    }
    dialog.m_nTemplateFormat = 2;
    dialog.SendEnroll();
    EXPECT_EQ(rig.port.frames.back(),
              Hex("020016 27 C1 0000000000000000000000000000000000000000 E8 03"));
}

// Both formats' headers and blanked ranges are played end to end; the cut only here.
TEST_F(TerminalDialogTest, VerifyTemplateOneByteTooLongForTheBuildAreaIsCutKeepingBlankedRanges) {
    for (int i = 0; i < kVerifyBuildAreaSize - 12; ++i) {
        dialog.m_strVerifyTemplate += char(0x80 | (i & 0x3F));
    }
    dialog.SendVerify();
    const Bytes& frame = rig.port.frames.back();
    const size_t sent = kVerifyBuildAreaSize - 13;
    ASSERT_EQ(frame.size(), sent + 13);
    EXPECT_EQ(frame[1] * 256 + frame[2], int(sent) + 8);
    EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 11), Hex("28 01 04 000000 0256"));
    for (size_t i = 0; i < sent; ++i) {
        const bool blank = (i >= 512 && i <= 597) || (i >= 1110 && i <= 1195);
        ASSERT_EQ(frame[11 + i], blank ? 0x20 : (0x80 | (i & 0x3F))) << "template byte " << i;
    }
    EXPECT_EQ(frame.back(), 0x03);
}

TEST_F(TerminalDialogTest, EveryReplyRepaintsBothPromptLinesAndAnUnknownCodeDoesNothingElse) {
    Reply(0x99, {});
    EXPECT_EQ(rig.window.calls, Lines{"refresh 11"});
    EXPECT_EQ(dialog.m_nRetCode, -9);
    Reply(0x94, {0x06, 0x00, 0xA6});
    EXPECT_EQ(rig.window.text[kPromptLine2], "Enroll Success") << "a message not set: its default";
}

TEST_F(TerminalDialogTest, SerialNumberIsBoundedByItsLengthFieldTheFrameAndTheBuffer) {
    const struct {
        int claimed, carried;
        size_t copied;
    } cases[] = {{8, 8, 8}, {500, 10, 10}, {200, 200, 99}, {0, 5, 0}};
    for (const auto& c : cases) {
        std::strcpy(dialog.m_szSerialNo, "OLD SERIAL NUMBER");
        std::string serial;
        for (int i = 0; i < c.carried; ++i) serial.push_back(char('A' + i % 26));
        Reply(0x25, Cat({{0x06, uint8_t(c.claimed >> 8), uint8_t(c.claimed)}, Text(serial)}));
        EXPECT_EQ(std::string(dialog.m_szSerialNo), serial.substr(0, c.copied)) << c.claimed;
    }
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_OK);
    dialog.m_nRetCode = -9;
    Reply(0x72, {0x06});  // the clock reply
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_OK);
    EXPECT_EQ(rig.window.closes, 5);
}

TEST_F(TerminalDialogTest, StatusReplyInstallsTheLinkKeyAndKeepsTheCustomerName) {
    const Bytes key = Hex("101112131415161718191A1B1C1D1E1F");
    Reply(0x23, Cat({{0x06, 15}, Text("BANK SERINDIT 1"), Bytes(16, 0xEE), key}));
    EXPECT_EQ(rig.port.linkKey, key);
    EXPECT_EQ(dialog.m_strResult2, "BANK SERINDIT 1");
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_OK);
    EXPECT_EQ(rig.window.closes, 1);
    Reply(0x23, Cat({{0x06, 60}, Bytes(60, 'N'), Bytes(32, 0x01)}));
    EXPECT_EQ(dialog.m_strResult2, std::string(49, 'N'));
    EXPECT_EQ(rig.port.linkKey, Bytes(16, 0x01));
    rig.port.linkKey.clear();
    Reply(0x23, {0x06, 200, 'A', 'B'});  // no room for a key
    EXPECT_TRUE(rig.port.linkKey.empty());
    EXPECT_EQ(dialog.m_strResult2, "AB") << "the name stops where the frame ends";
    EXPECT_EQ(log.lines, Lines{"LINK KEY MISSING IN STATUS REPLY"});
}

// Signature reply: five bytes (positions 4 to 8), status at 9, the signature from 10. A short
// one is copied whole end to end.
TEST_F(TerminalDialogTest, SignatureIsCopiedOnSuccessBoundedByItsBufferAndClearedOnFailure) {
    Reply(0xF3, Cat({Bytes(5, 0), {0x06}, Bytes(6000, 0x5C)}));
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_OK);
    EXPECT_EQ(g_nSignatureLen, 6007u) << "the reply's length field";
    EXPECT_EQ(dialog.m_abSignature[4999], 0x5C);
    Reply(0xF3, Cat({Bytes(5, 0), {0x15, 0xAA}}));
    EXPECT_EQ(dialog.m_nRetCode, kNoResult);
    EXPECT_EQ(g_nSignatureLen, 0u);
    EXPECT_EQ(dialog.m_abSignature[0], 0);
    EXPECT_EQ(rig.window.closes, 2);
}

TEST_F(TerminalDialogTest, EnrolResultCopiesTheTemplateSizeTheFormatsCallForOr0x51ItsLengthField) {
    const struct {
        int enrollFormat, templateFormat;
        size_t size;
    } cases[] = {{1, 1, 512}, {2, 1, 598}, {2, 2, 1196}, {1, 2, 1196}};
    Bytes data = {0x06, 0, 0};
    for (int i = 0; i < 1300; ++i) data.push_back(uint8_t(i));
    for (const auto& c : cases) {
        dialog.m_nEnrollFormat = c.enrollFormat;
        dialog.m_nTemplateFormat = c.templateFormat;
        Reply(0x27, data);
        EXPECT_EQ(dialog.m_strTemplate, std::string(data.begin() + 3, data.begin() + 3 + c.size));
    }
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_OK);
    EXPECT_EQ(dialog.m_strStatus, "OK");
    EXPECT_EQ(rig.window.closes, 4);
    Reply(0x51, Cat({Bytes(5, 0), {0x06, 0x02, 0x58}, Bytes(40, 'q')}));  // 600 claimed, 40 sent
    EXPECT_EQ(dialog.m_strTemplate, std::string(40, 'q'));
}

TEST_F(TerminalDialogTest, ResultStatusDecidesCodeClosingStatusTextAndLog) {
    const struct {
        uint8_t code;
        int statusAt;  // frame position
        uint8_t status;
        int retCode, closes;
        const char* log;
    } cases[] = {
        {0x28, 4, 0x06, 0, 1, "Close after Verify"},
        {0x53, 9, 0x06, 0, 1, "Close after end Verify"},
        {0x51, 9, 0x06, 0, 1, "Copy Minutiae = offset 12 Size 0"},
        // A terminal error closes a verification but leaves an enrolment open.
        {0x28, 4, 0x15, kTerminalError, 1, "RECV: Error Code 0x15"},
        {0x53, 9, 0x09, kTerminalError, 1, "RECV: Error Code 0x 9"},
        {0x27, 4, 0x1F, kTerminalError, 0, "RECV: Error Code 0x1f"},
        {0x51, 9, 0x15, kTerminalError, 0, "RECV: Error Code 0x15"},
    };
    for (const auto& c : cases) {
        dialog.m_nRetCode = -9;
        const int closes = rig.window.closes;
        Bytes data(12, 0);
        data[c.statusAt - 4] = c.status;
        Reply(c.code, data);
        EXPECT_EQ(dialog.m_nRetCode, c.retCode) << c.log;
        EXPECT_EQ(rig.window.closes - closes, c.closes) << c.log;
        EXPECT_EQ(log.lines.back(), c.log);
        EXPECT_EQ(dialog.m_strStatus, c.retCode == 0 ? "OK" : c.log);
    }
}

// The prompt of each event is the message of its key in the settings (texts here are the keys).
TEST_F(TerminalDialogTest, EventsSetThePromptTheResultCodeAndCloseTheDialog) {
    const struct {
        const char* mode;
        uint8_t event, fingerBefore;
        int retBefore;
        const char* key;  // nullptr: the prompt is left alone
        size_t logs;      // lines logged, the message first
        int retAfter, fingerAfter, closes;
    } cases[] = {
        {"ENROLL", 0xA0, 0, -9, "E2", 1, -9, 0, 0},
        {"VERIFY", 0xA0, 0, -9, "V3", 1, -9, 0, 0},
        {"ENROLL", 0xA1, 0, -9, "E4", 1, -9, 0, 0},
        {"ENROLL", 0xA2, 0, -9, "E5", 1, -9, 0, 0},
        {"VERIFY", 0xA3, 0, -9, "V4", 1, -9, 1, 0},
        {"MYKAD", 0xA3, 0, -9, "M4", 0, kReadFailed, 1, 0},
        {"VERIFY", 0xA4, 1, -9, "V5", 1, -9, 0, 0},
        {"ENROLL", 0xA4, 1, -9, "M5", 0, kNotVerified, 0, 0},
        {"ENROLL", 0xA5, 0, -9, "E3", 1, -9, 0, 0},
        {"ENROLL", 0xA6, 0, -9, "E9", 1, -9, 0, 0},
        {"ENROLL", 0xA7, 0, -9, "E7", 0, kRefused, 0, 1},
        // 0xB1 closes with -1 unless a verify event said the finger matched.
        {"MYKAD", 0xB1, 1, -2, "M6", 0, -2, 1, 0},
        {"MYKAD", 0xB1, 0, -9, "M6", 0, kNotVerified, 0, 1},
        {"MYKAD", 0xB2, 1, 0, "M7", 0, kReadFailed, 1, 1},
        // The removal prompts close only after a failure of the card or the finger.
        {"MYKAD", 0xB3, 0, 0, "M8", 2, 0, 0, 0},
        {"MYKAD", 0xB3, 0, -1, "M8", 2, -1, 0, 1},
        {"MYKAD", 0xB3, 1, -2, "M8", 2, -2, 1, 1},
        {"MYKAD", 0xB4, 0, -2, "M9", 0, -2, 0, 1},
        {"MYKAD", 0xB4, 0, -1, "M9", 0, -1, 0, 1},
        {"MYKAD", 0xB4, 0, -9, "M9", 0, -9, 0, 0},
        {"MYKAD", 0xB5, 0, -9, "P10", 1, -9, 0, 0},
        {"MYKAD", 0xB6, 0, -9, "P11", 1, -9, 0, 0},
        {"MYKAD", 0xB7, 0, -9, "P12", 1, -9, 0, 0},
        // 0xA8 to 0xB0 and codes outside 0xA0 to 0xB7 are ignored.
        {"ENROLL", 0xA8, 1, -9, nullptr, 0, -9, 1, 0},
        {"ENROLL", 0xB0, 0, -9, nullptr, 0, -9, 0, 0},
        {"ENROLL", 0x9F, 0, -9, nullptr, 0, -9, 0, 0},
        {"ENROLL", 0xB8, 0, -9, nullptr, 0, -9, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.event));
        if (c.key != nullptr) rig.Set("MESSAGE", c.key, c.key);
        dialog.m_strMode = c.mode;
        dialog.m_bFingerVerified = c.fingerBefore;
        dialog.m_nRetCode = c.retBefore;
        rig.window.text[kPromptLine2] = "before";
        const int closes = rig.window.closes;
        const size_t logged = log.lines.size();
        Reply(0x94, {0x06, 0x00, c.event});
        EXPECT_EQ(rig.window.text[kPromptLine2], c.key ? c.key : "before");
        ASSERT_EQ(log.lines.size() - logged, c.logs);
        EXPECT_EQ(c.logs ? log.lines[logged] : "", c.logs ? c.key : "");
        EXPECT_EQ(dialog.m_nRetCode, c.retAfter);
        EXPECT_EQ(dialog.m_bFingerVerified, c.fingerAfter);
        EXPECT_EQ(rig.window.closes - closes, c.closes);
    }
}

}  // namespace
}  // namespace quillon
