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
const char kBridge[] = "\\Device\\Silabser0";
const char kSlab[] = "\\Device\\slabser0";

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

TEST(DescribeSettings, NamesThePathInForceAndListsItsKeysOnlyWhenItExists) {
    struct Row {
        std::vector<std::string> present;
        std::string path, place;
        bool found;
    } rows[] = {
        {{kLocal, kSystem32}, kLocal, "current folder", true},
        {{kSystem32, kSysWow64}, kSystem32, "System32", true},
        {{}, kSysWow64, "SysWow64", false},
    };
    for (const Row& row : rows) {
        SettingsRig rig;
        for (const std::string& p : row.present) rig.files.files.insert(p);
        rig.entries.push_back({"COMPORT", "COM", "7"});
        const SettingsFacts facts = DescribeSettings(rig.locator, rig.profile, rig);
        EXPECT_EQ(facts.path, row.path);
        EXPECT_STREQ(facts.place, row.place.c_str()) << row.path;
        EXPECT_EQ(facts.found, row.found) << row.path;
        EXPECT_EQ(facts.entries.size(), row.found ? 1u : 0u) << row.path;
    }
}

TEST(DescribeSettings, FlagsEveryNumberWhoseTextIsNotReadAsWrittenAndNothingElse) {
    struct Row {
        SettingEntry entry;
        std::string unparsed;  // "SECTION.KEY reason reads" or empty
    } rows[] = {
        {{"MYKAD", "TIMEOUT", "abc"}, "MYKAD.TIMEOUT no number 0"},
        {{"COMPORT", "BAUDRATE", "9600 baud"}, "COMPORT.BAUDRATE text after the number 9600"},
        // The dialog reads 50 characters of it.
        {{"COMPORT", "BAUDRATE", std::string(50, '0') + "1x"},
         "COMPORT.BAUDRATE text after the number 0"},
        {{"Font", "size", "12pt"}, "FONT.SIZE text after the number 12"},  // "z" matches "Z"
        {{"MISC", "CANCEL", "7"}, ""},  // a single digit is a number
        {{"MyKad", "GlobTimeout", "5000ms"}, "MYKAD.GLOBTIMEOUT text after the number 5000"},
        {{"COMPORT", "COM", " -3 "}, ""},
        {{"DEBUG", "MAX_KB", ""}, "DEBUG.MAX_KB empty 0"},
        {{"APDU", "RETRY_COUNT_FW", "+"}, "APDU.RETRY_COUNT_FW no number 0"},
        // Texts, and keys the library does not read, are never numbers.
        {{"MYKAD", "TIMEOUTS", "abc"}, ""},
    };
    for (const Row& row : rows) {
        SettingsRig rig;
        rig.Set(kLocal, row.entry);
        std::string got;
        for (const UnparsedSetting& u : DescribeSettings(rig.locator, rig.profile, rig).unparsed) {
            got += u.section + "." + u.key + " " + u.reason + " " + std::to_string(u.readsAs);
        }
        EXPECT_EQ(got, row.unparsed) << row.entry.section << "." << row.entry.key;
    }
}

TEST(DescribePort, TellsWhetherTheRegistryTheSettingsOrTheDefaultPickedThePort) {
    struct Row {
        bool opens;
        std::map<std::string, std::string> values;
        std::string com;  // [COMPORT] COM in .\QUILLON.ini, or none
        int port;
        std::string source, bridge;
    } rows[] = {
        {true, {{kBridge, "COM10"}}, "7", 10, "registry", "\\Device\\Silabser0=COM10"},
        {true, {{kSlab, "COM3"}, {kBridge, "COM4"}}, "", 3, "registry", "\\Device\\slabser0=COM3"},
        {true, {{"\\Device\\silabser0", "COMX"}}, "7", 7, "settings", "\\Device\\silabser0=COMX"},
        {true, {{"\\Device\\silabser0", "NULL"}}, "", 5, "default", ""},
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

// A library whose version text fills all 48 bytes without a terminator, even when it fails.
struct LongVersionReader : FakeCardReader {
    int OrvMyKadGetFirmwareVersion(int ms, char* version, uint8_t* keyArea) override {
        std::memset(version, 'V', 48);
        return FakeCardReader::OrvMyKadGetFirmwareVersion(ms, version, keyArea);
    }
};

// A size the system leaves behind for a file that is not there must not reach the report.
struct StaleSizes : IFileSizes {
    bool present = false;
    bool SizeOf(const std::string&, uint64_t& size) override {
        size = 777;
        return present;
    }
};

TEST(DescribeLog, ReportsPathSizeAndCapOnlyWhenTheLogIsOn) {
    const struct {
        const char *enable, *maxKb;
        bool present, enabled;
        uint64_t size, cap;
    } rows[] = {{"0", "64", true, false, 0, 0},
                {"1", "64", true, true, 777, 65536},
                {"1", "64", false, true, 0, 65536}};
    for (const auto& row : rows) {
        FakeProfile profile;
        profile.Set(kLocal, "DEBUG", "ENABLE", row.enable);
        profile.Set(kLocal, "DEBUG", "FILE", "D:\\logs\\q.txt");
        profile.Set(kLocal, "DEBUG", "MAX_KB", row.maxKb);
        StaleSizes files;
        files.present = row.present;
        const LogFacts facts = DescribeLog(profile, kLocal, files);
        SCOPED_TRACE(testing::Message() << row.enable << " present " << row.present);
        EXPECT_EQ(facts.enabled, row.enabled);
        EXPECT_EQ(facts.path, row.enabled ? "D:\\logs\\q.txt" : "");
        EXPECT_EQ(facts.exists, row.enabled && row.present);
        EXPECT_EQ(facts.size, row.size);
        EXPECT_EQ(facts.cap, row.cap);
    }
}

TEST(AskReaderVersion, OpensTheReaderAsksItsVersionKeepsItOnlyOnSuccessAndAlwaysCloses) {
    struct Row {
        int init, version;
        std::string calls;
        bool kept;
    } rows[] = {
        {0, 0, "Init(7) FW(1500) Close", true},
        {0, -15, "Init(7) FW(1500) Close", false},
        {-4, 0, "Init(7) Close", false},
    };
    for (const Row& row : rows) {
        LongVersionReader reader;
        reader.results["Init"] = {row.init};
        reader.results["FW"] = {row.version};
        ReaderFacts facts;
        AskReaderVersion(reader, 7, 1500, facts);
        EXPECT_EQ(reader.Calls(), row.calls);
        EXPECT_TRUE(facts.asked);
        EXPECT_EQ(facts.initResult, row.init);
        EXPECT_EQ(facts.versionResult, row.init == 0 ? row.version : 0);
        EXPECT_EQ(facts.version, row.kept ? std::string(48, 'V') : "") << row.calls;
    }
}

// The doctor reads the keys end to end; these are the lines it never meets there.
TEST(FormatDescription, WritesOnlyTheLinesThatApplyWithoutControlCharacters) {
    Description d;
    d.version = "2.1.0";
    d.bits = 32;
    d.folder = "C:\\Quillon\\";
    d.settings.unparsed = {{"DEBUG", "MAX_KB", INT_MIN, "empty"}};
    d.reader = {{}, "C:\\Quillon\\OrvMyKad.dll", {}, true, 0, 0, "ORV\r\n1.2"};
    d.log = {true, ".\\Log.txt", true, 5000000000ull, 1048576};
    std::string text = FormatDescription(d);
    EXPECT_EQ(text.substr(text.find("unparsed")),
              "unparsed.DEBUG.MAX_KB=empty; reads the default\n"
              "port=0\nport.from=\nport.registry=not opened\n"
              "reader.found=yes\n"
              "reader.path=C:\\Quillon\\OrvMyKad.dll\n"
              "reader.init=0\nreader.version.result=0\n"
              "reader.version=ORV??1.2\nlog=on\n"
              "log.path=.\\Log.txt\nlog.exists=yes\n"
              "log.size=5000000000\nlog.cap=1048576\n");
    d.reader.initResult = -4;
    d.log.enabled = false;
    text = FormatDescription(d);
    EXPECT_EQ(text.substr(text.find("reader.init")), "reader.init=-4\nlog=off\n");
    d.reader = ReaderFacts{};  // no library found, so none was asked
    text = FormatDescription(d);
    EXPECT_EQ(text.substr(text.find("reader.")), "reader.found=no\nlog=off\n");
    d.busy = true;
    EXPECT_EQ(FormatDescription(d), "version=2.1.0\nbits=32\nfolder=C:\\Quillon\\\nbusy=yes\n");
}

TEST(CopyDescription, CopiesWholeLinesOnlyNeverPastTheBufferAndReturnsTheLengthNeeded) {
    const std::string text = "a=1\nbb=22\nc=3\n";  // 14 characters
    struct Row {
        int size;
        std::string copied;
    } rows[] = {
        {15, text},    {14, "a=1\nbb=22\n"}, {11, "a=1\nbb=22\n"},
        {10, "a=1\n"}, {5, "a=1\n"},         {4, ""},
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
