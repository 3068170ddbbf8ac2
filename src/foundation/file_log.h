// The optional file log of [DEBUG]: one file, opened when a call starts and closed when it ends,
// kept below a size cap by renaming it to FILE.1 and starting anew. The decisions live here; the
// Win32 adapter only opens, writes, renames and closes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/log.h"
#include "foundation/platform.h"

namespace quillon {

struct LogSettings {
    bool enabled = false;
    std::string file;       // a relative path starts at the host's current directory
    uint64_t maxBytes = 0;  // the file is renamed before a line would take it beyond this
};

// [DEBUG] ENABLE, FILE and MAX_KB of the settings file at `path`. MAX_KB of 0 or less means the
// default; FILE and MAX_KB are read only when ENABLE is non-zero.
LogSettings ReadLogSettings(IProfile& profile, const std::string& path);

// Opens the file log for one call and closes it when the call ends.
class ILogSwitch {
  public:
    virtual ~ILogSwitch() = default;
    virtual void Open(const LogSettings& settings) = 0;
    virtual void Close() = 0;
};

// The one file the log writes, opened for appending.
class ILogFile {
  public:
    virtual ~ILogFile() = default;
    // Opens `path` for appending, creating it when missing; false when it cannot be opened.
    virtual bool Open(const std::string& path) = 0;
    // Bytes in the open file.
    virtual uint64_t Size() = 0;
    // Bytes written (all of `size` unless the write failed).
    virtual size_t Write(const char* data, size_t size) = 0;
    virtual void Close() = 0;
    // Renames `from` to `to`, replacing an existing `to`; false when the rename failed.
    virtual bool Replace(const std::string& from, const std::string& to) = 0;
};

struct LogStamp {
    LocalTime time;
    uint32_t processId;
    uint32_t threadId;
};

// The time and the ids of the writing thread, and the lock that keeps lines of the caller's,
// the monitor's and the reader's threads whole and in order.
class ILogThreads {
  public:
    virtual ~ILogThreads() = default;
    virtual LogStamp Stamp() = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

// One line of the file: "DD/MM/YYYY hh:mm:ss.mmm | pid P tid T | text" and CR LF. Line breaks
// inside the text (the two-language prompts) become " / ", so every line of the file is stamped.
std::string FormatLogLine(const LogStamp& stamp, const std::string& text);

class FileLog : public ILogSink, public ILogSwitch {
  public:
    FileLog(ILogFile& file, ILogThreads& threads);
    ~FileLog() override;
    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;

    // Installs the log as the sink of WriteLog while its file is open.
    void Open(const LogSettings& settings) override;
    void Close() override;
    // From any thread; lines that arrive while no file is open are dropped.
    void Write(const std::string& line) override;

  private:
    void CloseLocked();
    void RotateLocked();

    ILogFile& file_;
    ILogThreads& threads_;
    bool open_ = false;
    // A rename that failed is not tried again before the next call (the file stays in use).
    bool rotationFailed_ = false;
    std::string path_;
    uint64_t size_ = 0;
    uint64_t maxBytes_ = 0;
};

}  // namespace quillon
