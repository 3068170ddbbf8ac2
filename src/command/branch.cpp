#include "command/branch.h"

#include <cstring>

#include "foundation/setting_table.h"

namespace quillon {

namespace {
void CopyCut(const std::string& text, char* out, size_t size) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}
}  // namespace

int GetBranchCode(IniLocator& locator, IProfile& profile, IHostAddress& host, char* codeOut,
                  char* nameOut, char* addressOut) {
    const std::string& path = locator.GetIniPath();
    const std::string code = ReadSettingText(profile, path, Setting::kBranchCode);
    CopyCut(code, codeOut, kBranchCodeSize);
    const std::string name = ReadSettingText(profile, path, Setting::kBranchName);
    CopyCut(name, nameOut, kBranchNameSize);
    CopyCut(host.FirstIPv4(), addressOut, kHostAddressSize);
    return name.find("EMPTY") != std::string::npos ? 1 : 0;
}

}  // namespace quillon
