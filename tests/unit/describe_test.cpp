#include "command/describe.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>

#include "dialog_fakes.h"
#include "fakes.h"

namespace quillon {
namespace {

using testing_support::FakeCardReader;
using testing_support::FakeFileSystem;
using testing_support::FakeProfile;
using testing_support::FakeRegistry;

const char kLocal[] = ".\\QUILLON.ini";
const char kSystem32[] = "C:\\windows\\System32\\QUILLON.ini";
const char kSysWow64[] = "C:\\windows\\SysWow64\\QUILLON.ini";

// The lister answers from the same table the profile reads.
struct SettingsRig : ISettingsLister {
    FakeFileSystem files;
    FakeProfile profile;
    IniLocator locator{files};
    std::vector<SettingEntry> entries;
    std::vector<SettingEntry> Entries(const std::string&) override { return entries; }
    void Set(const std::string& path, SettingEntry e) {
        files.files.insert(path);
        // The system's profile calls ignore the case of names; the fake does not.
        const auto upper = [](std::string text) {
            for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
            return text;
        };
        profile.Set(path, upper(e.section), upper(e.key), e.text);
        entries.push_back(e);
    }
};

TEST(DescribeSettings, NamesThePathInForceAndWhichOfTheThreePlacesItIs) {
    struct Row {
        std::vector<std::string> present;
        std::string path, place;
        bool found;
    } rows[] = {
        {{kLocal, kSystem32}, kLocal, "current folder", true},
        {{kSystem32, kSysWow64}, kSystem32, "System32", true},
        {{kSysWow64}, kSysWow64, "SysWow64", true},
        {{}, kSysWow64, "SysWow64", false},
    };
    for (const Row& row : rows) {
        SettingsRig rig;
        for (const std::string& p : row.present) rig.files.files.insert(p);
        const SettingsFacts facts = DescribeSettings(rig.locator, rig.profile, rig);
        EXPECT_EQ(facts.path, row.path);
        EXPECT_STREQ(facts.place, row.place.c_str()) << row.path;
        EXPECT_EQ(facts.found, row.found) << row.path;
    }
}

TEST(DescribeSettings, FlagsEveryNumberWhoseTextIsNotReadAsWrittenAndNothingElse) {
    struct Row {
        SettingEntry entry;
        std::string unparsed;  // "SECTION.KEY reason reads" or empty
    } rows[] = {
        {{"MYKAD", "TIMEOUT", "abc"}, "MYKAD.TIMEOUT no number 0"},
        {{"mykad", "timeout", "2000"}, ""},
        {{"MyKad", "GlobTimeout", "5000ms"}, "MYKAD.GLOBTIMEOUT text after the number 5000"},
        {{"COMPORT", "COM", " 7 "}, ""},
        {{"COMPORT", "COM", "-3"}, ""},
        {{"COMPORT", "COM", "COM7"}, "COMPORT.COM no number 0"},
        {{"DEBUG", "MAX_KB", ""}, "DEBUG.MAX_KB empty 0"},
        {{"COMPORT", "BAUDRATE", "fast"}, "COMPORT.BAUDRATE no number 0"},
        {{"COMPORT", "BAUDRATE", "9600 baud"}, "COMPORT.BAUDRATE text after the number 9600"},
        {{"APDU", "RETRY_COUNT_FW", "+"}, "APDU.RETRY_COUNT_FW no number 0"},
        // Texts, and keys the library does not read, are never numbers.
        {{"BRANCH", "CODE", "abc"}, ""},
        {{"FONT", "FACE", "12pt"}, ""},
        {{"MYKAD", "TIMEOUTS", "abc"}, ""},
        {{"COMPORT2", "COM", "abc"}, ""},
    };
    for (const Row& row : rows) {
        SettingsRig rig;
        rig.Set(kLocal, row.entry);
        const SettingsFacts facts = DescribeSettings(rig.locator, rig.profile, rig);
        std::string got;
        for (const UnparsedSetting& u : facts.unparsed) {
            got += u.section + "." + u.key + " " + u.reason + " " + std::to_string(u.readsAs);
        }
        EXPECT_EQ(got, row.unparsed)
            << row.entry.section << "." << row.entry.key << "=" << row.entry.text;
        EXPECT_EQ(facts.entries.size(), 1u);
    }
}

TEST(DescribeSettings, ListsNoKeysWhenNoFileExists) {
    SettingsRig rig;
    rig.entries.push_back({"COMPORT", "COM", "x"});  // what a lister would wrongly answer
    EXPECT_TRUE(DescribeSettings(rig.locator, rig.profile, rig).entries.empty());
}

TEST(DescribePort, TellsWhetherTheRegistryTheSettingsOrTheDefaultPickedThePort) {
    struct Row {
        bool opens;
        std::map<std::string, std::string> values;
        std::string com;  // [COMPORT] COM in .\QUILLON.ini, or none
        int port;
        std::string source, bridge;
    } rows[] = {
        {true,
         {{"\\Device\\Silabser0", "COM10"}},
         "7",
         10,
         "registry",
         "\\Device\\Silabser0=COM10"},
        {true,
         {{"\\Device\\slabser0", "COM3"}, {"\\Device\\Silabser0", "COM4"}},
         "",
         3,
         "registry",
         "\\Device\\slabser0=COM3"},
        {true, {{"\\Device\\Serial0", "COM1"}}, "7", 7, "settings", ""},
        {true, {{"\\Device\\silabser0", "COMX"}}, "7", 7, "settings", "\\Device\\silabser0=COMX"},
        {true, {{"\\Device\\silabser0", "NULL"}}, "", 5, "default", ""},
        {false, {{"\\Device\\Silabser0", "COM10"}}, "", 5, "default", ""},
        {false, {}, "0", 0, "settings", ""},
    };
    for (const Row& row : rows) {
        SettingsRig rig;
        FakeRegistry registry;
        registry.opens = row.opens;
        registry.values = row.values;
        if (!row.com.empty()) rig.Set(kLocal, {"COMPORT", "COM", row.com});
        const PortFacts facts = DescribePort(rig.locator, registry, rig.profile);
        EXPECT_EQ(facts.port, row.port) << row.source;
        EXPECT_STREQ(facts.source, row.source.c_str()) << row.port;
        EXPECT_EQ(facts.registryOpened, row.opens);
        EXPECT_EQ(facts.bridgeValue.empty() ? "" : facts.bridgeValue + "=" + facts.bridgeData,
                  row.bridge);
    }
}

struct FakeSizes : IFileSizes {
    std::map<std::string, uint64_t> sizes;
    bool SizeOf(const std::string& path, uint64_t& size) override {
        const auto it = sizes.find(path);
        if (it == sizes.end()) return false;
        size = it->second;
        return true;
    }
};

TEST(DescribeLog, ReportsTheFileTheLogWouldWriteItsSizeAndItsCap) {
    struct Row {
        std::map<std::string, std::string> debug;
        bool exists;
        std::string expected;  // enabled path exists size cap
    } rows[] = {
        {{}, true, "0   0 0"},
        {{{"ENABLE", "1"}}, false, "1 .\\Log.txt 0 0 1048576"},
        {{{"ENABLE", "1"}}, true, "1 .\\Log.txt 1 4321 1048576"},
        {{{"ENABLE", "1"}, {"FILE", "D:\\logs\\q.txt"}, {"MAX_KB", "8"}},
         true,
         "1 D:\\logs\\q.txt 1 4321 8192"},
        {{{"ENABLE", "1"}, {"MAX_KB", "-2"}}, true, "1 .\\Log.txt 1 4321 1048576"},
    };
    for (const Row& row : rows) {
        FakeProfile profile;
        for (const auto& kv : row.debug) profile.Set(kLocal, "DEBUG", kv.first, kv.second);
        FakeSizes sizes;
        if (row.exists) {
            sizes.sizes[".\\Log.txt"] = 4321;
            sizes.sizes["D:\\logs\\q.txt"] = 4321;
        }
        const LogFacts f = DescribeLog(profile, kLocal, sizes);
        EXPECT_EQ(
            Format("%d %s %s %llu %llu", f.enabled, f.path.c_str(),
                   f.enabled ? (f.exists ? "1" : "0") : "", static_cast<unsigned long long>(f.size),
                   static_cast<unsigned long long>(f.cap)),
            row.expected);
    }
}

TEST(AskReaderVersion, OpensTheReaderOnThePortAsksItsVersionAndAlwaysClosesIt) {
    struct Row {
        int init, version;
        std::string calls;
        std::string text;
    } rows[] = {
        {0, 0, "Init(7) FW(1500) Close", "OrvMyKad stand-in"},
        {0, -15, "Init(7) FW(1500) Close", ""},
        {-4, 0, "Init(7) Close", ""},
    };
    for (const Row& row : rows) {
        FakeCardReader reader;
        reader.results["Init"] = {row.init};
        reader.results["FW"] = {row.version};
        ReaderFacts facts;
        AskReaderVersion(reader, 7, 1500, facts);
        EXPECT_EQ(reader.Calls(), row.calls);
        EXPECT_TRUE(facts.asked);
        EXPECT_EQ(facts.initResult, row.init);
        EXPECT_EQ(facts.versionResult, row.init == 0 ? row.version : 0);
        // The fake leaves the version text empty; a filled one is copied below.
        EXPECT_EQ(facts.version, "");
    }
}

// A library whose version text fills all 48 bytes without a terminator.
struct LongVersionReader : FakeCardReader {
    int OrvMyKadGetFirmwareVersion(int, char* version, uint8_t*) override {
        std::memset(version, 'V', kOrvVersionSize);
        return 0;
    }
};

TEST(AskReaderVersion, KeepsAVersionTextThatFillsItsBufferToTheBuffer) {
    LongVersionReader reader;
    ReaderFacts facts;
    AskReaderVersion(reader, 3, 2000, facts);
    EXPECT_EQ(facts.version, std::string(kOrvVersionSize, 'V'));
}

Description FullDescription() {
    Description d;
    d.version = "2.1.0";
    d.bits = 32;
    d.folder = "C:\\Program Files\\Quillon\\";
    d.settings.path = kLocal;
    d.settings.place = "current folder";
    d.settings.found = true;
    d.settings.entries = {{"COMPORT", "COM", "7"}, {"MYKAD", "TIMEOUT", "abc"}};
    d.settings.unparsed = {{"MYKAD", "TIMEOUT", 0, "no number"},
                           {"DEBUG", "MAX_KB", INT_MIN, "empty"}};
    d.port.port = 10;
    d.port.source = "registry";
    d.port.registryOpened = true;
    d.port.bridgeValue = "\\Device\\Silabser0";
    d.port.bridgeData = "COM10";
    d.reader.looked = {"C:\\Program Files\\Quillon\\OrvMyKad.dll",
                       "C:\\windows\\system32\\OrvMyKad.dll"};
    d.reader.path = d.reader.looked[0];
    d.reader.missing = {"OrvMyKadReadBio", "OrvMyKadClose"};
    d.reader.asked = true;
    d.reader.version = "ORV\r\n1.2";
    d.log.enabled = true;
    d.log.path = ".\\Log.txt";
    d.log.exists = true;
    d.log.size = 5000000000ull;
    d.log.cap = 1048576;
    return d;
}

TEST(FormatDescription, WritesOneKeyValueLineEachInTheDocumentedOrder) {
    EXPECT_EQ(FormatDescription(FullDescription()),
              "version=2.1.0\n"
              "bits=32\n"
              "folder=C:\\Program Files\\Quillon\\\n"
              "settings.path=.\\QUILLON.ini\n"
              "settings.place=current folder\n"
              "settings.found=yes\n"
              "setting.COMPORT.COM=7\n"
              "setting.MYKAD.TIMEOUT=abc\n"
              "unparsed.MYKAD.TIMEOUT=no number; reads 0\n"
              "unparsed.DEBUG.MAX_KB=empty; reads the default\n"
              "port=10\n"
              "port.from=registry\n"
              "port.registry=opened\n"
              "port.bridge=\\Device\\Silabser0=COM10\n"
              "reader.looked=C:\\Program Files\\Quillon\\OrvMyKad.dll\n"
              "reader.looked=C:\\windows\\system32\\OrvMyKad.dll\n"
              "reader.found=yes\n"
              "reader.path=C:\\Program Files\\Quillon\\OrvMyKad.dll\n"
              "reader.missing=OrvMyKadReadBio\n"
              "reader.missing=OrvMyKadClose\n"
              "reader.init=0\n"
              "reader.version.result=0\n"
              "reader.version=ORV??1.2\n"
              "log=on\n"
              "log.path=.\\Log.txt\n"
              "log.exists=yes\n"
              "log.size=5000000000\n"
              "log.cap=1048576\n");
}

TEST(FormatDescription, StopsAfterTheFolderWhileARequestRuns) {
    Description d = FullDescription();
    d.busy = true;
    EXPECT_EQ(FormatDescription(d),
              "version=2.1.0\nbits=32\nfolder=C:\\Program Files\\Quillon\\\nbusy=yes\n");
}

TEST(CopyDescription, CopiesWholeLinesOnlyNeverPastTheBufferAndReturnsTheLengthNeeded) {
    const std::string text = "a=1\nbb=22\nc=3\n";  // 14 characters
    struct Row {
        int size;
        std::string copied;
    } rows[] = {
        {15, text},
        {100, text},
        {14, "a=1\nbb=22\n"},
        {11, "a=1\nbb=22\n"},
        {10, "a=1\n"},
        {5, "a=1\n"},
        {4, ""},
        {1, ""},
    };
    for (const Row& row : rows) {
        std::vector<char> out(static_cast<size_t>(row.size) + 8, '#');
        EXPECT_EQ(CopyDescription(text, out.data(), row.size), 14) << row.size;
        EXPECT_EQ(std::string(out.data()), row.copied) << row.size;
        EXPECT_EQ(std::string(out.begin() + row.size, out.end()), std::string(8, '#'))
            << "wrote past " << row.size;
    }
    EXPECT_EQ(CopyDescription(text, nullptr, 100), 14);
    char untouched = '#';
    EXPECT_EQ(CopyDescription(text, &untouched, 0), 14);
    EXPECT_EQ(CopyDescription(text, &untouched, -5), 14);
    EXPECT_EQ(untouched, '#');
}

}  // namespace
}  // namespace quillon
