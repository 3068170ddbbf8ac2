// What a card-reader thread is handed when it starts: the dialog as the reader sees it (inputs,
// prompt lines, results, close) and what the thread itself needs around the run. The
// acquisition dialog's side implements it; the thread reaches the dialog no other way.
#pragma once

#include <cstdint>

#include "cardreader/card_reader_library.h"
#include "cardreader/mykad_reader.h"
#include "foundation/platform.h"

namespace quillon {

class IReaderHost : public IMyKadDialog {
  public:
    // The settings reader; lives as long as the thread may.
    virtual IProfile& Profile() = 0;
    // The MyKad runners' verification switch as it was when the thread started.
    virtual const uint8_t* VerifySwitch() = 0;
    // The routine handed to the library for its message codes, and the span in which it finds
    // this host: from BeginPrompts to EndPrompts, both called on the thread.
    virtual MyKadPromptRoutine PromptRoutine() = 0;
    virtual void BeginPrompts() = 0;
    virtual void EndPrompts() = 0;
    // Gives up the thread's reference; the host may be gone once it returns.
    virtual void Release() = 0;
};

}  // namespace quillon
