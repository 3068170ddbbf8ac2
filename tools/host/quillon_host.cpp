// quillon_host: links quillon.dll, sends one request through ProcessWebMessage and prints the
// result code and the reply. The request comes from the command line or, for long hexadecimal
// fields, from a file.
//
//   quillon_host [--access CODE] [--prefill TEXT] (--file PATH | REQUEST)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "quillon.h"

namespace {

// The longest reply (a signature of 524,287 bytes) is about 1 MiB.
const size_t kReplySize = 4u << 20;

int Usage() {
    std::fprintf(stderr,
                 "usage: quillon_host [--access CODE] [--prefill TEXT] "
                 "(--file PATH | REQUEST)\n");
    return 2;
}

bool ReadFile(const char* path, std::string& out) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) out.append(chunk, n);
    std::fclose(file);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string access = "QLN26";
    std::string prefill;
    std::string request;
    bool haveRequest = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--access" && i + 1 < argc) {
            access = argv[++i];
        } else if (arg == "--prefill" && i + 1 < argc) {
            prefill = argv[++i];
        } else if (arg == "--file" && i + 1 < argc) {
            if (!ReadFile(argv[++i], request)) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 2;
            }
            haveRequest = true;
        } else if (!haveRequest) {
            request = arg;
            haveRequest = true;
        } else {
            return Usage();
        }
    }
    if (!haveRequest) return Usage();

    std::vector<char> reply(kReplySize, '\0');
    std::memcpy(reply.data(), prefill.c_str(), prefill.size() < kReplySize ? prefill.size() : 0);
    // The access code is passed as five bytes; a shorter code is padded with NULs.
    char code[8] = {0};
    std::memcpy(code, access.c_str(), access.size() < 5 ? access.size() : 5);
    const int result = ProcessWebMessage(code, request.c_str(), reply.data());
    reply[kReplySize - 1] = '\0';
    std::printf("result: %d\nreply: %s\n", result, reply.data());
    std::fflush(stdout);
    return 0;
}
