#include "foundation/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace quillon {

namespace {
// The one process-wide pointer outside the entry point's services. Every layer writes progress
// lines, on the caller's, the monitor's and the reader's threads; handing a logger to each of
// them would widen every interface for a diagnostic. The services install their file log here
// and remove it when they go.
std::atomic<ILogSink*> g_sink{nullptr};
}  // namespace

void WriteLog(std::string line) {
    ILogSink* sink = g_sink.load(std::memory_order_acquire);
    if (sink == nullptr) return;
    try {
        sink->Write(line);
    } catch (...) {
        // A diagnostic line is not worth failing a command for (out of memory, a full disk).
    }
}

void WriteLog(const char* line) noexcept {
    ILogSink* sink = g_sink.load(std::memory_order_acquire);
    if (sink == nullptr || line == nullptr) return;
    try {
        sink->Write(std::string(line));
    } catch (...) {
        // As above: the line is lost, the caller goes on.
    }
}

void SetLogSink(ILogSink* sink) { g_sink.store(sink, std::memory_order_release); }

void RemoveLogSink(ILogSink* sink) {
    g_sink.compare_exchange_strong(sink, nullptr, std::memory_order_acq_rel);
}

ILogSink* GetLogSink() { return g_sink.load(std::memory_order_acquire); }

std::string Format(const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(copy);
        return std::string();
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        va_end(copy);
        return std::string(small, static_cast<size_t>(needed));
    }
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    return std::string(big.data(), static_cast<size_t>(needed));
}

}  // namespace quillon
