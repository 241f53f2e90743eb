#pragma once
// 16-byte aligned allocation for every pixel buffer of the image pipeline.
//
// What it represents: a thin layer over malloc/free that hands out blocks whose first
// byte is 16-byte aligned (so vector loads of image rows are aligned). The pointer that
// malloc returned is kept in the sizeof(void*) bytes just before the aligned block, which
// is how fastFree finds it again; this works unchanged on 32-bit and 64-bit builds.
//
// Thread safety: both functions may be called from any thread (they only use malloc and
// free), but an allocation failure is reported through kvo::Err, which is meant for the
// host's calling thread.
#include <cstddef>

namespace kvo {

// Alignment in bytes of every block returned by fastMalloc.
constexpr std::size_t FAST_MALLOC_ALIGNMENT = 16;

// Allocates `size` usable bytes (contents undefined).
// Requires: nothing; size 0 is allowed and yields a valid, releasable block.
// Ensures: the result is a multiple of FAST_MALLOC_ALIGNMENT and must be released with
// fastFree; on failure (including a size too large to represent) it emits
// "Error: Failed to allocate memory" and returns null.
void* fastMalloc(std::size_t size);

// Releases a block obtained from fastMalloc. A null pointer is ignored.
// Requires: `ptr` is null or came from fastMalloc and was not released before.
void fastFree(void* ptr);

}  // namespace kvo
