// Counts (and can fail, as out of memory) the allocations a thread makes in `AllocationsIn`.
#pragma once

#include <functional>

namespace quillon {
namespace testing_support {

// The allocations `run` tries on this thread; with failAfter >= 0, those after the first
// failAfter fail (throwing forms throw std::bad_alloc, nothrow forms return null).
long AllocationsIn(const std::function<void()>& run, long failAfter = -1);

}  // namespace testing_support
}  // namespace quillon
