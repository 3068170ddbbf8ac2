// Where the settings file is, and which COM port the counter terminal is on.
#pragma once

#include <string>

#include "foundation/platform.h"

namespace quillon {

// Where a settings file is looked for: .\QUILLON.ini, then System32, then the SysWow64 path
// whether or not it exists. The acquisition dialog stops at System32 and takes that path whether
// or not it exists; the two rules have always differed, and hosts rely on neither difference.
enum class IniSearch { kLibrary, kDialog };
std::string LocateIni(IFileSystem& files, IniSearch search);

// Holds the process-wide settings path. GetIniPath locates it once and keeps it for the life of
// the process; FindComPort forms it anew every time it runs.
class IniLocator {
  public:
    explicit IniLocator(IFileSystem& files) : files_(files) {}

    const std::string& GetIniPath();
    std::string Locate() { return LocateIni(files_, IniSearch::kLibrary); }
    void Store(const std::string& path) { path_ = path; }
    const std::string& Current() const { return path_; }
    IFileSystem& Files() { return files_; }

  private:
    IFileSystem& files_;
    std::string path_;
};

// The terminal's port: the CP210x bridge's first port from the registry, else [COMPORT] COM.
int FindComPort(IniLocator& locator, ISerialCommRegistry& registry, IProfile& profile);

extern const char kIniFileName[];

}  // namespace quillon
