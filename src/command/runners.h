// The operation runners as the dispatcher sees them: one call each, running one (or two)
// acquisition dialogs to their end and returning the dialog's result code.
#pragma once

#include <cstdint>

#include "acqdialog/operations.h"

namespace quillon {

class IRunners {
  public:
    virtual ~IRunners() = default;
    virtual int PerformEnroll(int show, int port, uint8_t* templateOut) = 0;
    virtual int PerformVerify(int show, int port, int length, const uint8_t* templ) = 0;
    virtual int PerformVerify2F(int show, int port, int length, const uint8_t* templ) = 0;
    // A text query of `mode` (a row of the mode table with its query): the text into textOut,
    // which holds kResultTextSize characters.
    virtual int QueryText(Mode mode, int show, int port, char* textOut) = 0;
    virtual int SetTerminalTime(int port, int useGiven, const char* dateTime) = 0;
    virtual int GetSignature(int show, int port, uint8_t* dataOut, uint32_t* countOut) = 0;
    // A card read in `mode` (one of the reader modes): card type and data into cardOut, and the
    // photo into photoOut when the mode reads one.
    virtual int ReadCard(Mode mode, int show, int port, uint8_t* cardOut, uint8_t* photoOut) = 0;
};

}  // namespace quillon
