#include "command/call_barrier.h"

#include <cstring>

#include "command/commands.h"
#include "command/fields.h"
#include "foundation/log.h"
#include "foundation/results.h"
#include "quillon.h"

// The result codes that hosts see in quillon.h are the ones the library sets (checked in portable
// code, so the native build sees a drift of the public header too).
static_assert(QUILLON_RESULT_WRONG_ACCESS == quillon::kResultWrongAccess, "quillon.h: -9999");
static_assert(QUILLON_RESULT_NO_COMMAND == quillon::kResultNoCommand, "quillon.h: -1007");
static_assert(QUILLON_RESULT_BUSY == quillon::kResultBusy, "quillon.h: -1008");
static_assert(QUILLON_RESULT_INTERNAL_ERROR == quillon::kResultInternalError, "quillon.h: -1009");
static_assert(QUILLON_RESULT_PORT_OPEN_FAILED == quillon::kResultOpenPortFailed, "quillon.h: -4");
static_assert(QUILLON_RESULT_NO_RESULT == quillon::kResultNoResult, "quillon.h: -9");
static_assert(QUILLON_RESULT_NOT_STARTED == quillon::kResultNotStarted, "quillon.h: -10");
static_assert(QUILLON_RESULT_TIMEOUT == quillon::kResultTimeout, "quillon.h: -30");
static_assert(QUILLON_RESULT_OK == quillon::kResultOk, "quillon.h: 0");
static_assert(QUILLON_RESULT_TEMPLATE_REFUSED == quillon::kResultTemplateRefused, "quillon.h: -5");
static_assert(QUILLON_RESULT_MYKAD_NOT_VERIFIED == quillon::kResultMyKadNotVerified,
              "quillon.h: -1");
static_assert(QUILLON_RESULT_MYKAD_READ_FAILED == quillon::kResultMyKadReadFailed, "quillon.h: -2");
static_assert(QUILLON_RESULT_TERMINAL_ERROR == quillon::kResultTerminalError, "quillon.h: -3");
static_assert(QUILLON_ACCESS_CODE_LENGTH == sizeof quillon::kAccessCode, "quillon.h: access code");
// The documented longest reply is the one the buffers allow.
static_assert(QUILLON_REPLY_MAX == quillon::reply_sizes::kLongest, "quillon.h: the longest reply");

namespace quillon {

namespace {

// Appends `text` at `at`; the caller's buffer is sized for the longest field reply.
char* Append(char* at, const char* text) {
    const size_t length = std::strlen(text);
    std::memcpy(at, text, length);
    return at + length;
}

char* AppendDecimal(char* at, int value) {
    char digits[12];
    int count = 0;
    // In unsigned arithmetic, so the most negative value has its digits too.
    unsigned magnitude =
        value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *at++ = '-';
    while (count > 0) *at++ = digits[--count];
    return at;
}

}  // namespace

void WriteFieldReply(char* reply, const char* request, int code) noexcept {
    if (reply == nullptr) return;
    char field[kCommandSize] = {0};
    GetField(1, request != nullptr ? request : "", field, sizeof field);
    // Built aside, then copied whole: the host never sees half a reply.
    char text[kFieldReplySize];
    char* at = Append(text, "[");
    at = Append(at, field);
    at = Append(at, "][");
    at = AppendDecimal(at, code);
    at = Append(at, "][123]");
    *at++ = '\0';
    std::memcpy(reply, text, static_cast<size_t>(at - text));
}

int ProcessWebMessageGuarded(const char* accessCode, const char* request, char* reply,
                             ICallServices& services) noexcept {
    if (!AccessCodeMatches(accessCode)) return kResultWrongAccess;
    try {
        return ProcessWebMessageCore(accessCode, request, reply, services.Context());
    } catch (...) {
        // Unwinding has released the call guard. The normal reply is written last, in one copy,
        // so a call that threw has written none: this one is the only reply the host sees.
        WriteFieldReply(reply, request, kResultInternalError);
        WriteLog("Call abandoned: internal error");
        return kResultInternalError;
    }
}

}  // namespace quillon
