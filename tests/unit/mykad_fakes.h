// Fakes for the MyKad path: a scripted card-reader library, the dialog as the reader thread sees
// it, and the random sources of the reply record.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "cardreader/mykad_reader.h"
#include "fakes.h"
#include "command/mykad_record.h"
#include "foundation/log.h"
#include "foundation/platform.h"

namespace quillon {
namespace testing_support {

class FakeMyKadDialog : public IMyKadDialog {
public:
    int port = 7;
    std::string mode = "MYKAD";
    std::string path = ".\\QUILLON.ini";
    int cancelCode = 0;

    // "refresh", "line1:TEXT", "line2:TEXT", "running:1", "ret:N", "full:1", "close", ...
    std::vector<std::string> events;
    std::vector<std::string> line2s;  // every text put into prompt line 2, in order
    std::vector<std::string> line1s;
    int retCode = -10;
    int fullRecord = -1;  // -1: never set
    std::vector<uint8_t> openData;
    bool openDataSet = false;
    std::vector<uint8_t> altData;
    bool altDataSet = false;
    std::vector<uint8_t> photo;
    bool photoSet = false;
    bool running = false;

    int ComPort() override { return port; }
    std::string Mode() override { return mode; }
    std::string SettingsPath() override { return path; }
    int CancelCode() override { return cancelCode; }
    void RefreshPromptLines() override { events.push_back("refresh"); }
    void SetPromptLine(int line, const std::string& text) override {
        events.push_back(Format("line%d:", line) + text);
        (line == 1 ? line1s : line2s).push_back(text);
    }
    void SetThreadRunning(bool value) override {
        running = value;
        events.push_back(Format("running:%d", value ? 1 : 0));
    }
    void SetRetCode(int code) override {
        retCode = code;
        events.push_back(Format("ret:%d", code));
    }
    void SetFullRecord(bool full) override {
        fullRecord = full ? 1 : 0;
        events.push_back(Format("full:%d", fullRecord));
    }
    void SetOpenData(const uint8_t* bytes, int length) override {
        // The dialog's buffer holds the record and its terminating zero.
        openData.assign(bytes, bytes + length);
        openDataSet = true;
    }
    void SetAltData(const uint8_t* bytes, int length) override {
        altData.assign(bytes, bytes + length);
        altDataSet = true;
    }
    void SetPhoto(const uint8_t* bytes, size_t length) override {
        photo.assign(bytes, bytes + length);
        photoSet = true;
    }
    void Close() override { events.push_back("close"); }
};

// Results per function are taken in order; once a list runs out, the function's default answers.
class FakeCardReader : public ICardReaderLibrary {
public:
    std::map<std::string, std::deque<int>> results;
    std::map<std::string, int> defaults{{"Init", 0},    {"FW", 0},        {"CS", 2},
                                        {"Reset", 0},   {"ReadData", 0},  {"IsEBA", 1},
                                        {"Photo", 0},   {"Bio", 0},       {"Level", 0},
                                        {"Verify", 0},  {"Close", 0}};
    std::vector<std::string> calls;
    std::vector<uint8_t> record = std::vector<uint8_t>(120, 0x41);
    static const int32_t kOwnSize = INT32_MIN;
    int32_t reportedLength = kOwnSize;  // what the library claims to have read
    uint8_t photoByte = 0x5C;
    uint8_t key[kOrvKeyAreaSize] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    std::string version = "ORV 2.31";
    std::vector<int> promptCodes;  // handed to the prompt routine during each VerifyFinger
    FakeMyKadDialog* dialog = nullptr;
    int cancelAtPoll = 0;    // the user presses Cancel during this card poll (1-based)
    int cancelAtVerify = 0;  // ... or during this fingerprint attempt

    int OrvMyKadInit(int comPort) override {
        calls.push_back(Format("Init(%d)", comPort));
        return Next("Init");
    }
    int OrvMyKadGetFirmwareVersion(int timeoutMs, char* text, uint8_t* keyArea) override {
        calls.push_back(Format("FW(%d)", timeoutMs));
        const int r = Next("FW");
        if (r == 0) {
            std::memset(text, 0, kOrvVersionSize);
            std::memcpy(text, version.data(), version.size());
            std::memcpy(keyArea, key, sizeof key);
        }
        return r;
    }
    int OrvMyKadGetCardStatus(int mode, int timeoutMs) override {
        calls.push_back(Format("CS(%d,%d)", mode, timeoutMs));
        ++polls_;
        if (dialog != nullptr && polls_ == cancelAtPoll) dialog->cancelCode = -9;
        return Next("CS");
    }
    int OrvMyKadResetCard(uint8_t* buffer) override {
        calls.push_back("Reset");
        std::memset(buffer, 0xEE, kOrvResetSize);
        return Next("Reset");
    }
    int OrvMyKadReadOpenData(uint8_t* out, int32_t* length) override {
        calls.push_back("ReadData");
        std::memcpy(out, record.data(), record.size() < 2000 ? record.size() : 2000);
        *length = reportedLength != kOwnSize ? reportedLength : static_cast<int32_t>(record.size());
        return Next("ReadData");
    }
    int OrvMyKadIsEBA() override {
        calls.push_back("IsEBA");
        return Next("IsEBA");
    }
    int OrvMyKadReadPhoto(uint8_t* photo) override {
        calls.push_back("Photo");
        std::memset(photo, photoByte, kOrvPhotoSize);
        return Next("Photo");
    }
    int OrvMyKadReadBio(char* application) override {
        calls.push_back(std::string("Bio(") + application + ")");
        return Next("Bio");
    }
    int OrvMyKadSecurityLevel(int level) override {
        calls.push_back(Format("Level(%d)", level));
        return Next("Level");
    }
    int OrvMyKadVerifyFinger(char* application, MyKadPromptRoutine prompt) override {
        calls.push_back(std::string("Verify(") + application + ")");
        ++verifies_;
        for (int code : promptCodes) prompt(code);
        if (dialog != nullptr && verifies_ == cancelAtVerify) dialog->cancelCode = -9;
        return Next("Verify");
    }
    int OrvMyKadClose() override {
        calls.push_back("Close");
        return Next("Close");
    }

private:
    int Next(const std::string& name) {
        auto& queue = results[name];
        if (queue.empty()) return defaults[name];
        const int r = queue.front();
        queue.pop_front();
        return r;
    }
    int polls_ = 0;
    int verifies_ = 0;
};

class FakeGuid : public IGuidSource {
public:
    bool works = true;
    uint8_t next[kMyKadKeySize] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                                   0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};
    int calls = 0;
    bool NewGuid(uint8_t bytes[kMyKadKeySize]) override {
        ++calls;
        if (!works) return false;
        std::memcpy(bytes, next, kMyKadKeySize);
        next[0] = static_cast<uint8_t>(next[0] + 1);  // every GUID differs
        return true;
    }
};

class FakeRandomSequence : public IRandomSequence {
public:
    std::deque<int> values;
    int Next() override {
        if (values.empty()) return 0;
        const int v = values.front();
        values.pop_front();
        return v;
    }
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
    std::vector<uint8_t> card = std::vector<uint8_t>(2000, 0);
    std::vector<uint8_t> photo = std::vector<uint8_t>(4100, 0);
};

}  // namespace testing_support
}  // namespace quillon
