// Prints the library's settings table, one tab-separated line a key, for the settings reference
// check (tests/docs) and for anyone who wants the table without reading the source:
// section, key, type, default, capacity, unit, read by, low, high, outside the range.
#include <climits>
#include <cstdio>
#include <cstring>

#include "foundation/setting_table.h"

namespace {

const char* OutsideName(quillon::OutOfRange outside) {
    switch (outside) {
        case quillon::OutOfRange::kDefault:
            return "default";
        case quillon::OutOfRange::kNoWait:
            return "no-wait";
        case quillon::OutOfRange::kTimer:
            return "timer";
        case quillon::OutOfRange::kAsRead:
            break;
    }
    return "as-read";
}

void Bound(int value) {
    if (value == INT_MIN || value == INT_MAX) {
        std::printf("\t-");
    } else {
        std::printf("\t%d", value);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0;
        std::fprintf(help ? stdout : stderr,
                     "usage: quillon_settings_table [--help]\n"
                     "Prints the QUILLON.ini keys the library reads (prompt texts aside), one a "
                     "line:\nsection, key, type, default, capacity, unit, read by, low, high, "
                     "outside the range.\n");
        return help ? 0 : 2;
    }
    for (size_t i = 0; i < quillon::kSettingCount; ++i) {
        const quillon::SettingRow& row = quillon::kSettings[i];
        std::printf("%s\t%s\t%s\t", row.section, row.key, row.text ? "text" : "integer");
        if (row.text) {
            std::printf("%s\t%zu", row.byDefault, row.capacity);
        } else {
            std::printf("%d\t-", row.number);
        }
        std::printf("\t%s\t%s", row.unit, row.readBy);
        if (row.text) {
            std::printf("\t-\t-\t-\n");
            continue;
        }
        Bound(row.low);
        Bound(row.high);
        std::printf("\t%s\n", OutsideName(row.outside));
    }
    return 0;
}
