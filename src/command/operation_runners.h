// The operation runners: each builds one operation, runs it in a dialog and copies its result.
#pragma once

#include "acqdialog/acq_dialog.h"
#include "command/runners.h"
#include "foundation/platform.h"

namespace quillon {

class OperationRunners : public IRunners {
  public:
    OperationRunners(DialogEnvironment& environment, IDialogRunner& modal,
                     ISerialCommRegistry& registry, IClock& clock)
        : env_(environment), modal_(modal), registry_(registry), clock_(clock) {}

    int PerformEnroll(int show, int port, uint8_t* templateOut) override;
    int PerformVerify(int show, int port, int length, const uint8_t* templ) override;
    int PerformVerify2F(int show, int port, int length, const uint8_t* templ) override;
    int QueryText(Mode mode, int show, int port, char* textOut) override;
    int SetTerminalTime(int port, int useGiven, const char* dateTime) override;
    int GetSignature(int show, int port, uint8_t* dataOut, uint32_t* countOut) override;
    int ReadCard(Mode mode, int show, int port, uint8_t* cardOut, uint8_t* photoOut) override;

  private:
    int Port(int port);
    void Run(Operation& operation, bool show, int comPort) { modal_.Run(operation, show, comPort); }
    // Status query and the delay after it; nonzero: the query's failure code.
    int StatusQueryFirst(int show, int port);
    int Verify(const char* name, int show, int port, int length, const uint8_t* templ,
               int templateFormat);

    DialogEnvironment& env_;
    IDialogRunner& modal_;
    ISerialCommRegistry& registry_;
    IClock& clock_;
};

}  // namespace quillon
