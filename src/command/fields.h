// Request fields as the request text brackets them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/number_text.h"

namespace quillon {

// Copies the content of field `index` (counted from 1) of `text` into `out` and terminates it.
// A field opens at its "[" and ends at the next "]" or the end of the text; a "[" inside a
// field is content and also opens the next field. At most outSize - 1 characters are copied, so
// an over-long field is cut to the buffer. Returns 0 when at least one character was copied,
// -1 otherwise; `out` is then left as it was.
int GetField(int index, const char* text, char* out, size_t outSize);

}  // namespace quillon
