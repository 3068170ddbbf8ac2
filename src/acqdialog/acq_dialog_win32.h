// The Win32 side of CAcqDialog: a plain modal dialog from template 4000 whose messages are
// dispatched to the dialog's logic, and the window services that logic asks for.
#pragma once

#include <windows.h>

#include "acqdialog/acq_dialog.h"
#include "command/operation_runners.h"

namespace quillon {

class Win32DialogRunner : public IDialogRunner {
public:
    void DoModal(CAcqDialog& dialog) override;
};

// The card-reader thread routine; the card-reader path provides it.
using ReaderThreadRoutine = DWORD(WINAPI*)(LPVOID dialog);
void SetReaderThreadRoutine(ReaderThreadRoutine routine);

}  // namespace quillon
