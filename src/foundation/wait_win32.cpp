#include "foundation/wait_win32.h"

namespace quillon {

bool WaitServingSentMessages(HANDLE object, ULONGLONG deadline) {
    if (object == nullptr) return false;
    for (;;) {
        // Serve what is already queued first: the wait below wakes only for messages that arrive
        // after it starts.
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        const DWORD result = MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_OBJECT_0 + 1) return false;
    }
}

}  // namespace quillon
