// What quillon.dll would do on this PC, worked out by the doctor with the library's own routines
// (the settings locator, FindComPort, the log's settings reader, the reader library's loader)
// rather than asked of the library: the library keeps ProcessWebMessage as its one way in. Which
// settings file it reads and what it finds there, the port it picks for port 0 and why, the
// card-reader library it would load and the file log. library_choices_win32.cpp gathers what
// needs the system and hands it in.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "cardreader/card_reader_library.h"
#include "foundation/platform.h"
#include "foundation/settings.h"

namespace quillon {
namespace doctor {

// quillon.dll beside the doctor, as the doctor loaded it.
struct LibraryFacts {
    std::string path;             // the full path it was loaded from
    unsigned long loadError = 0;  // the system's error when it did not load; 0 when it did
    bool hasEntry = false;        // it exports ProcessWebMessage
    std::string version;          // from its version resource; empty when it has none
    int bits = 0;
};

// The version resource's four numbers as the release names them: "0.1.0", and a fourth part
// only when it is not 0.
std::string VersionText(unsigned major, unsigned minor, unsigned patch, unsigned build);

// One `KEY=value` line of the settings file, in file order.
struct SettingEntry {
    std::string section;
    std::string key;
    std::string text;
};

// Settings names are compared without regard to case, as the system's profile calls do.
bool SameName(const std::string& a, const char* b);

// Every key of the settings file as the profile calls list them.
class ISettingsLister {
  public:
    virtual ~ISettingsLister() = default;
    virtual std::vector<SettingEntry> Entries(const std::string& path) = 0;
};

// The value the library works with when a numeric key's own value is not taken: its default.
const int kReadsTheDefault = INT_MIN;

// A numeric key whose text is not a plain decimal number.
struct UnparsedSetting {
    std::string section;  // upper case, as the library names it
    std::string key;
    std::string text;    // as the file writes it
    int readsAs;         // the value the library works with instead, or kReadsTheDefault
    const char* reason;  // "empty", "no number", "text after the number"
};

struct SettingsFacts {
    std::string path;
    const char* place = "";  // "current folder", "System32" or "SysWow64"
    bool found = false;
    std::vector<SettingEntry> entries;
    std::vector<UnparsedSetting> unparsed;
};

struct PortFacts {
    int port = 0;
    const char* source = "";  // "registry", "settings" or "default"
    bool registryOpened = false;
    std::string bridgeValue;  // the registry value that named a port, and its data
    std::string bridgeData;
};

struct ReaderFacts {
    std::vector<std::string> looked;  // the full paths tried, in order
    std::string path;                 // the one loaded; empty when none was found
    std::vector<std::string> missing;
    int initResult = 0;
    int versionResult = 0;
    std::string version;
};

struct LogFacts {
    bool enabled = false;
    std::string path;
    bool exists = false;
    uint64_t size = 0;
    uint64_t cap = 0;
};

struct Choices {
    SettingsFacts settings;
    PortFacts port;
    ReaderFacts reader;
    LogFacts log;
};

// The settings path the library would take (GetIniPath), which of the three places it is, and
// every key in it, with the numeric keys whose text the library does not read as written.
SettingsFacts DescribeSettings(IniLocator& locator, IProfile& profile, ISettingsLister& lister);

// The port FindComPort picks for port 0, and whether the registry or the settings named it.
PortFacts DescribePort(IniLocator& locator, ISerialCommRegistry& registry, IProfile& profile);

// The [DEBUG] file log as the library would open it; `SizeOf` answers false for a missing file.
class IFileSizes {
  public:
    virtual ~IFileSizes() = default;
    virtual bool SizeOf(const std::string& path, uint64_t& size) = 0;
};
LogFacts DescribeLog(IProfile& profile, const std::string& settingsPath, IFileSizes& files);

// Opens the reader on `port`, asks its version with the settings' version time-out and closes it:
// no card is needed.
void AskReaderVersion(ICardReaderLibrary& library, int port, int timeoutMs, ReaderFacts& facts);

}  // namespace doctor
}  // namespace quillon
