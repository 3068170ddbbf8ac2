// The test binary's global operator new (counting_allocator.cpp) counts the allocations made on
// a thread that has switched counting on, and can be told to fail from a given one on, as in a
// process that has run out of memory.
#pragma once

namespace quillon {
namespace testing_support {

// Counts on this thread from now on; with failAfter >= 0, every allocation after the first
// failAfter ones fails (operator new throws std::bad_alloc, the nothrow forms return null).
void StartCountingAllocations(long failAfter = -1);
// Stops counting and failing; returns the allocations tried since the start.
long StopCountingAllocations();

// The allocations that `run` tries on this thread, failing those after the first failAfter.
template <typename Run>
long AllocationsIn(Run run, long failAfter = -1) {
    StartCountingAllocations(failAfter);
    try {
        run();
    } catch (...) {
        StopCountingAllocations();
        throw;
    }
    return StopCountingAllocations();
}

}  // namespace testing_support
}  // namespace quillon
