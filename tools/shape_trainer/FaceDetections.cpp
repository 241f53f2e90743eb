#include "FaceDetections.h"

#include <vector>

#include "eval/GreyFrame.h"
#include "tracker/Kestavo.h"
#include "tracker/KVOModeState.h"

namespace kvo {
namespace trainer {

struct FaceDetections::Tracker {
    Tracker(int w, int h) : input(w, h) {
        kestavo.init(&input, nullptr);
        kestavo.setMode(KVOMode::FACE_DETECTION);
    }
    eval::GreyFrame input;
    Kestavo kestavo;
};

FaceDetections::FaceDetections() = default;
FaceDetections::~FaceDetections() = default;

bool FaceDetections::detect(const cv::Mat& grey, Rectangle& face) {
    std::unique_ptr<Tracker>& t = trackers_[std::make_pair(grey.cols, grey.rows)];
    if (!t) t.reset(new Tracker(grey.cols, grey.rows));
    t->input.setRows(grey.data, grey.step[0]);
    t->kestavo.update();
    face = t->kestavo.lastDetectedFace;
    return face.width > 0.0 && face.height > 0.0;
}

}  // namespace trainer
}  // namespace kvo
