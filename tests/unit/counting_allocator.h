// Counts (and can fail, as out of memory) the allocations a thread makes in `AllocationsIn`.
#pragma once

#include <functional>

namespace quillon {
namespace testing_support {

// The allocations that `run` tries on this thread. With failAfter >= 0, every allocation after
// the first failAfter ones fails (operator new throws std::bad_alloc, the nothrow forms return
// null).
long AllocationsIn(const std::function<void()>& run, long failAfter = -1);

}  // namespace testing_support
}  // namespace quillon
