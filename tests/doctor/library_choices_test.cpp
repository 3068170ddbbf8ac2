#include "library_choices.h"

#include <gtest/gtest.h>

#include <cctype>

#include "dialog_fakes.h"
#include "fakes.h"

namespace quillon {
namespace doctor {
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
        std::string unparsed;  // "SECTION.KEY=text reason reads" or empty
    } rows[] = {
        {{"MYKAD", "TIMEOUT", "abc"}, "MYKAD.TIMEOUT=abc no number 0"},
        {{"COMPORT", "BAUDRATE", "9600 baud"},
         "COMPORT.BAUDRATE=9600 baud text after the number 9600"},
        // The dialog reads 50 characters of it.
        {{"COMPORT", "BAUDRATE", std::string(50, '0') + "1x"},
         "COMPORT.BAUDRATE=" + std::string(50, '0') + "1x text after the number 0"},
        {{"Font", "size", "12pt"}, "FONT.SIZE=12pt text after the number 12"},  // "z" matches "Z"
        {{"MISC", "CANCEL", "7"}, ""},  // a single digit is a number
        {{"MyKad", "GlobTimeout", "5000ms"}, "MYKAD.GLOBTIMEOUT=5000ms text after the number 5000"},
        {{"COMPORT", "COM", " -3 "}, ""},
        {{"DEBUG", "MAX_KB", ""}, "DEBUG.MAX_KB= empty 0"},
        {{"APDU", "RETRY_COUNT_FW", "+"}, "APDU.RETRY_COUNT_FW=+ no number 0"},
        // Texts, and keys the library does not read, are never numbers.
        {{"MYKAD", "TIMEOUTS", "abc"}, ""},
    };
    for (const Row& row : rows) {
        SettingsRig rig;
        rig.Set(kLocal, row.entry);
        std::string got;
        for (const UnparsedSetting& u : DescribeSettings(rig.locator, rig.profile, rig).unparsed) {
            got += u.section + "." + u.key + "=" + u.text + " " + u.reason + " " +
                   std::to_string(u.readsAs);
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
        EXPECT_EQ(facts.initResult, row.init);
        EXPECT_EQ(facts.versionResult, row.init == 0 ? row.version : 0);
        EXPECT_EQ(facts.version, row.kept ? std::string(48, 'V') : "") << row.calls;
    }
}

TEST(VersionText, NamesTheReleaseAsItsVersionResourceCarriesIt) {
    EXPECT_EQ(VersionText(0, 1, 0, 0), "0.1.0");
    EXPECT_EQ(VersionText(12, 0, 65535, 0), "12.0.65535");
    EXPECT_EQ(VersionText(0, 1, 0, 7), "0.1.0.7");  // a build number of its own differs
}

}  // namespace
}  // namespace doctor
}  // namespace quillon
