#include "acqdialog/operations.h"

#include <cstring>

#include "foundation/log.h"

namespace quillon {

namespace {

// The terminal's template sizes: 598 bytes in the enrolment format this system uses (the
// terminal's other one, 512 bytes, is never asked for), 1196 in the two-finger template format.
int EnrollTemplateSize(int templateFormat) { return templateFormat == 2 ? 1196 : 598; }

void Send(IOperationHost& host, const uint8_t* frame, int length) {
    host.Port().SendToPort(frame, length);
}

}  // namespace

ReaderInputs Operation::ReaderStart(int comPort, const std::string& settingsPath) const {
    return ReaderInputs{comPort, MyKadReadPlan{false, false}, settingsPath};
}

// ---- Terminal events ----

void TerminalOperation::OnReply(const uint8_t* frame, int length, IOperationHost& host) {
    const uint8_t code = ReplyByte(frame, length, 3);
    if (code == kReplyEvent) {
        HandleEvent(ParseEventCode(frame, length), host);
    } else if (!HandleReply(code, frame, length, host)) {
        HandleOtherFamily(code, frame, length, host);
    }
}

void TerminalOperation::HandleOtherFamily(uint8_t code, const uint8_t* frame, int length,
                                          IOperationHost& host) {
    // A terminal answers the command it was sent, but one that answers another still gets the
    // same treatment as ever: the reply sets the result code, installs a key, closes the dialog.
    // Its data has no reader in this operation and is dropped with the stand-in.
    auto actAs = [&](TerminalOperation&& other) {
        other.retCode_ = retCode_;
        if (other.HandleReply(code, frame, length, host)) retCode_ = other.retCode_;
    };
    if (code == CMD_ENROLL || code == CMD_VERIFY || code == kReplyEnroll256 ||
        code == kReplyVerify256) {
        actAs(FingerOperation(Mode::kEnroll, 1));
    } else if (TextQueryAnswering(code) != nullptr || code == CMD_SET_TERMINAL_TIME) {
        actAs(TerminalQuery(Mode::kSetTerminalTime));
    } else if (code == CMD_GETSIGNATURE) {
        actAs(SignatureOperation());
    }
}

void TerminalOperation::HandleEvent(uint8_t event, IOperationHost& host) {
    const bool verify = GetMode() == Mode::kVerify;
    const PromptVariant variant = GetMode() == Mode::kEnroll ? PromptVariant::kEnroll
                                  : verify                   ? PromptVariant::kVerify
                                                             : PromptVariant::kOther;
    // 0xA8 to 0xB0 and codes outside 0xA0 to 0xB7 have no prompt and are ignored.
    const PromptText* prompt = PromptForCode(event, variant);
    if (prompt == nullptr) return;
    // The card events leave the log alone but for their removal prompt; the finger results are
    // logged in a verification only.
    const bool logged = event == 0xA3 || event == 0xA4                                     ? verify
                        : event == 0xA7 || event == 0xB1 || event == 0xB2 || event == 0xB4 ? false
                                                                                           : true;
    host.ShowPrompt(*prompt, logged);
    switch (event) {
        case 0xA3:
            fingerVerified_ = true;
            if (!verify) retCode_ = kResultMyKadReadFailed;
            break;
        case 0xA4:
            fingerVerified_ = false;
            if (!verify) retCode_ = kResultMyKadNotVerified;
            break;
        case 0xA7:
            retCode_ = kResultEnrollFailed;
            host.Close();
            break;
        case 0xB1:
            if (!fingerVerified_) {
                retCode_ = kResultMyKadNotVerified;
                host.Close();
            }
            break;
        case 0xB2:
            retCode_ = kResultMyKadReadFailed;
            host.Close();
            break;
        case 0xB3:
        case 0xB4:
            if (event == 0xB3) WriteLog(Format("Ret code when Remove MyKAD : %d", retCode_));
            if (retCode_ == kResultMyKadNotVerified || retCode_ == kResultMyKadReadFailed) {
                host.Close();
            }
            break;
        default:
            break;
    }
}

// ---- Enrolment and verification ----

void FingerOperation::SendCommand(IOperationHost& host) {
    if (GetMode() == Mode::kEnroll) {
        uint8_t frame[kBuildAreaSize] = {0};
        Send(host, frame, BuildEnrollFrame(frame, templateFormat_));
    } else {
        uint8_t frame[kVerifyBuildAreaSize] = {0};
        Send(host, frame,
             BuildVerifyFrame(frame, templateFormat_,
                              reinterpret_cast<const uint8_t*>(verifyTemplate_.data()),
                              verifyTemplate_.size()));
    }
}

bool FingerOperation::HandleReply(uint8_t code, const uint8_t* frame, int length,
                                  IOperationHost& host) {
    if (code != CMD_ENROLL && code != CMD_VERIFY && code != kReplyEnroll256 &&
        code != kReplyVerify256) {
        return false;
    }
    const int templateSize = EnrollTemplateSize(templateFormat_);
    const ResultReply reply = ParseResultReply(frame, length, templateSize);
    const bool verifyReply = code == CMD_VERIFY || code == kReplyVerify256;
    if (!reply.ok) {
        WriteLog(Format("RECV: Error Code 0x%02x", reply.status));
        retCode_ = kResultTerminalError;
        // A failed enrolment waits for the terminal's later frames or the time-out.
        if (verifyReply) host.Close();
        return true;
    }
    retCode_ = 0;
    if (code == CMD_ENROLL) {
        template_.assign(reinterpret_cast<const char*>(reply.templ.data),
                         static_cast<size_t>(reply.templ.length));
        // The template's size is fixed by the format; a short frame leaves zeros behind.
        template_.resize(static_cast<size_t>(templateSize), '\0');
    } else if (code == kReplyEnroll256) {
        template_.assign(reinterpret_cast<const char*>(reply.templ.data),
                         static_cast<size_t>(reply.templ.length));
        WriteLog(Format("Copy Minutiae = offset 12 Size %d", reply.templ.length));
    } else {
        WriteLog(code == CMD_VERIFY ? "Close after Verify" : "Close after end Verify");
    }
    host.Close();
    return true;
}

// ---- Terminal queries ----

TerminalQuery::TerminalQuery(Mode mode, const char* terminalTime) : TerminalOperation(mode) {
    std::memset(terminalTime_, 0, sizeof terminalTime_);
    if (terminalTime != nullptr) std::memcpy(terminalTime_, terminalTime, sizeof terminalTime_);
}

void TerminalQuery::SendCommand(IOperationHost& host) {
    uint8_t frame[kBuildAreaSize] = {0};
    const uint8_t command = Setup().query.command;
    Send(host, frame,
         command != 0 ? BuildQueryFrame(frame, command)
                      : BuildSetTerminalTimeFrame(frame, terminalTime_));
}

bool TerminalQuery::HandleReply(uint8_t code, const uint8_t* frame, int length,
                                IOperationHost& host) {
    const ModeSetup* answered = TextQueryAnswering(code);
    if (answered == nullptr && code != CMD_SET_TERMINAL_TIME) return false;
    if (code == CMD_GETLLTSTATUS) {
        const uint8_t* key = ParseStatusLinkKey(frame, length);
        if (key != nullptr) {
            host.Port().InstallLinkKey(key);
        } else {
            WriteLog("LINK KEY MISSING IN STATUS REPLY");
        }
    }
    if (answered != nullptr && answered->mode == GetMode()) {
        const ByteSpan span = ParseTextField(frame, length, answered->query.text);
        const char* text = reinterpret_cast<const char*>(span.data);
        size_t n = 0;
        while (n < static_cast<size_t>(span.length) && text[n] != '\0') ++n;
        text_.assign(text == nullptr ? "" : text, n);
    }
    retCode_ = 0;
    host.Close();
    return true;
}

// ---- Signature ----

void SignatureOperation::SendCommand(IOperationHost& host) {
    result_.data.fill(0);
    result_.lengthField = 0;
    uint8_t frame[kBuildAreaSize] = {0};
    Send(host, frame, BuildGetSignatureFrame(frame));
}

bool SignatureOperation::HandleReply(uint8_t code, const uint8_t* frame, int length,
                                     IOperationHost& host) {
    if (code != CMD_GETSIGNATURE) return false;
    result_.data.fill(0);
    result_.lengthField = 0;
    const SignatureReply reply = ParseSignatureReply(frame, length);
    if (reply.ok) {
        retCode_ = 0;
        result_.lengthField = reply.lengthField;
        if (reply.data.length > 0) {
            std::memcpy(result_.data.data(), reply.data.data,
                        static_cast<size_t>(reply.data.length));
        }
    } else {
        retCode_ = kResultNoResult;
    }
    host.Close();
    return true;
}

// ---- Card reads ----

ReaderInputs CardReadOperation::ReaderStart(int comPort, const std::string& settingsPath) const {
    const ModeSetup& setup = Setup();
    return ReaderInputs{comPort, MyKadReadPlan{setup.readsPhoto, setup.verifiesFinger},
                        settingsPath};
}

void CardReadOperation::TakeReaderResult(const ReaderResult& r) {
    retCode_ = r.retCode;
    result_.retCode = r.retCode;
    if (r.fullRecordSet) result_.fullRecord = r.fullRecord;
    if (r.openDataSet) {
        std::memcpy(result_.openData, r.openData, sizeof result_.openData);
        result_.openDataLength = r.openDataLength;
    }
    if (r.altDataSet) {
        std::memcpy(result_.altData, r.altData, sizeof result_.altData);
        result_.altDataLength = r.altDataLength;
    }
    if (r.photoSet) result_.photo = r.photo;
}

}  // namespace quillon
