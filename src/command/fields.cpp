#include "command/fields.h"

namespace quillon {

int GetField(int index, const char* text, char* out, size_t outSize) {
    if (text == nullptr || *text == '\0' || index < 1) return -1;
    int opened = 0;
    const char* p = text;
    for (; *p != '\0'; ++p) {
        if (*p == '[' && ++opened == index) break;
    }
    if (*p == '\0' || outSize == 0) return -1;
    ++p;
    size_t copied = 0;
    while (*p != '\0' && *p != ']' && copied + 1 < outSize) {
        out[copied++] = *p++;
        out[copied] = '\0';
    }
    return copied > 0 ? 0 : -1;
}

}  // namespace quillon
