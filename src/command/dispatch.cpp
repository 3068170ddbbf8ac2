#include "command/dispatch.h"

#include <cstring>
#include <string>

#include "command/branch.h"
#include "command/call_barrier.h"
#include "command/call_guard.h"
#include "command/commands.h"
#include "command/fields.h"
#include "command/reply_log.h"
#include "foundation/log.h"
#include "quillon_build_config.h"

namespace quillon {

const unsigned char kAccessCode[5] = {QUILLON_ACCESS_CODE_BYTES};

namespace {

void WriteReply(char* reply, const std::string& text) {
    if (reply != nullptr) std::memcpy(reply, text.c_str(), text.size() + 1);
}

struct Arguments {
    char first[kArgumentSize];
    char second[kArgumentSize];
};

void ReadArguments(const char* request, Arguments& args) {
    std::memset(&args, 0, sizeof args);
    GetField(2, request, args.first, sizeof args.first);
    GetField(3, request, args.second, sizeof args.second);
}

// The values as read, not the texts: a host that mixed up its fields would put a name there.
void LogShowAndPort(const Arguments& args) {
    WriteLog(Format("show %d, port %d", ParseInt(args.first), ParseInt(args.second)));
}

std::string RunBranchCode(CommandContext& context) {
    char branchCode[kBranchCodeSize] = {0};
    char branchName[kBranchNameSize] = {0};
    char address[kHostAddressSize] = {0};
    const int status = GetBranchCode(context.locator, context.profile, context.host, branchCode,
                                     branchName, address);
    WriteLog(Format("GetBranchCode = %d", status));
    return Format("[GETBRANCHCODE][%d][%s][%s][%s][123]", status, branchCode, branchName, address);
}

// A text query: the runner fills a result text.
std::string RunTextQuery(const CommandRow& row, const char* request, IRunners& runners, int& code) {
    const char* const keyword = row.keyword;
    Arguments args;
    ReadArguments(request, args);
    char text[kResultTextSize] = {0};
    code = runners.QueryText(row.mode->mode, ParseInt(args.first), ParseInt(args.second), text);
    text[kResultTextSize - 1] = '\0';
    if (code == 0) return Format("[%s][%d][%s][123]", keyword, 0, text);
    return Format("[%s][%d][123]", keyword, code);
}

std::string RunEnroll(const char* request, IRunners& runners, int& code) {
    Arguments args;
    ReadArguments(request, args);
    uint8_t templ[kTemplateBufferSize] = {0};
    code = runners.PerformEnroll(ParseInt(args.first), ParseInt(args.second), templ);
    if (code != 0) return Format("[ENROLL][%d][123]", code);
    return "[ENROLL][0][" + HexEncode(templ, kTemplateSize) + "][123]";
}

std::string RunSignature(const char* request, IRunners& runners, CallWorkspace& work, int& code) {
    Arguments args;
    ReadArguments(request, args);
    std::memset(work.signatureData, 0, sizeof work.signatureData);
    work.signatureCount = 0;
    code = runners.GetSignature(ParseInt(args.first), ParseInt(args.second), work.signatureData,
                                &work.signatureCount);
    if (code != 0) return Format("[GETSIGNATURE][%d][123]", code);
    // No terminal frame carries more; a larger count would outgrow the host's reply buffer.
    const uint32_t limit = static_cast<uint32_t>(kSignatureReplyBytes);
    const uint32_t count = work.signatureCount < limit ? work.signatureCount : limit;
    return "[GETSIGNATURE][0][" + HexEncode(work.signatureData, count) + "][123]";
}

std::string RunVerify2F(const char* request, IRunners& runners, CallWorkspace& work, int& code) {
    Arguments args;
    ReadArguments(request, args);
    char* const text = work.verify2FText;
    std::memset(text, 0, sizeof work.verify2FText);
    GetField(4, request, text, sizeof work.verify2FText);
    WriteLog("Inside Verify2F function");
    LogShowAndPort(args);
    // The templates are personal data: only their length goes to the log.
    WriteLog(Format("templates: %lu characters", static_cast<unsigned long>(std::strlen(text))));
    uint8_t templates[2 * kTemplateBufferSize] = {0};
    HexDecode(text, 2 * kTemplateSize, templates);
    code = runners.PerformVerify2F(ParseInt(args.first), ParseInt(args.second),
                                   static_cast<int>(2 * kTemplateSize), templates);
    std::string reply = Format("[VERIFY2F][%d][123]", code);
    WriteLog(reply);
    return reply;
}

std::string RunSetDateTime(const char* request, IRunners& runners, int& code) {
    Arguments args;
    ReadArguments(request, args);
    const int useGiven = std::strlen(args.second) == 12 ? 1 : 0;
    code = runners.SetTerminalTime(ParseInt(args.first), useGiven, args.second);
    return Format("[SETDATETIME][%d][123]", code);
}

std::string RunVerify(const char* request, IRunners& runners, int& code) {
    Arguments args;
    ReadArguments(request, args);
    char text[kVerifyTextSize] = {0};
    GetField(4, request, text, sizeof text);
    uint8_t templ[kTemplateBufferSize] = {0};
    HexDecode(text, kTemplateSize, templ);
    code = runners.PerformVerify(ParseInt(args.first), ParseInt(args.second),
                                 static_cast<int>(kTemplateSize), templ);
    return Format("[VERIFY][%d][123]", code);
}

std::string RunCardRead(const CommandRow& row, const char* command, const char* request,
                        CommandContext& context, int& code) {
    CallWorkspace& work = context.workspace;
    char(&texts)[3][kMyKadTextSize] = work.mykadTexts;
    std::memset(texts, 0, sizeof texts);
    Arguments args;
    ReadArguments(request, args);
    int field = 4;  // the texts are fields 4, 5 and 6
    for (char(&text)[kMyKadTextSize] : texts) GetField(field++, request, text, kMyKadTextSize);
    LogShowAndPort(args);
    // The texts name the card holder and the staff: only their lengths go to the log.
    int number = 1;
    for (const char* text : texts) {
        WriteLog(Format("text %d: %lu characters", number++,
                        static_cast<unsigned long>(std::strlen(text))));
    }

    uint8_t* const card = work.mykadCard;
    uint8_t* const photo = work.mykadPhoto;
    std::memset(card, 0, sizeof work.mykadCard);
    std::memset(photo, 0, sizeof work.mykadPhoto);
    const int show = ParseInt(args.first);
    const int port = ParseInt(args.second);
    IRunners& runners = context.runners;
    WriteLog("Before Calling Read MyKad");
    code = runners.ReadCard(row.mode->mode, show, port, card, photo);
    WriteLog("After Calling Read MyKad");
    WriteLog(Format("MYKAD RET = %d", code));
    if (code == 0 && context.mykadReply == nullptr) code = kResultNotStarted;
    if (code != 0) return Format("[%s][%d][123]", command, code);
    if (card[0] == '0') WriteLog("MYKAD DATA GOT");
    const char* const textPointers[3] = {texts[0], texts[1], texts[2]};
    return context.mykadReply->Build(row.keyword, *row.mode, card, photo, textPointers);
}

// Runs the command of `row` (field 1 is `command`); its reply, with its code in `code`.
std::string RunCommand(const CommandRow& row, const char* command, const char* request,
                       CommandContext& context, int& code) {
    IRunners& runners = context.runners;
    switch (row.kind) {
        case CommandKind::kBranchCode:
            return RunBranchCode(context);
        case CommandKind::kTextQuery:
            return RunTextQuery(row, request, runners, code);
        case CommandKind::kEnroll:
            return RunEnroll(request, runners, code);
        case CommandKind::kSignature:
            return RunSignature(request, runners, context.workspace, code);
        case CommandKind::kVerify2F:
            return RunVerify2F(request, runners, context.workspace, code);
        case CommandKind::kSetDateTime:
            return RunSetDateTime(request, runners, code);
        case CommandKind::kCardRead:
            return RunCardRead(row, command, request, context, code);
        case CommandKind::kVerify:
            break;
    }
    return RunVerify(request, runners, code);
}

// The file log is open from the call's first line to its last, and closed on every way out.
class CallLog {
  public:
    CallLog(ILogSwitch* logSwitch, IProfile& profile, const std::string& path)
        : switch_(logSwitch) {
        if (switch_ != nullptr) switch_->Open(ReadLogSettings(profile, path));
    }
    ~CallLog() {
        if (switch_ != nullptr) switch_->Close();
    }
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

  private:
    ILogSwitch* switch_;
};

}  // namespace

bool AccessCodeMatches(const char* accessCode) {
    if (accessCode == nullptr) return false;
    for (size_t i = 0; i < sizeof kAccessCode; ++i) {
        if (static_cast<unsigned char>(accessCode[i]) != kAccessCode[i]) return false;
    }
    return true;
}

int ProcessWebMessageCore(const char* accessCode, const char* request, char* reply,
                          CommandContext& context) {
    if (!AccessCodeMatches(accessCode)) return kResultWrongAccess;
    CallGuard guard(context.busy);  // the call's workspace is this call's until it returns
    if (!guard.Owner()) {
        // Another call runs (another thread, or the host re-entered from its own window
        // procedure during a dialog): answer from the stack only, the workspace is in use.
        WriteFieldReply(reply, request, kResultBusy);
        return kResultBusy;
    }
    if (context.preparation != nullptr) context.preparation->Prepare();
    const std::string& path = context.locator.GetIniPath();
    CallLog log(context.logSwitch, context.profile, path);

    if (request == nullptr) request = "";
    char command[kCommandSize];
    std::memset(command, 0, sizeof command);
    GetField(1, request, command, sizeof command);
    WriteLog("Before Checking");

    int code = 0;
    std::string text;
    const CommandRow* row = MatchCommand(command);
    if (row != nullptr) {
        text = RunCommand(*row, command, request, context, code);
    } else {
        code = kResultNoCommand;
        text = Format("[%s][%d][123]", command, code);
    }
    WriteReply(reply, text);
    // The reply is out and the code must go with it: a log line that cannot be built is lost.
    // Nothing is built while no log keeps it.
    if (GetLogSink() != nullptr) {
        try {
            WriteLog(ReplyForLog(text));
        } catch (...) {
        }
    }
    return code;
}

}  // namespace quillon
