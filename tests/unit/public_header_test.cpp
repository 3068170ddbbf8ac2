// The public header include/quillon.h against the library's own constants and behaviour: a host
// that tests a result code by its name must see the value the library really returns.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acqdialog/acq_dialog.h"
#include "cardreader/card_reader_library.h"
#include "cardreader/mykad_reader.h"
#include "command/dispatch.h"
#include "command/runners.h"
#include "dialog_fakes.h"
#include "fakes.h"
#include "quillon.h"
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

// Every code the header names is distinct, so a host's switch over them compiles.
TEST(PublicHeader, ResultCodesAreDistinctAndOnlySuccessIsNotNegative) {
    const std::vector<int> codes = {QUILLON_RESULT_OK,
                                    QUILLON_RESULT_WRONG_ACCESS,
                                    QUILLON_RESULT_NO_COMMAND,
                                    QUILLON_RESULT_BUSY,
                                    QUILLON_RESULT_TEMPLATE_REFUSED,
                                    QUILLON_RESULT_PORT_OPEN_FAILED,
                                    QUILLON_RESULT_NO_RESULT,
                                    QUILLON_RESULT_NOT_STARTED,
                                    QUILLON_RESULT_TIMEOUT,
                                    QUILLON_RESULT_MYKAD_NOT_VERIFIED,
                                    QUILLON_RESULT_MYKAD_READ_FAILED,
                                    QUILLON_RESULT_TERMINAL_ERROR};
    for (size_t i = 0; i < codes.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(codes[i], 0) << i;
        }
        for (size_t j = i + 1; j < codes.size(); ++j)
            EXPECT_NE(codes[i], codes[j]) << i << " " << j;
    }
}

// The codes the reply handling sets as plain numbers, checked through the behaviour itself.
class HeaderCodesFromReplies : public ::testing::Test {
  protected:
    testing_support::DialogRig rig;
    CAcqDialog dialog{rig.env};
    void SetUp() override {
        dialog.Attach(&rig.window);
        dialog.m_nRetCode = QUILLON_RESULT_NO_RESULT;
    }
    void Reply(uint8_t code, const std::vector<uint8_t>& data) {
        std::memset(g_abRxFrame, 0, sizeof g_abRxFrame);
        BuildFrame(g_abRxFrame, sizeof g_abRxFrame, code, data.data(),
                   static_cast<int>(data.size()));
        dialog.OnTerminalReply();
    }
};

TEST_F(HeaderCodesFromReplies, FailedEnrolmentEventIsTemplateRefused) {
    dialog.m_strMode = "ENROLL";
    Reply(0x94, {0x06, 0x00, 0xA7});
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_TEMPLATE_REFUSED);
}

TEST_F(HeaderCodesFromReplies, VerificationErrorStatusIsTerminalError) {
    dialog.m_strMode = "VERIFY";
    Reply(0x28, {0x15, 0, 0, 0});
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_TERMINAL_ERROR);
}

TEST_F(HeaderCodesFromReplies, TerminalMyKadReadFailureIsMyKadReadFailed) {
    dialog.m_strMode = "GETSN";
    Reply(0x94, {0x06, 0x00, 0xB2});
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_MYKAD_READ_FAILED);
}

TEST_F(HeaderCodesFromReplies, TerminalMyKadVerifyFailureIsMyKadNotVerified) {
    dialog.m_strMode = "GETSN";
    Reply(0x94, {0x06, 0x00, 0xA4});
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_MYKAD_NOT_VERIFIED);
}

TEST_F(HeaderCodesFromReplies, RefusedSignatureIsNoResult) {
    dialog.m_strMode = "GETSIGNATURE";
    dialog.m_nRetCode = QUILLON_RESULT_OK;
    Reply(0xF3, {0, 0, 0, 0, 0, 0x15});
    EXPECT_EQ(dialog.m_nRetCode, QUILLON_RESULT_NO_RESULT);
}

}  // namespace
}  // namespace quillon
