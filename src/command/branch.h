// GETBRANCHCODE: the branch from the settings and the computer's network address.
#pragma once

#include "foundation/platform.h"
#include "foundation/settings.h"
#include "foundation/sizes.h"

namespace quillon {

// Fills code (50 bytes), name (150) and address (50), cutting over-long settings to fit.
// Returns 1 when the name contains "EMPTY", else 0.
int GetBranchCode(IniLocator& locator, IProfile& profile, IHostAddress& host, char* codeOut,
                  char* nameOut, char* addressOut);

}  // namespace quillon
