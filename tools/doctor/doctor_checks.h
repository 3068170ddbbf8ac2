// The diagnostic command's judgement: from the library's description of this PC (QuillonDescribe)
// and what the command itself saw (the port opening, the status query), one finding per check
// with OK, WARN or FAIL and, for every finding that is not OK, what to do. Portable, so the
// wording and the verdicts are tested natively; quillon_doctor_win32.cpp only gathers and prints.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillon {
namespace doctor {

enum class Level { kOk, kWarn, kFail };

struct Finding {
    Level level;
    std::string check;
    std::string finding;
    std::string todo;  // empty for OK
};

// The description's lines in order; a key may repeat (setting.*, reader.missing, ...).
class Description {
  public:
    explicit Description(const std::string& text);
    // The first value of `key`, or `fallback` when absent.
    std::string Get(const std::string& key, const std::string& fallback = "") const;
    std::vector<std::string> All(const std::string& key) const;
    // Every (key, value) whose key starts with `prefix`, the prefix removed.
    std::vector<std::pair<std::string, std::string>> WithPrefix(const std::string& prefix) const;
    bool Has(const std::string& key) const;

  private:
    std::vector<std::pair<std::string, std::string>> lines_;
};

// The checks that need nothing but the description: library, settings file, settings values,
// the port picked for port 0, card-reader library, file log. `portGiven` > 0 means the engineer
// named the port (--port), so the pick is reported as such.
std::vector<Finding> DescriptionChecks(const Description& d, int portGiven);

// The port the status query goes to: the one given, else the library's pick.
int PortToCheck(const Description& d, int portGiven);

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
