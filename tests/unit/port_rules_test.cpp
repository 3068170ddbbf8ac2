// The texts the port is opened and configured with, and its warning, are checked end to end
// (tests/e2e/test_comport.py) where the port really uses them.
#include "serial/port_rules.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(PortRules, OnlyInvalidParameterAndPendingKeepTheMonitorWaitingAndTheWriteBufferTakes1To2048) {
    const std::pair<uint32_t, WaitFailure> cases[] = {{6, WaitFailure::EndThread},
                                                      {87, WaitFailure::RetryOnPending},
                                                      {997, WaitFailure::Pending},
                                                      {0, WaitFailure::Fatal},
                                                      {996, WaitFailure::Fatal}};
    for (const auto& c : cases) EXPECT_EQ(ClassifyWaitFailure(c.first), c.second) << c.first;
    const std::pair<int, bool> fits[] = {{-1, 0}, {0, 0}, {1, 1}, {2048, 1}, {2049, 0}};
    for (const auto& f : fits) EXPECT_EQ(FitsWriteBuffer(f.first), f.second) << f.first;
}

}  // namespace
}  // namespace quillon
