// Native messaging's framing: each message is a 4-byte little-endian length and that many bytes
// of UTF-8 JSON. The decoder takes the input in whatever pieces the pipe hands over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/sizes.h"

namespace quillon {
namespace bridge {

// The longest request the library reads in full: VERIFY2F with every field at the size the
// dispatcher keeps (field 1, show, port, two templates in hexadecimal) and its eight brackets.
constexpr size_t kLongestRequest =
    (kCommandSize - 1) + 2 * (kArgumentSize - 1) + (kVerify2FTextSize - 1) + 8;
// The longest message the bridge accepts: that request in a JSON object, with room for the
// envelope, escapes and an id of some length. Longer messages are refused unread.
constexpr size_t kMessageMax = 4096;
static_assert(kLongestRequest == 3004, "the longest request changed: review kMessageMax");
static_assert(kMessageMax >= kLongestRequest + 1024, "room for the envelope and the id");

struct FrameEvent {
    enum Kind {
        kMessage,  // payload holds a complete message
        kTooLong,  // a header announced `declared` bytes, more than kMessageMax: they are skipped
    };
    Kind kind;
    std::string payload;
    uint32_t declared;
};

class FrameDecoder {
  public:
    // Appends the events that the bytes complete to `events`.
    void Feed(const char* data, size_t size, std::vector<FrameEvent>& events);
    // True when the input so far ends inside a header, a message or a skipped message.
    bool MidMessage() const;

  private:
    enum class State { kHeader, kBody, kSkip };
    State state_ = State::kHeader;
    unsigned char header_[4] = {0, 0, 0, 0};
    size_t headerCount_ = 0;
    uint32_t length_ = 0;
    std::string body_;
    uint64_t skipLeft_ = 0;
};

// The frame of one outgoing message: its length in four little-endian bytes, then the bytes.
std::string EncodeFrame(const std::string& payload);

}  // namespace bridge
}  // namespace quillon
