// The Win32 side of CAcqDialog: a plain modal dialog from template 4000 whose messages are
// dispatched to the dialog's logic, and the window services that logic asks for.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>

#include "acqdialog/acq_dialog.h"

namespace quillon {

// The card-reader thread routine, started with the reader's session as its parameter.
using ReaderThreadRoutine = DWORD(WINAPI*)(LPVOID session);

// The prompt fonts, one per size and face, made once and kept for the life of the process, so
// that repeated dialogs reuse them.
class PromptFonts {
  public:
    HFONT Get(int height, const std::string& face);

  private:
    std::map<std::pair<int, std::string>, HFONT> fonts_;
};

class Win32DialogRunner : public IDialogRunner {
  public:
    Win32DialogRunner(DialogEnvironment& environment, ReaderThreadRoutine readerRoutine)
        : env_(environment), readerRoutine_(readerRoutine) {}
    void Run(Operation& operation, bool show, int comPort) override;

  private:
    DialogEnvironment& env_;
    const ReaderThreadRoutine readerRoutine_;
    PromptFonts fonts_;
};

}  // namespace quillon
