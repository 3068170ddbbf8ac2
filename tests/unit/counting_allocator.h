// The test binary's global operator new (counting_allocator.cpp) counts the allocations made on
// a thread while it runs `AllocationsIn`, and can fail them as in a process out of memory.
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
