#include "framing.h"

#include <algorithm>
#include <utility>

namespace quillon {
namespace bridge {

void FrameDecoder::Feed(const char* data, size_t size, std::vector<FrameEvent>& events) {
    size_t at = 0;
    while (at < size) {
        switch (state_) {
            case State::kHeader:
                header_[headerCount_++] = static_cast<unsigned char>(data[at++]);
                if (headerCount_ < 4) break;
                headerCount_ = 0;
                length_ = static_cast<uint32_t>(header_[0]) |
                          static_cast<uint32_t>(header_[1]) << 8 |
                          static_cast<uint32_t>(header_[2]) << 16 |
                          static_cast<uint32_t>(header_[3]) << 24;
                if (length_ > kMessageMax) {
                    // Told at once, so the page need not wait for bytes it may still be sending.
                    events.push_back({FrameEvent::kTooLong, std::string(), length_});
                    skipLeft_ = length_;
                    state_ = State::kSkip;
                } else if (length_ == 0) {
                    events.push_back({FrameEvent::kMessage, std::string(), 0});
                } else {
                    body_.clear();
                    state_ = State::kBody;
                }
                break;
            case State::kBody: {
                const size_t take =
                    std::min(size - at, static_cast<size_t>(length_) - body_.size());
                body_.append(data + at, take);
                at += take;
                if (body_.size() == length_) {
                    events.push_back({FrameEvent::kMessage, std::move(body_), length_});
                    body_.clear();
                    state_ = State::kHeader;
                }
                break;
            }
            case State::kSkip: {
                const uint64_t available = size - at;
                const uint64_t take = available < skipLeft_ ? available : skipLeft_;
                at += static_cast<size_t>(take);
                skipLeft_ -= take;
                if (skipLeft_ == 0) state_ = State::kHeader;
                break;
            }
        }
    }
}

bool FrameDecoder::MidMessage() const { return state_ != State::kHeader || headerCount_ != 0; }

std::string EncodeFrame(const std::string& payload) {
    const uint32_t n = static_cast<uint32_t>(payload.size());
    std::string frame;
    frame.reserve(4 + payload.size());
    for (int shift = 0; shift < 32; shift += 8)
        frame.push_back(static_cast<char>((n >> shift) & 0xFF));
    frame += payload;
    return frame;
}

}  // namespace bridge
}  // namespace quillon
