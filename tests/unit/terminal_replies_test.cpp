#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acqdialog/acq_dialog.h"
#include "dialog_fakes.h"
#include "terminal/frame_codec.h"
#include "terminal/terminal_commands.h"

namespace quillon {
namespace {

using namespace testing_support;

// Puts a decoded reply (code and data) into g_abRxFrame as the parser leaves it.
void Receive(uint8_t code, const std::vector<uint8_t>& data) {
    std::memset(g_abRxFrame, 0, sizeof g_abRxFrame);
    BuildFrame(g_abRxFrame, sizeof g_abRxFrame, code, data.data(), static_cast<int>(data.size()));
}


class RepliesTest : public ::testing::Test {
protected:
    DialogRig rig;
    CAcqDialog dialog{rig.env};
    void SetUp() override {
        dialog.Attach(&rig.window);
        dialog.m_nRetCode = -9;
        std::memset(LinkKey, 0, sizeof LinkKey);
    }
    void TearDown() override { std::memset(LinkKey, 0, sizeof LinkKey); }
    long Reply(uint8_t code, const std::vector<uint8_t>& data) {
        Receive(code, data);
        return dialog.OnTerminalReply();
    }
};

TEST_F(RepliesTest, EveryReplyRepaintsBothPromptLinesFirst) {
    Reply(0x99, {});
    EXPECT_EQ(rig.window.calls, (std::vector<std::string>{"refresh 11"}));
    EXPECT_EQ(dialog.m_nRetCode, -9) << "an unknown reply code changes nothing";
}

TEST_F(RepliesTest, SerialNumberIsCopiedAndTheDialogCloses) {
    std::vector<uint8_t> data = {0x06, 0x00, 0x08};
    for (char c : std::string("QT-00042")) data.push_back(static_cast<uint8_t>(c));
    std::strcpy(dialog.m_szSerialNo, "OLD SERIAL NUMBER");
    Reply(0x25, data);
    EXPECT_STREQ(dialog.m_szSerialNo, "QT-00042");
    EXPECT_EQ(dialog.m_nRetCode, 0);
    EXPECT_EQ(rig.window.closes, 1);
}

struct SerialBound {
    int claimed;  // the length positions 5 and 6 claim
    int carried;  // bytes the frame really carries
    size_t expected;
};

class SerialLength : public RepliesTest, public ::testing::WithParamInterface<SerialBound> {};

TEST_P(SerialLength, CopyIsBoundedByTheFrameAndTheField) {
    std::vector<uint8_t> data = {0x06, static_cast<uint8_t>(GetParam().claimed >> 8),
                                 static_cast<uint8_t>(GetParam().claimed & 0xFF)};
    data.resize(3 + GetParam().carried, 'S');
    Reply(0x25, data);
    EXPECT_EQ(std::strlen(dialog.m_szSerialNo), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Bounds, SerialLength,
                         ::testing::Values(SerialBound{10, 10, 10}, SerialBound{500, 10, 10},
                                           SerialBound{200, 200, 99}, SerialBound{0, 5, 0}));

TEST_F(RepliesTest, StatusReplyInstallsTheLinkKeyAndKeepsTheCustomerName) {
    std::vector<uint8_t> data = {0x06, 13};
    for (char c : std::string("BANK RAKYAT 1")) data.push_back(static_cast<uint8_t>(c));
    data.insert(data.end(), 16, 0xEE);  // terminal identity
    std::vector<uint8_t> key;
    for (int i = 0; i < 16; ++i) key.push_back(static_cast<uint8_t>(0x10 + i));
    data.insert(data.end(), key.begin(), key.end());
    Reply(0x23, data);
    EXPECT_EQ(std::vector<uint8_t>(LinkKey, LinkKey + 16), key);
    EXPECT_EQ(dialog.m_strResult2, "BANK RAKYAT 1");
    EXPECT_EQ(dialog.m_nRetCode, 0);
    EXPECT_EQ(rig.window.closes, 1);
}

TEST_F(RepliesTest, CustomerNameIsCutTo49Characters) {
    std::vector<uint8_t> data = {0x06, 60};
    data.insert(data.end(), 60, 'N');
    data.insert(data.end(), 32, 0x01);
    Reply(0x23, data);
    EXPECT_EQ(dialog.m_strResult2, std::string(49, 'N'));
}

TEST_F(RepliesTest, StatusReplyTooShortForAKeyLeavesTheOldKey) {
    LinkKey[0] = 0x42;
    Reply(0x23, {0x06, 200, 'A', 'B'});
    EXPECT_EQ(LinkKey[0], 0x42);
    EXPECT_EQ(dialog.m_strResult2, "AB") << "the name stops where the frame ends";
}

TEST_F(RepliesTest, ClockReplyEndsWithSuccess) {
    Reply(0x72, {0x06});
    EXPECT_EQ(dialog.m_nRetCode, 0);
    EXPECT_EQ(rig.window.closes, 1);
}

std::vector<uint8_t> SignatureReply(uint8_t status, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data(5, 0);  // positions 4 to 8
    data.push_back(status);           // position 9
    data.insert(data.end(), bytes.begin(), bytes.end());
    return data;
}

TEST_F(RepliesTest, SignatureSuccessCopiesLengthMinusSevenBytes) {
    Reply(0xF3, SignatureReply(0x06, {0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(dialog.m_nRetCode, 0);
    EXPECT_EQ(g_nSignatureLen, 10u) << "the reply's length field: code, 6 bytes, 3 data";
    EXPECT_EQ(dialog.m_abSignature[0], 0xAA);
    EXPECT_EQ(dialog.m_abSignature[2], 0xCC);
    EXPECT_EQ(dialog.m_abSignature[3], 0);
    EXPECT_EQ(rig.window.closes, 1);
}

TEST_F(RepliesTest, SignatureFailureClearsAndGivesMinus9) {
    dialog.m_abSignature[0] = 0x77;
    g_nSignatureLen = 50;
    Reply(0xF3, SignatureReply(0x15, {0xAA}));
    EXPECT_EQ(dialog.m_nRetCode, -9);
    EXPECT_EQ(g_nSignatureLen, 0u);
    EXPECT_EQ(dialog.m_abSignature[0], 0);
    EXPECT_EQ(rig.window.closes, 1);
}

TEST_F(RepliesTest, SignatureOver5000BytesIsCutToTheArea) {
    std::vector<uint8_t> bytes(6000, 0x5C);
    Reply(0xF3, SignatureReply(0x06, bytes));
    EXPECT_EQ(g_nSignatureLen, 6007u);
    EXPECT_EQ(dialog.m_abSignature[4999], 0x5C);
}

// ---- Enrolment and verification results ----

TEST_F(RepliesTest, EnrollResultCopiesTheTemplateByTheFormatRule) {
    struct Case {
        int enrollFormat, templateFormat;
        size_t size;
    };
    for (const Case& c : {Case{1, 1, 512}, Case{2, 1, 598}, Case{2, 2, 1196}, Case{1, 2, 1196}}) {
        CAcqDialog d(rig.env);
        d.Attach(&rig.window);
        d.m_nEnrollFormat = c.enrollFormat;
        d.m_nTemplateFormat = c.templateFormat;
        std::vector<uint8_t> data = {0x06, 0, 0};
        for (int i = 0; i < 1196; ++i) data.push_back(static_cast<uint8_t>(i));
        Receive(0x27, data);
        d.OnTerminalReply();
        EXPECT_EQ(d.m_strTemplate.size(), c.size);
        EXPECT_EQ(static_cast<uint8_t>(d.m_strTemplate[100]), 100);
        EXPECT_EQ(d.m_nRetCode, 0);
        EXPECT_EQ(d.m_strStatus, "OK");
    }
}

struct ResultCase {
    uint8_t code;
    bool status9;  // status at position 9 instead of 4
    uint8_t status;
    int retCode;
    int closes;
    const char* log;
};

void PrintTo(const ResultCase& c, std::ostream* os) {
    *os << std::hex << int(c.code) << "/" << int(c.status);
}

class Results : public RepliesTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(Results, StatusDecidesCodeClosingAndLog) {
    const ResultCase& c = GetParam();
    CapturingLog log;
    std::vector<uint8_t> data(12, 0);
    data[c.status9 ? 5 : 0] = c.status;
    Reply(c.code, data);
    EXPECT_EQ(dialog.m_nRetCode, c.retCode);
    EXPECT_EQ(rig.window.closes, c.closes);
    EXPECT_EQ(log.Count(c.log), 1u) << c.log;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Results,
    ::testing::Values(ResultCase{0x28, false, 0x06, 0, 1, "Close after Verify"},
                      ResultCase{0x53, true, 0x06, 0, 1, "Close after end Verify"},
                      ResultCase{0x51, true, 0x06, 0, 1, "Copy Minutiae = offset 12 Size 0"},
                      // A terminal error closes a verification but leaves an enrolment open.
                      ResultCase{0x28, false, 0x15, -3, 1, "RECV: Error Code 0x15"},
                      ResultCase{0x53, true, 0x09, -3, 1, "RECV: Error Code 0x 9"},
                      ResultCase{0x27, false, 0x15, -3, 0, "RECV: Error Code 0x15"},
                      ResultCase{0x51, true, 0x15, -3, 0, "RECV: Error Code 0x15"}));

TEST_F(RepliesTest, ErrorTextGoesToTheStatus) {
    Reply(0x27, {0x1F});
    EXPECT_EQ(dialog.m_strStatus, "RECV: Error Code 0x1f");
}

TEST_F(RepliesTest, Enroll256TemplateLengthIsBoundedByTheFrame) {
    std::vector<uint8_t> data(5, 0);
    data.push_back(0x06);               // position 9
    data.push_back(0x02);               // length 0x0258 = 600 claimed
    data.push_back(0x58);
    data.insert(data.end(), 40, 0x71);  // only 40 carried
    Reply(0x51, data);
    EXPECT_EQ(dialog.m_strTemplate, std::string(40, 'q'));
    EXPECT_EQ(dialog.m_nRetCode, 0);
}

// ---- Terminal events ----

struct EventCase {
    const char* mode;
    uint8_t event;
    uint8_t fingerBefore;
    int retBefore;
    const char* line2;  // nullptr: unchanged
    int retAfter;
    int fingerAfter;
    int closes;
};

void PrintTo(const EventCase& c, std::ostream* os) {
    *os << c.mode << " " << std::hex << int(c.event) << " ret " << std::dec << c.retBefore;
}

class Events : public RepliesTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(Events, PromptCodeAndClosing) {
    const EventCase& c = GetParam();
    dialog.m_strMode = c.mode;
    dialog.m_bFingerVerified = c.fingerBefore;
    dialog.m_nRetCode = c.retBefore;
    rig.window.text[kPromptLine2] = "before";
    Reply(0x94, {0x06, 0x00, c.event});
    EXPECT_EQ(rig.window.text[kPromptLine2], c.line2 ? c.line2 : "before");
    EXPECT_EQ(dialog.m_nRetCode, c.retAfter);
    EXPECT_EQ(dialog.m_bFingerVerified, c.fingerAfter);
    EXPECT_EQ(rig.window.closes, c.closes);
}

const char kThumbEnroll[] = "Please put in your thumb for enrollment\r\nSila letak ibu jari untuk imbasan";
const char kThumbVerify[] =
    "Please put in your thumb for verification\r\nSila letak ibu jari untuk pengesahan";

INSTANTIATE_TEST_SUITE_P(
    Table, Events,
    ::testing::Values(
        EventCase{"ENROLL", 0xA0, 0, -9, kThumbEnroll, -9, 0, 0},
        EventCase{"VERIFY", 0xA0, 0, -9, kThumbVerify, -9, 0, 0},
        EventCase{"ENROLL", 0xA1, 0, -9, "Place your right thumb\r\nSila letak ibu jari kanan", -9, 0, 0},
        EventCase{"ENROLL", 0xA2, 0, -9, "Place your left thumb\r\nSila letak ibu jari kiri", -9, 0, 0},
        EventCase{"VERIFY", 0xA3, 0, -9, "Finger Verify Success\r\nPengesahan jari berjaya", -9, 1, 0},
        EventCase{"GETSN", 0xA3, 0, -9,
                  "MyKad verification completed successfully\r\nPengesahan MyKad berjaya", -2, 1, 0},
        EventCase{"VERIFY", 0xA4, 1, -9, "Finger Verify Failed\r\nPengesahan jari gagal", -9, 0, 0},
        EventCase{"ENROLL", 0xA4, 1, -9, "MyKad verification failed\r\nPengesahan MyKad gagal", -1, 0, 0},
        EventCase{"ENROLL", 0xA5, 0, -9, "Place your thumb again\r\nSila letak ibu jari semula", -9, 0, 0},
        EventCase{"ENROLL", 0xA6, 0, -9, "Enroll Success", -9, 0, 0},
        EventCase{"ENROLL", 0xA7, 0, -9, "Enrollment Failed\r\nGagal Pendaftaran Cap Jari", -5, 0, 1},
        // 0xB1 closes with -1 unless a verify event said the finger matched.
        EventCase{"GETSN", 0xB1, 1, -2, "MYKAD Read Success\r\nMyKad berjaya dibaca", -2, 1, 0},
        EventCase{"GETSN", 0xB1, 0, -9, "MYKAD Read Success\r\nMyKad berjaya dibaca", -1, 0, 1},
        EventCase{"GETSN", 0xB2, 1, 0,
                  "MYKAD Read Failed. Please Remove MYKAD\r\nPengesahan MyKad gagal. Sila keluarkan MYKAD",
                  -2, 1, 1},
        EventCase{"GETSN", 0xB3, 0, 0, "Remove MYKAD\r\nKeluarkan MYKAD", 0, 0, 0},
        EventCase{"GETSN", 0xB3, 0, -1, "Remove MYKAD\r\nKeluarkan MYKAD", -1, 0, 1},
        EventCase{"GETSN", 0xB4, 0, -2, "MYKAD Removed\r\nMYKAD telah dikeluarkan", -2, 0, 1},
        EventCase{"GETSN", 0xB4, 0, -9, "MYKAD Removed\r\nMYKAD telah dikeluarkan", -9, 0, 0},
        EventCase{"GETSN", 0xB5, 0, -9, "Enter PIN", -9, 0, 0},
        EventCase{"GETSN", 0xB6, 0, -9, "Re-enter Pin", -9, 0, 0},
        EventCase{"GETSN", 0xB7, 0, -9, "Enter Pin Success", -9, 0, 0},
        // Ignored codes change nothing.
        EventCase{"ENROLL", 0xA8, 1, -9, nullptr, -9, 1, 0},
        EventCase{"ENROLL", 0xB0, 0, -9, nullptr, -9, 0, 0},
        EventCase{"ENROLL", 0x9F, 0, -9, nullptr, -9, 0, 0},
        EventCase{"ENROLL", 0xB8, 0, -9, nullptr, -9, 0, 0}));

TEST_F(RepliesTest, VerifyEventThenCardReadSequence) {
    dialog.m_strMode = "MYKAD";
    Reply(0x94, {0, 0, 0xA3});
    Reply(0x94, {0, 0, 0xB1});
    EXPECT_EQ(rig.window.closes, 0) << "a matched finger keeps the dialog for the removal";
    Reply(0x94, {0, 0, 0xB3});
    EXPECT_EQ(rig.window.closes, 1);
    EXPECT_EQ(dialog.m_nRetCode, -2);
}

TEST_F(RepliesTest, EventTextsComeFromTheSettings) {
    rig.Set("MESSAGE", "E9", "");
    rig.Set("MESSAGE", "E3", "Letak semula");
    dialog.m_strMode = "ENROLL";
    rig.window.text[kPromptLine2] = "old";
    Reply(0x94, {0, 0, 0xA6});
    EXPECT_EQ(rig.window.text[kPromptLine2], "");
    Reply(0x94, {0, 0, 0xA5});
    EXPECT_EQ(rig.window.text[kPromptLine2], "Letak semula");
}

TEST_F(RepliesTest, EventLogLinesFollowTheTable) {
    CapturingLog log;
    dialog.m_strMode = "ENROLL";
    Reply(0x94, {0, 0, 0xA6});  // logged
    Reply(0x94, {0, 0, 0xA4});  // not logged outside VERIFY
    Reply(0x94, {0, 0, 0xB3});  // logged, with the result code
    const std::vector<std::string> expected = {"Enroll Success", "Remove MYKAD\r\nKeluarkan MYKAD",
                                               "Ret code when Remove MyKAD : -1"};
    EXPECT_EQ(log.Lines(), expected);
}

}  // namespace
}  // namespace quillon
