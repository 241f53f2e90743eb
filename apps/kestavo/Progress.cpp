#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace kvo {
namespace app {

Progress::Progress(bool wanted, long total)
    : active_(wanted && isatty(STDERR_FILENO) != 0), total_(total), start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

void Progress::update(long done) {
    if (!active_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double fps = elapsed > 0 ? done / elapsed : 0.0;
    if (total_ > 0) {
        const int width = 30;
        const double share = done >= total_ ? 1.0 : double(done) / double(total_);
        char bar[width + 1];
        for (int i = 0; i < width; ++i) bar[i] = i < static_cast<int>(share * width) ? '#' : '.';
        bar[width] = '\0';
        const long left = fps > 0 ? static_cast<long>((total_ - done) / fps) : 0;
        std::fprintf(stderr, "\r[%s] %ld/%ld frames  %.1f fps  %ld:%02ld left ", bar, done, total_, fps, left / 60,
                     left % 60);
    } else {
        std::fprintf(stderr, "\r%ld frames  %.1f fps ", done, fps);
    }
    std::fflush(stderr);
}

void Progress::finish() {
    if (!active_) return;
    std::fprintf(stderr, "\r%78s\r", "");
    std::fflush(stderr);
}

}  // namespace app
}  // namespace kvo
