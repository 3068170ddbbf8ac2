// The whole request path of ProcessWebMessage with fake runners: field splitting, integer and
// hexadecimal decoding, dispatch, reply formatting and the MyKad reply record. The input is the
// request text; its last bytes also choose what the fake runners answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command/dispatch.h"
#include "command/mykad_record.h"

using namespace quillon;

namespace {

class Profile : public IProfile {
public:
    int labelled = 0;
    int ReadInt(const std::string&, const char* section, const char* key, int def) override {
        if (std::strcmp(key, "LABELLED_RECORD") == 0) return labelled;
        return def;
    }
    std::string ReadString(const std::string&, const char*, const char*, const char* def,
                           size_t) override {
        return def;
    }
};

class Files : public IFileSystem {
public:
    bool CanOpenForRead(const std::string&) override { return false; }
    std::string WindowsDirectory(size_t) override { return "C:\\windows"; }
};

class Host : public IHostAddress {
public:
    std::string FirstIPv4() override { return "192.0.2.2"; }
};

class Clock : public IClock {
public:
    LocalTime Now() override { return LocalTime{2026, 12, 6, 10, 15, 0, 0}; }
    void SleepMs(int) override {}
};

class Guid : public IGuidSource {
public:
    bool fails = false;
    bool NewGuid(uint8_t bytes[kMyKadKeySize]) override {
        for (size_t i = 0; i < kMyKadKeySize; ++i) bytes[i] = static_cast<uint8_t>(i * 29);
        return !fails;
    }
};

class Sequence : public IRandomSequence {
public:
    int Next() override { return 12345; }
};

// Answers every runner with the scripted code; on success fills the outputs with scripted
// bytes up to the sizes the dispatcher's buffers have.
class Runners : public IRunners {
public:
    int code = 0;
    uint8_t fill = 0;
    uint32_t signatureCount = 0;
    char cardType = '0';

    int PerformEnroll(int, int, uint8_t* out) override { return Fill(out, 600); }
    int PerformVerify(int, int, int length, const uint8_t* t) override { return Touch(t, length); }
    int PerformVerify2F(int, int, int length, const uint8_t* t) override { return Touch(t, length); }
    int GetSerialNumber(int, int, char* out) override { return Text(out); }
    int GetLLTStatus(int, int, char* out) override { return Text(out); }
    int SetTerminalTime(int, int, const char* t) override { return Touch(t, std::strlen(t)); }
    int GetSignature(int, int, uint8_t* out, uint32_t* count) override {
        if (code == 0) {
            std::memset(out, fill, signatureCount);
            *count = signatureCount;
        }
        return code;
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
    template <typename T>
    int Touch(const T* bytes, size_t n) {
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
        if (code != 0) return code;
        std::memset(card, fill, 2000);
        card[0] = static_cast<uint8_t>(cardType);
        if (photo != nullptr) std::memset(photo, fill ^ 0x5A, 4100);
        return code;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last four bytes steer the fakes; the rest is the request.
    uint8_t control[4] = {0};
    const size_t split = size >= 4 ? size - 4 : 0;
    std::memcpy(control, data + split, size - split);
    std::string request(reinterpret_cast<const char*>(data), split);

    static Profile profile;
    static Files files;
    static Host host;
    static Clock clock;
    static Guid guid;
    static Sequence sequence;
    static IniLocator locator(files);
    static MyKadRecordReply mykad(locator, profile, clock, host, guid, sequence);
    Runners runners;
    const int codes[] = {0, 0, 0, -3, -4, -5, -9, -10, -30, 9999, -2147483647 - 1, 2147483647};
    runners.code = codes[control[0] % (sizeof codes / sizeof codes[0])];
    runners.fill = control[1];
    runners.signatureCount = static_cast<uint32_t>(control[2]) * 2048u + control[3];
    runners.cardType = (control[3] & 1) ? '1' : '0';
    profile.labelled = control[2] & 1;
    guid.fails = (control[2] & 2) != 0;

    CommandContext context{locator, profile, host, runners, nullptr, &mykad};
    // Room for the longest reply: a signature of 524,287 bytes in hex, or a MyKad reply.
    static std::vector<char> reply(1 << 21);
    reply[0] = '\0';
    const int result = ProcessWebMessageCore("QLN26", request.c_str(), reply.data(), context);
    const size_t length = std::strlen(reply.data());
    if (length == 0 || reply[0] != '[') std::abort();  // every accepted call writes a reply
    if (result == 0 && length < 5) std::abort();
    return 0;
}
