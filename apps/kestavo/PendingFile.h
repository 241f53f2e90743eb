#pragma once
// An output file that appears under its final name only when complete.
//
// What it represents: a final path and a temporary sibling in the same folder
// (".<name>.part-<pid>.<ext>", hidden, with the same extension so encoders that go by
// the extension still choose the right format). Writers write to tempPath(); commit()
// renames it to the final path. A PendingFile destroyed without commit() removes the
// temporary file, so an error or interruption leaves nothing half-written behind.
//
// Thread safety: none.
#include <string>

namespace kvo {
namespace app {

class PendingFile {
public:
    // Requires: `finalPath` non-empty. Throws AppError when its folder does not exist
    // or is not writable (checked by creating the temporary file).
    explicit PendingFile(const std::string& finalPath);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& tempPath() const { return temp_; }
    const std::string& finalPath() const { return final_; }
    // Renames the temporary file to the final path. Throws AppError on failure.
    void commit();

private:
    std::string final_, temp_;
    bool committed_ = false;
};

// The temporary sibling name used for `finalPath`.
std::string temporarySibling(const std::string& finalPath);

}  // namespace app
}  // namespace kvo
