// The body of ProcessWebMessage: access gate, command selection, runner call and reply text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "acqdialog/acq_dialog.h"
#include "command/runners.h"
#include "foundation/file_log.h"
#include "foundation/platform.h"
#include "foundation/settings.h"

namespace quillon {

// Forms the reply of a MyKad command whose runner returned 0 (the scrambled MyKad record).
class IMyKadReply {
public:
    virtual ~IMyKadReply() = default;
    // command: field 1 as received; texts: the host's three MyKad texts.
    virtual std::string Build(const char* command, uint8_t* cardData, const uint8_t* photo,
                              const char* const texts[3]) = 0;
};

struct CommandContext {
    IniLocator& locator;
    IProfile& profile;
    IHostAddress& host;
    IRunners& runners;
    ILogSwitch* logSwitch;    // optional: the file log, opened for the call from [DEBUG]
    IMyKadReply* mykadReply;  // optional until the card reader is built in
};

extern const unsigned char kAccessCode[5];

// Buffer sizes of one call; the host keeps its fields within them, longer fields are cut.
const size_t kCommandSize = 500;
const size_t kArgumentSize = 50;
const size_t kVerifyTextSize = 1200;
const size_t kVerify2FTextSize = 2400;
const size_t kMyKadTextSize = 20;
const size_t kResultTextSize = 50;
const size_t kTemplateSize = 598;
const size_t kSignatureBufferSize = 1048576;
const size_t kMyKadCardSize = 2000;
const size_t kMyKadPhotoSize = 4100;

const int kResultWrongAccess = -9999;
const int kResultNoCommand = -1007;
// A call arrived while another was still running; nothing of the running call was touched.
const int kResultBusy = -1008;

// True when the five bytes at accessCode are the library's access code.
bool AccessCodeMatches(const char* accessCode);

int ProcessWebMessageCore(const char* accessCode, const char* request, char* reply,
                          CommandContext& context);

}  // namespace quillon
