#include "foundation/setting_table.h"

#include <climits>

#include "foundation/sizes.h"

namespace quillon {

namespace {
const int kAny = INT_MIN, kMost = INT_MAX;
}  // namespace

// Sections in the order of the reference page.
const SettingRow kSettings[] = {
    {Setting::kComPort, "COMPORT", "COM", false, 5, nullptr, 0, "", "foundation", 1, kMost,
     OutOfRange::kAsRead},
    {Setting::kBaudRate, "COMPORT", "BAUDRATE", true, 0, "115200", kSettingTextCapacity, "baud",
     "acqdialog", 0, 0, OutOfRange::kAsRead},
    {Setting::kDeviceType, "DEVICE", "TYPE", false, 1, nullptr, 0, "", "acqdialog", kAny, kMost,
     OutOfRange::kAsRead},
    {Setting::kTerminalGlobalTimeout, "MYKAD", "GLOBTIMEOUT", false, 60000, nullptr, 0, "ms",
     "acqdialog", 1, kMost, OutOfRange::kTimer},
    {Setting::kTerminalStepTimeout, "MYKAD", "TIMEOUT", false, 5000, nullptr, 0, "ms", "acqdialog",
     1, kMost, OutOfRange::kTimer},
    {Setting::kInsertCount, "MYKAD", "INSERT_COUNT", false, 15, nullptr, 0, "", "cardreader", 1,
     kMost, OutOfRange::kAsRead},
    {Setting::kVerifyTimes, "MYKAD", "VERIFY_TIMES", false, 3, nullptr, 0, "", "cardreader", 1,
     kMost, OutOfRange::kAsRead},
    {Setting::kSetLowTimes, "MYKAD", "SET_LOW_TIMES", false, 10, nullptr, 0, "", "cardreader", kAny,
     kMost, OutOfRange::kAsRead},
    {Setting::kSetLowLevel, "MYKAD", "SET_LOW_LEVEL", false, 4, nullptr, 0, "", "cardreader", 1, 4,
     OutOfRange::kDefault},
    {Setting::kLabelledRecord, "MYKAD", "LABELLED_RECORD", false, 0, nullptr, 0, "", "command",
     kAny, kMost, OutOfRange::kAsRead},
    {Setting::kDelayAfterFirstCall, "APDU", "DELAY_AFTER_FIRSTCALL", false, 500, nullptr, 0, "ms",
     "command", 0, kMost, OutOfRange::kNoWait},
    {Setting::kVersionTimeout, "APDU", "V_TIMEOUT", false, 2000, nullptr, 0, "ms", "cardreader", 0,
     kMost, OutOfRange::kAsRead},
    {Setting::kRetryWaitInit, "APDU", "RETRY_WAIT_INIT", false, 2000, nullptr, 0, "ms",
     "cardreader", 0, kMost, OutOfRange::kNoWait},
    {Setting::kRetryWaitTry, "APDU", "RETRY_WAIT_TRY", false, 2000, nullptr, 0, "ms", "cardreader",
     0, kMost, OutOfRange::kNoWait},
    {Setting::kRetryWaitFw, "APDU", "RETRY_WAIT_FW", false, 2000, nullptr, 0, "ms", "cardreader", 0,
     kMost, OutOfRange::kNoWait},
    {Setting::kRetryCountFw, "APDU", "RETRY_COUNT_FW", false, 5, nullptr, 0, "", "cardreader", 0,
     kMost, OutOfRange::kAsRead},
    {Setting::kReaderTimeout, "CSSSERVER", "GLOBTIMEOUT", false, 60000, nullptr, 0, "ms",
     "acqdialog", 1, kMost, OutOfRange::kTimer},
    {Setting::kFontSize, "FONT", "SIZE", false, 14, nullptr, 0, "", "acqdialog", kAny, kMost,
     OutOfRange::kAsRead},
    {Setting::kFontFace, "FONT", "FACE", true, 0, "Verdana", kSettingTextCapacity, "", "acqdialog",
     0, 0, OutOfRange::kAsRead},
    {Setting::kCancelButton, "MISC", "CANCEL", false, 0, nullptr, 0, "", "acqdialog", kAny, kMost,
     OutOfRange::kAsRead},
    {Setting::kCancelText, "MISC", "CANCEL_TEXT", true, 0, "Cancel", kSettingTextCapacity, "",
     "acqdialog", 0, 0, OutOfRange::kAsRead},
    {Setting::kLogo, "IMAGE", "LOC", true, 0, "C:\\WINDOWS\\system32\\mylogo.jpg",
     kLogoPathCapacity, "", "acqdialog", 0, 0, OutOfRange::kAsRead},
    {Setting::kBranchCode, "BRANCH", "CODE", true, 0, "EMPTY", 250, "", "command", 0, 0,
     OutOfRange::kAsRead},
    {Setting::kBranchName, "BRANCH", "NAME", true, 0, "EMPTY", 250, "", "command", 0, 0,
     OutOfRange::kAsRead},
    {Setting::kLogEnable, "DEBUG", "ENABLE", false, 0, nullptr, 0, "", "foundation", kAny, kMost,
     OutOfRange::kAsRead},
    {Setting::kLogFile, "DEBUG", "FILE", true, 0, ".\\Log.txt", 260, "", "foundation", 0, 0,
     OutOfRange::kAsRead},
    {Setting::kLogMaxKb, "DEBUG", "MAX_KB", false, 1024, nullptr, 0, "KiB", "foundation", 1, kMost,
     OutOfRange::kDefault},
};
const size_t kSettingCount = sizeof kSettings / sizeof kSettings[0];

const SettingRow& SettingFor(Setting id) {
    for (const SettingRow& row : kSettings) {
        if (row.id == id) return row;
    }
    return kSettings[0];  // not reached: every setting has its row
}

int ReadSetting(IProfile& profile, const std::string& path, Setting id) {
    const SettingRow& row = SettingFor(id);
    const int value = profile.ReadInt(path, row.section, row.key, row.number);
    if (value >= row.low && value <= row.high) return value;
    switch (row.outside) {
        case OutOfRange::kDefault:
            return row.number;
        case OutOfRange::kNoWait:
            return value < 0 ? 0 : value;
        case OutOfRange::kAsRead:
        case OutOfRange::kTimer:
            break;
    }
    return value;
}

std::string ReadSettingText(IProfile& profile, const std::string& path, Setting id) {
    const SettingRow& row = SettingFor(id);
    return profile.ReadString(path, row.section, row.key, row.byDefault, row.capacity);
}

}  // namespace quillon
