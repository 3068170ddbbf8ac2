#include "serial/port_rules.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(PortRules, DeviceNameAndLineSettingsTexts) {
    EXPECT_EQ(ComDeviceName(7), "\\\\.\\COM7");
    EXPECT_EQ(ComDeviceName(42), "\\\\.\\COM42") << "above nine only the device path works";
    EXPECT_EQ(LineSettings(115200, 'N', 8, 1), "baud=115200 parity=N data=8 stop=1");
}

TEST(PortRules, WarningCarriesCallSystemTextAndPortOnSeparateLines) {
    EXPECT_EQ(PortWarning("Open COM ERROR", "File not found.\r\n", 42),
              "WARNING:  Open COM ERROR Failed with the following error: \n"
              "File not found.\r\n\nPort: 42\n");
}

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
