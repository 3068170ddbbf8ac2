// Arbitrary card data, command text and host texts into the MyKad reply builder, with fixed
// random, clock and host sources. Input: one control byte (bit 0: labelled record; bit 1: the
// GUID generator fails; bit 2: no host address), then three host texts and the command, each up
// to a 0x00 byte, then card bytes. Every reply must keep its shape, and nothing may touch memory
// outside the card, photo and payload buffers (ASan).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command/mykad_record.h"
#include "foundation/platform.h"
#include "foundation/settings.h"

namespace {

using namespace quillon;

void Check(bool ok) {
    if (!ok) std::abort();
}

class Files : public IFileSystem {
public:
    bool CanOpenForRead(const std::string&) override { return true; }
    std::string WindowsDirectory(size_t) override { return "C:\\windows"; }
};

class Profile : public IProfile {
public:
    int labelled = 0;
    int ReadInt(const std::string&, const char*, const char*, int) override { return labelled; }
    std::string ReadString(const std::string&, const char*, const char*, const char* def,
                           size_t) override {
        return def;
    }
};

class Clock : public IClock {
public:
    LocalTime Now() override { return LocalTime{2024, 12, 31, 23, 59, 58, 0}; }
    void SleepMs(int) override {}
};

class Host : public IHostAddress {
public:
    std::string address;
    std::string FirstIPv4() override { return address; }
};

class Guid : public IGuidSource {
public:
    bool works = true;
    bool NewGuid(uint8_t bytes[kMyKadKeySize]) override {
        for (int i = 0; i < kMyKadKeySize; ++i) bytes[i] = static_cast<uint8_t>(i * 29 + 1);
        return works;
    }
};

class Rand : public IRandomSequence {
public:
    int Next() override { return 12345; }
};

// Takes bytes up to the next 0x00 (or the end) as text.
std::string TakeText(const uint8_t*& data, size_t& size) {
    std::string text;
    while (size > 0) {
        const uint8_t b = *data++;
        --size;
        if (b == 0) break;
        text += static_cast<char>(b);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t control = data[0];
    ++data;
    --size;
    static Files files;
    static IniLocator locator(files);
    static Profile profile;
    static Clock clock;
    static Host host;
    static Guid guid;
    static Rand rand;
    static MyKadRecordReply reply(locator, profile, clock, host, guid, rand);
    profile.labelled = control & 1;
    guid.works = (control & 2) == 0;
    host.address = (control & 4) ? "" : "192.0.2.2";

    std::string texts[3];
    for (auto& t : texts) t = TakeText(data, size);
    const std::string command = TakeText(data, size);
    // Exactly the dispatcher's buffer sizes, on the heap so ASan sees their ends.
    uint8_t* card = new uint8_t[2000]();
    uint8_t* photo = new uint8_t[4100]();
    std::memcpy(card, data, size < 2000 ? size : 2000);
    for (int i = 0; i < 4100; ++i) photo[i] = static_cast<uint8_t>(i ^ control);
    const char* const pointers[3] = {texts[0].c_str(), texts[1].c_str(), texts[2].c_str()};

    const bool mykad = card[0] == '0';
    const std::string text = reply.Build(command.c_str(), card, photo, pointers);
    Check(text.size() > 20 && text[0] == '[' && text.back() == ']');
    const MyKadCommand kind = ClassifyMyKadCommand(command.c_str());
    const std::string head = std::string("[") + MyKadKeyword(kind) + (mykad ? "][0][0][" : "][0][1][");
    Check(text.compare(0, head.size(), head) == 0);
    const bool withPhoto =
        mykad && (kind == MyKadCommand::kFull || kind == MyKadCommand::kNoVerifyWithPhoto);
    const size_t payload = !mykad ? 1991 : (profile.labelled ? 595 : 975);
    Check(text.size() == head.size() + payload + 1 + (withPhoto ? 5335 + 2 : 0));
    delete[] card;
    delete[] photo;
    return 0;
}
