// What the acquisition dialog's logic needs from its window. The Win32 dialog implements it; unit
// tests use fakes that record every call.
#pragma once

#include <cstdint>
#include <string>

#include "cardreader/reader_host.h"
#include "serial/terminal_port.h"

namespace quillon {

// The controls of dialog template 4000 that the dialog drives (the template holds further hidden
// buttons that nothing uses).
enum DialogControl {
    kButtonCancel = 1,  // carries the id of the OK command
    kButtonEnroll = 4000,
    kButtonVerify = 4001,
    kPromptLine1 = 4003,
    kPromptLine2 = 4004,
    kProgressBar = 4009,
};

enum DialogTimer {
    kTimerGlobal = 77,
    kTimerStep = 88,
    kTimerReader = 99,
};

// Received character and clear-to-send: the events the monitor thread waits for.
const uint32_t kCommEventsRxCharCts = 0x0001 | 0x0008;

// The window also serves the card read it may host (IReaderHostWindow: timers, the cancel event,
// the close, the reader thread).
class IDialogWindow : public IReaderHostWindow {
  public:
    virtual ~IDialogWindow() = default;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual void ShowItem(int id, bool show) = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    // Invalidates, erases and repaints at once the area of prompt line 1 and/or 2 (not children).
    virtual void RefreshPromptLines(bool line1, bool line2) = 0;
    // WM_COMMAND with BN_CLICKED for a hidden button, handled after the current message.
    virtual void PostCommand(int id) = 0;
    // The prompt font: given to both prompt lines and button 1; lives as long as the process.
    virtual void ApplyFont(int height, const std::string& face) = 0;
    // Loads the logo and sizes the window to it; a missing picture keeps the template layout.
    virtual void LoadDialogImage(const std::string& path) = 0;
    // Blocks the dialog's thread (the operator reads "Timeout" meanwhile).
    virtual void Wait(int milliseconds) = 0;
    virtual void InitSocketLayer() = 0;
    // Where the terminal port hands complete replies: on to the dialog's thread, synchronously.
    virtual IFrameSink* ReplySink() = 0;
};

}  // namespace quillon
