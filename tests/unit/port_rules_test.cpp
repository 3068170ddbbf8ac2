#include "serial/port_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

TEST(ComDeviceName, EveryPortGoesThroughTheDeviceNamespaceAlsoAboveNine) {
    EXPECT_EQ(ComDeviceName(1), "\\\\.\\COM1");
    EXPECT_EQ(ComDeviceName(7), "\\\\.\\COM7");
    EXPECT_EQ(ComDeviceName(42), "\\\\.\\COM42");
    EXPECT_EQ(ComDeviceName(256), "\\\\.\\COM256");
}

TEST(LineSettings, FormatsTheDialogsCallAndOtherLines) {
    EXPECT_EQ(LineSettings(115200, 'N', 8, 1), "baud=115200 parity=N data=8 stop=1");
    EXPECT_EQ(LineSettings(9600, 'E', 7, 2), "baud=9600 parity=E data=7 stop=2");
}

TEST(PortWarning, CarriesCallSystemTextAndPortOnSeparateLines) {
    EXPECT_EQ(PortWarning("Open COM ERROR", "File not found.\r\n", 42),
              "WARNING:  Open COM ERROR Failed with the following error: \n"
              "File not found.\r\n\nPort: 42\n");
    EXPECT_EQ(PortWarning("SetCommState()", "", 3),
              "WARNING:  SetCommState() Failed with the following error: \n\nPort: 3\n");
}

TEST(ClassifyWaitFailure, OnlyInvalidParameterAndPendingKeepTheThreadWaiting) {
    const struct {
        uint32_t error;
        WaitFailure expected;
    } cases[] = {
        {6, WaitFailure::EndThread}, {87, WaitFailure::RetryOnPending}, {997, WaitFailure::Pending},
        {0, WaitFailure::Fatal},     {5, WaitFailure::Fatal},           {50, WaitFailure::Fatal},
        {995, WaitFailure::Fatal},   {996, WaitFailure::Fatal},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifyWaitFailure(c.error), c.expected) << "error " << c.error;
    }
}

TEST(FitsWriteBuffer, AcceptsOneByteUpToTheWholeBuffer) {
    const struct {
        int length;
        bool fits;
    } cases[] = {{-1, false},  {0, false},   {1, true},     {6, true},
                 {2047, true}, {2048, true}, {2049, false}, {65536, false}};
    for (const auto& c : cases) EXPECT_EQ(FitsWriteBuffer(c.length), c.fits) << c.length;
    EXPECT_EQ(kWriteBufferSize, 2048);
}

}  // namespace
}  // namespace quillon
