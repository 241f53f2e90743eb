#include "image/FastMalloc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "util/Trace.h"

namespace kvo {

namespace {
// Bytes reserved in front of the aligned block for the raw pointer, plus the slack that
// rounding down to the alignment can consume.
constexpr std::size_t kOverhead = FAST_MALLOC_ALIGNMENT - 1 + sizeof(void*);
}  // namespace

void* fastMalloc(std::size_t size) {
    if (size > SIZE_MAX - kOverhead) {
        Err("Failed to allocate memory");
        return nullptr;
    }
    void* raw = std::malloc(size + kOverhead);
    if (raw == nullptr) {
        Err("Failed to allocate memory");
        return nullptr;
    }
    // Round (raw + kOverhead) down to the alignment: at least sizeof(void*) bytes remain in
    // front of the block for the raw pointer, and size bytes after it.
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(raw) + kOverhead;
    const std::uintptr_t aligned = end & ~static_cast<std::uintptr_t>(FAST_MALLOC_ALIGNMENT - 1);
    unsigned char* block = reinterpret_cast<unsigned char*>(aligned);
    std::memcpy(block - sizeof(void*), &raw, sizeof(void*));
    return block;
}

void fastFree(void* ptr) {
    if (ptr == nullptr) {
        return;
    }
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<unsigned char*>(ptr) - sizeof(void*), sizeof(void*));
    std::free(raw);
}

}  // namespace kvo
