#include "command/reply_log.h"

#include <vector>

#include "foundation/log.h"

namespace quillon {

namespace {

std::string Length(size_t characters) {
    return Format("%lu characters", static_cast<unsigned long>(characters));
}

// The replies whose every field is safe to keep: branch, terminal serial number, and the
// terminal's link status with the customer (the bank, not a person) it is set up for.
bool KeepsAllFields(const std::string& command) {
    return command == "GETBRANCHCODE" || command == "GETSERIALNUMBER" ||
           command == "GETFIRMWAREVERSION";
}

bool IsMyKadReply(const std::string& command) {
    return command == "READMYKAD" || command == "READMYKADNOPHOTO" ||
           command == "READMYKADNOVERIFYWITHPHOTO" || command == "READMYKADNOVERIFYNOPHOTO";
}

// The contents of "[a][b]...[z]"; false when the text is not made of such fields. A field's
// content never holds "]" (a field ends there), but may hold "[" (field 1 echoed as received).
bool SplitFields(const std::string& reply, std::vector<std::string>& fields) {
    size_t at = 0;
    while (at < reply.size()) {
        if (reply[at] != '[') return false;
        const size_t end = reply.find(']', at + 1);
        if (end == std::string::npos) return false;
        fields.push_back(reply.substr(at + 1, end - at - 1));
        at = end + 1;
    }
    return !fields.empty();
}

}  // namespace

std::string ReplyForLog(const std::string& reply) {
    std::vector<std::string> fields;
    if (!SplitFields(reply, fields)) return Length(reply.size());
    const std::string& command = fields[0];
    std::string logged;
    for (size_t i = 0; i < fields.size(); ++i) {
        // Unknown fields are taken for data: a new reply field stays out of the log by default.
        const bool keep = i < 2 || KeepsAllFields(command) || (i == 2 && IsMyKadReply(command)) ||
                          (i + 1 == fields.size() && fields[i] == "123");
        logged += '[';
        logged += keep ? fields[i] : Length(fields[i].size());
        logged += ']';
    }
    return logged;
}

}  // namespace quillon
