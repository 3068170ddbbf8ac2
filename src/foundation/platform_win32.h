// Win32 implementations of the foundation interfaces.
#pragma once

#include <windows.h>

#include "foundation/file_log.h"
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

// The file of the optional file log, opened for appending; readers and a rename by another
// process are not locked out.
class Win32LogFile : public ILogFile {
  public:
    ~Win32LogFile() override;
    bool Open(const std::string& path) override;
    uint64_t Size() override;
    size_t Write(const char* data, size_t size) override;
    void Close() override;
    bool Replace(const std::string& from, const std::string& to) override;

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

class Win32LogThreads : public ILogThreads {
  public:
    Win32LogThreads();
    ~Win32LogThreads() override;
    LogStamp Stamp() override;
    void Lock() override;
    void Unlock() override;

  private:
    CRITICAL_SECTION lock_;
};

struct Win32LogParts {
    Win32LogFile file;
    Win32LogThreads threads;
};

// The optional file log (foundation/file_log.h) on the Win32 file and thread calls.
class Win32FileLog : private Win32LogParts, public FileLog {
  public:
    Win32FileLog() : FileLog(file, threads) {}
};

}  // namespace quillon
