#include "acqdialog/acq_dialog_win32.h"

#include <commctrl.h>
#include <winsock2.h>

#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "acqdialog/logo_layout.h"
#include "acqdialog/picture_win32.h"
#include "cardreader/reader_session.h"
#include "foundation/log.h"
#include "foundation/phase_stamps.h"
#include "foundation/wait_win32.h"
#include "terminal/frame_codec.h"

namespace quillon {

namespace {

// A complete reply frame, sent (synchronously) by the port's monitor thread to the dialog's window:
// wParam is its length, lParam the frame.
const UINT WM_TERMINAL_REPLY = WM_USER + 2;

// The reader thread's prompt lines, sent to the dialog's thread, which alone draws: wParam 0
// repaints both lines, 4003 or 4004 sets that line to the text at lParam.
const UINT WM_READER_PROMPT = WM_APP + 1;
// Longest wait of a reader thread's message to the dialog. The dialog's thread serves them within
// milliseconds while it runs; the bound matters only to a thread whose dialog has stopped serving.
const UINT kReaderSendBoundMs = 5000;
// How long a dialog waits for its reader thread to end after the thread's close: the thread has
// left the library by then and has only its last steps to take.
const DWORD kReaderEndWaitMs = 1000;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

// The picture loader needs COM on the dialog's thread. A host that already joined an apartment
// keeps it (a multithreaded one serves the loader too); only what this run started is undone.
// Joined only when there is a picture to load: under wine, joining and leaving an apartment is
// one of the dearest steps of a dialog run.
class ComForDialog {
  public:
    ComForDialog() = default;
    ~ComForDialog() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComForDialog(const ComForDialog&) = delete;
    ComForDialog& operator=(const ComForDialog&) = delete;

    void Join() {
        if (!joined_) result_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        joined_ = true;
    }

  private:
    bool joined_ = false;
    HRESULT result_ = E_FAIL;
};

// The dialog's window as the reader thread reaches it: by handle only, through messages that the
// dialog's thread handles, each wait bounded. Once the window is gone every call fails at once,
// so a thread left behind in the library can hold this for as long as it likes.
class HwndReaderWindow : public IReaderWindow {
  public:
    explicit HwndReaderWindow(HWND hwnd) : hwnd_(hwnd) {}
    void RefreshPromptLines() override { Send(WM_READER_PROMPT, 0, 0); }
    void SetPromptLine(int line, const std::string& text) override {
        const int id = line == 1 ? kPromptLine1 : kPromptLine2;
        // The dialog's thread reads the copy while we wait. A send that ran out of time may still
        // be handled later, so its copy is left to it: a few bytes, and never in normal running.
        char* copy = new char[text.size() + 1];
        std::memcpy(copy, text.c_str(), text.size() + 1);
        if (Send(WM_READER_PROMPT, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(copy)) ||
            !IsWindow(hwnd_)) {
            delete[] copy;
        }
    }
    void SendClose() override { Send(WM_CLOSE, 0, 0); }

  private:
    bool Send(UINT message, WPARAM wParam, LPARAM lParam) {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(hwnd_, message, wParam, lParam, SMTO_NORMAL, kReaderSendBoundMs,
                                   &result) != 0;
    }
    HWND hwnd_;
};

// What a reader thread starts with: the routine and the session it runs on.
struct ReaderStart {
    ReaderThreadRoutine routine;
    ReaderSession* session;
};

// The reader thread holds a reference to this module while it runs: one left behind in the
// library must find its code still mapped when it comes back, even if the host has unloaded us.
DWORD WINAPI ReaderThreadMain(LPVOID parameter) {
    const ReaderStart start = *static_cast<ReaderStart*>(parameter);
    delete static_cast<ReaderStart*>(parameter);
    start.routine(start.session);
    FreeLibraryAndExitThread(ThisModule(), 0);
}

class DialogWindow : public IDialogWindow, public IFrameSink {
  public:
    DialogWindow(CAcqDialog& dialog, ComForDialog& com, ReaderThreadRoutine readerRoutine,
                 PromptFonts& fonts)
        : dialog_(dialog), com_(com), readerRoutine_(readerRoutine), fonts_(fonts) {
        // The event may outlive an earlier dialog (the reader library holds it open). It is not
        // cleared here: a thread left behind in the library may still be waiting on it.
        cancelEvent_ = CreateEventA(nullptr, TRUE, FALSE, "ORVMYKADCANCELEVENT");
    }
    ~DialogWindow() override {
        if (thread_ != nullptr) {
            // A thread that handed its result over has only its last steps left. One left behind
            // in the library is not waited for (it ends on its own and owns nothing of ours); a
            // prompt it had on its way is answered now rather than at its bound.
            WaitServingSentMessages(
                thread_, GetTickCount64() + (dialog_.ReaderAbandoned() ? 0 : kReaderEndWaitMs));
            CloseHandle(thread_);
        }
        if (cancelEvent_ != nullptr) CloseHandle(cancelEvent_);
    }

    HWND hwnd = nullptr;
    bool destroying = false;

    void SetTitle(const std::string& title) override { SetWindowTextA(hwnd, title.c_str()); }
    void SetItemText(int id, const std::string& text) override {
        SetDlgItemTextA(hwnd, id, text.c_str());
        // A transparent line draws its new text over the old: the picture goes back first.
        if (id == kPromptLine1 || id == kPromptLine2) RepaintPromptArea(id);
    }
    void ShowItem(int id, bool show) override {
        ShowWindow(GetDlgItem(hwnd, id), show ? SW_SHOW : SW_HIDE);
    }
    void EnableItem(int id, bool enable) override { EnableWindow(GetDlgItem(hwnd, id), enable); }
    void RefreshPromptLines(bool line1, bool line2) override {
        if (line1) RepaintPromptArea(kPromptLine1);
        if (line2) RepaintPromptArea(kPromptLine2);
    }
    void StartTimer(int id, int milliseconds) override {
        SetTimer(hwnd, static_cast<UINT_PTR>(id), static_cast<UINT>(milliseconds), nullptr);
    }
    void StopTimer(int id) override { KillTimer(hwnd, static_cast<UINT_PTR>(id)); }
    void PostCommand(int id) override {
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    void SendClose() override { SendMessageA(hwnd, WM_CLOSE, 0, 0); }
    void ApplyFont(int height, const std::string& face) override {
        HFONT font = fonts_.Get(height, face);
        const int ids[] = {kPromptLine1, kPromptLine2, kButtonCancel};
        for (int id : ids) {
            SendDlgItemMessageA(hwnd, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
    }
    void LoadDialogImage(const std::string& path) override {
        // No picture, or one the loader does not take: the template layout stays.
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        com_.Join();
        if (!m_picLogo.Load(path.c_str())) return;
        const LogoLayout layout =
            LayoutForLogo(m_picLogo.m_nWidth, m_picLogo.m_nHeight, GetSystemMetrics(SM_CXSCREEN),
                          GetSystemMetrics(SM_CYSCREEN));
        // The picture keeps the window's size until the first paint measures it on the screen.
        m_picLogo.m_nWidth = layout.window.width;
        m_picLogo.m_nHeight = layout.window.height;
        Place(hwnd, layout.window);
        Place(GetDlgItem(hwnd, kPromptLine1), layout.line1);
        Place(GetDlgItem(hwnd, kPromptLine2), layout.line2);
    }
    // The logo at its natural size in the paint device's pixels; the transparent prompt lines
    // draw over it.
    void OnPaint() {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        m_picLogo.UpdateSizeOnDC(dc);
        m_picLogo.Draw(dc, 0, 0, m_picLogo.m_nWidth, m_picLogo.m_nHeight, 0, 0);
        EndPaint(hwnd, &paint);
    }
    // From the reader thread: 0 repaints both prompt lines, a control id sets that line's text.
    void OnReaderPrompt(WPARAM id, LPARAM text) {
        if (id == 0) {
            RefreshPromptLines(true, true);
        } else {
            SetItemText(static_cast<int>(id), reinterpret_cast<const char*>(text));
        }
    }
    // The prompt lines have no background of their own: the logo shows through.
    static INT_PTR PromptLineColours(WPARAM dc, LPARAM control) {
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(control));
        if (id != kPromptLine1 && id != kPromptLine2) return FALSE;
        SetBkMode(reinterpret_cast<HDC>(dc), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    }
    void Wait(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
    void InitSocketLayer() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    void SignalCancel() override {
        if (cancelEvent_ != nullptr) SetEvent(cancelEvent_);
    }
    void ResetCancel() override {
        if (cancelEvent_ != nullptr) ResetEvent(cancelEvent_);
    }
    IFrameSink* ReplySink() override { return this; }
    // On the monitor thread: sent, not posted, so the frame stays valid while the dialog reads it.
    // A frame that reaches a window already gone is dropped.
    void OnFrame(const uint8_t* frame, int length) override {
        StampPhase(Phase::kReplyFrame);
        HWND target = hwnd;
        if (target != nullptr && IsWindow(target)) {
            SendMessageA(target, WM_TERMINAL_REPLY, static_cast<WPARAM>(length),
                         reinterpret_cast<LPARAM>(frame));
        }
    }
    bool StartReaderThread(ReaderSession& session) override {
        if (readerRoutine_ == nullptr) return false;
        HMODULE module = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCSTR>(&ReaderThreadMain), &module)) {
            return false;
        }
        session.AttachWindow(std::unique_ptr<IReaderWindow>(new HwndReaderWindow(hwnd)));
        session.Retain();
        ReaderStart* start = new ReaderStart{readerRoutine_, &session};
        thread_ = CreateThread(nullptr, 0, ReaderThreadMain, start, 0, nullptr);
        if (thread_ == nullptr) {
            delete start;
            session.Release();
            FreeLibrary(module);
            return false;
        }
        return true;
    }

  private:
    // The dialog repaints the area under a prompt line, picture and all, which wipes whatever
    // text was drawn there; then the line draws its current text again. Repainting the dialog
    // alone would leave a line whose text did not change blank over the picture.
    void RepaintPromptArea(int id) {
        // A hidden window has nothing on screen to wipe; it paints afresh if it is ever shown.
        // From the card-reader thread every repaint is a round trip to the dialog's thread.
        if (!IsWindowVisible(hwnd)) return;
        RECT rect;
        HWND item = GetDlgItem(hwnd, id);
        if (item == nullptr || !GetWindowRect(item, &rect)) return;
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&rect), 2);
        RedrawWindow(hwnd, &rect, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_NOCHILDREN);
        RedrawWindow(item, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }

    static void Place(HWND window, const PixelRect& rect) {
        MoveWindow(window, rect.left, rect.top, rect.width, rect.height, TRUE);
    }

    CPicture m_picLogo;
    CAcqDialog& dialog_;
    ComForDialog& com_;
    const ReaderThreadRoutine readerRoutine_;
    PromptFonts& fonts_;
    HANDLE cancelEvent_ = nullptr;
    HANDLE thread_ = nullptr;
};

struct DialogRun {
    CAcqDialog* dialog;
    DialogWindow* window;
    // What a handler threw: an exception cannot unwind through the system's frames around the
    // window procedure, so it is caught there and thrown again once the dialog has ended.
    std::exception_ptr failure;
};

INT_PTR HandleMessage(DialogRun* run, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogRun* run = reinterpret_cast<DialogRun*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == WM_INITDIALOG) run = reinterpret_cast<DialogRun*>(lParam);
    try {
        return HandleMessage(run, hwnd, message, wParam, lParam);
    } catch (...) {
        if (run == nullptr) return FALSE;
        if (!run->failure) run->failure = std::current_exception();
        run->dialog->EndAfterFailure();
        if (!run->window->destroying) EndDialog(hwnd, IDABORT);
        return TRUE;
    }
}

INT_PTR HandleMessage(DialogRun* run, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(run));
        run->window->hwnd = hwnd;
        return run->dialog->OnInitDialog() ? TRUE : FALSE;
    }
    if (run == nullptr) return FALSE;
    CAcqDialog& dialog = *run->dialog;
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDCANCEL) {
                if (dialog.OnCloseRequest()) EndDialog(hwnd, IDOK);
            } else {
                dialog.OnCommand(id);
            }
            return TRUE;
        }
        case WM_CLOSE:
            if (!run->window->destroying && dialog.OnCloseRequest()) EndDialog(hwnd, IDOK);
            return TRUE;
        case WM_TIMER:
            if (!run->window->destroying) dialog.OnTimer(static_cast<int>(wParam));
            return TRUE;
        case WM_TERMINAL_REPLY:
            // A reply that reaches a closing dialog is dropped.
            if (!run->window->destroying) {
                dialog.OnTerminalReply(reinterpret_cast<const uint8_t*>(lParam),
                                       static_cast<int>(wParam));
            }
            return TRUE;
        case WM_READER_PROMPT:
            if (!run->window->destroying) run->window->OnReaderPrompt(wParam, lParam);
            return TRUE;
        case WM_SHOWWINDOW:
            SetWindowPos(hwnd, dialog.ShowDialog() ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE);
            return FALSE;
        case WM_WINDOWPOSCHANGING:
            if (!dialog.ShowDialog())
                reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
            return FALSE;
        case WM_PAINT:
            run->window->OnPaint();
            return TRUE;
        case WM_CTLCOLORSTATIC:
            return DialogWindow::PromptLineColours(wParam, lParam);
        case WM_DESTROY:
            run->window->destroying = true;
            dialog.DestroyWindow();
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

HFONT PromptFonts::Get(int height, const std::string& face) {
    auto key = std::make_pair(height, face);
    auto it = fonts_.find(key);
    if (it != fonts_.end()) return it->second;
    HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH, face.c_str());
    fonts_[key] = font;
    return font;
}

namespace {
// The host's phase hook, looked up once: a host that does not export one leaves it null.
void FindPhaseHook() {
    static const bool found = [] {
        const FARPROC hook = GetProcAddress(GetModuleHandleA(nullptr), "QuillonPhaseStamp");
        PhaseHookSlot().store(reinterpret_cast<PhaseHook>(reinterpret_cast<void*>(hook)));
        return true;
    }();
    (void)found;
}
}  // namespace

void Win32DialogRunner::Run(Operation& operation, bool show, int comPort) {
    FindPhaseHook();
    StampPhase(Phase::kDialogStart);
    CAcqDialog dialog(env_, operation, show, comPort);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // Declared before the window, so the logo is released while COM is still up.
    ComForDialog com;
    DialogWindow window(dialog, com, readerRoutine_, fonts_);
    dialog.Attach(&window);
    DialogRun run{&dialog, &window, nullptr};
    const INT_PTR result = DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(4000), nullptr,
                                           DialogProc, reinterpret_cast<LPARAM>(&run));
    StampPhase(Phase::kDialogEnded);
    dialog.FinishClose();
    dialog.Attach(nullptr);
    if (run.failure) std::rethrow_exception(run.failure);
    if (result == -1) WriteLog(Format("DIALOG NOT CREATED (error %lu)", GetLastError()));
}

}  // namespace quillon
