// The small interfaces through which the portable logic reaches the operating system. The Win32
// adapters (files named *_win32.cpp) implement them for the DLL; tests implement them with fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

// Read-only INI profile files, with the semantics of the system's profile calls.
class IProfile {
  public:
    virtual ~IProfile() = default;
    virtual int ReadInt(const std::string& path, const char* section, const char* key, int def) = 0;
    // At most capacity - 1 characters come back, as from a buffer of that size.
    virtual std::string ReadString(const std::string& path, const char* section, const char* key,
                                   const char* def, size_t capacity) = 0;
};

class IFileSystem {
  public:
    virtual ~IFileSystem() = default;
    virtual bool CanOpenForRead(const std::string& path) = 0;
    // The Windows directory, as a buffer of `capacity` characters would receive it.
    virtual std::string WindowsDirectory(size_t capacity) = 0;
};

// HKEY_LOCAL_MACHINE "HARDWARE\DEVICEMAP\SERIALCOMM", opened for querying values.
class ISerialCommRegistry {
  public:
    virtual ~ISerialCommRegistry() = default;
    virtual bool Open() = 0;
    // Writes at most `size` bytes of the value's data into `data`; false when the value is absent.
    virtual bool QueryValue(const char* name, char* data, uint32_t size) = 0;
    virtual void Close() = 0;
};

class IHostAddress {
  public:
    virtual ~IHostAddress() = default;
    // Dotted-decimal text of the first IPv4 address of the local host, or empty when none.
    virtual std::string FirstIPv4() = 0;
};

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

class IClock {
  public:
    virtual ~IClock() = default;
    virtual LocalTime Now() = 0;
    virtual void SleepMs(int milliseconds) = 0;
};

}  // namespace quillon
