#pragma once
// Test support: replaces the test program's global operator new and delete so a test
// can count heap allocations (to show that per-frame work allocates nothing).
//
// Include it in exactly one source file of a test program: it defines the replacement
// functions. kvotest::allocationCount() is the number of allocations so far.
#include <atomic>
#include <cstdlib>
#include <new>

namespace kvotest {
inline std::atomic<long>& allocationCounter() {
    static std::atomic<long> count{0};
    return count;
}
inline long allocationCount() { return allocationCounter().load(); }
}  // namespace kvotest

// The replacements pair malloc with free; GCC cannot see that they replace each other
// and warns about the pairing where it inlines them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    kvotest::allocationCounter().fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
