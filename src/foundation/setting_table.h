// Every QUILLON.ini key the library reads but the prompt texts (their keys and defaults stand in
// the prompt tables), a row each: where it is, how it is read, its default, its unit, which part
// of the library reads it, and the values it accepts. Every read goes through ReadSetting, and
// docs/settings.md is checked against this table by value (tools/settings-table prints it).
#pragma once

#include <cstddef>
#include <string>

#include "foundation/platform.h"

namespace quillon {

enum class Setting {
    kComPort,
    kBaudRate,
    kDeviceType,
    kTerminalGlobalTimeout,
    kTerminalStepTimeout,
    kInsertCount,
    kVerifyTimes,
    kSetLowTimes,
    kSetLowLevel,
    kLabelledRecord,
    kDelayAfterFirstCall,
    kVersionTimeout,
    kRetryWaitInit,
    kRetryWaitTry,
    kRetryWaitFw,
    kRetryCountFw,
    kReaderTimeout,
    kFontSize,
    kFontFace,
    kCancelButton,
    kCancelText,
    kLogo,
    kBranchCode,
    kBranchName,
    kLogEnable,
    kLogFile,
    kLogMaxKb,
};

// What a numeric value outside [low, high] of its row becomes.
enum class OutOfRange {
    kAsRead,   // kept as read; the row's use says what follows (the docs' table says it too)
    kDefault,  // the row's default
    kNoWait,   // a wait: a negative one waits nothing
    kTimer,    // a window timer's period, as read: 0 is the shortest period (it ends at once), a
               // negative one the longest, about 24.8 days
};

struct SettingRow {
    Setting id;
    const char* section;
    const char* key;
    bool text;              // read as text, cut to capacity - 1 characters; else an integer
    int number;             // numeric rows: the default
    const char* byDefault;  // text rows: the default
    size_t capacity;        // text rows: the buffer the text is read into
    const char* unit;       // "ms", "KiB", ... or "" for a plain number or a text
    const char* readBy;     // the source folder that reads it
    int low, high;          // numeric rows: the values the library takes as meant
    OutOfRange outside;
};

extern const SettingRow kSettings[];
extern const size_t kSettingCount;

const SettingRow& SettingFor(Setting id);

// A numeric setting as the library uses it: the profile's integer, with the row's treatment of a
// value outside its range.
int ReadSetting(IProfile& profile, const std::string& path, Setting id);
// A text setting, cut to its row's capacity.
std::string ReadSettingText(IProfile& profile, const std::string& path, Setting id);

}  // namespace quillon
