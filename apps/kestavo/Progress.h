#pragma once
// A one-line progress bar on standard error: frames done (of the total when known),
// frames per second and the time left. Drawn only when enabled and standard error is a
// terminal, and at most five times a second.
//
// Thread safety: none.
#include <chrono>

namespace kvo {
namespace app {

class Progress {
public:
    Progress(bool wanted, long total);
    void update(long done);
    // Clears the line.
    void finish();

private:
    bool active_;
    long total_;
    std::chrono::steady_clock::time_point start_, lastDraw_;
};

}  // namespace app
}  // namespace kvo
