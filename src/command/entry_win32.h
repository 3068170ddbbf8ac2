// Process-wide Win32 services of the library, shared by the entry point and the runners.
#pragma once

#include <atomic>

#include "acqdialog/acq_dialog.h"
#include "cardreader/card_reader_library.h"
#include "command/dispatch.h"
#include "command/runners.h"
#include "foundation/platform_win32.h"
#include "foundation/settings.h"

namespace quillon {

struct Win32Services : private ICallPreparation {
    Win32Services();
    ~Win32Services() override;
    Win32Services(const Win32Services&) = delete;
    Win32Services& operator=(const Win32Services&) = delete;

    Win32Profile profile;
    Win32FileSystem files;
    Win32SerialCommRegistry registry;
    Win32HostAddress host;
    Win32Clock clock;
    Win32FileLog fileLog;
    IniLocator locator;

    // The context of a call that passed the access gate; the first such call to hold the busy
    // flag also loads the card-reader library.
    CommandContext& ForCall();
    DialogEnvironment& Environment();
    ICardReaderLibrary& CardReader();
    ReaderSessions& Readers();

  private:
    struct Parts;
    void Prepare() override;
    // Set while a call runs (the dispatcher's guard); declared before the parts that refer to it.
    std::atomic<bool> busy_{false};
    Parts* parts_;
    std::atomic<bool> cardReaderTried_{false};
};

Win32Services& Services();

}  // namespace quillon
