#include "doctor_checks.h"

#include <gtest/gtest.h>

namespace quillon {
namespace doctor {
namespace {

// A PC where everything is in place, as QuillonDescribe writes it.
const char kHealthy[] =
    "version=2.1.0\nbits=32\nfolder=C:\\Quillon\\\n"
    "settings.path=.\\QUILLON.ini\nsettings.place=current folder\nsettings.found=yes\n"
    "setting.COMPORT.COM=7\nsetting.MYKAD.TIMEOUT=3000\n"
    "port=10\nport.from=registry\nport.registry=opened\nport.bridge=\\Device\\Silabser0=COM10\n"
    "reader.looked=C:\\Quillon\\OrvMyKad.dll\nreader.looked=C:\\windows\\system32\\OrvMyKad.dll\n"
    "reader.found=yes\nreader.path=C:\\Quillon\\OrvMyKad.dll\nreader.init=0\n"
    "reader.version.result=0\nreader.version=ORV 1.2\nlog=off\n";

// The healthy text with the lines starting with each `drop` prefix removed and `add` appended.
std::string Altered(std::vector<std::string> drop, const std::string& add) {
    std::string out, text = kHealthy;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start) + 1;
        const std::string line = text.substr(start, end - start);
        bool keep = true;
        for (const std::string& d : drop) keep = keep && line.compare(0, d.size(), d) != 0;
        if (keep) out += line;
        start = end;
    }
    return out + add;
}

std::string Printed(const std::vector<Finding>& findings) {
    std::string out;
    for (const Finding& f : findings) out += FormatFinding(f);
    return out;
}

TEST(DescriptionChecks, AHealthyPcGivesOneOkLinePerCheck) {
    EXPECT_EQ(Printed(DescriptionChecks(Description(kHealthy), 0)),
              "OK    library: quillon.dll 2.1.0, 32-bit, loaded from C:\\Quillon\\\n"
              "OK    settings file: .\\QUILLON.ini (current folder), 2 keys set\n"
              "OK    settings values: every number reads as written\n"
              "OK    COM port: COM10 for port 0, named by the CP210x bridge value "
              "\\Device\\Silabser0=COM10 in HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM\n"
              "OK    card reader: C:\\Quillon\\OrvMyKad.dll, version \"ORV 1.2\"\n"
              "OK    file log: off ([DEBUG] ENABLE=1 turns it on; see docs/troubleshooting.md)\n");
    EXPECT_EQ(ExitCode(DescriptionChecks(Description(kHealthy), 0)), 0);
}

// One fault at a time: the line it changes, and the exit status.
TEST(DescriptionChecks, EachFaultGivesTheLineThatNamesIt) {
    struct Row {
        std::vector<std::string> drop;
        std::string add;
        std::string line;  // the first line that is not OK, and its advice's start
        int exit;
    } rows[] = {
        {{"settings.found", "setting."},
         "settings.found=no\n",
         "FAIL  settings file: no QUILLON.ini in the current folder, System32 or SysWow64; every "
         "key reads its default (the library would read .\\QUILLON.ini)\n"
         "      what to do: put QUILLON.ini in the host program's working folder",
         1},
        {{"setting.MYKAD"},
         "setting.mykad.timeout=abc\nunparsed.MYKAD.TIMEOUT=no number; reads 0\n",
         "FAIL  settings value: [MYKAD] TIMEOUT=abc: no number, reads 0\n"
         "      what to do: write a whole number there",
         1},
        {{},
         "setting.DEBUG.MAX_KB=\nunparsed.DEBUG.MAX_KB=empty; reads 0\n",
         "FAIL  settings value: [DEBUG] MAX_KB=: empty, reads 0\n      what to do: write",
         1},
        {{},
         "setting.APDU.V_TIMEOUT=2000ms\nunparsed.APDU.V_TIMEOUT=text after the number; reads "
         "2000\n",
         "FAIL  settings value: [APDU] V_TIMEOUT=2000ms: text after the number is ignored, reads "
         "2000\n      what to do: write",
         1},
        {{"port.from", "port.bridge", "port="},
         "port=5\nport.from=default\n",
         "WARN  COM port: COM5 for port 0, the built-in default: no CP210x bridge in the registry "
         "and no [COMPORT] COM\n      what to do: plug in the terminal's USB cable",
         0},
        {{"port.from"},
         "port.from=settings\n",
         "WARN  COM port: COM10 for port 0: the bridge value \\Device\\Silabser0=COM10 names no "
         "port number, so [COMPORT] COM decides\n      what to do: reinstall",
         0},
        {{"reader."},
         "reader.looked=C:\\Quillon\\OrvMyKad.dll\nreader.looked=C:\\windows\\system32\\OrvMyKad."
         "dll\n"
         "reader.found=no\n",
         "FAIL  card reader: OrvMyKad.dll not found (looked at C:\\Quillon\\OrvMyKad.dll, "
         "C:\\windows\\system32\\OrvMyKad.dll)\n      what to do: copy the reader maker's",
         1},
        {{"reader.init", "reader.version"},
         "reader.missing=OrvMyKadReadBio\nreader.missing=OrvMyKadClose\n",
         "FAIL  card reader: C:\\Quillon\\OrvMyKad.dll lacks 2 of its 11 functions: "
         "OrvMyKadReadBio, OrvMyKadClose\n      what to do: replace it",
         1},
        {{"reader.init", "reader.version"},
         "reader.init=-4\n",
         "WARN  card reader: C:\\Quillon\\OrvMyKad.dll: OrvMyKadInit on COM10 answered -4\n",
         0},
        {{"reader.version"},
         "reader.version.result=-15\n",
         "WARN  card reader: C:\\Quillon\\OrvMyKad.dll: the version call answered -15\n",
         0},
        {{"log"},
         "log=on\nlog.path=.\\Log.txt\nlog.exists=yes\nlog.size=2097152\nlog.cap=1048576\n",
         "WARN  file log: on, writes .\\Log.txt, 2048 KiB of 1024 KiB: beyond its cap\n",
         0},
        {{},
         "busy=yes\n",
         "WARN  library: quillon.dll 2.1.0, 32-bit, loaded from C:\\Quillon\\; a request was "
         "running, nothing else was looked at\n",
         0},
    };
    for (const Row& row : rows) {
        const std::vector<Finding> findings =
            DescriptionChecks(Description(Altered(row.drop, row.add)), 0);
        std::string notOk;
        for (const Finding& f : findings) {
            if (f.level != Level::kOk && notOk.empty()) notOk = FormatFinding(f);
        }
        EXPECT_EQ(notOk.substr(0, row.line.size()), row.line) << row.add;
        EXPECT_EQ(ExitCode(findings), row.exit) << row.add;
    }
}

TEST(DescriptionChecks, ReadsTheFileLogsSizeAgainstItsCapAndTheGivenPort) {
    const std::vector<Finding> findings =
        DescriptionChecks(Description(Altered({"log"},
                                              "log=on\nlog.path=D:\\q.txt\nlog.exists=yes\n"
                                              "log.size=10240\nlog.cap=1048576\n")),
                          3);
    EXPECT_EQ(Printed({findings[3], findings[5]}),
              "OK    COM port: COM3 (given with --port)\n"
              "OK    file log: on, writes D:\\q.txt, 10 KiB of 1024 KiB\n");
    EXPECT_EQ(
        FormatFinding(DescriptionChecks(
            Description(Altered({"port.from", "port.bridge"}, "port.from=settings\n")), 0)[3]),
        "OK    COM port: COM10 for port 0, from [COMPORT] COM (no CP210x bridge in the "
        "registry)\n");
    EXPECT_EQ(PortToCheck(Description(kHealthy), 3), 3);
    EXPECT_EQ(PortToCheck(Description(kHealthy), 0), 10);
}

TEST(PortOpenCheck, NamesThePortAndWhyItDidNotOpen) {
    struct Row {
        bool opened;
        unsigned long error;
        std::string first;
    } rows[] = {
        {true, 0, "OK    port open: COM7 opens\n"},
        {false, 2, "FAIL  port open: COM7 does not exist on this PC (error 2)\n"},
        {false, 3, "FAIL  port open: COM7 does not exist on this PC (error 3)\n"},
        {false, 5, "FAIL  port open: COM7 is in use by another program (error 5)\n"},
        {false, 31, "FAIL  port open: COM7 does not open (error 31)\n"},
    };
    for (const Row& row : rows) {
        const std::string printed = FormatFinding(PortOpenCheck(7, row.opened, row.error));
        EXPECT_EQ(printed.substr(0, printed.find('\n') + 1), row.first);
        EXPECT_EQ(printed.find("what to do") != std::string::npos, !row.opened) << row.error;
    }
}

TEST(StatusCheck, ReportsTheCustomerNameAndTimeOrWhyTheTerminalDidNotAnswer) {
    struct Row {
        StatusAnswer answer;
        std::string first;
    } rows[] = {
        {{true, 0, "[GETFIRMWAREVERSION][0][ACME BANK][123]", 0.3141},
         "OK    terminal: answers the status query on COM7 in 0.31 s; customer name \"ACME "
         "BANK\"\n"},
        {{true, 0, "[GETFIRMWAREVERSION][0][][123]", 1.0},
         "OK    terminal: answers the status query on COM7 in 1.00 s; customer name \"\"\n"},
        {{true, -30, "[GETFIRMWAREVERSION][-30][123]", 6.02},
         "FAIL  terminal: no answer to the status query on COM7 (result -30 after 6.02 s)\n"},
        {{true, -4, "[GETFIRMWAREVERSION][-4][123]", 0.01},
         "FAIL  terminal: the library could not open COM7 (result -4)\n"},
        {{true, -1008, "[GETFIRMWAREVERSION][-1008][123]", 0.0},
         "FAIL  terminal: the status query on COM7 ended with result -1008 after 0.00 s\n"},
        {{false, 0, "", 0.0},
         "FAIL  terminal: no end to the status query on COM7 within 20 s (the doctor stopped "
         "waiting)\n"},
    };
    for (const Row& row : rows) {
        const std::string printed = FormatFinding(StatusCheck(7, row.answer, 20));
        EXPECT_EQ(printed.substr(0, printed.find('\n') + 1), row.first);
    }
}

TEST(Description, KeepsRepeatedKeysInOrderAndSplitsAtTheFirstEquals) {
    const Description d("a=1\r\nb=x=y\nnoequals\na=2\n\nab.c=3\n");
    EXPECT_EQ(d.Get("a"), "1");
    EXPECT_EQ(d.Get("b"), "x=y");
    EXPECT_EQ(d.Get("noequals", "none"), "none");
    EXPECT_EQ(d.All("a"), (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(d.Has("ab.c"));
    EXPECT_FALSE(d.Has("ab"));
    const auto withA = d.WithPrefix("a");
    ASSERT_EQ(withA.size(), 3u);
    EXPECT_EQ(withA[2], (std::pair<std::string, std::string>("b.c", "3")));
}

}  // namespace
}  // namespace doctor
}  // namespace quillon
