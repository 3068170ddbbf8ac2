#include "simulator/terminal_wire.h"

#include <algorithm>

#include "terminal/frame_codec.h"

namespace quillon {
namespace sim {

namespace {

void AppendLength(std::vector<uint8_t>* out, size_t length) {
    out->push_back(static_cast<uint8_t>((length >> 8) & 0xFF));
    out->push_back(static_cast<uint8_t>(length & 0xFF));
}

}  // namespace

bool DecodeHostFrame(const uint8_t* wire, size_t size, const uint8_t linkKey[16], HostFrame* out) {
    if (size < 16 || wire[0] != kStx) return false;
    const size_t wireLength = static_cast<size_t>(wire[1]) * 256 + wire[2];
    if (wireLength + 5 != size) return false;
    const int n = static_cast<int>(wireLength) - 3;

    std::vector<uint8_t> work(wire, wire + size);
    out->pair[0] = static_cast<uint8_t>(work[n + 3] ^ kTrailerMask);
    out->pair[1] = static_cast<uint8_t>(work[n + 4] ^ kTrailerMask);
    out->defaultKey = work[n + 5] == 0x01;

    // The host leaves the last three padded-payload bytes unscrambled.
    ScrambleBytes(work.data(), n, out->pair);
    DecipherBlocks(work.data() + 3, n, out->defaultKey ? DefaultKey : linkKey);

    const int p = work[3 + n - 1];
    bool valid = p >= 1 && p <= 8;
    for (int i = 0; valid && i < p; ++i) valid = work[3 + n - 1 - i] == p;
    out->paddingValid = valid;
    const int length = valid ? n - p : n;

    out->plain.assign(1, kStx);
    AppendLength(&out->plain, static_cast<size_t>(length));
    out->plain.insert(out->plain.end(), work.begin() + 3, work.begin() + 3 + length);
    out->plain.push_back(ByteSum(work.data() + 3, length));
    out->plain.push_back(kEtx);
    return true;
}

std::vector<uint8_t> EncodeTerminalFrame(const std::vector<uint8_t>& payload, const uint8_t key[16],
                                         const uint8_t pair[2]) {
    std::vector<uint8_t> frame(3 + payload.size() + kBlockSize + 2, 0);
    std::copy(payload.begin(), payload.end(), frame.begin() + 3);
    const int n = EncipherBlocks(frame.data() + 3, static_cast<int>(payload.size()), key);
    frame.resize(static_cast<size_t>(n) + 5);
    frame[0] = kStx;
    frame[1] = static_cast<uint8_t>((n >> 8) & 0xFF);
    frame[2] = static_cast<uint8_t>(n & 0xFF);
    // Inbound frames are scrambled over all n payload bytes.
    ScrambleBytes(frame.data(), n + 3, pair);
    frame[n + 3] = ByteSum(frame.data() + 3, n);
    frame[n + 4] = kEtx;
    return frame;
}

bool WireFramer::Push(uint8_t byte) {
    if (pending_.empty() && byte != kStx) {
        ++skipped_;
        return false;
    }
    pending_.push_back(byte);
    if (pending_.size() < 3) return false;
    const size_t wireLength = static_cast<size_t>(pending_[1]) * 256 + pending_[2];
    if (wireLength > static_cast<size_t>(kMaxWireLength)) {
        skipped_ += pending_.size();
        pending_.clear();
        return false;
    }
    if (pending_.size() < wireLength + 5) return false;
    frame_.swap(pending_);
    pending_.clear();
    return true;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::string RecordLine(const HostFrame& frame, const std::vector<uint8_t>& wire) {
    const char* flag = frame.defaultKey ? "1" : "0";
    if (!frame.paddingValid) return "BAD " + ToHex(wire) + " " + flag;
    return ToHex(frame.plain) + " " + flag;
}

}  // namespace sim
}  // namespace quillon
