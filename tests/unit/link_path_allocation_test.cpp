// The terminal link path runs on the monitor thread for every byte and every frame: it must not
// touch the heap (the counting operator new is in counting_allocator.cpp). The promise holds for
// the default configuration, where log lines are discarded: a file log allocates for each line.
#include <gtest/gtest.h>

#include <vector>

#include "counting_allocator.h"
#include "foundation/log.h"
#include "simulator/terminal_wire.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using testing_support::AllocationsIn;

// Keeps the reply code of each frame in a fixed array: the target must not allocate either.
class CountingSink : public IFrameSink {
  public:
    void OnFrame(const uint8_t* frame, int) override {
        if (frames < 8) codes[frames] = frame[3];
        ++frames;
    }
    int frames = 0;
    uint8_t codes[8] = {};
};

TEST(LinkPathAllocation, EncodingAVerifyAndCollectingRepliesAmongGarbageAllocateNothing) {
    ASSERT_EQ(GetLogSink(), nullptr);
    EXPECT_EQ(AllocationsIn([] { delete new std::vector<uint8_t>(64); }), 2)
        << "the counter sees the vector object and its bytes";
    // A two-finger verification: 1204 payload bytes and room behind them for the padding.
    static uint8_t plain[1204 + 5 + 8] = {kStx, 0x04, 0xB4, 0x28};
    static TerminalLink link;
    EXPECT_EQ(AllocationsIn([] { link.Encode(plain, 1204 + 5); }), 0);
    EXPECT_EQ(link.WorkArea()[1] * 256 + link.WorkArea()[2], 1208 + 3);

    // Garbage with no STX, a finger event, stray bytes, an oversize frame (L = 2188 does not fit
    // the work area: dropped at its length, its body stray bytes), a length that is no whole
    // block (L = 3, its last byte 0x20, never scrambled, an invalid padding count: an empty
    // frame), and an enrolment's template.
    std::vector<uint8_t> result = {0x27, 0x06, 0x02, 0x56}, stream(40, 0x41);
    result.resize(4 + 598, 0x33);
    const std::vector<uint8_t> parts[] = {
        sim::EncodeTerminalFrame({0x94, 0, 0, 0xA0}, link.LinkKey(), link.ScramblePair()),
        {0x03, 0xFF, 0x00, 0x20, 0x02, 0x08, 0x8C},
        std::vector<uint8_t>(30, 0x55),
        {0x02, 0x00, 0x03, 0x41, 0x42, 0x20, 0xA3, 0x03},
        sim::EncodeTerminalFrame(result, link.LinkKey(), link.ScramblePair())};
    for (const auto& part : parts) stream.insert(stream.end(), part.begin(), part.end());

    CountingSink sink;
    EXPECT_EQ(AllocationsIn([&stream, &sink] {
                  for (uint8_t b : stream) link.CollectReplyByte(b, &sink);
              }),
              0);
    EXPECT_EQ(sink.frames, 3);
    // The empty frame's code position holds its checksum.
    EXPECT_EQ(std::vector<uint8_t>(sink.codes, sink.codes + 3),
              (std::vector<uint8_t>{0x94, 0x00, 0x27}));
    EXPECT_EQ(link.ReceivedLength(), 0);
}

}  // namespace
}  // namespace quillon
