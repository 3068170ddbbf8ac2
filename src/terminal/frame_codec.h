// Terminal frames and their wire encoding: XTEA in 8-byte blocks, byte scrambling with a pair of
// scramble bytes, the outbound trailer, and the reply parser that collects inbound bytes and hands
// each complete, decoded frame on.
//
// Plain frame: STX, L (2 bytes, big-endian), L bytes (code and data), checksum, ETX; L + 5 bytes.
// Everything here uses fixed buffers only: it runs on the serial port's monitor thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quillon {

const uint8_t kStx = 0x02;
const uint8_t kEtx = 0x03;
const int kKeySize = 16;
const int kBlockSize = 8;
const int kRxFrameSize = 8192;
const int kWorkAreaSize = 2192;
// The only command enciphered with DefaultKey; its reply carries the next link key.
const uint8_t kCmdGetLltStatus = 0x23;

// Shared with the terminal's firmware.
extern const uint8_t DefaultKey[kKeySize];
extern const uint8_t kTrailerMask;

// ---- Primitives, shared with the terminal simulator ----

// One XTEA block (32 cycles) on two words; key words as read by LoadKeyWords.
void XteaEncipher(uint32_t v[2], const uint32_t k[4]);
void XteaDecipher(uint32_t v[2], const uint32_t k[4]);
// Word i is the little-endian value of key bytes 4i..4i+3.
void LoadKeyWords(const uint8_t key[kKeySize], uint32_t k[4]);

// Pads `data` (length bytes) to a whole number of blocks with p = 8 - length % 8 bytes of value p,
// then enciphers every block, except blocks with a word 0x00000000 or 0x20202020. `data` must
// have room for length + 8 bytes. Returns the padded length.
int EncipherBlocks(uint8_t* data, int length, const uint8_t key[kKeySize]);

// Deciphers the whole blocks of `data` (same skip rule, tested on the received words); a trailing
// partial block is left as it is. Returns length minus the padding count held in the last byte,
// or 0 when that count is above 8 or above length (invalid padding) or length is not positive.
int DecipherBlocks(uint8_t* data, int length, const uint8_t key[kKeySize]);

// Scrambles (or unscrambles: the rule is its own inverse) frame positions 3 to end - 1, position 3
// with pair[0], 4 with pair[1], and so on alternately. A byte stays unchanged when it or its
// scrambled value is 0x00, 0x20 or 0xFF.
void ScrambleBytes(uint8_t* frame, int end, const uint8_t pair[2]);

// Low 8 bits of the sum of `count` bytes.
uint8_t ByteSum(const uint8_t* bytes, int count);

// Encodes the plain frame (plainLength = L + 5 bytes) into the wire frame at `out` with the
// scramble pair `pair`, and returns its length n + 8, where n is L padded to whole blocks.
// Command 0x23 goes out with DefaultKey (key flag 0x01), any other with `linkKey`. Padding is
// written behind the payload in `plain`, which must have room for plainLength + 6 bytes; the plain
// frame's own length field and checksum are ignored. Returns 0 and writes nothing when
// plainLength < 6 (no command byte) or the wire frame would not fit the work area.
int EncodeFrame(uint8_t* out, uint8_t* plain, int plainLength, const uint8_t linkKey[kKeySize],
                const uint8_t pair[2]);

// Decodes the inbound wire frame `in` (L + 5 bytes, L from in[1..2]) with the scramble pair and
// key of the most recent outbound frame; unscrambles and deciphers `in` in place and writes the
// plain frame (m + 5 bytes, fresh checksum) to `out`. Returns m + 5. Returns 0 and writes nothing
// when L + 5 exceeds the work area.
int DecodeFrame(uint8_t* out, uint8_t* in, const uint8_t key[kKeySize], const uint8_t pair[2]);

// ---- Host side: the link ----

// Where the parser hands each complete, decoded frame: `frame` is the plain frame (STX .. ETX,
// `length` bytes), valid during the call. Called on the monitor thread, which waits for it.
class IFrameSink {
  public:
    virtual ~IFrameSink() = default;
    virtual void OnFrame(const uint8_t* frame, int length) = 0;
};

// Source of the two scramble bytes of each outbound frame.
using ScramblePairSource = void (*)(uint8_t pair[2]);
// Seeds the C runtime's generator with the time in whole seconds and draws two values (low 8 bits
// each): two frames within one second share their pair, which the terminal does not mind.
void TimeSeededPair(uint8_t pair[2]);

// The state of one terminal link: the link key, the scramble pair and key choice of the most
// recent outbound frame (every reply is decoded with them), the frame being received and the
// work area. The serial port owns one for the life of the process, so the link key installed by
// one command serves the next ones.
class TerminalLink {
  public:
    explicit TerminalLink(ScramblePairSource pairSource = TimeSeededPair);
    TerminalLink(const TerminalLink&) = delete;
    TerminalLink& operator=(const TerminalLink&) = delete;

    // The key for every frame but 0x23 from now on (from a status reply or a MyKad read).
    void InstallLinkKey(const uint8_t key[kKeySize]);
    const uint8_t* LinkKey() const { return linkKey_; }
    const uint8_t* ScramblePair() const { return pair_; }
    bool KeyFlag() const { return keyFlag_; }  // true: the most recent frame used DefaultKey
    // As if a frame had gone out with this pair and key choice (a replayed exchange).
    void SetOutbound(const uint8_t pair[2], bool keyFlag);

    // Encodes the plain frame into the work area with a fresh scramble pair; returns the wire
    // length (0: not encodable, see EncodeFrame). The wire frame stays valid until the next call.
    int Encode(uint8_t* plain, int plainLength);
    const uint8_t* WorkArea() const { return workArea_; }

    // Drops a partly received frame: a new command is going out. Any thread may call it.
    void ResetReceive() { rxLen_ = 0; }
    int ReceivedLength() const { return rxLen_.load(); }

    // Takes one received byte. Bytes that do not follow an STX are dropped one by one, each with
    // the log line "INVALID PROTOCOL REPLY RETURN". A frame whose L + 5 exceeds the work area is
    // dropped as soon as its length is in ("OVERSIZE FRAME DROPPED") and the parser waits for the
    // next STX. A complete frame is decoded in place and handed to `sink` (if any).
    void CollectReplyByte(uint8_t byte, IFrameSink* sink);

  private:
    ScramblePairSource pairSource_;
    uint8_t linkKey_[kKeySize] = {};
    uint8_t pair_[2] = {};
    bool keyFlag_ = false;
    // Written from the dialog's thread too (ResetReceive), hence atomic.
    std::atomic<int32_t> rxLen_{0};
    uint8_t rxFrame_[kRxFrameSize] = {};
    // Receives the encoded outbound frame and the decoded inbound frame, never both at once.
    uint8_t workArea_[kWorkAreaSize] = {};
};

}  // namespace quillon
