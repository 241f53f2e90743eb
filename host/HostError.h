#pragma once
// The error the stand-in host runtime's C++ API reports.
//
// What it represents: a misuse of the host API (a wrong handle or type given to a typed
// reader, an unknown function name) or a failure to load an extension. what() is one
// line that starts with "Error: ".
//
// Thread safety: an immutable value.
#include <stdexcept>
#include <string>

namespace kvohost {

class HostError : public std::runtime_error {
public:
    // Requires: `message` without the "Error: " prefix; ensures: what() == "Error: " + message.
    explicit HostError(const std::string& message) : std::runtime_error("Error: " + message) {}
};

}  // namespace kvohost
