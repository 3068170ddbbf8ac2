#include "serial/port_rules.h"

#include "foundation/log.h"

namespace quillon {

std::string ComDeviceName(unsigned portNumber) { return Format("\\\\.\\COM%u", portNumber); }

std::string LineSettings(unsigned baud, char parity, unsigned dataBits, unsigned stopBits) {
    return Format("baud=%u parity=%c data=%u stop=%u", baud, parity, dataBits, stopBits);
}

std::string PortWarning(const char* callName, const std::string& systemText, unsigned portNumber) {
    return Format("WARNING:  %s Failed with the following error: \n%s\nPort: %u\n", callName,
                  systemText.c_str(), portNumber);
}

WaitFailure ClassifyWaitFailure(uint32_t lastError) {
    switch (lastError) {
        case kErrorInvalidHandle:
            return WaitFailure::EndThread;
        case kErrorInvalidParameter:
            return WaitFailure::RetryOnPending;
        case kErrorIoPending:
            return WaitFailure::Pending;
        default:
            return WaitFailure::Fatal;
    }
}

bool FitsWriteBuffer(int length) { return length > 0 && length <= kWriteBufferSize; }

}  // namespace quillon
