#include "doctor_checks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/setting_table.h"

namespace quillon {
namespace doctor {

namespace {

Finding Ok(const std::string& check, const std::string& finding) {
    return {Level::kOk, check, finding, ""};
}
Finding Warn(const std::string& check, const std::string& finding, const std::string& todo) {
    return {Level::kWarn, check, finding, todo};
}
Finding Fail(const std::string& check, const std::string& finding, const std::string& todo) {
    return {Level::kFail, check, finding, todo};
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
    return out;
}

// "[MYKAD] TIMEOUT", as the settings file writes the key.
std::string SectionKey(const std::string& section, const std::string& key) {
    return "[" + section + "] " + key;
}

// The text the settings file gives the key, whatever the case of its names; nullptr when unset.
const std::string* SettingText(const SettingsFacts& s, const char* section, const char* key) {
    for (const SettingEntry& entry : s.entries) {
        if (SameName(entry.section, section) && SameName(entry.key, key)) return &entry.text;
    }
    return nullptr;
}

bool Unparsed(const SettingsFacts& s, const char* section, const char* key) {
    for (const UnparsedSetting& u : s.unparsed) {
        if (u.section == section && u.key == key) return true;
    }
    return false;
}

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }

const char kSettingsTodo[] =
    "put QUILLON.ini in the host program's working folder or in the System32 folder of the "
    "Windows directory (packaging/QUILLON.ini is a commented sample)";

Finding SettingsFileCheck(const SettingsFacts& s) {
    if (!s.found) {
        return Fail("settings file",
                    "no QUILLON.ini in the current folder, System32 or SysWow64; every key reads "
                    "its default (the library would read " +
                        s.path + ")",
                    kSettingsTodo);
    }
    return Ok("settings file",
              s.path + " (" + s.place + "), " + std::to_string(s.entries.size()) + " keys set");
}

std::vector<Finding> SettingValueChecks(const SettingsFacts& s) {
    std::vector<Finding> findings;
    for (const UnparsedSetting& u : s.unparsed) {
        const std::string shown = SectionKey(u.section, u.key) + "=" + u.text;
        const std::string reads = u.readsAs == kReadsTheDefault
                                      ? std::string("reads the default")
                                      : "reads " + std::to_string(u.readsAs);
        // "5s" reads as 5 (milliseconds): a number with a unit is as wrong as no number.
        const std::string said = std::strcmp(u.reason, "text after the number") == 0
                                     ? "text after the number is ignored"
                                     : u.reason;
        findings.push_back(Fail("settings value", shown + ": " + said + ", " + reads,
                                "write a whole number there (docs/settings.md gives each key)"));
    }
    // Well-formed, but the dialog's timer gets it as is: 0 ends every wait at once, and a negative
    // value becomes about 24.8 days, so a hidden dialog on a silent terminal waits that long.
    for (size_t i = 0; i < kSettingCount; ++i) {
        if (kSettings[i].outside != OutOfRange::kTimer) continue;
        const char* const key[2] = {kSettings[i].section, kSettings[i].key};
        const std::string* text = SettingText(s, key[0], key[1]);
        if (text == nullptr || Unparsed(s, key[0], key[1])) continue;
        if (std::strtol(text->c_str(), nullptr, 10) > 0) continue;
        findings.push_back(Warn("settings value",
                                SectionKey(key[0], key[1]) + "=" + *text +
                                    ": a time-out of 0 or less; 0 ends every wait at once, a "
                                    "negative one lets it run for about 24.8 days",
                                "write the time-out in milliseconds, above 0 (docs/settings.md "
                                "gives each key's default)"));
    }
    if (findings.empty())
        findings.push_back(Ok("settings values", "every number reads as written"));
    return findings;
}

Finding PortPickCheck(const PortFacts& p, int portGiven) {
    if (portGiven > 0)
        return Ok("COM port", "COM" + std::to_string(portGiven) + " (given with --port)");
    const std::string port = "COM" + std::to_string(p.port);
    const std::string bridge = p.bridgeValue.empty() ? "" : p.bridgeValue + "=" + p.bridgeData;
    if (std::strcmp(p.source, "registry") == 0) {
        return Ok("COM port", port + " for port 0, named by the CP210x bridge value " + bridge +
                                  " in HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
    }
    if (!bridge.empty()) {
        return Warn("COM port",
                    port + " for port 0: the bridge value " + bridge +
                        " names no port number, so [COMPORT] COM decides",
                    "reinstall the terminal's USB-to-serial driver, or set [COMPORT] COM");
    }
    if (std::strcmp(p.source, "settings") == 0) {
        return Ok("COM port", port +
                                  " for port 0, from [COMPORT] COM (no CP210x bridge in the "
                                  "registry)");
    }
    return Warn("COM port",
                port +
                    " for port 0, the built-in default: no CP210x bridge in the registry and "
                    "no [COMPORT] COM",
                "plug in the terminal's USB cable (its driver registers the port), or set "
                "[COMPORT] COM to the terminal's port");
}

Finding ReaderCheck(const ReaderFacts& r, int port) {
    if (r.path.empty()) {
        return Fail("card reader",
                    "OrvMyKad.dll not found (looked at " + Join(r.looked, ", ") + ")",
                    "copy the reader maker's OrvMyKad.dll beside quillon.dll");
    }
    if (!r.missing.empty()) {
        return Fail("card reader",
                    r.path + " lacks " + std::to_string(r.missing.size()) +
                        " of its 11 functions: " + Join(r.missing, ", "),
                    "replace it with the reader maker's complete OrvMyKad.dll");
    }
    if (r.initResult != kOrvOk) {
        return Warn("card reader",
                    r.path + ": OrvMyKadInit on COM" + std::to_string(port) + " answered " +
                        std::to_string(r.initResult),
                    "check that the MyKad reader is connected and its driver installed");
    }
    if (r.versionResult != kOrvOk) {
        return Warn("card reader",
                    r.path + ": the version call answered " + std::to_string(r.versionResult),
                    "check the MyKad reader's cable; remove any card from it");
    }
    return Ok("card reader", r.path + ", version \"" + r.version + "\"");
}

std::string Kib(uint64_t bytes) { return std::to_string(bytes / 1024) + " KiB"; }

Finding LogCheck(const LogFacts& l) {
    if (!l.enabled) {
        return Ok("file log", "off ([DEBUG] ENABLE=1 turns it on; see docs/troubleshooting.md)");
    }
    if (!l.exists) {
        return Ok("file log", "on, writes " + l.path + " (nothing written yet), cap " + Kib(l.cap));
    }
    const std::string what = "on, writes " + l.path + ", " + Kib(l.size) + " of " + Kib(l.cap);
    if (l.size > l.cap) {
        return Warn("file log", what + ": beyond its cap",
                    "check that the host may rename files in the log's folder");
    }
    return Ok("file log", what);
}

// Control characters (a reader's version text, say) would break the one-line format.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text;
}

}  // namespace

Finding LibraryCheck(const LibraryFacts& l, const std::string& doctorVersion) {
    const char todo[] =
        "put quillon_doctor.exe beside quillon.dll of the same release (its zip and its "
        "installer package carry both)";
    const std::string error = " (error " + std::to_string(l.loadError) + ")";
    if (l.loadError == 2 || l.loadError == 3 || l.loadError == 126)
        return Fail("library", "no quillon.dll beside the doctor at " + l.path + error, todo);
    if (l.loadError == 193) {
        return Fail("library",
                    l.path + " is not a " + std::to_string(l.bits) + "-bit library" + error, todo);
    }
    if (l.loadError != 0) return Fail("library", l.path + " does not load" + error, todo);
    if (!l.hasEntry) {
        return Fail("library", l.path + " has no ProcessWebMessage: it is not Quillon's library",
                    todo);
    }
    if (l.version.empty()) {
        return Fail("library", l.path + " carries no version, so its release is unknown", todo);
    }
    if (l.version != doctorVersion) {
        return Fail("library",
                    "quillon.dll " + l.version + " beside quillon_doctor " + doctorVersion +
                        ": the doctor and the library come from different releases",
                    todo);
    }
    return Ok("library", "quillon.dll " + l.version + ", " + std::to_string(l.bits) +
                             "-bit, loaded from " + Folder(l.path));
}

std::vector<Finding> ChoiceChecks(const Choices& c, int portGiven) {
    std::vector<Finding> findings{SettingsFileCheck(c.settings)};
    if (c.settings.found) {
        for (Finding& f : SettingValueChecks(c.settings)) findings.push_back(f);
    }
    findings.push_back(PortPickCheck(c.port, portGiven));
    findings.push_back(ReaderCheck(c.reader, c.port.port));
    findings.push_back(LogCheck(c.log));
    return findings;
}

int PortToCheck(const Choices& c, int portGiven) { return portGiven > 0 ? portGiven : c.port.port; }

Finding PortOpenCheck(int port, bool opened, unsigned long error) {
    const std::string name = "COM" + std::to_string(port);
    if (opened) return Ok("port open", name + " opens");
    if (error == 2 || error == 3) {
        return Fail("port open",
                    name + " does not exist on this PC (error " + std::to_string(error) + ")",
                    "plug in the terminal's USB cable and check Device Manager for its port; "
                    "set [COMPORT] COM to that number");
    }
    if (error == 5) {
        return Fail("port open", name + " is in use by another program (error 5)",
                    "close the other program that holds " + name + ", then run the doctor again");
    }
    return Fail("port open", name + " does not open (error " + std::to_string(error) + ")",
                "check the port in Device Manager; unplug and plug in the terminal's cable");
}

Finding StatusCheck(int port, const StatusAnswer& answer, int waitSeconds) {
    const std::string name = "COM" + std::to_string(port);
    const char todo[] =
        "check that the terminal is switched on and its cable plugged in; check [COMPORT] BAUDRATE";
    if (!answer.finished) {
        return Fail("terminal",
                    "no end to the status query on " + name + " within " +
                        std::to_string(waitSeconds) + " s (the doctor stopped waiting)",
                    todo);
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", answer.seconds);
    if (answer.result == 0) {
        // [GETFIRMWAREVERSION][0][customer name][123]
        std::string name3;
        size_t open = 0;
        for (int field = 0; field < 3 && open != std::string::npos; ++field) {
            open = answer.reply.find('[', open + (field ? 1 : 0));
        }
        if (open != std::string::npos) {
            const size_t close = answer.reply.find(']', open);
            name3 = answer.reply.substr(
                open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
        }
        return Ok("terminal", "answers the status query on " + name + " in " + seconds +
                                  "; customer name \"" + name3 + "\"");
    }
    if (answer.result == -30) {
        return Fail(
            "terminal",
            "no answer to the status query on " + name + " (result -30 after " + seconds + ")",
            todo);
    }
    if (answer.result == -4) {
        return Fail("terminal", "the library could not open " + name + " (result -4)",
                    "close any program that holds the port; check [COMPORT] BAUDRATE");
    }
    return Fail("terminal",
                "the status query on " + name + " ended with result " +
                    std::to_string(answer.result) + " after " + seconds,
                std::string(todo) + "; docs/result-codes.md explains the result");
}

std::string FormatFinding(const Finding& f) {
    const char* level = f.level == Level::kOk ? "OK  " : f.level == Level::kWarn ? "WARN" : "FAIL";
    std::string out = std::string(level) + "  " + f.check + ": " + Printable(f.finding) + "\n";
    if (f.level != Level::kOk) out += "      what to do: " + Printable(f.todo) + "\n";
    return out;
}

int ExitCode(const std::vector<Finding>& findings) {
    for (const Finding& f : findings) {
        if (f.level == Level::kFail) return 1;
    }
    return 0;
}

}  // namespace doctor
}  // namespace quillon
