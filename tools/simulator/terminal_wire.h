// The wire protocol seen from the terminal's end of the line: the host's outbound frames carry a
// trailer (scramble pair XOR mask, key flag); the terminal's frames carry none and reuse the pair
// and key of the host's most recent frame. Built on the host codec's primitives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {
namespace sim {

struct HostFrame {
    std::vector<uint8_t> plain;  // STX, L, code and data, fresh checksum, ETX
    uint8_t pair[2] = {0, 0};    // scramble pair from the trailer
    bool defaultKey = false;     // key flag 0x01
    bool paddingValid = true;    // false: deciphered padding count above 8 (wrong key?)
    uint8_t Code() const { return plain.size() > 3 ? plain[3] : 0; }
};

// Decodes one complete outbound wire frame (n + 8 bytes). `linkKey` is the terminal's current
// link key, used when the key flag is 0. False when the bytes are not a whole outbound frame.
bool DecodeHostFrame(const uint8_t* wire, size_t size, const uint8_t linkKey[16], HostFrame* out);

// Encodes the payload (reply code and data, L bytes) as an inbound wire frame: padded,
// enciphered with `key`, all n payload bytes scrambled with `pair`, checksum, ETX.
std::vector<uint8_t> EncodeTerminalFrame(const std::vector<uint8_t>& payload, const uint8_t key[16],
                                         const uint8_t pair[2]);

// Splits the received byte stream into wire frames: STX, length W (2 bytes), W + 2 more bytes.
// Bytes before an STX are skipped and counted; a length above kMaxWireLength resynchronises.
class WireFramer {
  public:
    static const int kMaxWireLength = 4096;

    // Appends the byte; returns true when it completed a frame (then Frame() holds it).
    bool Push(uint8_t byte);
    const std::vector<uint8_t>& Frame() const { return frame_; }
    bool Partial() const { return !pending_.empty(); }
    void Reset() { pending_.clear(); }
    size_t SkippedBytes() const { return skipped_; }

  private:
    std::vector<uint8_t> pending_;
    std::vector<uint8_t> frame_;
    size_t skipped_ = 0;
};

std::string ToHex(const std::vector<uint8_t>& bytes);

// One line of the record file: hex of the decoded plain frame, a space, the key flag digit;
// an undecodable frame as "BAD", the wire hex and the key flag.
std::string RecordLine(const HostFrame& frame, const std::vector<uint8_t>& wire);

}  // namespace sim
}  // namespace quillon
