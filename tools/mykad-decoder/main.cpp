// quillon_mykad_decode: prints the fields of a MyKad reply of quillon.dll.
//
//   quillon_mykad_decode [--hex] [FILE]   (the reply text from FILE, or from standard input)
//
// --hex adds the unscrambled card data and photo as hexadecimal lines ("data hex:", "photo hex:"),
// for a host that keeps the card's bytes.
//
// Exit status: 0 decoded with every check byte right, 1 decoded with a wrong check byte, 2 when
// the text is not a decodable MyKad success reply.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "mykad_decoder.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

const char kUsage[] = "usage: quillon_mykad_decode [--hex] [FILE] [--help]\n";

const char kHelp[] =
    "quillon_mykad_decode: prints the fields of a MyKad reply of quillon.dll.\n"
    "\n"
    "Reads the reply text (as quillon_host prints it, \"reply: [READMYKAD]...\", or the bare\n"
    "reply) from FILE or from standard input, unscrambles the card data and prints one line\n"
    "per field, with the check bytes verified. Exit status 0 when every check byte is right,\n"
    "1 when one is wrong, 2 when the text is not a MyKad success reply.\n"
    "\n"
    "Options:\n"
    "  --hex   add the unscrambled card data and photo as hexadecimal lines\n"
    "  --help  this text\n"
    "\n"
    "Example:\n"
    "  quillon_host.exe '[READMYKAD][0][0][COUNTER-07][A1][T-000123]' | quillon_mykad_decode\n";

int BadArguments(const std::string& why) {
    std::fprintf(stderr, "quillon_mykad_decode: %s\n%s", why.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string text;
    bool hex = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--hex") {
            hex = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return BadArguments("unknown option " + arg);
        } else if (path != nullptr) {
            return BadArguments("one file at most, not " + arg);
        } else {
            path = argv[i];
        }
    }
    if (path != nullptr) {
        FILE* file = std::fopen(path, "rb");
        if (file == nullptr) {
            std::fprintf(stderr, "cannot read %s\n", path);
            return 2;
        }
        char chunk[8192];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
        std::fclose(file);
    } else {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    // A host program's output line ("reply: [..]") may carry text before the first bracket.
    mykaddecode::DecodedReply reply;
    std::string error;
    if (!mykaddecode::DecodeReply(
            text.substr(text.find('[') == std::string::npos ? 0 : text.find('[')), reply, error)) {
        std::fprintf(stderr, "not a MyKad reply: %s\n", error.c_str());
        return 2;
    }
    std::fputs(mykaddecode::Describe(reply).c_str(), stdout);
    if (hex) {
        std::printf("data hex:     %s\n", Hex(reply.data).c_str());
        if (reply.hasPhoto) std::printf("photo hex:    %s\n", Hex(reply.photo).c_str());
    }
    const bool checks =
        reply.markerCheck && reply.dataCheck && (!reply.hasPhoto || reply.photoCheck);
    return checks ? 0 : 1;
}
