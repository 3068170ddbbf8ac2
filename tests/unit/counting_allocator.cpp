// The unit-test binary's global operator new: malloc, counted and failed inside AllocationsIn.
#include "counting_allocator.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
thread_local long t_failAfter = -1;
}  // namespace

namespace quillon {
namespace testing_support {

long AllocationsIn(const std::function<void()>& run, long failAfter) {
    t_allocations = 0;
    t_failAfter = failAfter;
    t_counting = true;
    run();
    t_counting = false;
    return t_allocations;
}

}  // namespace testing_support
}  // namespace quillon

// Every form, so that nothing allocated here is freed by the sanitizer's allocator or the reverse.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (t_counting) {
        ++t_allocations;
        if (t_failAfter >= 0 && t_allocations > t_failAfter) return nullptr;
    }
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void* operator new(std::size_t size) {
    void* p = operator new(size, std::nothrow);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
