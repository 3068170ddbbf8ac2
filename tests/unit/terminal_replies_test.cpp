#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "acqdialog/acq_dialog.h"
#include "dialog_fakes.h"
#include "terminal/frame_codec.h"
#include "terminal/terminal_commands.h"

namespace quillon {
namespace {

using namespace testing_support;
using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class RepliesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog.Attach(&rig.window);
        dialog.m_nRetCode = -9;
        std::memset(LinkKey, 0, sizeof LinkKey);
    }
    void TearDown() override { std::memset(LinkKey, 0, sizeof LinkKey); }
    // Puts a decoded reply (code and data) into g_abRxFrame as the parser leaves it.
    void Reply(uint8_t code, const Bytes& data) {
        std::memset(g_abRxFrame, 0, sizeof g_abRxFrame);
        BuildFrame(g_abRxFrame, sizeof g_abRxFrame, code, data.data(),
                   static_cast<int>(data.size()));
        dialog.OnTerminalReply();
    }

    DialogRig rig;
    CAcqDialog dialog{rig.env};
    CapturingLog log;
};

TEST_F(RepliesTest, EveryReplyRepaintsBothPromptLinesAndAnUnknownCodeDoesNothingElse) {
    Reply(0x99, {});
    EXPECT_EQ(rig.window.calls, (std::vector<std::string>{"refresh 11"}));
    EXPECT_EQ(dialog.m_nRetCode, -9);
}

TEST_F(RepliesTest, SerialNumberAndClockRepliesEndWithSuccess) {
    const struct {
        int claimed, carried;
        size_t copied;
    } cases[] = {{8, 8, 8}, {500, 10, 10}, {200, 200, 99}, {0, 5, 0}};
    for (const auto& c : cases) {
        std::strcpy(dialog.m_szSerialNo, "OLD SERIAL NUMBER");
        std::string serial;
        for (int i = 0; i < c.carried; ++i) serial.push_back(static_cast<char>('A' + i % 26));
        Reply(0x25,
              Cat({{0x06, static_cast<uint8_t>(c.claimed >> 8), static_cast<uint8_t>(c.claimed)},
                   Text(serial)}));
        EXPECT_EQ(std::string(dialog.m_szSerialNo), serial.substr(0, c.copied)) << c.claimed;
    }
    EXPECT_EQ(dialog.m_nRetCode, 0);
    dialog.m_nRetCode = -9;
    Reply(0x72, {0x06});
    EXPECT_EQ(dialog.m_nRetCode, 0);
    EXPECT_EQ(rig.window.closes, 5);
}

TEST_F(RepliesTest, StatusReplyInstallsTheLinkKeyAndKeepsTheCustomerName) {
    const Bytes key = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                       0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
    Reply(0x23, Cat({{0x06, 13}, Text("BANK RAKYAT 1"), Bytes(16, 0xEE), key}));
    EXPECT_EQ(Bytes(LinkKey, LinkKey + 16), key);
    EXPECT_EQ(dialog.m_strResult2, "BANK RAKYAT 1");
    EXPECT_EQ(dialog.m_nRetCode, 0);
    EXPECT_EQ(rig.window.closes, 1);

    Reply(0x23, Cat({{0x06, 60}, Bytes(60, 'N'), Bytes(32, 0x01)}));
    EXPECT_EQ(dialog.m_strResult2, std::string(49, 'N'));
    EXPECT_EQ(Bytes(LinkKey, LinkKey + 16), Bytes(16, 0x01));

    Reply(0x23, {0x06, 200, 'A', 'B'});  // no room for a key
    EXPECT_EQ(Bytes(LinkKey, LinkKey + 16), Bytes(16, 0x01));
    EXPECT_EQ(dialog.m_strResult2, "AB") << "the name stops where the frame ends";
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"LINK KEY MISSING IN STATUS REPLY"});
}

// Signature reply: five bytes (positions 4 to 8), status at 9, the signature from 10.
Bytes Signature(uint8_t status, const Bytes& bytes) { return Cat({Bytes(5, 0), {status}, bytes}); }

TEST_F(RepliesTest, SignatureIsCopiedOnSuccessAndClearedOnFailure) {
    Reply(0xF3, Signature(0x06, {0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(dialog.m_nRetCode, 0);
    EXPECT_EQ(g_nSignatureLen, 10u) << "the reply's length field";
    EXPECT_EQ(Bytes(dialog.m_abSignature, dialog.m_abSignature + 4), (Bytes{0xAA, 0xBB, 0xCC, 0}));
    Reply(0xF3, Signature(0x06, Bytes(6000, 0x5C)));
    EXPECT_EQ(g_nSignatureLen, 6007u);
    EXPECT_EQ(dialog.m_abSignature[4999], 0x5C);
    Reply(0xF3, Signature(0x15, {0xAA}));
    EXPECT_EQ(dialog.m_nRetCode, kResultNoResult);
    EXPECT_EQ(g_nSignatureLen, 0u);
    EXPECT_EQ(dialog.m_abSignature[0], 0);
    EXPECT_EQ(rig.window.closes, 3);
}

TEST_F(RepliesTest, EnrolResultCopiesTheTemplateSizeTheFormatsCallFor) {
    const struct {
        int enrollFormat, templateFormat;
        size_t size;
    } cases[] = {{1, 1, 512}, {2, 1, 598}, {2, 2, 1196}, {1, 2, 1196}};
    Bytes data = {0x06, 0, 0};
    for (int i = 0; i < 1300; ++i) data.push_back(static_cast<uint8_t>(i));
    for (const auto& c : cases) {
        dialog.m_nEnrollFormat = c.enrollFormat;
        dialog.m_nTemplateFormat = c.templateFormat;
        Reply(0x27, data);
        EXPECT_EQ(dialog.m_strTemplate, std::string(data.begin() + 3, data.begin() + 3 + c.size));
        EXPECT_EQ(dialog.m_nRetCode, 0);
        EXPECT_EQ(dialog.m_strStatus, "OK");
    }
    EXPECT_EQ(rig.window.closes, 4);
}

TEST_F(RepliesTest, ResultStatusDecidesCodeClosingStatusTextAndLog) {
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
        {0x28, 4, 0x15, -3, 1, "RECV: Error Code 0x15"},
        {0x53, 9, 0x09, -3, 1, "RECV: Error Code 0x 9"},
        {0x27, 4, 0x1F, -3, 0, "RECV: Error Code 0x1f"},
        {0x51, 9, 0x15, -3, 0, "RECV: Error Code 0x15"},
    };
    for (const auto& c : cases) {
        dialog.m_nRetCode = -9;
        const int closes = rig.window.closes;
        Bytes data(12, 0);
        data[c.statusAt - 4] = c.status;
        Reply(c.code, data);
        EXPECT_EQ(dialog.m_nRetCode, c.retCode) << c.log;
        EXPECT_EQ(rig.window.closes - closes, c.closes) << c.log;
        EXPECT_EQ(log.Lines().back(), c.log);
        EXPECT_EQ(dialog.m_strStatus, c.retCode == 0 ? "OK" : c.log);
    }
}

TEST_F(RepliesTest, Enrol256TemplateLengthIsBoundedByTheFrame) {
    Reply(0x51, Cat({Bytes(5, 0), {0x06, 0x02, 0x58}, Bytes(40, 'q')}));  // 600 claimed, 40 sent
    EXPECT_EQ(dialog.m_strTemplate, std::string(40, 'q'));
    EXPECT_EQ(dialog.m_nRetCode, 0);
}

// The prompt of each event is the message of its key in the settings (texts here are the keys).
TEST_F(RepliesTest, EventsSetThePromptTheResultCodeAndCloseTheDialog) {
    const struct {
        const char* mode;
        uint8_t event, fingerBefore;
        int retBefore;
        const char* key;  // nullptr: the prompt is left alone
        bool logged;
        int retAfter, fingerAfter, closes;
    } cases[] = {
        {"ENROLL", 0xA0, 0, -9, "E2", 1, -9, 0, 0},
        {"VERIFY", 0xA0, 0, -9, "V3", 1, -9, 0, 0},
        {"ENROLL", 0xA1, 0, -9, "E4", 1, -9, 0, 0},
        {"ENROLL", 0xA2, 0, -9, "E5", 1, -9, 0, 0},
        {"VERIFY", 0xA3, 0, -9, "V4", 1, -9, 1, 0},
        {"MYKAD", 0xA3, 0, -9, "M4", 0, -2, 1, 0},
        {"VERIFY", 0xA4, 1, -9, "V5", 1, -9, 0, 0},
        {"ENROLL", 0xA4, 1, -9, "M5", 0, -1, 0, 0},
        {"ENROLL", 0xA5, 0, -9, "E3", 1, -9, 0, 0},
        {"ENROLL", 0xA6, 0, -9, "E9", 1, -9, 0, 0},
        {"ENROLL", 0xA7, 0, -9, "E7", 0, -5, 0, 1},
        // 0xB1 closes with -1 unless a verify event said the finger matched.
        {"MYKAD", 0xB1, 1, -2, "M6", 0, -2, 1, 0},
        {"MYKAD", 0xB1, 0, -9, "M6", 0, -1, 0, 1},
        {"MYKAD", 0xB2, 1, 0, "M7", 0, -2, 1, 1},
        {"MYKAD", 0xB3, 0, 0, "M8", 1, 0, 0, 0},
        {"MYKAD", 0xB3, 0, -1, "M8", 1, -1, 0, 1},
        {"MYKAD", 0xB4, 0, -2, "M9", 0, -2, 0, 1},
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
        if (c.key != nullptr) rig.Set("MESSAGE", c.key, c.key);
        dialog.m_strMode = c.mode;
        dialog.m_bFingerVerified = c.fingerBefore;
        dialog.m_nRetCode = c.retBefore;
        rig.window.text[kPromptLine2] = "before";
        const int closes = rig.window.closes;
        const size_t logged = c.key ? log.Count(c.key) : 0;
        Reply(0x94, {0x06, 0x00, c.event});
        const std::string what = std::string(c.mode) + " " + std::to_string(c.event);
        EXPECT_EQ(rig.window.text[kPromptLine2], c.key ? c.key : "before") << what;
        EXPECT_EQ((c.key ? log.Count(c.key) : 0) - logged, c.logged ? 1u : 0u) << what;
        EXPECT_EQ(dialog.m_nRetCode, c.retAfter) << what;
        EXPECT_EQ(dialog.m_bFingerVerified, c.fingerAfter) << what;
        EXPECT_EQ(rig.window.closes - closes, c.closes) << what;
    }
}

TEST_F(RepliesTest, MatchedFingerKeepsTheCardReadOpenUntilTheRemovalPromptWithDefaultTexts) {
    dialog.m_strMode = "MYKAD";
    Reply(0x94, {0, 0, 0xA3});
    EXPECT_EQ(rig.window.text[kPromptLine2],
              "MyKad verification completed successfully\r\nPengesahan MyKad berjaya");
    Reply(0x94, {0, 0, 0xB1});
    EXPECT_EQ(rig.window.closes, 0);
    Reply(0x94, {0, 0, 0xB3});
    EXPECT_EQ(rig.window.closes, 1);
    EXPECT_EQ(dialog.m_nRetCode, -2);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Remove MYKAD\r\nKeluarkan MYKAD",
                                                     "Ret code when Remove MyKAD : -2"}));
}

}  // namespace
}  // namespace quillon
