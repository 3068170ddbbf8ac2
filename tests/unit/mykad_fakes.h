// Fakes of the command layer: runners, the MyKad record's random sources, a record-builder rig.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command/dispatch.h"
#include "command/mykad_record.h"
#include "command/runners.h"
#include "fakes.h"

namespace quillon {
namespace testing_support {

// Runners that note the runner, show and port, fill fixed data and answer `result`; `during`
// runs inside (to call again, or to throw).
class ScriptedRunners : public IRunners {
  public:
    std::string called;  // "Runner show port"
    int result = 0;
    std::vector<uint8_t> templ;      // the template(s) a verify runner got
    std::vector<uint8_t> signature;  // copied with signatureCount unless empty
    uint32_t signatureCount = 0;
    std::function<void()> during;

    int PerformEnroll(int s, int p, uint8_t* t) override {
        return std::memset(t, 0xAB, 598), Note("PerformEnroll", s, p);
    }
    int PerformVerify(int s, int p, int n, const uint8_t* t) override {
        return templ.assign(t, t + n), Note("PerformVerify", s, p);
    }
    int PerformVerify2F(int s, int p, int n, const uint8_t* t) override {
        return templ.assign(t, t + n), Note("PerformVerify2F", s, p);
    }
    int QueryText(Mode mode, int s, int p, char* o) override {
        std::strcpy(o, mode == Mode::kGetSn ? "SN-0042" : "KOPERASI CONTOH");
        return Note(SetupFor(mode).query.runner, s, p);
    }
    int SetTerminalTime(int p, int given, const char* t) override {
        return Note(Format("SetTerminalTime %d %s", given, t).c_str(), -1, p);
    }
    int GetSignature(int s, int p, uint8_t* d, uint32_t* n) override {
        if (!signature.empty())
            std::copy(signature.begin(), signature.end(), d), *n = signatureCount;
        return Note("GetSignature", s, p);
    }
    int ReadCard(Mode mode, int s, int p, uint8_t* c, uint8_t*) override {
        return Card(c, SetupFor(mode).name, s, p);
    }

  private:
    int Note(const char* name, int s, int p) {
        called = Format("%s %d %d", name, s, p);
        if (during) during();
        return result;
    }
    int Card(uint8_t* card, const char* name, int s, int p) {
        card[0] = '0';  // a MyKad, so a record is formed
        return std::memset(card + 1, 'M', 300), Note(name, s, p);
    }
};

// A call's context over fakes: scripted runners, one workspace and busy flag, and the settings,
// host and MyKad reply the test gives.
struct CommandRig {
    CommandRig(IniLocator& locator, IProfile& profile, IHostAddress& host, IMyKadReply* reply)
        : context{*work, busy, locator, profile, host, runners, nullptr, reply} {}
    ScriptedRunners runners;
    std::unique_ptr<CallWorkspace> work{new CallWorkspace()};
    std::atomic<bool> busy{false};
    CommandContext context;
};

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

// The MyKad reply record with fake sources and buffers of the dispatcher's sizes, at a fixed path.
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
