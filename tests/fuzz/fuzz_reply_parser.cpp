// Byte streams into the reply parser. Input: a control byte (bit 0: the last frame sent used
// DefaultKey; bit 1: 16 link-key bytes follow the pair), the scramble pair, the received bytes.
// Every frame handed over must be whole and summed; ASan sees the receive frame and work area.
#include <cstdint>
#include <cstdlib>

#include "terminal/frame_codec.h"

using namespace quillon;

static void Check(bool ok) {
    if (!ok) std::abort();
}

static TerminalLink g_link;

static struct : IFrameSink {
    void OnFrame(const uint8_t* frame, int length) override {
        const int32_t count = g_link.ReceivedLength();
        const int m = frame[1] * 256 + frame[2];
        Check(count >= 7 && count <= kWorkAreaSize && m + 5 == length && length <= count);
        Check(frame[0] == kStx && frame[m + 4] == kEtx && frame[m + 3] == ByteSum(frame + 3, m));
    }
} g_sink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    g_link.SetOutbound(data + 1, (data[0] & 1) != 0);
    size_t at = 3;
    const uint8_t zeroKey[kKeySize] = {};
    g_link.InstallLinkKey(zeroKey);
    if ((data[0] & 2) != 0 && size >= at + kKeySize)
        g_link.InstallLinkKey(data + at), at += kKeySize;
    g_link.ResetReceive();
    for (; at < size; ++at) {
        const int32_t before = g_link.ReceivedLength();
        g_link.CollectReplyByte(data[at], &g_sink);
        const int32_t count = g_link.ReceivedLength();
        // A frame whose length is in and too long is given up at once.
        Check(count >= 0 && count < kWorkAreaSize && (count == 0 || count == before + 1));
    }
    return 0;
}
