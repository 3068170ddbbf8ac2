// Request fields, decimal integers and hexadecimal text as the request and reply texts use them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

// Copies the content of field `index` (counted from 1) of `text` into `out` and terminates it.
// A field opens at its "[" and ends at the next "]" or the end of the text; a "[" inside a
// field is content and also opens the next field. At most outSize - 1 characters are copied, so
// an over-long field is cut to the buffer. Returns 0 when at least one character was copied,
// -1 otherwise; `out` is then left as it was.
int GetField(int index, const char* text, char* out, size_t outSize);

// Decimal value as the dispatcher reads show and port: leading blanks skipped, an optional sign,
// the digits that follow; 0 when there are none. Values beyond 32 bits saturate.
int ParseInt(const char* text);

// Each byte as two uppercase hexadecimal digits; writes 2 * count characters and a terminator.
void HexEncode(const uint8_t* bytes, size_t count, char* out);

// Reads `text` two characters at a time into `count` bytes. A pair is a hexadecimal number of at
// most two digits (either case) read up to its first non-digit; a pair with no digit at its start,
// and every pair past the end of the text, gives 0x00.
void HexDecode(const char* text, size_t count, uint8_t* out);

}  // namespace quillon
