#include "FaceDetections.h"

#include <cstring>
#include <vector>

#include "image/InputData.h"
#include "tracker/Kestavo.h"
#include "tracker/KVOModeState.h"

namespace kvo {
namespace trainer {

namespace {
class GreyFrame : public InputData {
public:
    GreyFrame(int w, int h) : InputData(w, h), pixels(static_cast<size_t>(w) * h) {}
    unsigned char* getData() override { return pixels.data(); }
    std::vector<unsigned char> pixels;
};
}  // namespace

struct FaceDetections::Tracker {
    Tracker(int w, int h) : input(w, h) {
        kestavo.init(&input, nullptr);
        kestavo.setMode(KVOMode::FACE_DETECTION);
    }
    GreyFrame input;
    Kestavo kestavo;
};

FaceDetections::FaceDetections() = default;
FaceDetections::~FaceDetections() = default;

bool FaceDetections::detect(const cv::Mat& grey, Rectangle& face) {
    std::unique_ptr<Tracker>& t = trackers_[std::make_pair(grey.cols, grey.rows)];
    if (!t) t.reset(new Tracker(grey.cols, grey.rows));
    for (int r = 0; r < grey.rows; ++r)
        std::memcpy(&t->input.pixels[static_cast<size_t>(r) * grey.cols], grey.ptr<uint8_t>(r), grey.cols);
    t->kestavo.update();
    face = t->kestavo.lastDetectedFace;
    return face.width > 0.0 && face.height > 0.0;
}

}  // namespace trainer
}  // namespace kvo
