// The doctor's judgement: from quillon.dll as loaded, the library's choices on this PC
// (library_choices.h) and what the doctor itself saw (the port opening, the status query through
// ProcessWebMessage), one finding per check with OK, WARN or FAIL and, for every finding that is
// not OK, what to do. Portable, so the wording and the verdicts are tested natively;
// quillon_doctor_win32.cpp only gathers and prints.
#pragma once

#include <string>
#include <vector>

#include "library_choices.h"

namespace quillon {
namespace doctor {

enum class Level { kOk, kWarn, kFail };

struct Finding {
    Level level;
    std::string check;
    std::string finding;
    std::string todo;  // empty for OK
};

// quillon.dll beside the doctor: it loads, has the entry point and is of the doctor's own release
// (`doctorVersion`). Anything else fails, and the other checks would judge it by rules that are
// not its own.
Finding LibraryCheck(const LibraryFacts& library, const std::string& doctorVersion);

// The checks of the library's choices: settings file, settings values, the port picked for
// port 0, card-reader library, file log. `portGiven` > 0 means the engineer named the port
// (--port), so the pick is reported as such.
std::vector<Finding> ChoiceChecks(const Choices& choices, int portGiven);

// The port the status query goes to: the one given, else the library's pick.
int PortToCheck(const Choices& choices, int portGiven);

// Opening "\\.\COMn": `error` is the system's error code when it did not open.
Finding PortOpenCheck(int port, bool opened, unsigned long error);

struct StatusAnswer {
    bool finished = false;  // false: the doctor's own wait ran out first
    int result = 0;
    std::string reply;
    double seconds = 0;
};
// The library's status query ([GETFIRMWAREVERSION][0][port]) and how long it took.
Finding StatusCheck(int port, const StatusAnswer& answer, int waitSeconds);

// "OK    check: finding", then for a finding that is not OK a line "      what to do: ...".
std::string FormatFinding(const Finding& finding);

// 0 when nothing failed, else 1.
int ExitCode(const std::vector<Finding>& findings);

}  // namespace doctor
}  // namespace quillon
