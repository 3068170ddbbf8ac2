// The public header include/quillon.h against the library's own constants and behaviour: a host
// that tests a result code by its name must see the value the library really returns.
#include <gtest/gtest.h>

#include <vector>

#include "cardreader/mykad_reader.h"
#include "command/dispatch.h"
#include "dialog_fakes.h"
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

// The codes the terminal-reply handling sets as plain numbers, checked through the behaviour.
TEST(PublicHeader, TerminalRepliesSetTheCodesTheHeaderNames) {
    struct Case {
        const char* mode;
        uint8_t code;
        std::vector<uint8_t> data;
        int expected;
    };
    const Case cases[] = {
        {"ENROLL", 0x94, {0x06, 0x00, 0xA7}, QUILLON_RESULT_TEMPLATE_REFUSED},
        {"VERIFY", 0x28, {0x15, 0, 0, 0}, QUILLON_RESULT_TERMINAL_ERROR},
        {"GETSN", 0x94, {0x06, 0x00, 0xB2}, QUILLON_RESULT_MYKAD_READ_FAILED},
        {"GETSN", 0x94, {0x06, 0x00, 0xA4}, QUILLON_RESULT_MYKAD_NOT_VERIFIED},
        {"GETSIGNATURE", 0xF3, {0, 0, 0, 0, 0, 0x15}, QUILLON_RESULT_NO_RESULT},
    };
    for (const Case& c : cases) {
        testing_support::DialogRig rig;
        CAcqDialog dialog(rig.env);
        dialog.Attach(&rig.window);
        dialog.m_strMode = c.mode;
        dialog.m_nRetCode = QUILLON_RESULT_OK;
        std::fill(std::begin(g_abRxFrame), std::end(g_abRxFrame), 0);
        BuildFrame(g_abRxFrame, sizeof g_abRxFrame, c.code, c.data.data(),
                   static_cast<int>(c.data.size()));
        dialog.OnTerminalReply();
        EXPECT_EQ(dialog.m_nRetCode, c.expected) << c.mode << " " << int(c.code);
    }
}

}  // namespace
}  // namespace quillon
