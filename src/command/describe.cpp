#include "command/describe.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "foundation/file_log.h"
#include "foundation/log.h"
#include "foundation/sizes.h"

namespace quillon {

namespace {

// The keys the library reads as numbers: with the profile's integer call, or (BAUDRATE) as text
// taken as a number. tests/docs keeps this list in step with the reads in the sources.
struct NumericKey {
    const char* section;
    const char* key;
    bool profileInteger;
};
const NumericKey kNumericKeys[] = {
    {"COMPORT", "COM", true},
    {"COMPORT", "BAUDRATE", false},
    {"DEVICE", "TYPE", true},
    {"MYKAD", "GLOBTIMEOUT", true},
    {"MYKAD", "TIMEOUT", true},
    {"MYKAD", "INSERT_COUNT", true},
    {"MYKAD", "VERIFY_TIMES", true},
    {"MYKAD", "SET_LOW_TIMES", true},
    {"MYKAD", "SET_LOW_LEVEL", true},
    {"MYKAD", "LABELLED_RECORD", true},
    {"APDU", "DELAY_AFTER_FIRSTCALL", true},
    {"APDU", "V_TIMEOUT", true},
    {"APDU", "RETRY_WAIT_INIT", true},
    {"APDU", "RETRY_WAIT_TRY", true},
    {"APDU", "RETRY_WAIT_FW", true},
    {"APDU", "RETRY_COUNT_FW", true},
    {"CSSSERVER", "GLOBTIMEOUT", true},
    {"FONT", "SIZE", true},
    {"MISC", "CANCEL", true},
    {"DEBUG", "ENABLE", true},
    {"DEBUG", "MAX_KB", true},
};
// Offered as the default: a key whose value the profile call does not take answers it.
const int kDefaultApplies = INT_MIN;

// Profile names are compared without regard to case, as the system's profile calls do.
bool SameName(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

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
    return profile.ReadInt(path, section, key, kDefaultApplies) != kDefaultApplies;
}

// Control characters would break the line format.
std::string Clean(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return out;
}

void Line(std::string& out, const std::string& key, const std::string& value) {
    out += Clean(key) + "=" + Clean(value) + "\n";
}

const char* YesNo(bool yes) { return yes ? "yes" : "no"; }

}  // namespace

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
        for (const NumericKey& numeric : kNumericKeys) {
            if (!SameName(entry.section, numeric.section) || !SameName(entry.key, numeric.key)) {
                continue;
            }
            const char* problem = NumberProblem(entry.text);
            if (problem == nullptr) break;
            int reads = 0;
            if (numeric.profileInteger) {
                reads = profile.ReadInt(facts.path, numeric.section, numeric.key, kDefaultApplies);
            } else {
                // As the dialog reads it: text, cut to its buffer.
                const std::string text = profile.ReadString(facts.path, numeric.section,
                                                            numeric.key, "", kSettingTextCapacity);
                reads = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
            }
            facts.unparsed.push_back({numeric.section, numeric.key, reads, problem});
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
    facts.asked = true;
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

std::string FormatDescription(const Description& d) {
    std::string out;
    Line(out, "version", d.version);
    Line(out, "bits", Format("%d", d.bits));
    Line(out, "folder", d.folder);
    if (d.busy) {
        Line(out, "busy", "yes");
        return out;
    }

    const SettingsFacts& s = d.settings;
    Line(out, "settings.path", s.path);
    Line(out, "settings.place", s.place);
    Line(out, "settings.found", YesNo(s.found));
    for (const SettingEntry& e : s.entries) Line(out, "setting." + e.section + "." + e.key, e.text);
    for (const UnparsedSetting& u : s.unparsed) {
        const std::string reads =
            u.readsAs == kDefaultApplies ? "the default" : Format("%d", u.readsAs);
        Line(out, "unparsed." + u.section + "." + u.key,
             Format("%s; reads %s", u.reason, reads.c_str()));
    }

    const PortFacts& p = d.port;
    Line(out, "port", Format("%d", p.port));
    Line(out, "port.from", p.source);
    Line(out, "port.registry", p.registryOpened ? "opened" : "not opened");
    if (!p.bridgeValue.empty()) Line(out, "port.bridge", p.bridgeValue + "=" + p.bridgeData);

    const ReaderFacts& r = d.reader;
    for (const std::string& looked : r.looked) Line(out, "reader.looked", looked);
    Line(out, "reader.found", YesNo(!r.path.empty()));
    if (!r.path.empty()) Line(out, "reader.path", r.path);
    for (const std::string& name : r.missing) Line(out, "reader.missing", name);
    if (r.asked) {
        Line(out, "reader.init", Format("%d", r.initResult));
        if (r.initResult == kOrvOk) {
            Line(out, "reader.version.result", Format("%d", r.versionResult));
            if (r.versionResult == kOrvOk) Line(out, "reader.version", r.version);
        }
    }

    const LogFacts& l = d.log;
    Line(out, "log", l.enabled ? "on" : "off");
    if (l.enabled) {
        Line(out, "log.path", l.path);
        Line(out, "log.exists", YesNo(l.exists));
        Line(out, "log.size", Format("%llu", static_cast<unsigned long long>(l.size)));
        Line(out, "log.cap", Format("%llu", static_cast<unsigned long long>(l.cap)));
    }
    return out;
}

int CopyDescription(const std::string& text, char* out, int size) {
    const int needed = text.size() > static_cast<size_t>(INT_MAX) ? INT_MAX : int(text.size());
    if (out == nullptr || size <= 0) return needed;
    size_t take = text.size();
    if (take > static_cast<size_t>(size - 1)) {
        // Whole lines only: a reader never meets half a value.
        const size_t end = text.rfind('\n', static_cast<size_t>(size - 2));
        take = (size < 2 || end == std::string::npos) ? 0 : end + 1;
    }
    std::memcpy(out, text.data(), take);
    out[take] = '\0';
    return needed;
}

}  // namespace quillon
