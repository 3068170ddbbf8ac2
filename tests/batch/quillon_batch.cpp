// quillon_batch: one host process that keeps quillon.dll loaded and sends request after request,
// for the end-to-end tests that need several calls in one process (a fault and then the next
// request, a call while another runs, the soak run). One command a line on standard input; one
// answer line on standard output each, flushed at once:
//
//   REQUEST            -> "result: CODE<TAB>reply: TEXT"
//   busy FIRST<TAB>SECOND
//                      -> FIRST runs on a thread of its own; SECOND is sent 500 ms later from
//                         this thread. SECOND's answer, a tab, then FIRST's.
//   counts             -> "threads: N<TAB>handles: M" once the thread count has settled
//   quit               -> the program ends
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "quillon.h"
#include "support/process_counts_win32.h"

namespace {

using quillon::testing_support::HandleCount;
using quillon::testing_support::SettledThreadCount;

// The longest reply (a signature of 524,287 bytes) is about 1 MiB.
const size_t kReplySize = 4u << 20;

std::string Call(const std::string& request) {
    std::vector<char> reply(kReplySize, '\0');
    const int result = ProcessWebMessage("QLN26", request.c_str(), reply.data());
    reply[kReplySize - 1] = '\0';
    return "result: " + std::to_string(result) + "\treply: " + reply.data();
}

struct Running {
    std::string request;
    std::string answer;
};

DWORD WINAPI CallOnThread(LPVOID param) {
    Running* running = static_cast<Running*>(param);
    running->answer = Call(running->request);
    return 0;
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "quit") break;
        std::string answer;
        if (line == "counts") {
            const int threads = SettledThreadCount();
            answer = "threads: " + std::to_string(threads) +
                     "\thandles: " + std::to_string(HandleCount());
        } else if (line.compare(0, 5, "busy ") == 0 && line.find('\t') != std::string::npos) {
            Running first{line.substr(5, line.find('\t') - 5), ""};
            const HANDLE thread = CreateThread(nullptr, 0, CallOnThread, &first, 0, nullptr);
            Sleep(500);
            answer = Call(line.substr(line.find('\t') + 1));
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            answer += "\t" + first.answer;
        } else {
            answer = Call(line);
        }
        std::printf("%s\n", answer.c_str());
        std::fflush(stdout);
    }
    return 0;
}
