// The settings as the library reads them: defaults, cuts, and the one place where a value
// outside a row's range gets its treatment; and where the settings file is looked for.
#include "foundation/setting_table.h"

#include <gtest/gtest.h>

#include <set>

#include "fakes.h"
#include "foundation/settings.h"

namespace quillon {
namespace {

using namespace testing_support;

TEST(ReadSetting, AValueOutsideItsRangeGetsItsRowsTreatmentAndTextsAreCut) {
    const char* kPath = "p.ini";
    const struct {
        Setting id;
        const char* value;  // null: the key is missing
        std::string read;
    } rows[] = {
        {Setting::kSetLowLevel, nullptr, "4"},
        {Setting::kSetLowLevel, "1", "1"},
        {Setting::kSetLowLevel, "0", "4"},  // outside 1 to 4: the default
        {Setting::kSetLowLevel, "5", "4"},
        {Setting::kLogMaxKb, "0", "1024"},
        {Setting::kLogMaxKb, "-5", "1024"},
        {Setting::kLogMaxKb, "1", "1"},
        {Setting::kDelayAfterFirstCall, nullptr, "500"},
        {Setting::kDelayAfterFirstCall, "-1", "0"},  // a negative wait waits nothing
        {Setting::kRetryWaitFw, "-7", "0"},
        {Setting::kTerminalStepTimeout, "-1", "-1"},  // a timer's: as read
        {Setting::kReaderTimeout, nullptr, "60000"},
        {Setting::kComPort, "-3", "-3"},
        {Setting::kVersionTimeout, nullptr, "2000"},
        {Setting::kBranchName, nullptr, "EMPTY"},
        {Setting::kBranchCode, "K", "K"},
        {Setting::kLogFile, nullptr, ".\\Log.txt"},
        {Setting::kFontFace, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
         std::string(50, 'F')},
        {Setting::kLogo, nullptr, "C:\\WINDOWS\\system32\\mylogo.jpg"},
    };
    for (const auto& row : rows) {
        const SettingRow& setting = SettingFor(row.id);
        SCOPED_TRACE(std::string(setting.section) + " " + setting.key);
        FakeProfile profile;
        if (row.value != nullptr) profile.Set(kPath, setting.section, setting.key, row.value);
        const std::string read = setting.text ? ReadSettingText(profile, kPath, row.id)
                                              : std::to_string(ReadSetting(profile, kPath, row.id));
        EXPECT_EQ(read, row.read);
    }
    std::set<std::string> keys;
    for (size_t i = 0; i < kSettingCount; ++i) {
        EXPECT_EQ(&SettingFor(kSettings[i].id), &kSettings[i]) << "one row per setting";
        keys.insert(std::string(kSettings[i].section) + "/" + kSettings[i].key);
    }
    EXPECT_EQ(keys.size(), kSettingCount) << "one setting per key";
}

}  // namespace
}  // namespace quillon
