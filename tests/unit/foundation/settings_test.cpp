// Where the settings file is looked for, and which COM port the terminal is on.
#include "foundation/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

TEST(IniLocator, ReadsTheWindowsFolderThroughA200CharacterBuffer) {
    FakeFileSystem files;
    files.windowsDir = std::string(300, 'W');
    EXPECT_EQ(IniLocator(files).GetIniPath(), std::string(199, 'W') + "\\SysWow64\\QUILLON.ini");
}
// The odd registry values; describe_test and tests/e2e/test_commands.py play the plain ones.
TEST(FindComPort, AsksTheBridgeNamesInOrderAndLocatesTheSettingsAnew) {
    const char kLocal[] = ".\\QUILLON.ini", kSysWow64[] = "C:\\windows\\SysWow64\\QUILLON.ini";
    const std::string first = "\\Device\\slabser0";
    const std::tuple<std::map<std::string, std::string>, const char*, int, size_t> cases[] = {
        // the key's values, [COMPORT] COM, the port, bridge names asked
        {{{first, "NULL"}, {"\\Device\\silabser0", "COM3"}}, nullptr, 3, 3},
        {{{first, "COM" + std::string(2000, '1')}}, nullptr, INT_MAX, 1},
        {{{first, "CO"}}, "4", 4, 1},
        {{{first, "COM0"}}, "6", 6, 1},  // port 0 means none
    };
    for (const auto& c : cases) {
        FakeFileSystem files;
        IniLocator locator(files);
        EXPECT_EQ(locator.GetIniPath(), kSysWow64);
        files.files.insert(kLocal);  // appears after the path was taken, which is kept
        EXPECT_EQ(locator.GetIniPath(), kSysWow64);
        FakeRegistry registry;
        registry.values = std::get<0>(c);
        FakeProfile profile;
        if (std::get<1>(c)) profile.Set(kLocal, "COMPORT", "COM", std::get<1>(c));
        EXPECT_EQ(FindComPort(locator, registry, profile), std::get<2>(c));
        EXPECT_EQ(registry.queried.size(), std::get<3>(c));
        EXPECT_TRUE(registry.closed);
        EXPECT_EQ(locator.Current(), kLocal);
    }
}
TEST(LocateIni, TheLibraryTriesThreePlacesTheDialogTwo) {
    const char kLocal[] = ".\\QUILLON.ini", kSystem32[] = "C:\\windows\\System32\\QUILLON.ini",
               kSysWow64[] = "C:\\windows\\SysWow64\\QUILLON.ini";
    const struct {
        std::set<std::string> present;
        const char *library, *dialog;
    } rows[] = {
        {{kLocal, kSystem32}, kLocal, kLocal},
        {{kSystem32}, kSystem32, kSystem32},
        {{}, kSysWow64, kSystem32},
    };
    for (const auto& row : rows) {
        FakeFileSystem files;
        files.files = row.present;
        EXPECT_EQ(LocateIni(files, IniSearch::kLibrary), row.library);
        EXPECT_EQ(LocateIni(files, IniSearch::kDialog), row.dialog);
    }
}

}  // namespace
}  // namespace quillon
