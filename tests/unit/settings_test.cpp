#include "foundation/settings.h"

#include <gtest/gtest.h>

#include <climits>

#include "fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

const char kLocal[] = ".\\QUILLON.ini";
const char kSystem32[] = "C:\\windows\\System32\\QUILLON.ini";
const char kSysWow64[] = "C:\\windows\\SysWow64\\QUILLON.ini";

TEST(IniLocator, PicksTheFirstFileThatOpensElseSysWow64AndKeepsIt) {
    const std::pair<std::set<std::string>, const char*> cases[] = {
        {{kLocal, kSystem32}, kLocal}, {{kSystem32, kSysWow64}, kSystem32}, {{}, kSysWow64}};
    for (const auto& c : cases) {
        FakeFileSystem files;
        files.files = c.first;
        IniLocator locator(files);
        EXPECT_EQ(locator.GetIniPath(), c.second);
        files.files.insert(kLocal);
        EXPECT_EQ(locator.GetIniPath(), c.second) << "for the life of the process";
    }
    FakeFileSystem files;
    files.windowsDir = std::string(300, 'W');  // taken through a 200-character buffer
    EXPECT_EQ(IniLocator(files).GetIniPath(), std::string(199, 'W') + "\\SysWow64\\QUILLON.ini");
}

// A bridge port in the registry, else [COMPORT] COM, else 5; the plain cases (each bridge name,
// a port that is no bridge) are played end to end (tests/e2e/test_commands.py).
TEST(FindComPort, AsksTheBridgeNamesInOrderAndLocatesTheSettingsAnew) {
    struct Case {
        bool opens;
        std::map<std::string, std::string> values;
        const char* comSetting;  // [COMPORT] COM, or nullptr
        int expected;
        size_t asked;  // bridge names asked
    };
    const std::string first = "\\Device\\slabser0";
    const Case cases[] = {
        {true, {{first, "NULL"}, {"\\Device\\silabser0", "COM3"}}, nullptr, 3, 3},  // NULL: absent
        {true, {{first, "COM" + std::string(2000, '1')}}, nullptr, INT_MAX, 1},  // stays terminated
        {false, {{first, "COM7"}}, "8", 8, 0},     // the key cannot be opened
        {true, {{first, "COMX"}}, nullptr, 5, 1},  // no digits from the 4th character
        {true, {{first, "CO"}}, "4", 4, 1},        // too short to hold a number
        {true, {{first, "COM0"}}, "6", 6, 1},      // port 0 means none
    };
    for (const Case& c : cases) {
        FakeFileSystem files;
        IniLocator locator(files);
        EXPECT_EQ(locator.GetIniPath(), kSysWow64);
        files.files.insert(kLocal);  // the file appears after the path was first taken
        FakeRegistry registry;
        registry.opens = c.opens;
        registry.values = c.values;
        FakeProfile profile;
        if (c.comSetting) profile.Set(kLocal, "COMPORT", "COM", c.comSetting);
        EXPECT_EQ(FindComPort(locator, registry, profile), c.expected) << c.expected;
        EXPECT_EQ(registry.queried.size(), c.asked);
        EXPECT_EQ(registry.closed, c.opens);
        EXPECT_EQ(locator.Current(), kLocal);
    }
}

}  // namespace
}  // namespace quillon
