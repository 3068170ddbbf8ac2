// The exported entry point: the process-wide Win32 services and ProcessWebMessage.
#include "command/entry_win32.h"

#include <memory>

#define QUILLON_BUILDING_DLL
#include "acqdialog/acq_dialog_win32.h"
#include "cardreader/orvmykad_win32.h"
#include "cardreader/reader_thread.h"
#include "command/call_barrier.h"
#include "command/dispatch.h"
#include "command/mykad_random_win32.h"
#include "command/mykad_record.h"
#include "command/operation_runners.h"
#include "foundation/platform_win32.h"
#include "quillon.h"
#include "serial/terminal_port_win32.h"

namespace quillon {

Win32Services& Services() {
    static Win32Services services;
    return services;
}

namespace {
// The card-reader library calls its prompt routine with nothing but a code: the one way to the
// running read is through the process's services.
int ReaderPromptCode(int code) { return Services().Readers().OnPromptCode(code); }

// The card-reader thread of the MyKad modes, started by the dialog with the reader's session as
// its parameter; the library and the clock are the services' own.
DWORD WINAPI MyKadReaderThread(LPVOID session) {
    Win32Services& services = Services();
    RunReaderThread(*static_cast<ReaderSession*>(session), services.CardReader(), services.clock);
    return 0;
}

}  // namespace

// The objects that need the services themselves, made once the services exist.
struct Win32Services::Parts {
    explicit Parts(Win32Services& s)
        : readers(ReaderPromptCode),
          environment{s.profile, s.files, s.locator, port, readers},
          dialogs(environment, MyKadReaderThread),
          runners(environment, dialogs, s.registry, s.clock),
          mykadReply(s.locator, s.profile, s.clock, recordHost, guid, fallback),
          workspace(new CallWorkspace()),
          context{*workspace, s.busy_,    s.locator,   s.profile, s.host,
                  runners,    &s.fileLog, &mykadReply, &s} {}

    Win32TerminalPort port;
    ReaderSessions readers;
    DialogEnvironment environment;
    Win32DialogRunner dialogs;
    OperationRunners runners;
    Win32OrvMyKadLibrary cardReader;
    Win32GuidSource guid;
    RuntimeRandomSequence fallback;
    // The MyKad record's lookup starts the sockets interface and shuts it down again.
    Win32HostAddress recordHost{Win32HostAddress::Sockets::kShutDownAfter};
    MyKadRecordReply mykadReply;
    // Allocated once with the services: every call reuses it.
    std::unique_ptr<CallWorkspace> workspace;
    CommandContext context;
};

Win32Services::Win32Services() : locator(files), parts_(new Parts(*this)) {}

Win32Services::~Win32Services() {
    SetLogSink(nullptr);
    delete parts_;
}

CommandContext& Win32Services::ForCall() { return parts_->context; }

void Win32Services::Prepare() {
    // Load the card-reader library with the first call that holds the busy flag, before any of
    // our threads has ended: wine's loader hangs on a DLL with thread-local storage loaded after
    // that. A library that is missing now is looked for again by the first MyKad command.
    if (!cardReaderTried_.exchange(true)) parts_->cardReader.Load();
}

DialogEnvironment& Win32Services::Environment() { return parts_->environment; }

ICardReaderLibrary& Win32Services::CardReader() { return parts_->cardReader; }

ReaderSessions& Win32Services::Readers() { return parts_->readers; }

}  // namespace quillon

namespace {

// Makes the process-wide services only for a call that passed the access gate.
class GatedServices : public quillon::ICallServices {
  public:
    quillon::CommandContext& Context() override { return quillon::Services().ForCall(); }
};

}  // namespace

extern "C" QUILLON_API int __cdecl ProcessWebMessage(const char* accessCode, const char* request,
                                                     char* reply) {
    GatedServices services;
    return quillon::ProcessWebMessageGuarded(accessCode, request, reply, services);
}
