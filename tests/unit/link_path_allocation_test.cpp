// The terminal link path runs on the monitor thread for every byte and every frame: it must not
// touch the heap. This file replaces the global operator new (for the whole test binary) with one
// that forwards to malloc and counts the calls made on a thread that has switched counting on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "simulator/terminal_wire.h"
#include "terminal/frame_codec.h"

namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
}  // namespace

// Every form, so that nothing allocated here is freed by the sanitizer's allocator or the reverse.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (t_counting) ++t_allocations;
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void* operator new(std::size_t size) {
    void* p = operator new(size, std::nothrow);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace quillon {
namespace {

template <typename Run>
long AllocationsIn(Run run) {
    t_allocations = 0;
    t_counting = true;
    run();
    t_counting = false;
    return t_allocations;
}

class CountingTarget : public IReplyTarget {
public:
    void OnFrameComplete() override { ++frames; }
    int frames = 0;
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

}  // namespace
}  // namespace quillon
