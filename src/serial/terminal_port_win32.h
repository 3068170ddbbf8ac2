// The process's terminal port: ComPort on a Win32 COM port.
#pragma once

#include "serial/comport.h"
#include "serial/port_device_win32.h"

namespace quillon {

// The device is a base, so that it is built before the ComPort that uses it.
class Win32TerminalPort : private Win32PortDevice, public ComPort {
  public:
    Win32TerminalPort() : ComPort(static_cast<Win32PortDevice&>(*this)) {}
};

}  // namespace quillon
