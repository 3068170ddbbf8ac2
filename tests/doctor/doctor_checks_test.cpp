#include "doctor_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

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

// The healthy text without the lines starting with each `drop` prefix, and with `add` appended.
std::string Altered(const std::vector<std::string>& drop, const std::string& add) {
    std::istringstream in(kHealthy);
    std::string out, line;
    while (std::getline(in, line)) {
        bool keep = true;
        for (const std::string& d : drop) keep = keep && line.compare(0, d.size(), d) != 0;
        if (keep) out += line + "\n";
    }
    return out + add;
}

// What only a real library writes and the port and terminal faults are played under wine.
TEST(DescriptionChecks, EachChangeGivesTheLineThatNamesIt) {
    struct Row {
        std::vector<std::string> drop;
        std::string add;
        std::string line;  // the first line unlike the healthy PC's
    } rows[] = {
        {{"setting.MYKAD"},
         "setting.mykad.timeout=abc\nunparsed.MYKAD.TIMEOUT=no number; reads 0\n",
         "FAIL  settings value: [MYKAD] TIMEOUT=abc: no number, reads 0\n"},
        {{"setting.MYKAD"},
         "setting.APDU.V_TIMEOUT=2ms\nunparsed.APDU.V_TIMEOUT=text after the number; reads 2\n",
         "FAIL  settings value: [APDU] V_TIMEOUT=2ms: text after the number is ignored, reads 2\n"},
        {{"setting.MYKAD"},
         "setting.Mykad.Timeout=-5000\n",
         "WARN  settings value: [MYKAD] TIMEOUT=-5000: a time-out of 0 or less; 0 ends every "
         "wait at once, a negative one lets it run for about 24.8 days\n"},
        {{"setting.MYKAD"},
         "setting.CSSSERVER.GLOBTIMEOUT=0\n",
         "WARN  settings value: [CSSSERVER] GLOBTIMEOUT=0: a time-out of 0 or less; 0 ends every "
         "wait at once, a negative one lets it run for about 24.8 days\n"},
        {{"port.from", "port.bridge", "port="},
         "port=5\nport.from=default\n",
         "WARN  COM port: COM5 for port 0, the built-in default: no CP210x bridge in the registry "
         "and no [COMPORT] COM\n"},
        {{"port.from"},
         "port.from=settings\n",
         "WARN  COM port: COM10 for port 0: the bridge value \\Device\\Silabser0=COM10 names no "
         "port number, so [COMPORT] COM decides\n"},
        {{"port.from", "port.bridge"},
         "port.from=settings\n",
         "OK    COM port: COM10 for port 0, from [COMPORT] COM (no CP210x bridge in the "
         "registry)\n"},
        {{"reader.init", "reader.version"},
         "reader.init=-4\n",
         "WARN  card reader: C:\\Quillon\\OrvMyKad.dll: OrvMyKadInit on COM10 answered -4\n"},
        {{"reader.version"},
         "reader.version.result=-15\n",
         "WARN  card reader: C:\\Quillon\\OrvMyKad.dll: the version call answered -15\n"},
        {{"log"},
         "log=on\nlog.path=.\\Log.txt\nlog.exists=yes\nlog.size=2097152\nlog.cap=1048576\n",
         "WARN  file log: on, writes .\\Log.txt, 2048 KiB of 1024 KiB: beyond its cap\n"},
        {{"log"},
         "log=on\nlog.path=D:\\q.txt\nlog.exists=yes\nlog.size=10240\nlog.cap=1048576\n",
         "OK    file log: on, writes D:\\q.txt, 10 KiB of 1024 KiB\n"},
        {{},
         "busy=yes\n",
         "WARN  library: quillon.dll 2.1.0, 32-bit, loaded from C:\\Quillon\\; a request was "
         "running, nothing else was looked at\n"},
    };
    std::vector<std::string> healthy;
    for (const Finding& f : DescriptionChecks(Description(kHealthy), 0))
        healthy.push_back(FormatFinding(f));
    for (const Row& row : rows) {
        const std::vector<Finding> findings =
            DescriptionChecks(Description(Altered(row.drop, row.add)), 0);
        std::string changed;
        for (const Finding& f : findings) {
            const std::string printed = FormatFinding(f);
            if (changed.empty() && std::count(healthy.begin(), healthy.end(), printed) == 0)
                changed = printed;
        }
        EXPECT_EQ(changed.substr(0, changed.find('\n') + 1), row.line) << row.add;
        EXPECT_EQ(changed.find("\n      what to do: ") != std::string::npos, row.line[0] != 'O');
        EXPECT_EQ(ExitCode(findings), row.line[0] == 'F' ? 1 : 0) << row.add;
    }
    EXPECT_EQ(FormatFinding(DescriptionChecks(Description(kHealthy), 3)[3]),
              "OK    COM port: COM3 (given with --port)\n");
    EXPECT_EQ(PortToCheck(Description(kHealthy), 3), 3);
    EXPECT_EQ(PortToCheck(Description(kHealthy), 0), 10);
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
        const std::string printed = FormatFinding(row.finding);
        EXPECT_EQ(printed.substr(0, printed.find('\n') + 1), row.first);
        EXPECT_EQ(printed.find("what to do") != std::string::npos, row.finding.level != Level::kOk)
            << row.first;
    }
}

TEST(Description, KeepsRepeatedKeysInOrderAndSplitsAtTheFirstEquals) {
    const Description d("a=1\r\nb=x=y\nnoequals\na=2\n");
    EXPECT_EQ(d.All("a"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(d.Get("b"), "x=y");
    EXPECT_EQ(d.Get("noequals", "none"), "none");
}

}  // namespace
}  // namespace doctor
}  // namespace quillon
