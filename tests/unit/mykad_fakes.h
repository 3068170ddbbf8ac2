// Fakes of the random sources of the MyKad reply record, and a rig of the record builder.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "command/mykad_record.h"
#include "fakes.h"

namespace quillon {
namespace testing_support {

class FakeGuid : public IGuidSource {
public:
    bool works = true;
    uint8_t next[kMyKadKeySize] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                                   0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};
    bool NewGuid(uint8_t bytes[kMyKadKeySize]) override {
        std::memcpy(bytes, next, kMyKadKeySize);
        ++next[0];  // every GUID differs
        return works;
    }
};

// rand(): the scripted values in order, then 0.
class FakeRandomSequence : public IRandomSequence {
public:
    std::vector<int> values;
    size_t taken = 0;
    int Next() override { return taken < values.size() ? values[taken++] : 0; }
};

// The MyKad reply record with fake sources, and card-data and photo buffers of the dispatcher's
// sizes; the settings path is fixed so tests can set keys on it.
struct MyKadReplyRig {
    explicit MyKadReplyRig(const char* path) { locator.Store(path); }

    FakeFileSystem files;
    IniLocator locator{files};
    FakeProfile profile;
    FakeClock clock;
    FakeHostAddress host;
    FakeGuid guid;
    FakeRandomSequence rand;
    MyKadRecordReply reply{locator, profile, clock, host, guid, rand};
    std::vector<uint8_t> card = std::vector<uint8_t>(kMyKadCardSize, 0);
    std::vector<uint8_t> photo = std::vector<uint8_t>(kMyKadPhotoSize, 0);
};

}  // namespace testing_support
}  // namespace quillon
