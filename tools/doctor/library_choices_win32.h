// The system's side of the doctor's view of the library: its choices on this PC, worked out with
// the library's own Win32 adapters.
#pragma once

#include <string>

#include "library_choices.h"

namespace quillon {
namespace doctor {

// The settings file, the port for port 0, the reader library and the file log, as quillon.dll in
// `libraryFolder` (with its trailing backslash) would find them from the current folder. Loads
// the reader library and waits for its version call: run it under a watchdog.
Choices WorkOutChoices(const std::string& libraryFolder);

}  // namespace doctor
}  // namespace quillon
