// The terminal link path runs on the monitor thread for every byte and every frame: it must not
// touch the heap. The counting operator new is in counting_allocator.cpp.
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
class CountingTarget : public IReplyTarget {
public:
    void OnFrameComplete() override {
        if (frames < 8) codes[frames] = g_abRxFrame[3];
        ++frames;
    }
    int frames = 0;
    uint8_t codes[8] = {};
};

TEST(LinkPathAllocation, EncodingAVerifyAndCollectingAnEnrolmentsRepliesAllocateNothing) {
    EXPECT_EQ(AllocationsIn([] { delete new std::vector<uint8_t>(64); }), 2)
        << "the counter sees the vector object and its bytes";
    // A two-finger verification: 1204 payload bytes and room behind them for the padding.
    static uint8_t plain[1204 + 5 + 8] = {kStx, 0x04, 0xB4, 0x28};
    static uint8_t wire[kWorkAreaSize];
    EXPECT_EQ(AllocationsIn([] { EncodeFrame(wire, plain, 1204 + 5); }), 0);
    EXPECT_EQ(wire[1] * 256 + wire[2], 1208 + 3);

    // What an enrolment brings back: a finger event, then the template.
    std::vector<uint8_t> result = {0x27, 0x06, 0x02, 0x56}, stream;
    result.resize(4 + 598, 0x33);
    for (const auto& p : {std::vector<uint8_t>{0x94, 0, 0, 0xA0}, result}) {
        for (uint8_t b : sim::EncodeTerminalFrame(p, LinkKey, ScramblePair)) stream.push_back(b);
    }
    CountingTarget target;
    SetReplyTarget(&target);
    g_nRxLen = 0;
    EXPECT_EQ(AllocationsIn([&stream] { for (uint8_t b : stream) CollectReplyByte(b); }), 0);
    SetReplyTarget(nullptr);
    EXPECT_EQ(target.frames, 2);
    EXPECT_EQ(g_abRxFrame[3], 0x27);
}

// The promise holds for the default configuration, where log lines are discarded; with the file
// log switched on, each dropped byte's line is written to the file, which allocates.
TEST(LinkPathAllocation,
     GarbageBadLengthsOversizeFramesAndStrayBytesAllocateNothingWithoutAFileLog) {
    ASSERT_EQ(GetLogSink(), nullptr);
    std::vector<uint8_t> stream(40, 0x41);  // garbage, no STX among it
    for (uint8_t b : sim::EncodeTerminalFrame({0x94, 0, 0, 0xA0}, LinkKey, ScramblePair)) {
        stream.push_back(b);
    }
    for (uint8_t b : {0x03, 0xFF, 0x00, 0x20}) stream.push_back(b);  // stray between frames
    // Oversize: L = 2188 does not fit the work area; the frame is dropped at its length and its
    // body is stray bytes.
    for (uint8_t b : {0x02, 0x08, 0x8C}) stream.push_back(b);
    stream.insert(stream.end(), 30, 0x55);
    // A length that is no whole block: L = 3, its last byte (0x20, never scrambled) an invalid
    // padding count, so it decodes to an empty frame.
    for (uint8_t b : {0x02, 0x00, 0x03, 0x41, 0x42, 0x20, 0xA3, 0x03}) stream.push_back(b);
    std::vector<uint8_t> result = {0x27, 0x06, 0x02, 0x56};
    result.resize(4 + 598, 0x33);
    for (uint8_t b : sim::EncodeTerminalFrame(result, LinkKey, ScramblePair)) stream.push_back(b);

    CountingTarget target;
    SetReplyTarget(&target);
    g_nRxLen = 0;
    const auto collect = [&stream] {
        for (uint8_t b : stream) CollectReplyByte(b);
    };
    EXPECT_EQ(AllocationsIn(collect), 0);
    SetReplyTarget(nullptr);
    ASSERT_EQ(target.frames, 3);
    EXPECT_EQ(target.codes[0], 0x94);
    EXPECT_EQ(target.codes[1], 0x00) << "the empty frame's code position holds its checksum";
    EXPECT_EQ(target.codes[2], 0x27);
    EXPECT_EQ(g_nRxLen.load(), 0);
}

}  // namespace
}  // namespace quillon
