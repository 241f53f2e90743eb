#pragma once
// Captures everything written to std::cout while in scope, so tests can check the
// library's diagnostic lines exactly.
#include <iostream>
#include <sstream>
#include <string>

namespace kvo_test {

class CoutCapture {
public:
    CoutCapture() : old_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(old_); }
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;

    std::string text() const { return buffer_.str(); }

    // Number of line ends written so far.
    int lines() const {
        int n = 0;
        for (char c : buffer_.str()) n += c == '\n';
        return n;
    }

private:
    std::ostringstream buffer_;
    std::streambuf* old_;
};

}  // namespace kvo_test
