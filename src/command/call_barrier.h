// The edge of the library: the access gate first, then the command, and nothing thrown past it.
// An exception that reaches this point (out of memory, or anything else) ends the call with
// kResultInternalError and the reply "[field 1][-1009][123]", written without the heap.
#pragma once

#include <cstddef>

#include "command/dispatch.h"

namespace quillon {

// The process-wide services of a call. Asked only once the call has passed the access gate, so a
// wrong access code makes, loads and starts nothing.
class ICallServices {
  public:
    virtual ~ICallServices() = default;
    virtual CommandContext& Context() = 0;
};

// Writes "[%s][%d][123]" with field 1 of the request (cut as the command buffer cuts it) and
// `code` into `reply` in one copy, using the stack only. A null reply is left alone.
void WriteFieldReply(char* reply, const char* request, int code) noexcept;

int ProcessWebMessageGuarded(const char* accessCode, const char* request, char* reply,
                             ICallServices& services) noexcept;

}  // namespace quillon
