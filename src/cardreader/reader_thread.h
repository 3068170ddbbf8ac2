// The whole life of a card-reader thread: the reader's run against the library, with the
// dialog reached only through the session it was started with, then the thread's own reference
// to the session given up. The Win32 thread routine is this and nothing more.
#pragma once

#include "cardreader/card_reader_library.h"
#include "cardreader/reader_session.h"
#include "foundation/platform.h"

namespace quillon {

// Returns the result the thread handed over (or would have, once abandoned). `library` and
// `clock` must live as long as the thread may (they are process-wide in the product).
int RunReaderThread(ReaderSession& session, ICardReaderLibrary& library, IClock& clock);

}  // namespace quillon
