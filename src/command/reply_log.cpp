#include "command/reply_log.h"

#include <vector>

#include "command/commands.h"
#include "foundation/log.h"

namespace quillon {

namespace {

std::string Length(size_t characters) {
    return Format("%lu characters", static_cast<unsigned long>(characters));
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
    // A reply that names no command exactly (a refusal echoes field 1) keeps only its code.
    const CommandRow* row = CommandNamed(fields[0].c_str());
    const LogKeeps keeps = row != nullptr ? row->log : LogKeeps::kCodeOnly;
    std::string logged;
    for (size_t i = 0; i < fields.size(); ++i) {
        // Unknown fields are taken for data: a new reply field stays out of the log by default.
        const bool keep = i < 2 || keeps == LogKeeps::kAllFields ||
                          (i == 2 && keeps == LogKeeps::kCardType) ||
                          (i + 1 == fields.size() && fields[i] == "123");
        logged += '[';
        logged += keep ? fields[i] : Length(fields[i].size());
        logged += ']';
    }
    return logged;
}

}  // namespace quillon
