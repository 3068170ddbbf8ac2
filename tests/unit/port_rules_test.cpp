#include "serial/port_rules.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

// The texts the port is opened and configured with, and its warning, are checked end to end
// (tests/e2e/test_comport.py) where the port really uses them.

TEST(PortRules, OnlyInvalidParameterAndPendingKeepTheMonitorWaiting) {
    const struct {
        uint32_t error;
        WaitFailure expected;
    } cases[] = {{6, WaitFailure::EndThread},
                 {87, WaitFailure::RetryOnPending},
                 {997, WaitFailure::Pending},
                 {0, WaitFailure::Fatal},
                 {996, WaitFailure::Fatal}};
    for (const auto& c : cases) EXPECT_EQ(ClassifyWaitFailure(c.error), c.expected) << c.error;
}

TEST(PortRules, WriteBufferTakesOneByteUpToItsWholeSize) {
    const struct {
        int length;
        bool fits;
    } cases[] = {{-1, false}, {0, false}, {1, true}, {2048, true}, {2049, false}};
    for (const auto& c : cases) EXPECT_EQ(FitsWriteBuffer(c.length), c.fits) << c.length;
}

}  // namespace
}  // namespace quillon
