// Diagnostic log entry point. Every subsystem hands its progress lines to WriteLog; by default
// they are discarded. A deployment can install a sink (the optional file log) that keeps them.
#pragma once

#include <string>

namespace quillon {

class ILogSink {
  public:
    virtual ~ILogSink() = default;
    virtual void Write(const std::string& line) = 0;
};

// Takes the line by value, as callers build it on the spot; never fails, never blocks for long.
// A sink that throws loses the line, never the caller's work.
void WriteLog(std::string line);
// A fixed or stack-built text: makes a string only when a sink is installed, so the default
// (discarding) configuration touches no heap, as the monitor thread's byte loop needs.
void WriteLog(const char* line) noexcept;

// nullptr restores the default (discard). The sink must outlive its installation.
void SetLogSink(ILogSink* sink);
// Restores the default only if `sink` is the one installed.
void RemoveLogSink(ILogSink* sink);
ILogSink* GetLogSink();

// printf-style formatting into a std::string, for building log lines and replies.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace quillon
