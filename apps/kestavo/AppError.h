#pragma once
// The one error type of the command-line tracker.
//
// What it represents: a problem the user can fix (a missing or unreadable input, an
// unknown option, a bad value, an output that cannot be written). main() prints
// what() as one "Error: ..." line on standard error and exits with status 2.
//
// Thread safety: an immutable value.
#include <stdexcept>
#include <string>

namespace kvo {
namespace app {

class AppError : public std::runtime_error {
public:
    // Requires: `message` without the "Error: " prefix, on one line.
    explicit AppError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace app
}  // namespace kvo
