#include "foundation/settings.h"

#include <cstring>

#include "foundation/number_text.h"
#include "foundation/setting_table.h"
#include "foundation/sizes.h"

namespace quillon {

const char kIniFileName[] = "QUILLON.ini";

namespace {
const char* const kBridgeValueNames[] = {"\\Device\\slabser0", "\\Device\\Slabser0",
                                         "\\Device\\silabser0", "\\Device\\Silabser0"};
}  // namespace

std::string LocateIni(IFileSystem& files, IniSearch search) {
    const std::string local = std::string(".\\") + kIniFileName;
    if (files.CanOpenForRead(local)) return local;
    const std::string windows = files.WindowsDirectory(kWindowsDirCapacity);
    const std::string system32 = windows + "\\System32\\" + kIniFileName;
    if (search == IniSearch::kDialog || files.CanOpenForRead(system32)) return system32;
    return windows + "\\SysWow64\\" + kIniFileName;
}

const std::string& IniLocator::GetIniPath() {
    if (path_.empty()) path_ = Locate();
    return path_;
}

int FindComPort(IniLocator& locator, ISerialCommRegistry& registry, IProfile& profile) {
    locator.Store(locator.Locate());
    int port = 0;
    if (registry.Open()) {
        char data[1024];
        std::memset(data, 0, sizeof data);
        std::memcpy(data, "NULL", 4);
        for (const char* name : kBridgeValueNames) {
            // The data may fill all 1023 offered bytes; byte 1023 stays the terminator.
            if (std::strstr(data, "NULL") == nullptr) break;
            registry.QueryValue(name, data, sizeof data - 1);
        }
        if (std::strstr(data, "NULL") == nullptr) port = ParseInt(data + 3);
        registry.Close();
    }
    if (port != 0) return port;
    return ReadSetting(profile, locator.Current(), Setting::kComPort);
}

}  // namespace quillon
