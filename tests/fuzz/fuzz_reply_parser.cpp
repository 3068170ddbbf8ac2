// Arbitrary byte streams into the reply parser. Input: one control byte (bit 0: the last frame
// sent used DefaultKey; bit 1: 16 link-key bytes follow the pair), the scramble pair, then the
// received bytes. Every hand-over and every byte is checked against the parser's bounds; ASan
// catches any access outside g_abRxFrame and the work area.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "terminal/frame_codec.h"

using namespace quillon;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

struct CheckingTarget : IReplyTarget {
    void OnFrameComplete() override {
        const int32_t count = g_nRxLen.load();
        const int m = g_abRxFrame[1] * 256 + g_abRxFrame[2];
        Check(count >= 7 && count <= kWorkAreaSize && m + 5 <= count);
        Check(g_abRxFrame[0] == kStx && g_abRxFrame[m + 4] == kEtx);
        Check(g_abRxFrame[m + 3] == ByteSum(g_abRxFrame + 3, m));
    }
} g_target;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    SetReplyTarget(&g_target);
    KeyFlag = (data[0] & 1) != 0;
    ScramblePair[0] = data[1];
    ScramblePair[1] = data[2];
    size_t at = 3;
    std::memset(LinkKey, 0, kKeySize);
    if ((data[0] & 2) != 0 && size >= at + kKeySize) {
        std::memcpy(LinkKey, data + at, kKeySize);
        at += kKeySize;
    }
    g_nRxLen = 0;
    for (; at < size; ++at) {
        CollectReplyByte(data[at]);
        const int32_t count = g_nRxLen.load();
        Check(count >= 0 && count < kWorkAreaSize);
        // The oversize rule: once the length is in, the frame fits the work area.
        if (count >= 3) Check(g_abRxFrame[1] * 256 + g_abRxFrame[2] + 5 <= kWorkAreaSize);
    }
    return 0;
}
