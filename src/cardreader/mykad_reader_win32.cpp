#include "cardreader/mykad_reader_win32.h"

#include "acqdialog/reader_session.h"
#include "acqdialog/reader_thread.h"
#include "command/entry_win32.h"

namespace quillon {

DWORD WINAPI MyKadReaderThread(LPVOID session) {
    Win32Services& services = Services();
    RunReaderThread(*static_cast<ReaderSession*>(session), services.CardReader(), services.clock);
    return 0;
}

}  // namespace quillon
