#pragma once
// Reads typed values off the front of a fuzzer's input.
//
// What it represents: a cursor over the fuzzer's bytes. Every read succeeds: once the
// bytes run out, numbers read as 0 and texts as empty, so a target never has to check
// the length. Not thread-safe (one per input).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace kvofuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_ - pos_; }
    bool empty() const { return pos_ >= size_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // Any double bit pattern, NaN and infinities included, when `raw`; otherwise a
    // value from a small table of ordinary and absurd numbers chosen by one byte.
    double number() {
        static const double table[] = {0.0, 1.0, -1.0, 0.5, 2.0, 10.0, 100.0, 1e9, -1e9, 1e300, -1e300,
                                       0.04, 4.0, 12.0, 40.0, 80.0, 120.0, 160.0, 1e-300, -0.0};
        const uint8_t b = byte();
        if (b < 200) return table[b % (sizeof(table) / sizeof(table[0]))] + (b / 20) * 3.0;
        uint64_t bits = (static_cast<uint64_t>(u32()) << 32) | u32();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // The rest of the input as text.
    std::string rest() {
        std::string s(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
        pos_ = size_;
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Sends standard output to /dev/null: the library reports every malformed input with
// an "Error: ..." line there, which would flood the fuzzer's log and slow it down.
// libFuzzer's own messages go to standard error. Returns true, for use as a static
// initialiser.
inline bool silenceStandardOutput() {
    return std::freopen("/dev/null", "w", stdout) != nullptr;
}

// The same, done on the first call only (targets call it at the start of every input).
inline void silenceStandardOutputOnce() {
    static const bool silenced = silenceStandardOutput();
    (void)silenced;
}

}  // namespace kvofuzz
