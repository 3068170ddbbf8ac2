#include "command/commands.h"

#include <cstring>

namespace quillon {

const CommandRow* MatchCommand(const char* field1) {
    for (const CommandRow& row : kCommands) {
        if (std::strstr(field1, row.keyword) != nullptr) return &row;
    }
    return nullptr;
}

const CommandRow* CommandNamed(const char* keyword) {
    for (const CommandRow& row : kCommands) {
        if (std::strcmp(keyword, row.keyword) == 0) return &row;
    }
    return nullptr;
}

}  // namespace quillon
