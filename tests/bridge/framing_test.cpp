// The length-prefixed framing: messages cut anywhere, lengths at and past the limit.
#include "framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon {
namespace bridge {
namespace {

std::string Header(uint32_t n) {
    return std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                       static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)};
}

// Events as "M:<payload>" or "L:<declared length>", then "mid" if the input ends in a message.
std::vector<std::string> Decode(const std::string& input, size_t piece) {
    FrameDecoder decoder;
    std::vector<FrameEvent> events;
    for (size_t at = 0; at < input.size(); at += piece) {
        decoder.Feed(input.data() + at, std::min(piece, input.size() - at), events);
    }
    std::vector<std::string> out;
    for (const FrameEvent& e : events) {
        out.push_back(e.kind == FrameEvent::kMessage ? "M:" + e.payload
                                                     : "L:" + std::to_string(e.declared));
    }
    if (decoder.MidMessage()) out.push_back("mid");
    return out;
}

TEST(BridgeFraming, DecodesTheSameMessagesWhereverThePipeCutsTheInput) {
    const std::string atLimit(kMessageMax, 'x');
    const struct {
        const char* what;
        std::string input;
        std::vector<std::string> events;
    } cases[] = {
        {"two in a row", Header(3) + "abc" + Header(1) + "z", {"M:abc", "M:z"}},
        {"an empty message", Header(0) + Header(1) + "q", {"M:", "M:q"}},
        {"the longest accepted", Header(kMessageMax) + atLimit, {"M:" + atLimit}},
        {"one byte over is skipped, the next one read",
         Header(kMessageMax + 1) + std::string(kMessageMax + 1, '{') + Header(2) + "ok",
         {"L:4097", "M:ok"}},
        {"a length of 2^32-1 is told at once", Header(0xFFFFFFFFu) + "{}", {"L:4294967295", "mid"}},
        {"the input ends inside a header",
         Header(2) + "{}" + Header(5).substr(0, 2),
         {"M:{}", "mid"}},
        {"the input ends inside a body", Header(9) + "{\"id\"", {"mid"}},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t{1}, size_t{3}, size_t{1} << 20}) {
            EXPECT_EQ(Decode(c.input, piece), c.events) << c.what << ", pieces of " << piece;
        }
    }
}

TEST(BridgeFraming, EncodesTheLengthInFourLittleEndianBytesBeforeThePayload) {
    EXPECT_EQ(EncodeFrame(""), std::string(4, '\0'));
    const std::string long_(70000, 'r');  // 0x11170
    EXPECT_EQ(EncodeFrame(long_), std::string("\x70\x11\x01\x00", 4) + long_);
}

}  // namespace
}  // namespace bridge
}  // namespace quillon
