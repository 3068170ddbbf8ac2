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

}  // namespace

int main(int argc, char** argv) {
    std::string text;
    bool hex = false;
    if (argc > 1 && std::string(argv[1]) == "--hex") {
        hex = true;
        --argc;
        ++argv;
    }
    if (argc > 2) {
        std::fprintf(stderr, "usage: quillon_mykad_decode [--hex] [FILE]\n");
        return 2;
    }
    if (argc == 2) {
        FILE* file = std::fopen(argv[1], "rb");
        if (file == nullptr) {
            std::fprintf(stderr, "cannot read %s\n", argv[1]);
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
