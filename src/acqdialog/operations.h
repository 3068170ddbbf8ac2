// The operations a dialog runs: one object per command family, with its typed mode, its inputs
// (given at construction) and a typed result that the runner reads back once the dialog has
// ended. The dialog window only hosts an operation: it opens the link, shows the prompts, runs
// the timers and hands each reply to the operation.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "cardreader/reader_session.h"
#include "foundation/results.h"
#include "serial/terminal_port.h"
#include "terminal/prompts.h"
#include "terminal/terminal_commands.h"
#include "terminal/terminal_replies.h"

namespace quillon {

enum class Mode {
    kEnroll,
    kVerify,
    kSetTerminalTime,
    kMyKad,
    kMyKadOnly,
    kMyKadNoVerifyNoPhoto,
    kMyKadNoVerify,
    kGetLltStatus,
    kGetSn,
    kGetSignature,
};

// How a mode starts its operation once the dialog is up.
enum class StartAction {
    kPostEnroll,     // post the hidden button 4000, whose handler sends the command
    kPostVerify,     // post the hidden button 4001, likewise
    kSendThenClose,  // send the command, then end at once with 0 (the reply is not awaited)
    kStartReader,    // start the card-reader thread
    kSend,           // send the command and wait for its reply
};

// A terminal query answered by a text: the command sent (0: the mode is none), where its reply
// holds the text, the runner's name in the log, and whether a status query goes first. A query
// never shows its dialog.
struct TextQuery {
    uint8_t command;
    TextField text;
    const char* runner;
    bool statusFirst;
};

// One row per mode: its name (as the log knows it), its link, the window title and prompt lines of
// its set-up, how it starts, for the reader modes what the read takes besides the card's record,
// and for a text query what it sends and reads. A null title or key leaves that element as the
// template has it. The MyKad commands and the text queries name their mode (command/commands.h),
// and the reply record reads photo and label from its row.
struct ModeSetup {
    Mode mode;
    const char* name;
    bool readerLink;  // the card-reader library; else the terminal port
    const char* title;
    PromptText line1;
    PromptText line2;
    StartAction start;
    // Reader modes: the photo is read and sent; the finger is verified, and a labelled record
    // says "VERIFIED" (the command's kind, not the outcome of any verification).
    bool readsPhoto;
    bool verifiesFinger;
    TextQuery query;
};

inline constexpr PromptText kNoPrompt = {nullptr, nullptr};
inline constexpr TextQuery kNoQuery = {0, {0, 0, 0, 0}, nullptr, false};

inline constexpr ModeSetup kModes[] = {
    {Mode::kEnroll,
     "ENROLL",
     false,
     "ENROLLMENT",
     {"E1", "Performing ENROLLMENT..."},
     kNoPrompt,
     StartAction::kPostEnroll,
     false,
     false,
     kNoQuery},
    {Mode::kVerify,
     "VERIFY",
     false,
     "VERIFY",
     {"V1", "Performing VERIFICATION..."},
     {"V2", "Place Finger\r\nLetak jari"},
     StartAction::kPostVerify,
     false,
     false,
     kNoQuery},
    {Mode::kSetTerminalTime, "SET_TERMINAL_TIME", false, nullptr, kNoPrompt, kNoPrompt,
     StartAction::kSendThenClose, false, false, kNoQuery},
    {Mode::kMyKad, "MYKAD", true, "MYKAD", kNoPrompt, kNoPrompt, StartAction::kStartReader, true,
     true, kNoQuery},
    {Mode::kMyKadOnly, "MYKADONLY", true, "MYKAD", kNoPrompt, kNoPrompt, StartAction::kStartReader,
     false, true, kNoQuery},
    {Mode::kMyKadNoVerifyNoPhoto, "MYKADNOVERIFYNOPHOTO", true, "MYKAD", kNoPrompt, kNoPrompt,
     StartAction::kStartReader, false, false, kNoQuery},
    {Mode::kMyKadNoVerify, "MYKADNOVERIFY", true, "MYKAD", kNoPrompt, kNoPrompt,
     StartAction::kStartReader, true, false, kNoQuery},
    {Mode::kGetLltStatus,
     "GETLLTSTATUS",
     false,
     nullptr,
     kNoPrompt,
     kNoPrompt,
     StartAction::kSend,
     false,
     false,
     {CMD_GETLLTSTATUS, kCustomerNameField, "GetLLTStatus", false}},
    {Mode::kGetSn,
     "GETSN",
     false,
     nullptr,
     kNoPrompt,
     kNoPrompt,
     StartAction::kSend,
     false,
     false,
     {CMD_GETSN, kSerialNumberField, "GetSerialNumber", true}},
    {Mode::kGetSignature,
     "GETSIGNATURE",
     false,
     "SIGNATURE",
     {"S1", "Signature"},
     {"S2", "Place Sign on the Screen"},
     StartAction::kSend,
     false,
     false,
     kNoQuery},
};

constexpr const ModeSetup& SetupFor(Mode mode) {
    for (const ModeSetup& row : kModes) {
        if (row.mode == mode) return row;
    }
    return kModes[0];  // not reached: every mode has its row
}

// The text query whose command a reply answers, or null.
constexpr const ModeSetup* TextQueryAnswering(uint8_t code) {
    for (const ModeSetup& row : kModes) {
        if (row.query.command != 0 && row.query.command == code) return &row;
    }
    return nullptr;
}

// What an operation may do to the dialog that runs it, on the dialog's thread.
class IOperationHost {
  public:
    virtual ~IOperationHost() = default;
    virtual ITerminalPort& Port() = 0;
    // Shows the prompt's text from the settings in line 2; also written to the log when `log`.
    virtual void ShowPrompt(const PromptText& prompt, bool log) = 0;
    // Ends the dialog (WM_CLOSE, sent).
    virtual void Close() = 0;
};

class Operation {
  public:
    explicit Operation(Mode mode) : mode_(mode) {}
    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    Mode GetMode() const { return mode_; }
    const ModeSetup& Setup() const { return SetupFor(mode_); }
    // The result code: -10 until the dialog starts, then the dialog's or the operation's own.
    int RetCode() const { return retCode_; }
    void SetRetCode(int code) { retCode_ = code; }

    // Sends the operation's terminal command.
    virtual void SendCommand(IOperationHost& host) {}
    // A decoded reply frame from the terminal.
    virtual void OnReply(const uint8_t* frame, int length, IOperationHost& host) {}

    // Card reads: what the reader thread is started with, and what it handed back.
    virtual ReaderInputs ReaderStart(int comPort, const std::string& settingsPath) const;
    virtual void TakeReaderResult(const ReaderResult& result) {}

  protected:
    int retCode_ = kResultNotStarted;

  private:
    const Mode mode_;
};

// The terminal operations share the handling of the terminal's prompt events (0x94).
class TerminalOperation : public Operation {
  public:
    using Operation::Operation;
    void OnReply(const uint8_t* frame, int length, IOperationHost& host) override;

  protected:
    // Every reply of the operation's own family but the events; false for any other code.
    virtual bool HandleReply(uint8_t code, const uint8_t* frame, int length,
                             IOperationHost& host) = 0;

  private:
    void HandleEvent(uint8_t event, IOperationHost& host);
    // A reply to another family's command: it acts as it would there (result code, key, close).
    void HandleOtherFamily(uint8_t code, const uint8_t* frame, int length, IOperationHost& host);
    bool fingerVerified_ = false;  // the last verify event's outcome, for the MyKad events
};

// ENROLL and VERIFY (VERIFY2F is VERIFY with the two-finger format).
struct FingerResult {
    int retCode;
    std::string templ;  // enrolled template, binary
};

class FingerOperation : public TerminalOperation {
  public:
    // Mode::kEnroll, or Mode::kVerify with the template bytes; format 2 selects two fingers.
    FingerOperation(Mode mode, int templateFormat, std::string verifyTemplate = std::string())
        : TerminalOperation(mode),
          templateFormat_(templateFormat),
          verifyTemplate_(std::move(verifyTemplate)) {}
    void SendCommand(IOperationHost& host) override;
    FingerResult Result() const { return FingerResult{retCode_, template_}; }

  private:
    bool HandleReply(uint8_t code, const uint8_t* frame, int length, IOperationHost& host) override;
    const int templateFormat_;
    const std::string verifyTemplate_;
    std::string template_;
};

// The terminal queries: the text queries of the mode table, and the clock.
struct QueryResult {
    int retCode;
    std::string text;  // a text query's text, up to its first zero byte
};

class TerminalQuery : public TerminalOperation {
  public:
    // A text query's mode, or Mode::kSetTerminalTime with its twelve characters.
    explicit TerminalQuery(Mode mode, const char* terminalTime = nullptr);
    void SendCommand(IOperationHost& host) override;
    QueryResult Result() const { return QueryResult{retCode_, text_}; }

  private:
    bool HandleReply(uint8_t code, const uint8_t* frame, int length, IOperationHost& host) override;
    char terminalTime_[kTerminalTimeSize];
    // Only a reply to the dialog's own command fills it: a crossed or stale reply must not pass a
    // customer name off as a serial number.
    std::string text_;
};

struct SignatureResult {
    int retCode;
    uint32_t lengthField;  // of the signature reply: the data's byte count plus 7
    std::array<uint8_t, kSignatureDataSize> data;
};

class SignatureOperation : public TerminalOperation {
  public:
    SignatureOperation() : TerminalOperation(Mode::kGetSignature) { result_.data.fill(0); }
    void SendCommand(IOperationHost& host) override;
    const SignatureResult& Result() {
        result_.retCode = retCode_;
        return result_;
    }

  private:
    bool HandleReply(uint8_t code, const uint8_t* frame, int length, IOperationHost& host) override;
    SignatureResult result_{};
};

// The MyKad reads through the card-reader library; the reader thread does the work.
class CardReadOperation : public Operation {
  public:
    explicit CardReadOperation(Mode mode) : Operation(mode) {}
    ReaderInputs ReaderStart(int comPort, const std::string& settingsPath) const override;
    void TakeReaderResult(const ReaderResult& result) override;
    // The card's data once the result is 0: `fullRecord` tells a MyKad (open data) from a MyKid.
    const ReaderResult& Result() const { return result_; }

  private:
    ReaderResult result_;
};

}  // namespace quillon
