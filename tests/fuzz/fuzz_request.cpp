// The whole request path of ProcessWebMessage with fake runners: field splitting, integer and
// hexadecimal decoding, dispatch, reply formatting and the MyKad reply record. The input is the
// request text; its last four bytes also choose what the fake runners answer.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command/dispatch.h"
#include "mykad_fakes.h"
#include "quillon.h"

using namespace quillon;

namespace {

// Answers every runner with the scripted code; on success fills the outputs up to the sizes of
// the dispatcher's buffers, and reads every input to its stated length (ASan sees both ends).
class Runners : public IRunners {
  public:
    int code = 0;
    uint8_t fill = 0;
    uint32_t signatureCount = 0;
    char cardType = '0';

    int PerformEnroll(int, int, uint8_t* out) override { return Fill(out, 600); }
    int PerformVerify(int, int, int n, const uint8_t* t) override { return Touch(t, n); }
    int PerformVerify2F(int, int, int n, const uint8_t* t) override { return Touch(t, n); }
    int GetSerialNumber(int, int, char* out) override { return Text(out); }
    int GetLLTStatus(int, int, char* out) override { return Text(out); }
    int SetTerminalTime(int, int, const char* t) override {
        return Touch(reinterpret_cast<const uint8_t*>(t), std::strlen(t));
    }
    int GetSignature(int, int, uint8_t* out, uint32_t* count) override {
        // Fills the signature area at most; the count may claim more, which the reply must not.
        if (code == 0) *count = signatureCount;
        const uint32_t area = static_cast<uint32_t>(kSignatureDataSize);
        return Fill(out, signatureCount < area ? signatureCount : area);
    }
    int ReadMyKAD(int, int, uint8_t* card, uint8_t* photo) override { return Card(card, photo); }
    int ReadMyKADData(int, int, uint8_t* card) override { return Card(card, nullptr); }
    int ReadMyKADNoVerify(int, int, uint8_t* card, uint8_t* photo) override {
        return Card(card, photo);
    }
    int ReadMyKADNoVerifyNoPhoto(int, int, uint8_t* card) override { return Card(card, nullptr); }

  private:
    int Fill(uint8_t* out, size_t n) {
        if (code == 0) std::memset(out, fill, n);
        return code;
    }
    int Touch(const uint8_t* bytes, size_t n) {
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
        return code;
    }
    int Text(char* out) {
        if (code == 0) {
            std::memset(out, 'A' + fill % 26, 49);
            out[49] = '\0';
        }
        return code;
    }
    int Card(uint8_t* card, uint8_t* photo) {
        if (photo != nullptr) Fill(photo, kMyKadPhotoSize);
        Fill(card, kMyKadCardSize);
        if (code == 0) card[0] = static_cast<uint8_t>(cardType);
        return code;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t control[4] = {0};
    const size_t split = size >= 4 ? size - 4 : 0;
    std::memcpy(control, data + split, size - split);
    const std::string request(reinterpret_cast<const char*>(data), split);

    static testing_support::MyKadReplyRig rig("QUILLON.ini");
    Runners runners;
    const int codes[] = {0, 0, 0, -3, -4, -5, -9, -10, -30, 9999, -2147483647 - 1, 2147483647};
    runners.code = codes[control[0] % (sizeof codes / sizeof codes[0])];
    runners.fill = control[1];
    runners.signatureCount = static_cast<uint32_t>(control[2]) * 24u + control[3];
    runners.cardType = (control[3] & 1) ? '1' : '0';
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
