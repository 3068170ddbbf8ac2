// The card-reader thread of the MyKad modes, started by the dialog with the reader's session
// (acqdialog/reader_session.h) as parameter.
#pragma once

#include <windows.h>

namespace quillon {

DWORD WINAPI MyKadReaderThread(LPVOID session);

}  // namespace quillon
