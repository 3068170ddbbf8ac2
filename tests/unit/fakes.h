// Fakes of the platform interfaces, shared by the unit tests.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "foundation/platform.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace testing_support {

// Settings keyed by path, section and key; a missing key reads its default.
class FakeProfile : public IProfile {
  public:
    void Set(const std::string& path, const std::string& section, const std::string& key,
             const std::string& value) {
        values_[path + "|" + section + "|" + key] = value;
    }
    int ReadInt(const std::string& path, const char* section, const char* key, int def) override {
        const auto it = values_.find(path + "|" + section + "|" + key);
        return it != values_.end() ? std::atoi(it->second.c_str()) : def;
    }
    std::string ReadString(const std::string& path, const char* section, const char* key,
                           const char* def, size_t capacity) override {
        const auto it = values_.find(path + "|" + section + "|" + key);
        return (it != values_.end() ? it->second : std::string(def)).substr(0, capacity - 1);
    }

  private:
    std::map<std::string, std::string> values_;
};

class FakeFileSystem : public IFileSystem {
  public:
    std::set<std::string> files;
    std::string windowsDir = "C:\\windows";
    bool CanOpenForRead(const std::string& path) override { return files.count(path); }
    std::string WindowsDirectory(size_t capacity) override {
        return windowsDir.substr(0, capacity - 1);
    }
};

class FakeRegistry : public ISerialCommRegistry {
  public:
    bool opens = true, closed = false;
    std::map<std::string, std::string> values;
    std::vector<std::string> queried;
    bool Open() override { return opens; }
    bool QueryValue(const char* name, char* data, uint32_t size) override {
        queried.push_back(name);
        auto it = values.find(name);
        if (it == values.end()) return false;
        std::memcpy(data, it->second.c_str(), std::min<size_t>(it->second.size() + 1, size));
        return true;
    }
    void Close() override { closed = true; }
};

class FakeHostAddress : public IHostAddress {
  public:
    std::string address = "192.0.2.2";
    std::string FirstIPv4() override { return address; }
};

class FakeClock : public IClock {
  public:
    LocalTime now{2024, 3, 7, 9, 5, 2, 0};
    std::vector<int> sleeps;  // recorded instead of slept
    LocalTime Now() override { return now; }
    void SleepMs(int milliseconds) override { sleeps.push_back(milliseconds); }
};

struct FrameCollector : IFrameSink {
    std::vector<std::vector<uint8_t>> frames;
    void OnFrame(const uint8_t* frame, int length) override {
        frames.emplace_back(frame, frame + length);
    }
};

// The log lines written while it exists (the tests start no threads of their own).
class CapturingLog : public ILogSink {
  public:
    std::vector<std::string> lines;
    CapturingLog() { SetLogSink(this); }
    ~CapturingLog() override { SetLogSink(nullptr); }
    void Write(const std::string& line) override { lines.push_back(line); }
};

}  // namespace testing_support
}  // namespace quillon
