#include "doctor_checks.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

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

std::string Kib(const std::string& bytes) {
    return std::to_string(std::strtoull(bytes.c_str(), nullptr, 10) / 1024) + " KiB";
}

// "MYKAD.TIMEOUT" as the file writes it: "[MYKAD] TIMEOUT".
std::string SectionKey(const std::string& dotted) {
    const size_t dot = dotted.find('.');
    if (dot == std::string::npos) return dotted;
    return "[" + dotted.substr(0, dot) + "] " + dotted.substr(dot + 1);
}

// The value a setting line gives for section.key, whatever the case of its names.
std::string SettingText(const Description& d, const std::string& dotted) {
    for (const auto& entry : d.WithPrefix("setting.")) {
        if (entry.first.size() != dotted.size()) continue;
        bool same = true;
        for (size_t i = 0; i < dotted.size() && same; ++i) {
            same = std::toupper(static_cast<unsigned char>(entry.first[i])) ==
                   std::toupper(static_cast<unsigned char>(dotted[i]));
        }
        if (same) return entry.second;
    }
    return "";
}

const char kSettingsTodo[] =
    "put QUILLON.ini in the host program's working folder or in the System32 folder of the "
    "Windows directory (packaging/QUILLON.ini is a commented sample)";

Finding LibraryCheck(const Description& d) {
    const std::string what = "quillon.dll " + d.Get("version", "?") + ", " + d.Get("bits", "?") +
                             "-bit, loaded from " + d.Get("folder", "?");
    if (d.Get("busy") == "yes") {
        return Warn("library", what + "; a request was running, nothing else was looked at",
                    "run the doctor again when the counter is idle");
    }
    return Ok("library", what);
}

Finding SettingsFileCheck(const Description& d) {
    const std::string path = d.Get("settings.path");
    if (d.Get("settings.found") != "yes") {
        return Fail("settings file",
                    "no QUILLON.ini in the current folder, System32 or SysWow64; every key reads "
                    "its default (the library would read " +
                        path + ")",
                    kSettingsTodo);
    }
    return Ok("settings file", path + " (" + d.Get("settings.place") + "), " +
                                   std::to_string(d.WithPrefix("setting.").size()) + " keys set");
}

std::vector<Finding> SettingValueChecks(const Description& d) {
    std::vector<Finding> findings;
    for (const auto& u : d.WithPrefix("unparsed.")) {
        const std::string& reason = u.second;  // "no number; reads 0"
        const size_t semicolon = reason.find("; ");
        const std::string why = reason.substr(0, semicolon);
        const std::string reads =
            semicolon == std::string::npos ? "" : reason.substr(semicolon + 2);
        const std::string shown = SectionKey(u.first) + "=" + SettingText(d, u.first);
        const std::string todo = "write a whole number there (docs/settings.md gives each key)";
        // "5s" reads as 5 (milliseconds): a number with a unit is as wrong as no number.
        const std::string said =
            why == "text after the number" ? "text after the number is ignored" : why;
        findings.push_back(Fail("settings value", shown + ": " + said + ", " + reads, todo));
    }
    // Well-formed, but the dialog's timer gets it as is: 0 ends every wait at once, and a negative
    // value becomes about 24.8 days, so a hidden dialog on a silent terminal waits that long.
    for (const char* key : {"MYKAD.GLOBTIMEOUT", "MYKAD.TIMEOUT", "CSSSERVER.GLOBTIMEOUT"}) {
        const std::string text = SettingText(d, key);
        if (text.empty() || !d.Get(std::string("unparsed.") + key).empty()) continue;
        if (std::strtol(text.c_str(), nullptr, 10) > 0) continue;
        findings.push_back(Warn("settings value",
                                SectionKey(key) + "=" + text +
                                    ": a time-out of 0 or less; 0 ends every wait at once, a "
                                    "negative one lets it run for about 24.8 days",
                                "write the time-out in milliseconds, above 0 (docs/settings.md "
                                "gives each key's default)"));
    }
    if (findings.empty())
        findings.push_back(Ok("settings values", "every number reads as written"));
    return findings;
}

Finding PortPickCheck(const Description& d, int portGiven) {
    const std::string port = "COM" + d.Get("port", "?");
    if (portGiven > 0)
        return Ok("COM port", "COM" + std::to_string(portGiven) + " (given with --port)");
    const std::string from = d.Get("port.from");
    const std::string bridge = d.Get("port.bridge");
    if (from == "registry") {
        return Ok("COM port", port + " for port 0, named by the CP210x bridge value " + bridge +
                                  " in HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
    }
    if (!bridge.empty()) {
        return Warn("COM port",
                    port + " for port 0: the bridge value " + bridge +
                        " names no port number, so [COMPORT] COM decides",
                    "reinstall the terminal's USB-to-serial driver, or set [COMPORT] COM");
    }
    if (from == "settings") {
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

Finding ReaderCheck(const Description& d) {
    const std::string path = d.Get("reader.path");
    if (d.Get("reader.found") != "yes") {
        return Fail("card reader",
                    "OrvMyKad.dll not found (looked at " + Join(d.All("reader.looked"), ", ") + ")",
                    "copy the reader maker's OrvMyKad.dll beside quillon.dll");
    }
    const std::vector<std::string> missing = d.All("reader.missing");
    if (!missing.empty()) {
        return Fail("card reader",
                    path + " lacks " + std::to_string(missing.size()) +
                        " of its 11 functions: " + Join(missing, ", "),
                    "replace it with the reader maker's complete OrvMyKad.dll");
    }
    const std::string init = d.Get("reader.init");
    if (init != "0") {
        return Warn("card reader",
                    path + ": OrvMyKadInit on COM" + d.Get("port", "?") + " answered " + init,
                    "check that the MyKad reader is connected and its driver installed");
    }
    const std::string version = d.Get("reader.version.result");
    if (version != "0") {
        return Warn("card reader", path + ": the version call answered " + version,
                    "check the MyKad reader's cable; remove any card from it");
    }
    return Ok("card reader", path + ", version \"" + d.Get("reader.version") + "\"");
}

Finding LogCheck(const Description& d) {
    if (d.Get("log") != "on") {
        return Ok("file log", "off ([DEBUG] ENABLE=1 turns it on; see docs/troubleshooting.md)");
    }
    const std::string path = d.Get("log.path");
    if (d.Get("log.exists") != "yes") {
        return Ok("file log",
                  "on, writes " + path + " (nothing written yet), cap " + Kib(d.Get("log.cap")));
    }
    const unsigned long long size = std::strtoull(d.Get("log.size").c_str(), nullptr, 10);
    const unsigned long long cap = std::strtoull(d.Get("log.cap").c_str(), nullptr, 10);
    const std::string what =
        "on, writes " + path + ", " + Kib(d.Get("log.size")) + " of " + Kib(d.Get("log.cap"));
    if (size > cap) {
        return Warn("file log", what + ": beyond its cap",
                    "check that the host may rename files in the log's folder");
    }
    return Ok("file log", what);
}

}  // namespace

Description::Description(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            lines_.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
        start = end + 1;
    }
}

std::string Description::Get(const std::string& key, const std::string& fallback) const {
    for (const auto& line : lines_) {
        if (line.first == key) return line.second;
    }
    return fallback;
}

bool Description::Has(const std::string& key) const {
    for (const auto& line : lines_) {
        if (line.first == key) return true;
    }
    return false;
}

std::vector<std::string> Description::All(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& line : lines_) {
        if (line.first == key) values.push_back(line.second);
    }
    return values;
}

std::vector<std::pair<std::string, std::string>> Description::WithPrefix(
    const std::string& prefix) const {
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& line : lines_) {
        if (line.first.compare(0, prefix.size(), prefix) == 0) {
            found.emplace_back(line.first.substr(prefix.size()), line.second);
        }
    }
    return found;
}

std::vector<Finding> DescriptionChecks(const Description& d, int portGiven) {
    std::vector<Finding> findings{LibraryCheck(d)};
    if (d.Get("busy") == "yes") return findings;
    findings.push_back(SettingsFileCheck(d));
    if (d.Get("settings.found") == "yes") {
        for (Finding& f : SettingValueChecks(d)) findings.push_back(f);
    }
    findings.push_back(PortPickCheck(d, portGiven));
    findings.push_back(ReaderCheck(d));
    findings.push_back(LogCheck(d));
    return findings;
}

int PortToCheck(const Description& d, int portGiven) {
    return portGiven > 0 ? portGiven : std::atoi(d.Get("port", "0").c_str());
}

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
    std::string out = std::string(level) + "  " + f.check + ": " + f.finding + "\n";
    if (f.level != Level::kOk) out += "      what to do: " + f.todo + "\n";
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
