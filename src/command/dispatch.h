// The body of ProcessWebMessage: access gate, command selection, runner call and reply text.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "command/runners.h"
#include "foundation/file_log.h"
#include "foundation/platform.h"
#include "foundation/results.h"
#include "foundation/settings.h"
#include "foundation/sizes.h"
#include "terminal/terminal_replies.h"

namespace quillon {

// Forms the reply of a MyKad command whose runner returned 0 (the scrambled MyKad record).
struct ModeSetup;

class IMyKadReply {
  public:
    virtual ~IMyKadReply() = default;
    // keyword: the command's (the reply names it); reader: the mode the card was read in, which
    // says whether the photo goes with it and how a labelled record is labelled; texts: the
    // host's three MyKad texts.
    virtual std::string Build(const char* keyword, const ModeSetup& reader, uint8_t* cardData,
                              const uint8_t* photo, const char* const texts[3]) = 0;
};

// The larger buffers of a call (about 13 KiB), kept off the caller's stack. The process's
// services own one, reused by every call; only the call that holds the busy flag touches it.
struct CallWorkspace {
    uint8_t signatureData[kSignatureDataSize];
    uint32_t signatureCount;
    char verify2FText[kVerify2FTextSize];
    char mykadTexts[3][kMyKadTextSize];
    uint8_t mykadCard[kMyKadCardSize];
    uint8_t mykadPhoto[kMyKadPhotoSize];
};

// What a call does first once it holds the busy flag (the Win32 services load the card-reader
// library there, so that two first calls on two threads never meet inside the loader).
class ICallPreparation {
  public:
    virtual ~ICallPreparation() = default;
    virtual void Prepare() = 0;
};

struct CommandContext {
    CallWorkspace& workspace;
    // Set while a call runs: a second call (another thread, or the host re-entering from its
    // window procedure during a dialog) is refused instead of sharing the workspace.
    std::atomic<bool>& busy;
    IniLocator& locator;
    IProfile& profile;
    IHostAddress& host;
    IRunners& runners;
    ILogSwitch* logSwitch;    // optional: the file log, opened for the call from [DEBUG]
    IMyKadReply* mykadReply;  // optional until the card reader is built in
    ICallPreparation* preparation = nullptr;  // optional
};

extern const unsigned char kAccessCode[5];

// True when the five bytes at accessCode are the library's access code.
bool AccessCodeMatches(const char* accessCode);

int ProcessWebMessageCore(const char* accessCode, const char* request, char* reply,
                          CommandContext& context);

}  // namespace quillon
