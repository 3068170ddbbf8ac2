#include "library_choices.h"

#include <cstdlib>
#include <cstring>

#include "foundation/file_log.h"
#include "foundation/log.h"
#include "foundation/setting_table.h"
#include "foundation/sizes.h"

namespace quillon {
namespace doctor {

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Why a number's text is not read as written; nullptr when it is a plain decimal number.
const char* NumberProblem(const std::string& text) {
    const std::string t = Trimmed(text);
    if (t.empty()) return "empty";
    size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    const size_t digits = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    if (i == digits) return "no number";
    return i == t.size() ? nullptr : "text after the number";
}

// Notes whether FindComPort fell back to the settings file.
class FallbackWatch : public IProfile {
  public:
    explicit FallbackWatch(IProfile& inner) : inner_(inner) {}
    int ReadInt(const std::string& path, const char* section, const char* key, int def) override {
        fellBack = true;
        return inner_.ReadInt(path, section, key, def);
    }
    std::string ReadString(const std::string& path, const char* section, const char* key,
                           const char* def, size_t capacity) override {
        return inner_.ReadString(path, section, key, def, capacity);
    }
    bool fellBack = false;

  private:
    IProfile& inner_;
};

// Notes what the registry answered FindComPort.
class RegistryWatch : public ISerialCommRegistry {
  public:
    explicit RegistryWatch(ISerialCommRegistry& inner) : inner_(inner) {}
    bool Open() override { return opened = inner_.Open(); }
    bool QueryValue(const char* name, char* data, uint32_t size) override {
        const bool present = inner_.QueryValue(name, data, size);
        if (present && std::strstr(data, "NULL") == nullptr) {
            value = name;
            text.assign(data, strnlen(data, size));
        }
        return present;
    }
    void Close() override { inner_.Close(); }
    bool opened = false;
    std::string value;
    std::string text;

  private:
    ISerialCommRegistry& inner_;
};

// Whether the file sets the key: a key that is there reads its own value, whatever the default.
bool KeySet(IProfile& profile, const std::string& path, const char* section, const char* key) {
    return profile.ReadInt(path, section, key, kReadsTheDefault) != kReadsTheDefault;
}

}  // namespace

bool SameName(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

std::string VersionText(unsigned major, unsigned minor, unsigned patch, unsigned build) {
    std::string text = Format("%u.%u.%u", major, minor, patch);
    if (build != 0) text += Format(".%u", build);
    return text;
}

SettingsFacts DescribeSettings(IniLocator& locator, IProfile& profile, ISettingsLister& lister) {
    SettingsFacts facts;
    facts.path = locator.GetIniPath();
    const std::string local = std::string(".\\") + kIniFileName;
    const std::string system32 = std::string("\\System32\\") + kIniFileName;
    if (facts.path == local) {
        facts.place = "current folder";
    } else if (facts.path.size() >= system32.size() &&
               facts.path.compare(facts.path.size() - system32.size(), system32.size(), system32) ==
                   0) {
        facts.place = "System32";
    } else {
        facts.place = "SysWow64";
    }
    facts.found = locator.Files().CanOpenForRead(facts.path);
    if (!facts.found) return facts;
    facts.entries = lister.Entries(facts.path);
    for (const SettingEntry& entry : facts.entries) {
        // The library's numbers: its integer settings, and BAUDRATE, a text taken as a number.
        for (size_t i = 0; i < kSettingCount; ++i) {
            const SettingRow& row = kSettings[i];
            if (row.text && row.id != Setting::kBaudRate) continue;
            if (!SameName(entry.section, row.section) || !SameName(entry.key, row.key)) continue;
            const char* problem = NumberProblem(entry.text);
            if (problem == nullptr) break;
            int reads = 0;
            if (!row.text) {
                reads = profile.ReadInt(facts.path, row.section, row.key, kReadsTheDefault);
            } else {
                // As the dialog reads it: text, cut to its buffer.
                const std::string text = ReadSettingText(profile, facts.path, row.id);
                reads = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
            }
            facts.unparsed.push_back({row.section, row.key, entry.text, reads, problem});
            break;
        }
    }
    return facts;
}

PortFacts DescribePort(IniLocator& locator, ISerialCommRegistry& registry, IProfile& profile) {
    RegistryWatch registryWatch(registry);
    FallbackWatch profileWatch(profile);
    PortFacts facts;
    facts.port = FindComPort(locator, registryWatch, profileWatch);
    facts.registryOpened = registryWatch.opened;
    facts.bridgeValue = registryWatch.value;
    facts.bridgeData = registryWatch.text;
    if (!profileWatch.fellBack) {
        facts.source = "registry";
    } else {
        const bool set = KeySet(profile, locator.Current(), "COMPORT", "COM");
        facts.source = set ? "settings" : "default";
    }
    return facts;
}

LogFacts DescribeLog(IProfile& profile, const std::string& settingsPath, IFileSizes& files) {
    const LogSettings settings = ReadLogSettings(profile, settingsPath);
    LogFacts facts;
    facts.enabled = settings.enabled;
    if (!facts.enabled) return facts;
    facts.path = settings.file;
    facts.cap = settings.maxBytes;
    facts.exists = files.SizeOf(settings.file, facts.size);
    if (!facts.exists) facts.size = 0;
    return facts;
}

void AskReaderVersion(ICardReaderLibrary& library, int port, int timeoutMs, ReaderFacts& facts) {
    facts.initResult = library.OrvMyKadInit(port);
    if (facts.initResult == kOrvOk) {
        char version[kOrvVersionSize + 1] = {0};
        uint8_t keyArea[kOrvKeyAreaSize] = {0};
        facts.versionResult = library.OrvMyKadGetFirmwareVersion(timeoutMs, version, keyArea);
        if (facts.versionResult == kOrvOk)
            facts.version.assign(version, strnlen(version, kOrvVersionSize));
    }
    library.OrvMyKadClose();
}

}  // namespace doctor
}  // namespace quillon
