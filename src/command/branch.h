// GETBRANCHCODE: the branch from the settings and the computer's network address.
#pragma once

#include "foundation/platform.h"
#include "foundation/settings.h"

namespace quillon {

// Fills code (50 bytes), name (150) and address (50), cutting over-long settings to fit.
// Returns 1 when the name contains "EMPTY", else 0.
int GetBranchCode(IniLocator& locator, IProfile& profile, IHostAddress& host, char* codeOut,
                  char* nameOut, char* addressOut);

const size_t kBranchCodeSize = 50;
const size_t kBranchNameSize = 150;
const size_t kHostAddressSize = 50;

}  // namespace quillon
