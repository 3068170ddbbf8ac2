// The request text through the whole dispatcher with scripted runners; its last four bytes choose
// their code, the signature count (which may claim more than the area holds) and the record form.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command/dispatch.h"
#include "mykad_fakes.h"
#include "quillon.h"

using namespace quillon;

// The longest text a runner can hand over, unterminated: the reply must still fit.
struct Runners : testing_support::ScriptedRunners {
    int QueryText(Mode mode, int s, int p, char* o) override {
        const int code = ScriptedRunners::QueryText(mode, s, p, o);
        return std::memset(o, 'T', kResultTextSize), code;
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t control[4] = {0};
    const size_t split = size >= 4 ? size - 4 : 0;
    std::memcpy(control, data + split, size - split);
    const std::string request(reinterpret_cast<const char*>(data), split);

    static testing_support::MyKadReplyRig rig("QUILLON.ini");
    Runners runners;
    const int codes[] = {0, 0, 0, -4, -30, 9999, -2147483647 - 1, 2147483647};
    runners.result = codes[control[0] % 8];
    runners.signature = {control[1]};
    runners.signatureCount = static_cast<uint32_t>(control[2]) * 24u + control[3];
    rig.profile.Set("QUILLON.ini", "MYKAD", "LABELLED_RECORD", (control[2] & 1) ? "1" : "0");
    rig.guid.works = (control[2] & 2) == 0;

    static CallWorkspace* work = new CallWorkspace();
    static std::atomic<bool> busy{false};
    CommandContext context{*work,    busy,    rig.locator, rig.profile,
                           rig.host, runners, nullptr,     &rig.reply};
    // Exactly the documented room for the longest reply: ASan reports a reply that outgrows it.
    static std::vector<char> reply(QUILLON_REPLY_MAX);
    reply[0] = '\0';
    const int result = ProcessWebMessageCore("QLN26", request.c_str(), reply.data(), context);
    const size_t length = std::strlen(reply.data());
    if (length == 0 || reply[0] != '[') std::abort();  // every accepted call writes a reply
    if (result == 0 && length < 5) std::abort();
    return 0;
}
