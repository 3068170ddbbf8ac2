#include "terminal/frame_codec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "foundation/log.h"
#include "quillon_build_config.h"

namespace quillon {

const uint8_t DefaultKey[kKeySize] = {QUILLON_DEFAULT_KEY_BYTES};
const uint8_t kTrailerMask = QUILLON_TRAILER_MASK;

namespace {

const uint32_t kDelta = 0x9E3779B9u;
const int kCycles = 32;

uint32_t LoadBigEndian(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

void StoreBigEndian(uint32_t v, uint8_t* p) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

bool IsPassThroughWord(uint32_t w) { return w == 0x00000000u || w == 0x20202020u; }

// Blocks of spaces or with a zero word travel as they are, in both directions.
template <void (*Cipher)(uint32_t*, const uint32_t*)>
void CipherBlock(uint8_t* block, const uint32_t k[4]) {
    uint32_t v[2] = {LoadBigEndian(block), LoadBigEndian(block + 4)};
    if (IsPassThroughWord(v[0]) || IsPassThroughWord(v[1])) return;
    Cipher(v, k);
    StoreBigEndian(v[0], block);
    StoreBigEndian(v[1], block + 4);
}

bool IsUnscrambled(uint8_t b) { return b == 0x00 || b == 0x20 || b == 0xFF; }

void StoreLength(uint8_t* frame, int length) {
    frame[1] = static_cast<uint8_t>((length >> 8) & 0xFF);
    frame[2] = static_cast<uint8_t>(length & 0xFF);
}

}  // namespace

void XteaEncipher(uint32_t v[2], const uint32_t k[4]) {
    uint32_t v0 = v[0], v1 = v[1], sum = 0;
    for (int i = 0; i < kCycles; ++i) {
        v0 += (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + k[sum & 3]);
        sum += kDelta;
        v1 += (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + k[(sum >> 11) & 3]);
    }
    v[0] = v0;
    v[1] = v1;
}

void XteaDecipher(uint32_t v[2], const uint32_t k[4]) {
    uint32_t v0 = v[0], v1 = v[1], sum = kDelta * static_cast<uint32_t>(kCycles);
    for (int i = 0; i < kCycles; ++i) {
        v1 -= (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + k[(sum >> 11) & 3]);
        sum -= kDelta;
        v0 -= (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + k[sum & 3]);
    }
    v[0] = v0;
    v[1] = v1;
}

void LoadKeyWords(const uint8_t key[kKeySize], uint32_t k[4]) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t* p = key + 4 * i;
        k[i] = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }
}

int EncipherBlocks(uint8_t* data, int length, const uint8_t key[kKeySize]) {
    if (length < 0) length = 0;
    const int p = kBlockSize - length % kBlockSize;
    std::memset(data + length, p, static_cast<size_t>(p));
    const int n = length + p;
    uint32_t k[4];
    LoadKeyWords(key, k);
    for (int at = 0; at < n; at += kBlockSize) CipherBlock<XteaEncipher>(data + at, k);
    return n;
}

int DecipherBlocks(uint8_t* data, int length, const uint8_t key[kKeySize]) {
    if (length <= 0) return 0;
    uint32_t k[4];
    LoadKeyWords(key, k);
    // The terminal only sends whole blocks; a stray tail is not ours to read past.
    for (int at = 0; at + kBlockSize <= length; at += kBlockSize) {
        CipherBlock<XteaDecipher>(data + at, k);
    }
    const int p = data[length - 1];
    if (p > kBlockSize || p > length) return 0;
    return length - p;
}

void ScrambleBytes(uint8_t* frame, int end, const uint8_t pair[2]) {
    for (int i = 3; i < end; ++i) {
        const uint8_t b = frame[i];
        const uint8_t x = static_cast<uint8_t>(b ^ pair[(i - 3) & 1]);
        if (!IsUnscrambled(b) && !IsUnscrambled(x)) frame[i] = x;
    }
}

uint8_t ByteSum(const uint8_t* bytes, int count) {
    uint32_t sum = 0;
    for (int i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

void TimeSeededPair(uint8_t pair[2]) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    pair[0] = static_cast<uint8_t>(std::rand() & 0xFF);
    pair[1] = static_cast<uint8_t>(std::rand() & 0xFF);
}

int EncodeFrame(uint8_t* out, uint8_t* plain, int plainLength, const uint8_t linkKey[kKeySize],
                const uint8_t pair[2]) {
    const int length = plainLength - 5;
    if (length < 1) return 0;
    const int n = length + (kBlockSize - length % kBlockSize);
    if (n + 8 > kWorkAreaSize) return 0;

    const bool defaultKey = plain[3] == kCmdGetLltStatus;
    EncipherBlocks(plain + 3, length, defaultKey ? DefaultKey : linkKey);
    // The last three bytes of the padded payload go out unscrambled: the bound is n, not n + 3.
    ScrambleBytes(plain, n, pair);

    std::memcpy(out, plain, static_cast<size_t>(n + 3));
    out[0] = kStx;
    StoreLength(out, n + 3);
    out[n + 3] = static_cast<uint8_t>(pair[0] ^ kTrailerMask);
    out[n + 4] = static_cast<uint8_t>(pair[1] ^ kTrailerMask);
    out[n + 5] = defaultKey ? 0x01 : 0x00;
    out[n + 6] = ByteSum(out + 3, n + 3);
    out[n + 7] = kEtx;
    return n + 8;
}

int DecodeFrame(uint8_t* out, uint8_t* in, const uint8_t key[kKeySize], const uint8_t pair[2]) {
    const int length = in[1] * 256 + in[2];
    if (length + 5 > kWorkAreaSize) return 0;

    ScrambleBytes(in, length + 3, pair);
    const int m = DecipherBlocks(in + 3, length, key);

    std::memcpy(out, in, static_cast<size_t>(m + 5));
    StoreLength(out, m);
    out[m + 3] = ByteSum(out + 3, m);
    out[m + 4] = kEtx;
    return m + 5;
}

TerminalLink::TerminalLink(ScramblePairSource pairSource)
    : pairSource_(pairSource != nullptr ? pairSource : TimeSeededPair) {}

void TerminalLink::InstallLinkKey(const uint8_t key[kKeySize]) {
    std::memcpy(linkKey_, key, sizeof linkKey_);
}

void TerminalLink::SetOutbound(const uint8_t pair[2], bool keyFlag) {
    pair_[0] = pair[0];
    pair_[1] = pair[1];
    keyFlag_ = keyFlag;
}

int TerminalLink::Encode(uint8_t* plain, int plainLength) {
    if (plainLength < 6) return 0;
    const bool defaultKey = plain[3] == kCmdGetLltStatus;  // read before it is enciphered
    uint8_t pair[2];
    pairSource_(pair);
    const int wireLength = EncodeFrame(workArea_, plain, plainLength, linkKey_, pair);
    // A frame that never goes out leaves the link as it was.
    if (wireLength > 0) SetOutbound(pair, defaultKey);
    return wireLength;
}

void TerminalLink::CollectReplyByte(uint8_t byte, IFrameSink* sink) {
    int32_t count = rxLen_.load();
    if (count < 0 || count >= kWorkAreaSize) count = 0;  // never index past the buffers

    rxFrame_[count] = byte;
    if (rxFrame_[0] != kStx) {
        rxLen_ = 0;
        WriteLog("INVALID PROTOCOL REPLY RETURN");
        return;
    }
    rxLen_ = ++count;
    if (count < 3) return;

    const int length = rxFrame_[1] * 256 + rxFrame_[2];
    if (length + 5 > kWorkAreaSize) {
        // Too long for the work area: give the frame up and wait for the next STX.
        rxLen_ = 0;
        char line[48];
        std::snprintf(line, sizeof line, "OVERSIZE FRAME DROPPED (length %d)", length);
        WriteLog(line);
        return;
    }
    if (count <= 6 || count < length + 5) return;

    const int plainLength =
        DecodeFrame(workArea_, rxFrame_, keyFlag_ ? DefaultKey : linkKey_, pair_);
    std::memcpy(rxFrame_, workArea_, static_cast<size_t>(count));
    if (sink != nullptr) sink->OnFrame(rxFrame_, plainLength);
    rxLen_ = 0;
}

}  // namespace quillon
