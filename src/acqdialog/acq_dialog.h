// CAcqDialog: the modal dialog that runs one operation with the counter terminal or the card
// reader. It owns what the counter staff see and how long they wait: the link it opens for the
// operation, the prompt lines, the timers, the logo and Cancel. What the operation sends and what
// its replies mean belong to the operation (operations.h). The window it runs in is behind
// IDialogWindow, so the Win32 dialog only adapts it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "acqdialog/dialog_host.h"
#include "acqdialog/operations.h"
#include "foundation/platform.h"
#include "foundation/results.h"
#include "foundation/settings.h"

namespace quillon {

// What a dialog needs from the process: settings, files, the located settings path, the port and
// the card-reader sessions.
struct DialogEnvironment {
    IProfile& profile;
    IFileSystem& files;
    IniLocator& locator;
    ITerminalPort& port;
    ReaderSessions& readers;
};

class CAcqDialog : private IOperationHost {
  public:
    // `show`: whether the window may ever become visible; `comPort`: the terminal's or reader's.
    CAcqDialog(DialogEnvironment& environment, Operation& operation, bool show, int comPort);
    ~CAcqDialog() override;
    CAcqDialog(const CAcqDialog&) = delete;
    CAcqDialog& operator=(const CAcqDialog&) = delete;

    bool ShowDialog() const { return show_; }

    // ---- Window life (called by the window adapter on the dialog's thread) ----
    void Attach(IDialogWindow* window) { window_ = window; }
    bool OnInitDialog();
    void OnCommand(int id);
    // The Cancel button (control 1, which carries the OK command's id) or Enter: asks the
    // operation to stop; never ends the dialog itself.
    void OnCancelButton();
    // WM_CLOSE or Esc: true when the dialog may end now. While the reader thread runs, only its
    // own close, after it has handed its result over, may end it (the result is taken then).
    bool OnCloseRequest();
    void DestroyWindow();
    // Once the window is gone: the port's close ends (the monitor thread has ended).
    void FinishClose();
    void OnTimer(int id);
    // A decoded reply frame, handed over by the port on the dialog's thread.
    void OnTerminalReply(const uint8_t* frame, int length);

    // True once the reader thread was left behind in the library (its session says so).
    bool ReaderAbandoned() const;
    // A handler failed (an exception): the dialog is ended at once. A reader thread still at work
    // is left behind, as after an overrun's grace; nothing of it reaches the ended call.
    void EndAfterFailure();

  private:
    // The settings a dialog run uses, read once when it starts; their defaults are the ones the
    // reads give (a mode reads only the ones it uses).
    struct Settings {
        long baudRate = 0;
        int deviceType = 0;
        int globalTimeout = 0;
        int stepTimeout = 0;
        int readerTimeout = 0;
        int fontSize = 0;
        std::string fontFace;
        bool cancelButton = false;
        std::string cancelText;
        std::string logo;
    };
    void ReadSettings();
    bool OpenTerminal();
    void InitProgramParam();
    void StartReader();
    // Takes the reader thread's result once it has been handed over; false while it has not.
    bool TakeReaderResult();
    void WatchReader();
    std::string ReadMessage(const PromptText& prompt) const;

    // IOperationHost
    ITerminalPort& Port() override { return env_.port; }
    void ShowPrompt(const PromptText& prompt, bool log) override;
    void Close() override;

    DialogEnvironment& env_;
    Operation& operation_;
    const bool show_;
    const int comPort_;
    std::string iniPath_;
    Settings settings_;
    int cancelCode_ = 0;
    IDialogWindow* window_ = nullptr;
    std::unique_ptr<ReaderHost> reader_;  // the card read a reader mode hosts
};

// Runs an operation in a dialog, modally on the calling thread, until the dialog has closed and
// been destroyed.
class IDialogRunner {
  public:
    virtual ~IDialogRunner() = default;
    // `show`: whether the window may become visible; `comPort`: the terminal's or the reader's.
    virtual void Run(Operation& operation, bool show, int comPort) = 0;
};

}  // namespace quillon
