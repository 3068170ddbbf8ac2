// quillon_batch: one host process that keeps quillon.dll loaded, for the end-to-end tests that
// need several calls in one process. One command a line on standard input, one answer line each:
//   REQUEST               -> "result: CODE<TAB>reply: TEXT"
//   busy FIRST<TAB>SECOND -> FIRST runs on a thread of its own, SECOND is sent 500 ms later from
//                            this thread; SECOND's answer, a tab, then FIRST's
//   counts                -> "threads: N<TAB>handles: M" once the thread count has settled
//   quit                  -> the program ends
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "quillon.h"
#include "support/process_counts_win32.h"

namespace {

std::string Call(const std::string& request) {
    std::vector<char> reply(4u << 20, '\0');  // the longest reply, a signature, is about 1 MiB
    const int result = ProcessWebMessage("QLN26", request.c_str(), reply.data());
    reply.back() = '\0';
    return "result: " + std::to_string(result) + "\treply: " + reply.data();
}

struct Running {
    std::string request, answer;
};

DWORD WINAPI CallOnThread(LPVOID param) {
    Running* running = static_cast<Running*>(param);
    running->answer = Call(running->request);
    return 0;
}

}  // namespace

int main() {
    using namespace quillon::testing_support;
    for (std::string line; std::getline(std::cin, line) && line != "quit";) {
        std::string answer;
        const size_t tab = line.find('\t');
        if (line == "counts") {
            const int threads = SettledThreadCount();
            answer = "threads: " + std::to_string(threads) +
                     "\thandles: " + std::to_string(HandleCount());
        } else if (line.compare(0, 5, "busy ") == 0 && tab != std::string::npos) {
            Running first{line.substr(5, tab - 5), ""};
            const HANDLE thread = CreateThread(nullptr, 0, CallOnThread, &first, 0, nullptr);
            Sleep(500);
            answer = Call(line.substr(tab + 1));
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
