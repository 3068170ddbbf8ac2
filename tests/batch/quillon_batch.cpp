// quillon_batch: one process that keeps quillon.dll loaded for the e2e tests; a command a line on
// stdin, an answer line each: REQUEST -> "result: CODE<TAB>reply: TEXT"; "busy FIRST<TAB>SECOND"
// (FIRST on a thread, SECOND 500 ms later) -> SECOND's answer<TAB>FIRST's; "counts" -> settled
// "threads: N<TAB>handles: M"; "access CODE<TAB>REQ" -> REQ under that access code; "loaded NAME"
// -> "loaded: 1|0"; "search NAME" -> "search: PATH" the DLL search finds (empty: none);
// "sockets" -> "sockets: N" sockets starts now (counted by cleaning up); "quit".
#include <windows.h>
#include <winsock2.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "quillon.h"
#include "support/process_counts_win32.h"

namespace {

std::string Call(const std::string& request, const std::string& access = "QLN26") {
    std::vector<char> reply(4u << 20, '\0');  // the longest reply, a signature, is about 1 MiB
    char code[8] = {0};
    access.copy(code, 5);
    const int result = ProcessWebMessage(code, request.c_str(), reply.data());
    reply.back() = '\0';
    return "result: " + std::to_string(result) + "\treply: " + reply.data();
}

int StartedSockets() {
    int count = 0;
    while (count < 1000 && WSACleanup() == 0) ++count;
    WSADATA data;
    for (int i = 0; i < count; ++i) WSAStartup(MAKEWORD(2, 2), &data);
    return count;
}

std::string SearchedPath(const std::string& name) {
    char path[MAX_PATH + 1] = {0};
    const DWORD n = SearchPathA(nullptr, name.c_str(), nullptr, MAX_PATH, path, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

struct Running {
    std::string request, answer;
};
DWORD WINAPI CallOnThread(LPVOID param) {
    auto* running = static_cast<Running*>(param);
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
        } else if (line.compare(0, 7, "access ") == 0 && tab != std::string::npos) {
            answer = Call(line.substr(tab + 1), line.substr(7, tab - 7));
        } else if (line.compare(0, 7, "loaded ") == 0) {
            answer = std::string("loaded: ") +
                     (GetModuleHandleA(line.substr(7).c_str()) != nullptr ? "1" : "0");
        } else if (line.compare(0, 7, "search ") == 0) {
            answer = "search: " + SearchedPath(line.substr(7));
        } else if (line == "sockets") {
            answer = "sockets: " + std::to_string(StartedSockets());
        } else {
            answer = Call(line);
        }
        std::printf("%s\n", answer.c_str());
        std::fflush(stdout);
    }
    return 0;
}
