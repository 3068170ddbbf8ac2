#include "acqdialog/acq_dialog.h"

#include <cstdlib>
#include <cstring>

#include "cardreader/reader_host.h"
#include "foundation/log.h"
#include "foundation/phase_stamps.h"
#include "foundation/setting_table.h"
#include "foundation/sizes.h"

namespace quillon {

namespace {
// A baud text that is not a number gives 0, as the C runtime reads it.
long ParseLong(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }
}  // namespace

CAcqDialog::CAcqDialog(DialogEnvironment& environment, Operation& operation, bool show, int comPort)
    : env_(environment),
      operation_(operation),
      show_(show),
      comPort_(comPort),
      iniPath_(LocateIni(env_.files, IniSearch::kDialog)) {
    WriteLog("CAcqDialog: Constructor");
}

CAcqDialog::~CAcqDialog() = default;

void CAcqDialog::EndAfterFailure() {
    if (reader_ != nullptr) reader_->Abandon();
    operation_.SetRetCode(kResultInternalError);
}

bool CAcqDialog::ReaderAbandoned() const { return reader_ != nullptr && reader_->Abandoned(); }

std::string CAcqDialog::ReadMessage(const PromptText& prompt) const {
    return env_.profile.ReadString(iniPath_, "MESSAGE", prompt.key, prompt.text, kPromptTextSize);
}

void CAcqDialog::ShowPrompt(const PromptText& prompt, bool log) {
    const std::string text = ReadMessage(prompt);
    window_->SetItemText(kPromptLine2, text);
    if (log) WriteLog(text);
}

void CAcqDialog::Close() { window_->SendClose(); }

void CAcqDialog::ReadSettings() {
    IProfile& profile = env_.profile;
    const auto number = [&](Setting id) { return ReadSetting(profile, iniPath_, id); };
    const auto text = [&](Setting id) { return ReadSettingText(profile, iniPath_, id); };
    if (operation_.Setup().readerLink) {
        settings_.readerTimeout = number(Setting::kReaderTimeout);
    } else {
        settings_.baudRate = ParseLong(text(Setting::kBaudRate));
        settings_.deviceType = number(Setting::kDeviceType);
        settings_.globalTimeout = number(Setting::kTerminalGlobalTimeout);
        settings_.stepTimeout = number(Setting::kTerminalStepTimeout);
    }
    settings_.fontSize = number(Setting::kFontSize);
    settings_.fontFace = text(Setting::kFontFace);
    settings_.cancelButton = number(Setting::kCancelButton) != 0;
    if (settings_.cancelButton) settings_.cancelText = text(Setting::kCancelText);
    settings_.logo = text(Setting::kLogo);
}

bool CAcqDialog::OpenTerminal() {
    WriteLog(Format("Before Calling Init Port (COM%d, %ld)", comPort_, settings_.baudRate));
    const bool opened = env_.port.InitPort(static_cast<unsigned>(comPort_),
                                           static_cast<unsigned>(settings_.baudRate), 'N', 8, 1,
                                           kCommEventsRxCharCts, 1024, window_->ReplySink());
    StampPhase(Phase::kPortOpen);
    window_->StartTimer(kTimerGlobal, settings_.globalTimeout);
    WriteLog(Format("GLOBTIMEOUT = [%d] TIMEOUT = [%d] DEVICE TYPE = [%d]", settings_.globalTimeout,
                    settings_.stepTimeout, settings_.deviceType));
    WriteLog(Format("GT=%d T=%d type=%d INI=%s", settings_.globalTimeout, settings_.stepTimeout,
                    settings_.deviceType, iniPath_.c_str()));
    window_->StartTimer(kTimerStep, settings_.stepTimeout);
    const bool monitoring = opened && env_.port.StartMonitor();
    StampPhase(Phase::kMonitorStarted);
    if (!monitoring) {
        // The close keeps no copy of the handle, and a failed open leaves none.
        env_.port.ClosePort();
        window_->StopTimer(kTimerGlobal);
        window_->StopTimer(kTimerStep);
        operation_.SetRetCode(kResultOpenPortFailed);
        window_->SendClose();
        return false;
    }
    operation_.SetRetCode(kResultNoResult);
    return true;
}

bool CAcqDialog::OnInitDialog() {
    StampPhase(Phase::kDialogInit);
    env_.locator.GetIniPath();
    WriteLog("Begin Dialog");
    cancelCode_ = 0;
    window_->ShowItem(kProgressBar, false);
    ReadSettings();
    StampPhase(Phase::kSettingsRead);

    if (!operation_.Setup().readerLink) {
        if (!OpenTerminal()) return false;
    } else {
        window_->InitSocketLayer();
        window_->StartTimer(kTimerReader, settings_.readerTimeout);
        window_->RefreshPromptLines(false, true);
        WriteLog(Format("CSSSERVER GLOBTIMEOUT = [%d]", settings_.readerTimeout));
    }

    window_->ApplyFont(settings_.fontSize, settings_.fontFace);
    window_->ShowItem(kButtonCancel, settings_.cancelButton);
    if (settings_.cancelButton) window_->SetItemText(kButtonCancel, settings_.cancelText);

    WriteLog("Begin Lode Dialog Image File");
    window_->LoadDialogImage(settings_.logo);
    WriteLog("End Lode Dialog Image File");

    InitProgramParam();
    WriteLog("CAcqDialog: Initdialog end");
    StampPhase(Phase::kInitDone);
    return true;
}

void CAcqDialog::InitProgramParam() {
    WriteLog("Begin Init Program Param");
    const ModeSetup& setup = operation_.Setup();
    if (setup.title != nullptr) window_->SetTitle(setup.title);
    const int lines[] = {kPromptLine1, kPromptLine2};
    const PromptText* prompts[] = {&setup.line1, &setup.line2};
    for (int i = 0; i < 2; ++i) {
        if (prompts[i]->key == nullptr) continue;
        const std::string text = ReadMessage(*prompts[i]);
        window_->SetItemText(lines[i], text);
        WriteLog(text);
    }
    switch (setup.start) {
        case StartAction::kPostEnroll:
            window_->PostCommand(kButtonEnroll);
            break;
        case StartAction::kPostVerify:
            window_->PostCommand(kButtonVerify);
            break;
        case StartAction::kSendThenClose:
            operation_.SendCommand(*this);
            StampPhase(Phase::kFrameHandedOver);
            // The reply is not awaited, but the frame must be on the line before the port closes.
            env_.port.WaitForWrite(2000);
            operation_.SetRetCode(0);
            window_->SendClose();
            break;
        case StartAction::kStartReader:
            StartReader();
            break;
        case StartAction::kSend:
            operation_.SendCommand(*this);
            StampPhase(Phase::kFrameHandedOver);
            break;
    }
    WriteLog("End Init Program Param");
}

void CAcqDialog::StartReader() {
    reader_.reset(new ReaderHost(env_.readers, *window_));
    const int code = reader_->Start(env_.profile, operation_.ReaderStart(comPort_, iniPath_));
    if (code == 0) return;
    operation_.SetRetCode(code);
    window_->SendClose();
}

void CAcqDialog::OnCommand(int id) {
    if (id == kButtonEnroll || id == kButtonVerify) {
        operation_.SendCommand(*this);
        StampPhase(Phase::kFrameHandedOver);
    } else if (id == kButtonCancel) {
        OnCancelButton();
    }
}

void CAcqDialog::OnCancelButton() {
    cancelCode_ = kResultCancelled;
    window_->EnableItem(kButtonCancel, false);
    window_->SignalCancel();
    if (reader_ == nullptr) return;
    reader_->Cancel(cancelCode_);
    if (reader_->Running()) WriteLog("CLOSE CALLED WITHOUT THREAD END");
}

bool CAcqDialog::OnCloseRequest() {
    if (reader_ != nullptr && reader_->Running() && !TakeReaderResult()) {
        WriteLog("CLOSE CALLED WITHOUT THREAD END");
        return false;
    }
    WriteLog(Format("Return CODE : %d  -  CANCEL CODE : %d", operation_.RetCode(), cancelCode_));
    StampPhase(Phase::kClosing);
    return true;
}

bool CAcqDialog::TakeReaderResult() {
    const ReaderResult* r = reader_->TakeResult();
    if (r == nullptr) return false;
    operation_.TakeReaderResult(*r);
    // Installed here, on the caller's thread, so that a thread left behind can never change the
    // key under a later terminal command.
    if (r->linkKeySet) env_.port.InstallLinkKey(r->linkKey);
    return true;
}

void CAcqDialog::DestroyWindow() {
    StampPhase(Phase::kDestroying);
    window_->StopTimer(kTimerGlobal);
    window_->StopTimer(kTimerStep);
    if (reader_ != nullptr) window_->StopTimer(kTimerReaderWatch);  // a read still watched
    WriteLog("Destroy Windows");
    // The monitor thread ends while the window is torn down; FinishClose waits for it.
    env_.port.StopPort();
}

void CAcqDialog::FinishClose() {
    env_.port.FinishClose();
    StampPhase(Phase::kPortClosed);
}

void CAcqDialog::OnTerminalReply(const uint8_t* frame, int length) {
    window_->RefreshPromptLines(true, true);
    operation_.OnReply(frame, length, *this);
    StampPhase(Phase::kReplyHandled);
}

void CAcqDialog::OnTimer(int id) {
    if (id == kTimerReader) {
        // Provisional: the close is refused while the reader thread runs, and the thread's own
        // result replaces this one when it ends. A read that makes progress is never cut.
        window_->StopTimer(kTimerReader);
        operation_.SetRetCode(kResultTimeout);
        WriteLog("Timeout");
        window_->SendClose();
    } else if (id == kTimerReaderWatch) {
        WatchReader();
    } else if (id == kTimerGlobal || id == kTimerStep) {
        window_->RefreshPromptLines(false, true);
        window_->StopTimer(id);
        window_->SetItemText(kPromptLine2, "Timeout");
        WriteLog("Timeout");
        window_->Wait(1000);
        operation_.SetRetCode(kResultTimeout);
        window_->SendClose();
    }
}

void CAcqDialog::WatchReader() {
    if (reader_ == nullptr) return;
    switch (reader_->OnWatchTick()) {
        case ReaderHost::Tick::kGivenUp:
            operation_.SetRetCode(kResultTimeout);
            window_->SendClose();
            break;
        case ReaderHost::Tick::kCloseLost:
            window_->SendClose();
            break;
        case ReaderHost::Tick::kNothing:
            break;
    }
}

}  // namespace quillon
