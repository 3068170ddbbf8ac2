// The random sources of the MyKad reply on Windows: the system's GUID generator, and the C
// runtime's rand() as its fallback.
#pragma once

#include "command/mykad_record.h"

namespace quillon {

class Win32GuidSource : public IGuidSource {
  public:
    bool NewGuid(uint8_t bytes[kMyKadKeySize]) override;
};

class RuntimeRandomSequence : public IRandomSequence {
  public:
    int Next() override;
};

}  // namespace quillon
