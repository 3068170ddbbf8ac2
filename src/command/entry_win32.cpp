// The exported entry point: the process-wide Win32 services and ProcessWebMessage.
#include "command/entry_win32.h"

#define QUILLON_BUILDING_DLL
#include "quillon.h"

#include "command/dispatch.h"
#include "foundation/platform_win32.h"

namespace quillon {

namespace {

// Runners of the commands that need hardware: built step by step; until a family is in
// place its commands answer with their failure reply.
class PendingRunners : public IRunners {
public:
    int PerformEnroll(int, int, uint8_t*) override { return kResultDialogNoResult; }
    int PerformVerify(int, int, int, const uint8_t*) override { return kResultDialogNoResult; }
    int PerformVerify2F(int, int, int, const uint8_t*) override { return kResultDialogNoResult; }
    int GetSerialNumber(int, int, char*) override { return kResultDialogNoResult; }
    int GetLLTStatus(int, int, char*) override { return kResultDialogNoResult; }
    int SetTerminalTime(int, int, const char*) override { return kResultDialogNoResult; }
    int GetSignature(int, int, uint8_t*, uint32_t*) override { return kResultDialogNoResult; }
    int ReadMyKAD(int, int, uint8_t*, uint8_t*) override { return kResultDialogNoResult; }
    int ReadMyKADData(int, int, uint8_t*) override { return kResultDialogNoResult; }
    int ReadMyKADNoVerify(int, int, uint8_t*, uint8_t*) override { return kResultDialogNoResult; }
    int ReadMyKADNoVerifyNoPhoto(int, int, uint8_t*) override { return kResultDialogNoResult; }
};

}  // namespace

Win32Services& Services() {
    static Win32Services services;
    return services;
}

struct Win32Services::Parts {
    PendingRunners runners;
};

Win32Services::Win32Services() : locator(files), parts_(new Parts) {}

Win32Services::~Win32Services() {
    SetLogSink(nullptr);
    delete parts_;
}

IRunners& Win32Services::Runners() { return parts_->runners; }

}  // namespace quillon

extern "C" QUILLON_API int __cdecl ProcessWebMessage(const char* accessCode,
                                                   const char* request, char* reply) {
    using namespace quillon;
    Win32Services& services = Services();
    CommandContext context{services.locator, services.profile, services.host, services.Runners(),
                           &services.fileLog, nullptr};
    return ProcessWebMessageCore(accessCode, request, reply, context);
}
