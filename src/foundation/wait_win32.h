// Waiting on the caller's thread without stalling threads that send messages to its windows.
#pragma once

#include <windows.h>

namespace quillon {

// Waits for `object` until `deadline` (GetTickCount64 time) while serving the messages other
// threads send to this thread's windows: the monitor and reader threads reach the dialog only by
// sent messages, so a dialog thread that waited without serving them would hold both until the
// deadline. Posted messages stay queued for the host's own loop. True when the object came.
bool WaitServingSentMessages(HANDLE object, ULONGLONG deadline);

}  // namespace quillon
