// track_eval --labels: labelled faces tracked from their labelled pupils.
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LandmarkCorrespondence.h"
#include "TrackEvalModes.h"
#include "TrainingSet.h"
#include "tracker/KVOModeState.h"

using namespace kvo;

using namespace kvo;
using namespace kvo::trainer;

namespace trackeval {
int labelsMode(const std::string& labelsPath, const std::string& media, const std::string& model,
               const TrackerSettings& settings) {
    std::vector<LabelledFace> faces = readLabels(labelsPath);
    std::vector<cv::Mat> images = loadImages(faces, media);
    double sum = 0;
    int measured = 0, tracked = 0, count = 0;
    std::map<std::pair<int, int>, std::unique_ptr<Tracker>> trackers;
    std::string lastSource;
    int lastFrame = -10;
    for (size_t k = 0; k < faces.size(); ++k) {
        if (images[k].empty()) continue;
        std::unique_ptr<Tracker>& t = trackers[std::make_pair(images[k].cols, images[k].rows)];
        if (!t) t.reset(new Tracker(images[k].cols, images[k].rows, model, settings));
        const bool still = faces[k].frame < 0;
        const bool continues = !still && faces[k].source == lastSource && faces[k].frame - lastFrame <= 10;
        const std::vector<double>& p = faces[k].points;
        // A new track starts from the labelled pupils (as kvo_updateByEyes does), so the
        // figure measures the model's search and not whether the detector finds the face.
        std::string state = continues ? t->feed(images[k])
                                      : t->startByEyes(images[k], p[2 * 31], p[2 * 31 + 1], p[2 * 36], p[2 * 36 + 1], 10);
        lastSource = faces[k].source;
        lastFrame = faces[k].frame;
        ++count;
        if (state != KVOState::FACE_TRACKING && state != KVOState::FACE_TRACKING_START) continue;
        ++tracked;
        const std::vector<double> s = t->shape();
        const double eye = landmarks::outerEyeDistance(p.data(), landmarks::Layout::Ours);
        double e = 0;
        for (int i = 0; i < 68; ++i) e += std::hypot(s[2 * i] - p[2 * i], s[2 * i + 1] - p[2 * i + 1]);
        sum += e / 68 / eye;
        ++measured;
    }
    std::printf("validation: %d faces, %d tracked, mean error / outer-eye distance %.4f\n", count, tracked,
                measured ? sum / measured : 0.0);
    return 0;
}

}  // namespace trackeval
