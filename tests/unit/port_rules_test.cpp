// The port's warning text is checked end to end by the serial-port probe (tests/comport), where a
// real failed open produces it.
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

TEST(PortRules, DevicePathReachesPortsAbove9AndTheLineStringIsTheOneBuildCommDcbTakes) {
    EXPECT_EQ(ComDeviceName(12), "\\\\.\\COM12");
    EXPECT_EQ(LineSettings(115200, 'N', 8, 1), "baud=115200 parity=N data=8 stop=1");
}

}  // namespace
}  // namespace quillon
