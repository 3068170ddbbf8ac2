// quillon_host: links quillon.dll, sends one request through ProcessWebMessage and prints the
// result code and the reply. The request comes from the command line or, for long hexadecimal
// fields, from a file.
//
//   quillon_host [--access CODE] [--prefill TEXT] (--file PATH | REQUEST) | --help
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "quillon.h"

namespace {

// The longest reply (a signature of 524,287 bytes) is about 1 MiB.
const size_t kReplySize = 4u << 20;

const char kUsage[] =
    "usage: quillon_host [--access CODE] [--prefill TEXT] (--file PATH | REQUEST) | --help\n";

const char kHelp[] =
    "quillon_host: sends one request to quillon.dll and prints the result code and the reply.\n"
    "\n"
    "quillon.dll must be beside the program. The request is the bracketed text of\n"
    "docs/commands.md; long hexadecimal fields fit better in a file. Prints \"result: N\" and\n"
    "\"reply: TEXT\".\n"
    "\n"
    "Options:\n"
    "  --access CODE   the five-character access code (default: the library's own)\n"
    "  --prefill TEXT  put TEXT in the reply buffer first (shows a call that leaves it alone)\n"
    "  --file PATH     read the request from PATH instead of the command line\n"
    "  --help          this text\n"
    "\n"
    "Example:\n"
    "  quillon_host.exe \"[GETFIRMWAREVERSION][0][0]\"\n";

int Usage(const std::string& why) {
    std::fprintf(stderr, "quillon_host: %s\n%s", why.c_str(), kUsage);
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
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        const bool takesValue = arg == "--access" || arg == "--prefill" || arg == "--file";
        if (takesValue && i + 1 >= argc) return Usage(arg + " needs a value");
        if (arg == "--access") {
            access = argv[++i];
        } else if (arg == "--prefill") {
            prefill = argv[++i];
        } else if (arg == "--file") {
            if (!ReadFile(argv[++i], request)) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 2;
            }
            haveRequest = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            return Usage("unknown option " + arg);
        } else if (!haveRequest) {
            request = arg;
            haveRequest = true;
        } else {
            return Usage("one request at most, not " + arg);
        }
    }
    if (!haveRequest) return Usage("no request given");

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
