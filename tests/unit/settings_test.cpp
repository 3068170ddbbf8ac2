#include "foundation/settings.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace quillon {
namespace {

using testing_support::FakeFileSystem;
using testing_support::FakeProfile;
using testing_support::FakeRegistry;

const char kLocal[] = ".\\QUILLON.ini";
const char kSystem32[] = "C:\\windows\\System32\\QUILLON.ini";
const char kSysWow64[] = "C:\\windows\\SysWow64\\QUILLON.ini";

struct LocateCase {
    std::vector<std::string> present;
    const char* expected;
};

void PrintTo(const LocateCase& c, std::ostream* os) { *os << c.expected; }

class LocateTable : public ::testing::TestWithParam<LocateCase> {};

TEST_P(LocateTable, PicksTheFirstFileThatOpens) {
    FakeFileSystem files;
    for (const auto& f : GetParam().present) files.files.insert(f);
    IniLocator locator(files);
    EXPECT_EQ(locator.GetIniPath(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LocateTable,
    ::testing::Values(LocateCase{{kLocal, kSystem32}, kLocal},   // the current directory wins
                      LocateCase{{kSystem32}, kSystem32},        //
                      LocateCase{{kSysWow64}, kSysWow64},        //
                      LocateCase{{}, kSysWow64}));               // nothing: SysWow64 anyway

TEST(IniLocator, FirstPathStaysForTheLifeOfTheProcess) {
    FakeFileSystem files;
    IniLocator locator(files);
    EXPECT_EQ(locator.GetIniPath(), kSysWow64);
    files.files.insert(kLocal);
    const int probes = files.probes;
    EXPECT_EQ(locator.GetIniPath(), kSysWow64);
    EXPECT_EQ(files.probes, probes) << "a located path is not looked for again";
}

TEST(IniLocator, WindowsDirectoryIsTakenThroughA200CharacterBuffer) {
    FakeFileSystem files;
    files.windowsDir = std::string(300, 'W');
    IniLocator locator(files);
    EXPECT_EQ(locator.GetIniPath(), std::string(199, 'W') + "\\SysWow64\\QUILLON.ini");
}

class FindComPortTest : public ::testing::Test {
protected:
    FakeFileSystem files;
    FakeRegistry registry;
    FakeProfile profile;
    IniLocator locator{files};
};

TEST_F(FindComPortTest, FourthOfTheBridgeNamesGivesItsPort) {
    registry.values["\\Device\\Silabser0"] = "COM10";
    EXPECT_EQ(FindComPort(locator, registry, profile), 10);
    const std::vector<std::string> order = {"\\Device\\slabser0", "\\Device\\Slabser0",
                                            "\\Device\\silabser0", "\\Device\\Silabser0"};
    EXPECT_EQ(registry.queried, order);
    EXPECT_TRUE(registry.closed);
}

TEST_F(FindComPortTest, FirstNamePresentStopsTheQueries) {
    registry.values["\\Device\\slabser0"] = "COM7";
    registry.values["\\Device\\Silabser0"] = "COM9";
    EXPECT_EQ(FindComPort(locator, registry, profile), 7);
    EXPECT_EQ(registry.queried.size(), 1u);
}

TEST_F(FindComPortTest, ValueHoldingNullCountsAsAbsent) {
    registry.values["\\Device\\slabser0"] = "NULL";
    registry.values["\\Device\\silabser0"] = "COM3";
    EXPECT_EQ(FindComPort(locator, registry, profile), 3);
}

struct FallbackCase {
    bool opens;
    const char* value;  // of \Device\slabser0, or nullptr
    const char* comSetting;  // [COMPORT] COM, or nullptr
    int expected;
};

void PrintTo(const FallbackCase& c, std::ostream* os) { *os << (c.value ? c.value : "none") << " COM=" << (c.comSetting ? c.comSetting : "none"); }

class FindComPortFallback : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(FindComPortFallback, SettingsDecideWhenTheRegistryGivesNoPort) {
    const FallbackCase& c = GetParam();
    FakeFileSystem files;
    files.files.insert(kLocal);
    FakeRegistry registry;
    registry.opens = c.opens;
    if (c.value) registry.values["\\Device\\slabser0"] = c.value;
    FakeProfile profile;
    if (c.comSetting) profile.Set(kLocal, "COMPORT", "COM", c.comSetting);
    IniLocator locator(files);
    EXPECT_EQ(FindComPort(locator, registry, profile), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fallback, FindComPortFallback,
    ::testing::Values(FallbackCase{false, nullptr, nullptr, 5},   // no key, no setting
                      FallbackCase{false, "COM7", "8", 8},        // key cannot be opened
                      FallbackCase{true, nullptr, "12", 12},      // no value
                      FallbackCase{true, "COMX", nullptr, 5},     // no digits from the 4th char
                      FallbackCase{true, "CO", "4", 4},           // too short to hold a number
                      FallbackCase{true, "COM0", "6", 6}));       // port 0 means none

TEST_F(FindComPortTest, FormsThePathAnewEachTime) {
    EXPECT_EQ(locator.GetIniPath(), kSysWow64);
    files.files.insert(kLocal);
    profile.Set(kLocal, "COMPORT", "COM", "9");
    EXPECT_EQ(FindComPort(locator, registry, profile), 9);
    EXPECT_EQ(locator.Current(), kLocal);
}

TEST_F(FindComPortTest, DataFillingTheWholeBufferStaysTerminated) {
    registry.values["\\Device\\slabser0"] = "COM" + std::string(2000, '1');
    EXPECT_EQ(FindComPort(locator, registry, profile), 2147483647);
}

}  // namespace
}  // namespace quillon
