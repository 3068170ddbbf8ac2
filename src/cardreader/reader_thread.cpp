#include "cardreader/reader_thread.h"

#include "cardreader/mykad_reader.h"
#include "foundation/results.h"

namespace quillon {

int RunReaderThread(IReaderHost& host, ICardReaderLibrary& library, IClock& clock) {
    host.BeginPrompts();
    MyKadReaderParts parts{
        library, host, host.Profile(), clock, host.PromptRoutine(), host.VerifySwitch()};
    int result = kResultInternalError;
    try {
        result = RunMyKadReader(parts);
    } catch (...) {
        // Out of memory, say: the reader is closed and the read ends with the library's failure
        // code instead of leaving the dialog waiting for a close that never comes.
        library.OrvMyKadClose();
        host.SetRetCode(kResultInternalError);
        host.Close();
    }
    host.EndPrompts();
    host.Release();
    return result;
}

}  // namespace quillon
