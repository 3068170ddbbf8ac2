// quillon_batch: one host process that keeps quillon.dll loaded and sends request after request,
// for the end-to-end tests that need several calls in one process (a fault, then the next
// request; the soak run). Commands come on standard input, one a line; every answer is one line
// on standard output, flushed at once:
//
//   REQUEST          -> "result: CODE<TAB>reply: TEXT"
//   @file PATH       -> the same, with the request read from PATH (long hexadecimal fields)
//   counts           -> "threads: N<TAB>handles: M" once the thread count has settled
//   quit             -> the program ends
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "quillon.h"
#include "support/process_counts_win32.h"

namespace {

// The longest reply (a signature of 524,287 bytes) is about 1 MiB.
const size_t kReplySize = 4u << 20;

using quillon::testing_support::HandleCount;
using quillon::testing_support::ThreadCount;

// Threads that are ending (a monitor thread after its port closed) take a moment to go: report
// the count once it has stayed the same for half a second, or after five seconds.
int SettledThreadCount() {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    int count = ThreadCount();
    ULONGLONG stableSince = GetTickCount64();
    while (GetTickCount64() < deadline) {
        Sleep(50);
        const int now = ThreadCount();
        if (now != count) {
            count = now;
            stableSince = GetTickCount64();
        } else if (GetTickCount64() - stableSince >= 500) {
            break;
        }
    }
    return count;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) out.append(chunk, n);
    std::fclose(file);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return true;
}

bool ReadLine(std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
}

}  // namespace

int main() {
    static const char kAccess[8] = "QLN26";
    std::vector<char> reply(kReplySize, '\0');
    std::string line;
    while (ReadLine(line)) {
        if (line == "quit") break;
        if (line == "counts") {
            const int threads = SettledThreadCount();
            std::printf("threads: %d\thandles: %d\n", threads, HandleCount());
            std::fflush(stdout);
            continue;
        }
        std::string request = line;
        if (line.compare(0, 6, "@file ") == 0) {
            request.clear();
            if (!ReadWholeFile(line.substr(6), request)) {
                std::printf("error: cannot read %s\n", line.substr(6).c_str());
                std::fflush(stdout);
                continue;
            }
        }
        std::memset(reply.data(), 0, 64);
        const int result = ProcessWebMessage(kAccess, request.c_str(), reply.data());
        reply[kReplySize - 1] = '\0';
        std::printf("result: %d\treply: %s\n", result, reply.data());
        std::fflush(stdout);
    }
    return 0;
}
