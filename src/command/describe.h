// What the library would do on this PC, as `key=value` lines for the diagnostic command: which
// settings file it reads and what it finds there, the port it picks for port 0 and why, the
// card-reader library it would load and the file log. The facts come from the library's own
// routines (the settings locator, FindComPort, the log's settings reader); the Win32 adapter only
// gathers what needs the system and hands it in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cardreader/card_reader_library.h"
#include "foundation/platform.h"
#include "foundation/settings.h"

namespace quillon {

// One `KEY=value` line of the settings file, in file order.
struct SettingEntry {
    std::string section;
    std::string key;
    std::string text;
};

// Every key of the settings file as the profile calls list them.
class ISettingsLister {
  public:
    virtual ~ISettingsLister() = default;
    virtual std::vector<SettingEntry> Entries(const std::string& path) = 0;
};

// A numeric key whose text is not a plain decimal number.
struct UnparsedSetting {
    std::string section;
    std::string key;
    int readsAs;         // the value the library works with instead; INT_MIN: its default
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
    bool asked = false;
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

struct Description {
    bool busy = false;  // a request was running: nothing past the folder was looked at
    std::string version;
    int bits = 0;
    std::string folder;
    SettingsFacts settings;
    PortFacts port;
    ReaderFacts reader;
    LogFacts log;
};

// The settings path in force (GetIniPath), which of the three places it is, and every key in it,
// with the numeric keys whose text the library does not read as written.
SettingsFacts DescribeSettings(IniLocator& locator, IProfile& profile, ISettingsLister& lister);

// The port FindComPort picks for port 0, and whether the registry or the settings named it.
PortFacts DescribePort(IniLocator& locator, ISerialCommRegistry& registry, IProfile& profile);

// The [DEBUG] file log as the library would open it; `sizeOf` answers false for a missing file.
class IFileSizes {
  public:
    virtual ~IFileSizes() = default;
    virtual bool SizeOf(const std::string& path, uint64_t& size) = 0;
};
LogFacts DescribeLog(IProfile& profile, const std::string& settingsPath, IFileSizes& files);

// Opens the reader on `port`, asks its version with the settings' version time-out and closes it:
// no card is needed.
void AskReaderVersion(ICardReaderLibrary& library, int port, int timeoutMs, ReaderFacts& facts);

std::string FormatDescription(const Description& description);

// Copies `text` into out[0..size): whole lines only, always terminated when size > 0. Returns the
// length of the whole text, so a caller whose buffer was too small knows the size to offer.
int CopyDescription(const std::string& text, char* out, int size);

}  // namespace quillon
