#include "ProfileTrainer.h"

#include <cmath>
#include <cstdlib>

#include "asm/ASMSearch.h"
#include "asm/FaceLandmarks.h"
#include "asm/Profiles.h"
#include "eval/GreyFrame.h"
#include "image/GradientImage.h"
#include "image/ImageDataManager.h"

namespace kvo {
namespace trainer {

ProfileLayout ProfileLayout::uniform(int length1d) {
    ProfileLayout l;
    for (int lev = 0; lev < kLevels; ++lev)
        for (int i = 0; i < kLandmarks; ++i) l.spec[lev][i] = ProfileSpec{false, length1d};
    return l;
}

void ProfileStats::add(const std::vector<double>& p) {
    const size_t n = p.size();
    if (sum.empty()) {
        sum.assign(n, 0.0);
        outer.assign(n * n, 0.0);
    }
    for (size_t i = 0; i < n; ++i) {
        sum[i] += p[i];
        for (size_t j = i; j < n; ++j) outer[i * n + j] += p[i] * p[j];
    }
    ++count;
}

void ProfileStats::addWeighted(const ProfileStats& other, long weight) {
    if (other.count == 0 || weight <= 0) return;
    if (sum.empty()) {
        sum.assign(other.sum.size(), 0.0);
        outer.assign(other.outer.size(), 0.0);
    }
    const double w = static_cast<double>(weight);
    for (size_t i = 0; i < sum.size(); ++i) sum[i] += w * other.sum[i];
    for (size_t i = 0; i < outer.size(); ++i) outer[i] += w * other.outer[i];
    count += weight * other.count;
}

struct ProfileTrainer::Pipeline {
    Pipeline(int w, int h) : input(w, h), search(manager) {
        manager.init(&input, nullptr);
        manager.initASM();
    }
    eval::GreyFrame input;
    ImageDataManager manager;
    ASMSearch search;
    Profiles profiles;
};

ProfileTrainer::ProfileTrainer(const ProfileLayout& layout)
    : layout_(layout), stats_(kLevels, std::vector<ProfileStats>(kLandmarks)) {
    if (FaceLandmarks::gLandTab.empty()) FaceLandmarks::initGLandTab();
}

ProfileTrainer::~ProfileTrainer() = default;

ProfileTrainer::Pipeline& ProfileTrainer::pipelineFor(int width, int height) {
    std::unique_ptr<Pipeline>& p = pipelines_[std::make_pair(width, height)];
    if (!p) p.reset(new Pipeline(width, height));
    return *p;
}

ImageDataManager* ProfileTrainer::lastManager() { return last_ ? &last_->manager : nullptr; }

const ShapeMat* ProfileTrainer::lastShape() { return last_ ? &last_->search.shape : nullptr; }

bool ProfileTrainer::addFace(const cv::Mat& grey, const ShapeVec& points) {
    std::vector<std::vector<std::vector<double>>> profs;
    if (!sampleFace(grey, points, profs)) return false;
    for (int lev = 0; lev < kLevels; ++lev)
        for (int i = 0; i < kLandmarks; ++i) stats_[lev][i].add(profs[lev][i]);
    ++faces_;
    return true;
}

bool ProfileTrainer::sampleFace(const cv::Mat& grey, const ShapeVec& points,
                                std::vector<std::vector<std::vector<double>>>& out) {
    if (grey.empty() || grey.type() != CV_8UC1 || points.size() != 2 * kLandmarks) return false;
    Pipeline& pl = pipelineFor(grey.cols, grey.rows);
    last_ = &pl;
    pl.input.setRows(grey.data, grey.step[0]);

    // The true shape in the local frame of an identity mapping, then normalised by the
    // search itself.
    ASMSearch& s = pl.search;
    const double W = static_cast<double>(pl.manager.asmCurrent[0].width);
    const double H = static_cast<double>(pl.manager.asmCurrent[0].height);
    s.shape.dim(kLandmarks, 2);
    for (int i = 0; i < kLandmarks; ++i) {
        s.shape.data[i][0] = points[2 * i] - (W * 0.5 + 0.5);
        s.shape.data[i][1] = (H * 0.5 + 0.5) - points[2 * i + 1];
    }
    s.offsetX = 0.0;
    s.offsetY = 0.0;
    s.scale = 1.0;
    Matrix& m = s.prepareMatrix();
    if (!std::isfinite(m.a) || !(m.a > 0.0) || !std::isfinite(m.tx) || !std::isfinite(m.ty)) return false;
    pl.manager.updateASMPyramid(m);
    for (int k = 0; k <= 2; ++k) {
        buildGradientImage(pl.manager.asmCurrent[k], pl.manager.asmGradient[k], pl.manager.gradientRowBuffer,
                           static_cast<int>(ImageDataManager::ASM_FRAME_SIZE >> k),
                           static_cast<int>(ImageDataManager::ASM_FRAME_SIZE >> k));
    }

    out.assign(kLevels, std::vector<std::vector<double>>(kLandmarks));
    ShapeMat levelShape;
    levelShape.dim(kLandmarks, 2);
    for (int lev = 0; lev < kLevels; ++lev) {
        const double f = 1.0 / static_cast<double>(1 << lev);
        for (int i = 0; i < kLandmarks; ++i) {
            levelShape.data[i][0] = s.shape.data[i][0] * f;
            levelShape.data[i][1] = s.shape.data[i][1] * f;
        }
        const ImageData& img = pl.manager.asmCurrent[lev];
        const ImageDataInt& grad = pl.manager.asmGradient[lev];
        const int w = static_cast<int>(img.width), h = static_cast<int>(img.height);
        for (int i = 0; i < kLandmarks; ++i) {
            const ProfileSpec& spec = layout_.spec[lev][i];
            const double x = levelShape.data[i][0], y = levelShape.data[i][1];
            std::vector<double>& p = out[lev][i];
            if (!spec.twoD) {
                // The window the search compares at offset 0 (see its 1-D matcher).
                const int len = spec.length;
                const int total = len + 2 * layout_.nPixSearch;
                const int half = (total - 1) / 2;
                const int start = total / 2 - len / 2;
                const double* step = pl.profiles.GetProfStepSize(0.0, 0.0, levelShape, i,
                                                                 FaceLandmarks::gLandTab, true);
                const double sx = step[0], sy = step[1];
                p.assign(len, 0.0);
                double sum = 0.0;
                for (int j = 0; j < len; ++j) {
                    const int q = start + j - half;  // whisker position of element j
                    if (q > half) {
                        p[j] = 0.0;  // beyond the sampled derivatives (even lengths)
                        continue;
                    }
                    const int a = Profiles::iGetPixel(img.data, w, h, nearestPixel(x + q * sx), nearestPixel(y + q * sy));
                    const int b = Profiles::iGetPixel(img.data, w, h, nearestPixel(x + (q - 1) * sx),
                                                      nearestPixel(y + (q - 1) * sy));
                    p[j] = a - b;
                    sum += std::fabs(p[j]);
                }
                const double meanAbs = sum / len;
                if (std::fabs(meanAbs) >= 1e-10)
                    for (double& v : p) v /= meanAbs;
            } else {
                const int side = spec.length;
                const int half = (side - 1) / 2;
                const int col = nearestPixel(x) + static_cast<int>(w * 0.5);
                const int row = static_cast<int>(h * 0.5) - 1 - nearestPixel(y);
                const int gw = static_cast<int>(grad.width), gh = static_cast<int>(grad.height);
                p.assign(static_cast<size_t>(side) * side, 0.0);
                long long sum = 0;
                size_t e = 0;
                for (int rr = row - half; rr <= row + half; ++rr)
                    for (int cc = col - half; cc <= col + half; ++cc) {
                        int v = 0;
                        if (rr >= 0 && rr < gh && cc >= 0 && cc < gw) v = grad.data[static_cast<size_t>(rr) * gw + cc];
                        p[e++] = v;
                        sum += std::llabs(static_cast<long long>(v));
                    }
                if (sum != 0) {
                    const double factor = static_cast<double>(p.size()) / static_cast<double>(sum);
                    for (double& v : p) {
                        v *= factor;
                        if (layout_.sigmoidScale != 0.0) {
                            const double divisor = std::trunc(std::fabs(v) + 0.1 * layout_.sigmoidScale);
                            if (divisor != 0.0) v /= divisor;
                        }
                    }
                }
            }
        }
    }
    return true;
}

}  // namespace trainer
}  // namespace kvo
