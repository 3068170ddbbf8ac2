// The terminal link path runs on the monitor thread for every byte and every frame: it must not
// touch the heap. This file replaces the global operator new (for the whole test binary) with one
// that forwards to malloc and, only on a thread that has switched counting on, counts each call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "terminal/frame_codec.h"

namespace {

thread_local bool t_counting = false;
thread_local long t_allocations = 0;

void* CountedAllocation(std::size_t size) {
    if (t_counting) ++t_allocations;
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size); }
void* operator new[](std::size_t size) { return CountedAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace quillon {
namespace {

// Counts the operator-new calls made on this thread while it lives.
class AllocationScope {
public:
    AllocationScope() {
        t_allocations = 0;
        t_counting = true;
    }
    ~AllocationScope() { t_counting = false; }
    long Count() const { return t_allocations; }
};

class CountingTarget : public IReplyTarget {
public:
    void OnFrameComplete() override {
        ++frames;
        lastCode = g_abRxFrame[3];
    }
    int frames = 0;
    uint8_t lastCode = 0;
};

void FixedPair(uint8_t pair[2]) {
    pair[0] = 0x4D;
    pair[1] = 0xB6;
}

// The terminal's side: payload padded and enciphered with LinkKey, every payload byte scrambled
// with the pair of the host's latest frame.
std::vector<uint8_t> InboundWire(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(3 + payload.size() + 8 + 2);
    std::memcpy(frame.data() + 3, payload.data(), payload.size());
    const int n = EncipherBlocks(frame.data() + 3, static_cast<int>(payload.size()), LinkKey);
    frame[0] = kStx;
    frame[1] = static_cast<uint8_t>(n >> 8);
    frame[2] = static_cast<uint8_t>(n);
    ScrambleBytes(frame.data(), n + 3, ScramblePair);
    frame[n + 3] = ByteSum(frame.data() + 3, n);
    frame[n + 4] = kEtx;
    frame.resize(static_cast<size_t>(n) + 5);
    return frame;
}

class LinkPathAllocation : public ::testing::Test {
protected:
    void SetUp() override {
        SetScramblePairSource(FixedPair);
        SetReplyTarget(&target);
        for (int i = 0; i < kKeySize; ++i) LinkKey[i] = static_cast<uint8_t>(0x31 * i + 7);
        g_nRxLen = 0;
    }
    void TearDown() override {
        SetReplyTarget(nullptr);
        SetScramblePairSource(nullptr);
        std::memset(LinkKey, 0, sizeof LinkKey);
        g_nRxLen = 0;
    }
    CountingTarget target;
};

TEST_F(LinkPathAllocation, TheCounterSeesAnAllocationMadeInItsScope) {
    long counted = 0;
    {
        AllocationScope scope;
        std::vector<uint8_t>* v = new std::vector<uint8_t>(64);
        counted = scope.Count();
        delete v;
    }
    EXPECT_EQ(counted, 2) << "the vector object and its 64 bytes";
}

TEST_F(LinkPathAllocation, EncodingTheLargestVerifyFrameAllocatesNothing) {
    // A two-finger verification: 1204 payload bytes, room behind them for the padding.
    static uint8_t plain[1204 + 5 + 8];
    plain[0] = kStx;
    plain[1] = 0x04;
    plain[2] = 0xB4;
    plain[3] = 0x28;
    for (int i = 4; i < 1204 + 3; ++i) plain[i] = static_cast<uint8_t>(i * 7);
    static uint8_t out[kWorkAreaSize];

    int length = 0;
    long allocations = -1;
    {
        AllocationScope scope;
        length = EncodeFrame(out, plain, 1204 + 5);
        allocations = scope.Count();
    }
    EXPECT_EQ(length, 1208 + 8);
    EXPECT_EQ(allocations, 0);
}

TEST_F(LinkPathAllocation, DecodingAnEnrolmentResultAllocatesNothing) {
    std::vector<uint8_t> payload = {0x27, 0x06, 0x02, 0x56};
    payload.resize(4 + 598, 0x5A);
    std::vector<uint8_t> wire = InboundWire(payload);
    static uint8_t out[kWorkAreaSize];

    int length = 0;
    long allocations = -1;
    {
        AllocationScope scope;
        length = DecodeFrame(out, wire.data());
        allocations = scope.Count();
    }
    EXPECT_EQ(length, 602 + 5);
    EXPECT_EQ(out[3], 0x27);
    EXPECT_EQ(allocations, 0);
}

TEST_F(LinkPathAllocation, CollectingEventsAndAResultByteByByteAllocatesNothing) {
    // What an enrolment brings back: three finger events, then the template.
    std::vector<uint8_t> stream;
    for (uint8_t code : {0xA0, 0xA5, 0xA6}) {
        const std::vector<uint8_t> event = InboundWire({0x94, 0x00, 0x00, code});
        stream.insert(stream.end(), event.begin(), event.end());
    }
    std::vector<uint8_t> result = {0x27, 0x06, 0x02, 0x56};
    result.resize(4 + 598, 0x33);
    const std::vector<uint8_t> last = InboundWire(result);
    stream.insert(stream.end(), last.begin(), last.end());

    long allocations = -1;
    {
        AllocationScope scope;
        for (uint8_t byte : stream) CollectReplyByte(byte);
        allocations = scope.Count();
    }
    EXPECT_EQ(target.frames, 4);
    EXPECT_EQ(target.lastCode, 0x27);
    EXPECT_EQ(allocations, 0);
}

}  // namespace
}  // namespace quillon
