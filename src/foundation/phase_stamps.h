// Phase stamps: named moments of a dialog's run, for a host that wants to know where a command's
// time goes (the benchmark). The hook is null unless the host process exports
// QuillonPhaseStamp; then every stamp calls it with the phase's number, on whichever thread
// reaches the moment. With no hook a stamp is one load and one test, so the stamps stay in the
// product.
#pragma once

#include <atomic>

namespace quillon {

// The numbers are the hook's interface: a new phase takes a new number at the end.
enum class Phase : int {
    kDialogStart = 0,      // the dialog runner is called
    kDialogInit = 1,       // the window exists: WM_INITDIALOG
    kSettingsRead = 2,     // the dialog's settings are read
    kPortOpen = 3,         // the port is open and configured
    kMonitorStarted = 4,   // the monitor thread has been started
    kFrameHandedOver = 5,  // a command frame is handed to the monitor thread
    kInitDone = 6,         // WM_INITDIALOG handled (font, button, logo, prompt lines)
    kReplyFrame = 7,       // the monitor thread has a whole reply frame (before the hand-over)
    kReplyHandled = 8,     // the dialog has handled that frame
    kClosing = 9,          // the dialog has agreed to close
    kDestroying = 10,      // WM_DESTROY: timers stop, the port is told to stop
    kPortClosed = 11,      // after kDialogEnded: the monitor thread has ended, the port is closed
    kDialogEnded = 12,     // DialogBoxParam has returned
};

using PhaseHook = void (*)(int phase);

std::atomic<PhaseHook>& PhaseHookSlot();

inline void StampPhase(Phase phase) {
    const PhaseHook hook = PhaseHookSlot().load(std::memory_order_relaxed);
    if (hook != nullptr) hook(static_cast<int>(phase));
}

}  // namespace quillon
