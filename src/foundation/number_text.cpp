#include "foundation/number_text.h"

#include <climits>

namespace quillon {

int ParseInt(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*p - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::string HexEncode(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out(2 * count, '0');
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

void HexDecode(const char* text, size_t count, uint8_t* out) {
    bool ended = (text == nullptr);
    for (size_t i = 0; i < count; ++i) {
        int value = 0;
        if (!ended) {
            const char first = text[2 * i];
            if (first == '\0') {
                ended = true;
            } else {
                const int high = HexDigit(first);
                const char second = text[2 * i + 1];
                if (second == '\0') ended = true;
                if (high >= 0) {
                    const int low = (second == '\0') ? -1 : HexDigit(second);
                    value = (low >= 0) ? high * 16 + low : high;
                }
            }
        }
        out[i] = static_cast<uint8_t>(value & 0xFF);
    }
}

}  // namespace quillon
