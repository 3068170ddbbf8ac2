#include "foundation/settings.h"

#include <gtest/gtest.h>

#include <climits>

#include "fakes.h"

namespace quillon {
namespace {

using testing_support::FakeFileSystem;
using testing_support::FakeProfile;
using testing_support::FakeRegistry;

const char kLocal[] = ".\\QUILLON.ini";
const char kSystem32[] = "C:\\windows\\System32\\QUILLON.ini";
const char kSysWow64[] = "C:\\windows\\SysWow64\\QUILLON.ini";

TEST(IniLocator, PicksTheFirstFileThatOpensElseSysWow64) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{kLocal, kSystem32}, kLocal},
        {{kSystem32, kSysWow64}, kSystem32},
        {{kSysWow64}, kSysWow64},
        {{}, kSysWow64},
    };
    for (const auto& c : cases) {
        FakeFileSystem files;
        files.files.insert(c.first.begin(), c.first.end());
        IniLocator locator(files);
        EXPECT_EQ(locator.GetIniPath(), c.second);
    }
}

TEST(IniLocator, FirstPathStaysForTheLifeOfTheProcess) {
    FakeFileSystem files;
    IniLocator locator(files);
    EXPECT_EQ(locator.GetIniPath(), kSysWow64);
    files.files.insert(kLocal);
    EXPECT_EQ(locator.GetIniPath(), kSysWow64);
}

TEST(IniLocator, WindowsDirectoryIsTakenThroughA200CharacterBuffer) {
    FakeFileSystem files;
    files.windowsDir = std::string(300, 'W');
    IniLocator locator(files);
    EXPECT_EQ(locator.GetIniPath(), std::string(199, 'W') + "\\SysWow64\\QUILLON.ini");
}

TEST(FindComPort, AsksTheFourBridgeNamesInOrderUntilOneHoldsAPort) {
    FakeFileSystem files;
    IniLocator locator(files);
    FakeRegistry registry;
    FakeProfile profile;
    registry.values["\\Device\\Silabser0"] = "COM10";
    EXPECT_EQ(FindComPort(locator, registry, profile), 10);
    EXPECT_EQ(registry.queried, (std::vector<std::string>{"\\Device\\slabser0",
                                                          "\\Device\\Slabser0",
                                                          "\\Device\\silabser0",
                                                          "\\Device\\Silabser0"}));
    EXPECT_TRUE(registry.closed);
}

TEST(FindComPort, SettingsDecideWhenTheRegistryGivesNoPort) {
    struct Case {
        bool opens;
        std::map<std::string, std::string> values;
        const char* comSetting;  // [COMPORT] COM, or nullptr
        int expected;
    };
    const std::string first = "\\Device\\slabser0";
    const Case cases[] = {
        {true, {{first, "COM7"}, {"\\Device\\Silabser0", "COM9"}}, "8", 7},  // first name wins
        {true, {{first, "NULL"}, {"\\Device\\silabser0", "COM3"}}, nullptr, 3},  // NULL: absent
        {true, {{first, "COM" + std::string(2000, '1')}}, nullptr, INT_MAX},  // stays terminated
        {false, {}, nullptr, 5},            // no key, no setting
        {false, {{first, "COM7"}}, "8", 8},  // the key cannot be opened
        {true, {}, "12", 12},                // no value
        {true, {{first, "COMX"}}, nullptr, 5},  // no digits from the 4th character
        {true, {{first, "CO"}}, "4", 4},        // too short to hold a number
        {true, {{first, "COM0"}}, "6", 6},      // port 0 means none
    };
    for (const Case& c : cases) {
        FakeFileSystem files;
        files.files.insert(kLocal);
        FakeRegistry registry;
        registry.opens = c.opens;
        registry.values = c.values;
        FakeProfile profile;
        if (c.comSetting) profile.Set(kLocal, "COMPORT", "COM", c.comSetting);
        IniLocator locator(files);
        EXPECT_EQ(FindComPort(locator, registry, profile), c.expected) << c.expected;
    }
}

TEST(FindComPort, LocatesTheSettingsFileAnewEachTime) {
    FakeFileSystem files;
    IniLocator locator(files);
    FakeRegistry registry;
    FakeProfile profile;
    EXPECT_EQ(locator.GetIniPath(), kSysWow64);
    files.files.insert(kLocal);
    profile.Set(kLocal, "COMPORT", "COM", "9");
    EXPECT_EQ(FindComPort(locator, registry, profile), 9);
    EXPECT_EQ(locator.Current(), kLocal);
}

}  // namespace
}  // namespace quillon
