#include "doctor_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "install_checks.h"

namespace quillon {
namespace doctor {
namespace {

// A PC where everything is in place.
Choices Healthy() {
    Choices c;
    c.settings.path = ".\\QUILLON.ini";
    c.settings.place = "current folder";
    c.settings.found = true;
    c.settings.entries = {{"COMPORT", "COM", "7"}, {"MYKAD", "TIMEOUT", "3000"}};
    c.port = {10, "registry", true, "\\Device\\Silabser0", "COM10"};
    c.reader.looked = {"C:\\Quillon\\OrvMyKad.dll", "C:\\windows\\system32\\OrvMyKad.dll"};
    c.reader.path = "C:\\Quillon\\OrvMyKad.dll";
    c.reader.version = "ORV 1.2";
    return c;
}

std::string FirstLine(const Finding& finding) {
    const std::string printed = FormatFinding(finding);
    return printed.substr(0, printed.find('\n') + 1);
}

// What only the real library, reader or port can show is played under wine.
TEST(ChoiceChecks, EachChangeGivesTheLineThatNamesIt) {
    const auto setting = [](std::string section, std::string key, std::string text, int reads,
                            const char* reason) {
        return [=](Choices& c) {
            c.settings.entries[1] = {section, key, text};  // in place of [MYKAD] TIMEOUT
            if (reason != nullptr) c.settings.unparsed = {{section, key, text, reads, reason}};
        };
    };
    struct Row {
        std::function<void(Choices&)> change;
        std::string line;  // the first line unlike the healthy PC's
    } rows[] = {
        {setting("MYKAD", "TIMEOUT", "abc", 0, "no number"),
         "FAIL  settings value: [MYKAD] TIMEOUT=abc: no number, reads 0\n"},
        {setting("APDU", "V_TIMEOUT", "2ms", 2, "text after the number"),
         "FAIL  settings value: [APDU] V_TIMEOUT=2ms: text after the number is ignored, reads 2\n"},
        {setting("DEBUG", "MAX_KB", "", kReadsTheDefault, "empty"),
         "FAIL  settings value: [DEBUG] MAX_KB=: empty, reads the default\n"},
        {setting("Mykad", "Timeout", "-5000", 0, nullptr),
         "WARN  settings value: [MYKAD] TIMEOUT=-5000: a time-out of 0 or less; 0 ends every "
         "wait at once, a negative one lets it run for about 24.8 days\n"},
        {setting("CSSSERVER", "GLOBTIMEOUT", "0", 0, nullptr),
         "WARN  settings value: [CSSSERVER] GLOBTIMEOUT=0: a time-out of 0 or less; 0 ends every "
         "wait at once, a negative one lets it run for about 24.8 days\n"},
        {[](Choices& c) {
             c.port = {5, "default", true, "", ""};
         },
         "WARN  COM port: COM5 for port 0, the built-in default: no CP210x bridge in the registry "
         "and no [COMPORT] COM\n"},
        {[](Choices& c) { c.port.source = "settings"; },
         "WARN  COM port: COM10 for port 0: the bridge value \\Device\\Silabser0=COM10 names no "
         "port number, so [COMPORT] COM decides\n"},
        {[](Choices& c) {
             c.port = {10, "settings", false, "", ""};
         },
         "OK    COM port: COM10 for port 0, from [COMPORT] COM (no CP210x bridge in the "
         "registry)\n"},
        {[](Choices& c) { c.reader.initResult = -4; },
         "WARN  card reader: C:\\Quillon\\OrvMyKad.dll: OrvMyKadInit on COM10 answered -4\n"},
        {[](Choices& c) { c.reader.versionResult = -15; },
         "WARN  card reader: C:\\Quillon\\OrvMyKad.dll: the version call answered -15\n"},
        // A control character would split the line.
        {[](Choices& c) { c.reader.version = "ORV\r\n1.2"; },
         "OK    card reader: C:\\Quillon\\OrvMyKad.dll, version \"ORV??1.2\"\n"},
        {[](Choices& c) {
             c.log = {true, ".\\Log.txt", true, 2097152, 1048576};
         },
         "WARN  file log: on, writes .\\Log.txt, 2048 KiB of 1024 KiB: beyond its cap\n"},
        {[](Choices& c) {
             c.log = {true, "D:\\q.txt", true, 10240, 1048576};
         },
         "OK    file log: on, writes D:\\q.txt, 10 KiB of 1024 KiB\n"},
        {[](Choices& c) {
             c.log = {true, "D:\\q.txt", false, 0, 65536};
         },
         "OK    file log: on, writes D:\\q.txt (nothing written yet), cap 64 KiB\n"},
    };
    std::vector<std::string> healthy;
    for (const Finding& f : ChoiceChecks(Healthy(), 0)) healthy.push_back(FormatFinding(f));
    for (const Row& row : rows) {
        Choices choices = Healthy();
        row.change(choices);
        const std::vector<Finding> findings = ChoiceChecks(choices, 0);
        std::string changed;
        for (const Finding& f : findings) {
            const std::string printed = FormatFinding(f);
            if (changed.empty() && std::count(healthy.begin(), healthy.end(), printed) == 0)
                changed = printed;
        }
        EXPECT_EQ(changed.substr(0, changed.find('\n') + 1), row.line);
        EXPECT_EQ(changed.find("\n      what to do: ") != std::string::npos, row.line[0] != 'O');
        EXPECT_EQ(ExitCode(findings), row.line[0] == 'F' ? 1 : 0) << row.line;
    }
    EXPECT_EQ(FormatFinding(ChoiceChecks(Healthy(), 3)[2]),
              "OK    COM port: COM3 (given with --port)\n");
    EXPECT_EQ(PortToCheck(Healthy(), 3), 3);
    EXPECT_EQ(PortToCheck(Healthy(), 0), 10);
}

TEST(LibraryCheck, OnlyALoadedLibraryOfTheDoctorsOwnReleasePasses) {
    const std::string path = "C:\\Quillon\\quillon.dll";
    struct Row {
        LibraryFacts facts;
        std::string line;
    } rows[] = {
        {{path, 0, true, "2.1.0", 32},
         "OK    library: quillon.dll 2.1.0, 32-bit, loaded from C:\\Quillon\\\n"},
        {{path, 0, true, "2.0.9", 32},
         "FAIL  library: quillon.dll 2.0.9 beside quillon_doctor 2.1.0: the doctor and the "
         "library come from different releases\n"},
        {{path, 0, true, "2.1.0.3", 32},
         "FAIL  library: quillon.dll 2.1.0.3 beside quillon_doctor 2.1.0: the doctor and the "
         "library come from different releases\n"},
        {{path, 0, true, "", 32},
         "FAIL  library: C:\\Quillon\\quillon.dll carries no version, so its release is unknown\n"},
        {{path, 0, false, "2.1.0", 32},
         "FAIL  library: C:\\Quillon\\quillon.dll has no ProcessWebMessage: it is not Quillon's "
         "library\n"},
        {{path, 126, false, "", 64},
         "FAIL  library: no quillon.dll beside the doctor at C:\\Quillon\\quillon.dll (error "
         "126)\n"},
        {{path, 193, false, "", 64},
         "FAIL  library: C:\\Quillon\\quillon.dll is not a 64-bit library (error 193)\n"},
        {{path, 5, false, "", 64},
         "FAIL  library: C:\\Quillon\\quillon.dll does not load (error 5)\n"},
    };
    for (const Row& row : rows) {
        const Finding finding = LibraryCheck(row.facts, "2.1.0");
        EXPECT_EQ(FirstLine(finding), row.line);
        EXPECT_EQ(finding.todo, row.line[0] == 'O'
                                    ? ""
                                    : "put quillon_doctor.exe beside quillon.dll of the same "
                                      "release (its zip and its installer package carry both)")
            << row.line;
    }
}

TEST(PortAndTerminalChecks, NameThePortAndWhyItDidNotOpenOrAnswer) {
    const StatusAnswer noName{true, 0, "[GETFIRMWAREVERSION][0][][123]", 1.0};
    const StatusAnswer noPort{true, -4, "[GETFIRMWAREVERSION][-4][123]", 0.01};
    const StatusAnswer other{true, -1008, "[GETFIRMWAREVERSION][-1008][123]", 0.0};
    struct Row {
        Finding finding;
        std::string first;
    } rows[] = {
        {PortOpenCheck(7, false, 3), "FAIL  port open: COM7 does not exist on this PC (error 3)\n"},
        {PortOpenCheck(7, false, 5),
         "FAIL  port open: COM7 is in use by another program (error 5)\n"},
        {PortOpenCheck(7, false, 31), "FAIL  port open: COM7 does not open (error 31)\n"},
        {StatusCheck(7, noName, 20),
         "OK    terminal: answers the status query on COM7 in 1.00 s; customer name \"\"\n"},
        {StatusCheck(7, noPort, 20),
         "FAIL  terminal: the library could not open COM7 (result -4)\n"},
        {StatusCheck(7, other, 20),
         "FAIL  terminal: the status query on COM7 ended with result -1008 after 0.00 s\n"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(FirstLine(row.finding), row.first);
        EXPECT_EQ(FormatFinding(row.finding).find("what to do") != std::string::npos,
                  row.finding.level != Level::kOk)
            << row.first;
    }
}

// The access list of a folder the package made: administrators, SYSTEM and TrustedInstaller may
// change it, users read and execute, the creator-owner placeholder for what is created inside.
FolderFacts Locked() {
    FolderFacts f;
    f.path = "C:\\Program Files\\Quillon\\";
    f.ownerSid = "S-1-5-32-544";
    f.ownerName = "BUILTIN\\Administrators";
    f.allowed = {{"S-1-5-18", "NT AUTHORITY\\SYSTEM", 0x1F01FF},
                 {"S-1-5-32-544", "BUILTIN\\Administrators", 0x10000000},
                 {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                  "NT SERVICE\\TrustedInstaller", 0x1F01FF},
                 {"S-1-3-0", "CREATOR OWNER", 0x10000000},
                 {"S-1-5-32-545", "BUILTIN\\Users", 0x1200A9}};
    return f;
}

TEST(FolderCheck, AnyoneButAdministratorsWhoMayChangeTheFolderFails) {
    const AccessEntry teller{"S-1-5-21-7-8-9-1001", "BANK\\teller", 0x1F01FF};
    const std::string ok =
        "OK    install folder: C:\\Program Files\\Quillon\\: only administrators and SYSTEM may "
        "change it\n";
    const std::string fails =
        "FAIL  install folder: C:\\Program Files\\Quillon\\ may be changed by ";
    const std::string why =
        ": a DLL put there would run in every program started from it, as whoever runs it\n";
    // Each right that lets a file in, or grants that right, on its own; the last mask holds
    // reading, listing, attributes and the rest, which are no way in.
    for (unsigned long right :
         {0x2ul, 0x4ul, 0x40ul, 0x10000ul, 0x40000ul, 0x80000ul, 0x40000000ul, 0xA0120139ul}) {
        FolderFacts facts = Locked();
        facts.allowed.push_back({"S-1-5-32-545", "BUILTIN\\Users", right});
        EXPECT_EQ(FirstLine(FolderCheck(facts)),
                  right == 0xA0120139ul ? ok : fails + "BUILTIN\\Users" + why)
            << right;
    }
    struct Row {
        std::function<void(FolderFacts&)> change;
        std::string line;
    } rows[] = {
        {[](FolderFacts&) {}, ok},
        {[&](FolderFacts& f) {
             f.allowed.push_back(teller);
             f.allowed.push_back({"S-1-1-0", "Everyone", 0x10000000});
             f.allowed.push_back(teller);
         },
         fails + "BANK\\teller, Everyone" + why},
        {[&](FolderFacts& f) {
             f.ownerSid = teller.sid;
             f.ownerName = teller.name;
         },
         fails + "BANK\\teller (its owner)" + why},
        // The doctor's own account, an administrator's.
        {[&](FolderFacts& f) {
             f.ownerSid = teller.sid;
             f.allowed.push_back(teller);
             f.administrators = {teller.sid};
         },
         ok},
        {[](FolderFacts& f) {
             f.hasList = false;
             f.allowed.clear();
         },
         fails + "everyone (it has no access list)" + why},
        {[](FolderFacts& f) { f.readError = 5; },
         "WARN  install folder: the permissions of C:\\Program Files\\Quillon\\ could not be read "
         "(error 5)\n"},
    };
    for (const Row& row : rows) {
        FolderFacts facts = Locked();
        row.change(facts);
        const Finding finding = FolderCheck(facts);
        EXPECT_EQ(FirstLine(finding), row.line);
        EXPECT_EQ(finding.todo.empty(), row.line[0] == 'O') << row.line;
    }
}

TEST(BrowserHostCheck, AUsersRegistrationTheBrowserWouldTakeElsewhereThanTheMachinesWarns) {
    const std::string machine = "C:\\Program Files\\Quillon\\quillon.bridge.json";
    const std::string planted = "C:\\Users\\teller\\AppData\\x.json";
    const std::string chrome =
        "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\quillon.bridge";
    const std::string edge =
        "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\quillon.bridge";
    using Three = std::vector<std::pair<std::string, std::string>>;  // (user, machine) a browser
    struct Row {
        Three registered;
        std::vector<bool> policyOff;
        std::string line;
    } rows[] = {
        {{{"", ""}, {"", ""}, {"", ""}},
         {},
         "OK    browser host: quillon.bridge is not registered with Chrome, Edge or Chromium\n"},
        // The same file in other case and slashes is the same registration.
        {{{"c:/program files/quillon/QUILLON.BRIDGE.JSON", machine}, {"", machine}, {"", ""}},
         {},
         "OK    browser host: quillon.bridge for the machine: Chrome, Edge at " + machine +
             "; no user's registration points elsewhere\n"},
        {{{"", machine}, {"", "D:\\Q\\quillon.bridge.json"}, {"", machine}},
         {},
         "OK    browser host: quillon.bridge for the machine: Chrome, Chromium at " + machine +
             "; Edge at D:\\Q\\quillon.bridge.json; no user's registration points elsewhere\n"},
        {{{planted, machine}, {planted, ""}, {"", ""}},
         {},
         "WARN  browser host: the browser takes a user's registration before the machine's, and "
         "one points elsewhere: " +
             chrome + " = " + planted + " (the machine's: " + machine + "); " + edge + " = " +
             planted + " (the machine's: none)\n"},
        // The policy makes the browser ignore users' registrations.
        {{{planted, machine}, {planted, machine}, {"", ""}},
         {true, false, false},
         "WARN  browser host: the browser takes a user's registration before the machine's, and "
         "one points elsewhere: " +
             edge + " = " + planted + " (the machine's: " + machine + ")\n"},
        {{{planted, ""}, {"", ""}, {"", ""}},
         {true},
         "OK    browser host: quillon.bridge for the machine: none; no user's registration "
         "points elsewhere\n"},
    };
    for (const Row& row : rows) {
        std::vector<HostRegistration> registrations;
        for (size_t i = 0; i < 3; ++i) {
            registrations.push_back({&kBrowsers[i], row.registered[i].first,
                                     row.registered[i].second,
                                     i < row.policyOff.size() && row.policyOff[i]});
        }
        const Finding finding = BrowserHostCheck(registrations);
        EXPECT_EQ(FirstLine(finding), row.line);
        EXPECT_EQ(finding.todo.empty(), row.line[0] == 'O') << row.line;
    }
    // Another user's registry, as SYSTEM reads it; each browser named once for the machine.
    const std::string teller = "HKU\\S-1-5-21-7-8-9-1001";
    const Finding two = BrowserHostCheck(
        {{&kBrowsers[0], planted, machine, false}, {&kBrowsers[1], planted, "", false, teller}});
    EXPECT_EQ(FirstLine(BrowserHostCheck({{&kBrowsers[0], machine, machine, false},
                                          {&kBrowsers[0], machine, machine, false, teller}})),
              "OK    browser host: quillon.bridge for the machine: Chrome at " + machine +
                  "; no user's registration points elsewhere\n");
    EXPECT_EQ(two.todo, "unless your IT made it, remove it (reg delete \"" + chrome +
                            "\" /f, reg delete \"" + teller + edge.substr(4) +
                            "\" /f), register the host for the machine (the package does) and "
                            "set the browsers' NativeMessagingUserLevelHosts policy to 0 "
                            "(docs/deploy.md)");
}

}  // namespace
}  // namespace doctor
}  // namespace quillon
