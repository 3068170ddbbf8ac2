#include "library_choices_win32.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "cardreader/orvmykad_win32.h"
#include "foundation/platform_win32.h"
#include "foundation/setting_table.h"

namespace quillon {
namespace doctor {

namespace {

// The profile calls' own lists: section names, then each section's KEY=value lines.
class Win32SettingsLister : public ISettingsLister {
  public:
    std::vector<SettingEntry> Entries(const std::string& path) override {
        std::vector<SettingEntry> entries;
        for (const std::string& section : List(path, nullptr)) {
            for (const std::string& line : List(path, section.c_str())) {
                const size_t equals = line.find('=');
                entries.push_back({section, line.substr(0, equals),
                                   equals == std::string::npos ? "" : line.substr(equals + 1)});
            }
        }
        return entries;
    }

  private:
    // A double-NUL-terminated list; the buffer grows until the whole list fits.
    static std::vector<std::string> List(const std::string& path, const char* section) {
        std::vector<char> buffer(4096);
        for (;;) {
            const DWORD size = static_cast<DWORD>(buffer.size());
            const DWORD length =
                section == nullptr
                    ? GetPrivateProfileSectionNamesA(buffer.data(), size, path.c_str())
                    : GetPrivateProfileSectionA(section, buffer.data(), size, path.c_str());
            if (length < size - 2 || buffer.size() >= (1u << 22)) break;
            buffer.assign(buffer.size() * 4, '\0');
        }
        std::vector<std::string> items;
        for (const char* p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) items.push_back(p);
        return items;
    }
};

class Win32FileSizes : public IFileSizes {
  public:
    bool SizeOf(const std::string& path, uint64_t& size) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
        size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return true;
    }
};

}  // namespace

Choices WorkOutChoices(const std::string& libraryFolder) {
    Win32Profile profile;
    Win32FileSystem files;
    Win32SerialCommRegistry registry;
    IniLocator locator(files);
    Win32SettingsLister lister;
    Choices c;
    c.settings = DescribeSettings(locator, profile, lister);
    c.port = DescribePort(locator, registry, profile);
    // The same loader as the library's, so the same folders in the same order; the module stays
    // loaded, and quillon.dll in this process later gets that one.
    Win32OrvMyKadLibrary reader(libraryFolder);
    c.reader.looked = reader.Looked();
    c.reader.missing = reader.Missing();
    c.reader.path = reader.LoadedPath();
    if (!c.reader.path.empty() && c.reader.missing.empty()) {
        const int timeout = ReadSetting(profile, c.settings.path, Setting::kVersionTimeout);
        AskReaderVersion(reader, c.port.port, timeout, c.reader);
    }
    Win32FileSizes sizes;
    c.log = DescribeLog(profile, c.settings.path, sizes);
    return c;
}

}  // namespace doctor
}  // namespace quillon
