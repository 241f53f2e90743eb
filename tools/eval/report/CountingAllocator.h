#pragma once
// A count of the heap allocations made through global operator new in this process
// (CountingAllocator.cpp replaces the global operator new and delete).
//
// Counting is on only between startCounting() and stopCounting(), so allocations of
// the peers, the media decoding and the report itself stay out of the count.
// Thread safety: the counter is atomic; worker threads of the counted call are counted.
#include <cstddef>

namespace kvoeval {

void startCounting();
// Returns the number of allocations since startCounting().
std::size_t stopCounting();

}  // namespace kvoeval
