// The system's side of the doctor's view of the library: the version resource of quillon.dll and
// the library's choices on this PC, worked out with the library's own Win32 adapters.
#pragma once

#include <string>

#include "library_choices.h"

namespace quillon {
namespace doctor {

// The file version of the module at `path` from its version resource ("0.1.0"); empty when it has
// none.
std::string FileVersion(const std::string& path);

// The settings file, the port for port 0, the reader library and the file log, as quillon.dll in
// `libraryFolder` (with its trailing backslash) would find them from the current folder. Loads
// the reader library and waits for its version call: run it under a watchdog.
Choices WorkOutChoices(const std::string& libraryFolder);

}  // namespace doctor
}  // namespace quillon
