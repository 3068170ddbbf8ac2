#include "command/mykad_random_win32.h"

#include <objbase.h>

#include <cstdlib>
#include <cstring>

namespace quillon {

bool Win32GuidSource::NewGuid(uint8_t bytes[kMyKadKeySize]) {
    static_assert(sizeof(GUID) == kMyKadKeySize, "a GUID is the 16-byte random block");
    GUID guid;
    if (CoCreateGuid(&guid) != S_OK) return false;
    std::memcpy(bytes, &guid, sizeof guid);
    return true;
}

int RuntimeRandomSequence::Next() { return std::rand(); }

}  // namespace quillon
