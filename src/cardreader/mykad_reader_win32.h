// The card-reader thread of the MyKad modes, started by the dialog with itself as parameter.
#pragma once

#include <windows.h>

namespace quillon {

DWORD WINAPI MyKadReaderThread(LPVOID dialog);

}  // namespace quillon
