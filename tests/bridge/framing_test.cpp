// The length-prefixed framing: messages cut anywhere by the pipe, lengths at and beyond the
// limit, and an input that ends inside a message.
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

// Events as "M:<payload>" or "L:<declared length>", fed in pieces of `piece` bytes.
std::vector<std::string> Decode(const std::string& input, size_t piece, bool* mid = nullptr) {
    FrameDecoder decoder;
    std::vector<FrameEvent> events;
    for (size_t at = 0; at < input.size(); at += piece) {
        decoder.Feed(input.data() + at, std::min(piece, input.size() - at), events);
    }
    if (mid != nullptr) *mid = decoder.MidMessage();
    std::vector<std::string> out;
    for (const FrameEvent& e : events) {
        out.push_back(e.kind == FrameEvent::kMessage ? "M:" + e.payload
                                                     : "L:" + std::to_string(e.declared));
    }
    return out;
}

TEST(BridgeFraming, DecodesTheSameMessagesWhereverThePipeCutsTheInput) {
    const std::string atLimit(kMessageMax, 'x');
    const struct {
        const char* what;
        std::string input;
        std::vector<std::string> events;
        bool midMessage;
    } cases[] = {
        {"one message", Header(2) + "{}", {"M:{}"}, false},
        {"two in a row", Header(3) + "abc" + Header(1) + "z", {"M:abc", "M:z"}, false},
        {"an empty message", Header(0) + Header(1) + "q", {"M:", "M:q"}, false},
        {"the longest accepted", Header(kMessageMax) + atLimit, {"M:" + atLimit}, false},
        {"one byte over is skipped, the next one read",
         Header(kMessageMax + 1) + std::string(kMessageMax + 1, '{') + Header(2) + "ok",
         {"L:4097", "M:ok"},
         false},
        {"a length of 2^32-1 is told at once", Header(0xFFFFFFFFu) + "{}", {"L:4294967295"}, true},
        {"length above 255 is little-endian",
         Header(0x0101) + std::string(0x0101, 'a'),
         {"M:" + std::string(257, 'a')},
         false},
        {"the input ends inside a header",
         Header(2) + "{}" + std::string("\x05\x00", 2),
         {"M:{}"},
         true},
        {"the input ends inside a body", Header(9) + "{\"id\"", {}, true},
        {"nothing at all", "", {}, false},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t{1}, size_t{3}, size_t{1} << 20}) {
            bool mid = false;
            EXPECT_EQ(Decode(c.input, piece, &mid), c.events) << c.what << ", pieces of " << piece;
            EXPECT_EQ(mid, c.midMessage) << c.what << ", pieces of " << piece;
        }
    }
}

TEST(BridgeFraming, EncodesTheLengthInFourLittleEndianBytesBeforeThePayload) {
    EXPECT_EQ(EncodeFrame("{}"), std::string("\x02\x00\x00\x00{}", 6));
    EXPECT_EQ(EncodeFrame(""), std::string(4, '\0'));
    const std::string long_(70000, 'r');  // 0x11170
    EXPECT_EQ(EncodeFrame(long_), std::string("\x70\x11\x01\x00", 4) + long_);
}

TEST(BridgeFraming, TheLimitHoldsTheLongestRequestTheLibraryReads) {
    // VERIFY2F with field 1, show, port and the templates each at the dispatcher's buffer.
    const std::string request = "[" + std::string(kCommandSize - 1, 'V') + "][" +
                                std::string(kArgumentSize - 1, '1') + "][" +
                                std::string(kArgumentSize - 1, '7') + "][" +
                                std::string(kVerify2FTextSize - 1, 'A') + "]";
    EXPECT_EQ(request.size(), kLongestRequest);
    const std::string message =
        "{\"id\":\"" + std::string(1000, 'i') + "\",\"request\":\"" + request + "\"}";
    EXPECT_LE(message.size(), kMessageMax);
    EXPECT_EQ(Decode(Header(static_cast<uint32_t>(message.size())) + message, 4096),
              std::vector<std::string>{"M:" + message});
}

}  // namespace
}  // namespace bridge
}  // namespace quillon
