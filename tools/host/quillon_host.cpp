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
#include "quillon_build_config.h"

namespace {

// Room for the longest reply of any request.
const size_t kReplySize = QUILLON_REPLY_MAX;

const char kUsage[] =
    "usage: quillon_host [--access CODE] [--prefill TEXT] (--file PATH | REQUEST)\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int Help() {
    std::printf(
        "quillon_host %s: sends one request to quillon.dll (beside this program) and prints\n"
        "the result code and the reply.\n\n%s"
        "  --access CODE   the five-character access code (default: the build's)\n"
        "  --prefill TEXT  put TEXT in the reply buffer first\n"
        "  --file PATH     read the request from PATH (for long hexadecimal fields)\n"
        "  --help          this text\n"
        "\nexample: quillon_host \"[GETSERIALNUMBER][0][0]\"\n",
        QUILLON_VERSION_TEXT, kUsage);
    return 0;
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
    std::string access = QUILLON_ACCESS_CODE_TEXT;
    std::string prefill;
    std::string request;
    bool haveRequest = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") return Help();
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
