// Win32 implementations of the foundation interfaces.
#pragma once

#include <windows.h>

#include "command/dispatch.h"
#include "foundation/log.h"
#include "foundation/platform.h"

namespace quillon {

class Win32Profile : public IProfile {
public:
    int ReadInt(const std::string& path, const char* section, const char* key, int def) override;
    std::string ReadString(const std::string& path, const char* section, const char* key,
                           const char* def, size_t capacity) override;
};

class Win32FileSystem : public IFileSystem {
public:
    bool CanOpenForRead(const std::string& path) override;
    std::string WindowsDirectory(size_t capacity) override;
};

class Win32SerialCommRegistry : public ISerialCommRegistry {
public:
    bool Open() override;
    bool QueryValue(const char* name, char* data, uint32_t size) override;
    void Close() override;

private:
    HKEY key_ = nullptr;
};

class Win32HostAddress : public IHostAddress {
public:
    // Whether a lookup leaves the sockets interface started (GETBRANCHCODE: later lookups of the
    // process reuse it) or shuts it down again (the MyKad record: every start has its clean-up).
    enum class Sockets { kLeaveStarted, kShutDownAfter };
    explicit Win32HostAddress(Sockets after = Sockets::kLeaveStarted) : after_(after) {}
    std::string FirstIPv4() override;

private:
    Sockets after_;
};

class Win32Clock : public IClock {
public:
    LocalTime Now() override;
    void SleepMs(int milliseconds) override;
};

// The optional file log: lines appended to one file, each under a lock, while switched on.
class Win32FileLog : public ILogSink, public ILogSwitch {
public:
    Win32FileLog();
    ~Win32FileLog() override;
    void Write(const std::string& line) override;
    void Configure(bool enabled, const std::string& file) override;

private:
    CRITICAL_SECTION lock_;
    std::string file_;
};

}  // namespace quillon
