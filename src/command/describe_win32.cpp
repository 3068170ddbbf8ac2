// QuillonDescribe: the library's own view of this PC for the diagnostic command. Gathers what
// needs the system (the settings file's keys, file sizes, the loaded reader library) and leaves
// the decisions and the text to describe.cpp.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <vector>

#define QUILLON_BUILDING_DLL
#include "command/call_guard.h"
#include "command/describe.h"
#include "command/entry_win32.h"
#include "foundation/module_folder_win32.h"
#include "quillon.h"
#include "quillon_build_config.h"

namespace quillon {
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

std::string Describe() {
    Description d;
    d.version = QUILLON_VERSION_TEXT;
    d.bits = static_cast<int>(sizeof(void*) * 8);
    d.folder = OwnModuleFolder();
    Win32Services& services = Services();
    CallGuard exclusive(services.Busy());  // held for the description's length, as a request would
    if (!exclusive.Owner()) {
        // A request is running: its port and reader are not ours to touch.
        d.busy = true;
        return FormatDescription(d);
    }
    Win32SettingsLister lister;
    d.settings = DescribeSettings(services.locator, services.profile, lister);
    d.port = DescribePort(services.locator, services.registry, services.profile);
    Win32OrvMyKadLibrary& reader = services.ReaderLibrary();
    d.reader.looked = reader.Looked();
    d.reader.missing = reader.Missing();
    d.reader.path = reader.LoadedPath();
    if (!d.reader.path.empty() && d.reader.missing.empty()) {
        const int timeout = services.profile.ReadInt(d.settings.path, "APDU", "V_TIMEOUT", 2000);
        AskReaderVersion(reader, d.port.port, timeout, d.reader);
    }
    Win32FileSizes sizes;
    d.log = DescribeLog(services.profile, d.settings.path, sizes);
    return FormatDescription(d);
}

}  // namespace
}  // namespace quillon

extern "C" QUILLON_API int __cdecl QuillonDescribe(char* out, int size) {
    try {
        return quillon::CopyDescription(quillon::Describe(), out, size);
    } catch (...) {
        return quillon::CopyDescription("error=out of memory\n", out, size);
    }
}
