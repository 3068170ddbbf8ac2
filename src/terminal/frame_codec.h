// Terminal frames and their wire encoding: XTEA in 8-byte blocks, byte scrambling with a pair of
// scramble bytes, the outbound trailer, and the reply parser that collects inbound bytes into
// g_abRxFrame and hands each complete, decoded frame to the dialog.
//
// Plain frame: STX, L (2 bytes, big-endian), L bytes (code and data), checksum, ETX; L + 5 bytes.
// Everything here runs on the serial port's monitor thread and uses fixed buffers only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quillon {

// Window message sent (synchronously) to the acquisition dialog when a reply frame is complete.
const unsigned WM_TERMINAL_REPLY = 0x0402;

const uint8_t kStx = 0x02;
const uint8_t kEtx = 0x03;
const int kKeySize = 16;
const int kBlockSize = 8;
const int kRxFrameSize = 8192;
const int kWorkAreaSize = 2192;
// The only command enciphered with DefaultKey; its reply carries the next LinkKey.
const uint8_t kCmdGetLltStatus = 0x23;

// Shared with the terminal's firmware.
extern const uint8_t DefaultKey[kKeySize];
extern const uint8_t kTrailerMask;

// Link state of the most recent outbound frame; every reply is decoded with it.
extern uint8_t LinkKey[kKeySize];
extern uint8_t ScramblePair[2];
extern bool KeyFlag;  // true: the most recent outbound frame used DefaultKey

// Reply parser state. Command builders set g_nRxLen to 0 (from the dialog's thread) just before
// they send, so it is atomic; the parser itself only runs on the monitor thread.
extern uint8_t g_abRxFrame[kRxFrameSize];
extern std::atomic<int32_t> g_nRxLen;
// Receives the encoded outbound frame and the decoded inbound frame, never both at once.
extern uint8_t g_abWorkArea[kWorkAreaSize];

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

// ---- Host side ----

// Source of the two scramble bytes of each outbound frame. The default seeds the C runtime's
// generator with the time in whole seconds and draws two values (low 8 bits each).
using ScramblePairSource = void (*)(uint8_t pair[2]);
// nullptr restores the default.
void SetScramblePairSource(ScramblePairSource source);

// Encodes the plain frame (plainLength = L + 5 bytes) into the wire frame at `out` and returns its
// length n + 8, where n is L padded to whole blocks. Sets ScramblePair and KeyFlag (command 0x23
// uses DefaultKey, any other LinkKey). Padding is written behind the payload in `plain`, which
// must have room for plainLength + 6 bytes; the plain frame's own length field and checksum are
// ignored. Returns 0 and writes nothing when plainLength < 6 (no command byte) or the wire frame
// would not fit the work area.
int EncodeFrame(uint8_t* out, uint8_t* plain, int plainLength);

// Decodes the inbound wire frame `in` (L + 5 bytes, L from in[1..2]) with ScramblePair and the key
// chosen by KeyFlag; unscrambles and deciphers `in` in place and writes the plain frame (m + 5
// bytes, fresh checksum) to `out`. Returns m + 5. Returns 0 and writes nothing when L + 5 exceeds
// the work area.
int DecodeFrame(uint8_t* out, uint8_t* in);

// Told synchronously when the parser has decoded a complete frame into g_abRxFrame; the Win32 side
// sends WM_TERMINAL_REPLY to the dialog's window. The frame is valid until the call returns.
class IReplyTarget {
public:
    virtual ~IReplyTarget() = default;
    virtual void OnFrameComplete() = 0;
};

// nullptr: complete frames are decoded and dropped. The target must outlive its installation.
void SetReplyTarget(IReplyTarget* target);
IReplyTarget* GetReplyTarget();

// Takes one received byte. Bytes that do not follow an STX are dropped one by one, each with the
// log line "INVALID PROTOCOL REPLY RETURN". A frame whose L + 5 exceeds the work area is dropped
// as soon as its length is in ("OVERSIZE FRAME DROPPED") and the parser waits for the next STX.
void CollectReplyByte(uint8_t byte);

}  // namespace quillon
