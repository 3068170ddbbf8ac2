// Decimal integers and hexadecimal text as the settings, the requests and the replies write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

// Decimal value as the dispatcher reads show and port: leading blanks skipped, an optional sign,
// the digits that follow; 0 when there are none. Values beyond 32 bits saturate.
int ParseInt(const char* text);

// Each byte as two uppercase hexadecimal digits.
std::string HexEncode(const uint8_t* bytes, size_t count);

// Reads `text` two characters at a time into `count` bytes. A pair is a hexadecimal number of at
// most two digits (either case) read up to its first non-digit; a pair with no digit at its start,
// and every pair past the end of the text, gives 0x00.
void HexDecode(const char* text, size_t count, uint8_t* out);

}  // namespace quillon
