#pragma once
// Profile statistics of the shape model, sampled exactly as the shape search samples.
//
// For each training face the true shape is handed to the library's own search: its
// prepareMatrix re-normalises the shape and builds the image -> search-frame map, the
// image manager resamples the 480 x 480 shape-search pyramid, and the gradient pass
// runs on levels 0-2. At every level and landmark the trainer then takes the profile the
// search would compare at offset zero: the derivative profile along the whisker
// (normalised by its mean absolute value) for 1-D landmarks, the gradient patch
// (normalised and equalised) for 2-D landmarks.
//
// Thread safety: none; one trainer per thread. It owns image buffers per input size.
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "MuctShapes.h"
#include "image/ImageDataManager.h"
#include "math/ShapeMat.h"

namespace kvo {
namespace trainer {

constexpr int kLevels = 4;
constexpr int kLandmarks = 68;

// Profile choice of one landmark at one level.
struct ProfileSpec {
    bool twoD = false;
    int length = 9;  // 1-D: values; 2-D: side of the square patch (odd)
};

struct ProfileLayout {
    ProfileSpec spec[kLevels][kLandmarks];
    int nPixSearch = 3;         // the search's 1-D range (decides where offset 0 samples)
    double sigmoidScale = 1000.0;
    // Uniform layout: 1-D profiles of `length1d` everywhere.
    static ProfileLayout uniform(int length1d);
};

// Mean and covariance accumulators of one profile.
struct ProfileStats {
    std::vector<double> sum;
    std::vector<double> outer;  // length x length, row-major
    long count = 0;
    void add(const std::vector<double>& p);
    // Adds every sample of `other` `weight` times. Requires: equal lengths (or an empty side).
    void addWeighted(const ProfileStats& other, long weight);
};

class ProfileTrainer {
public:
    explicit ProfileTrainer(const ProfileLayout& layout);
    ~ProfileTrainer();

    // Samples every profile of one face: `grey` an 8-bit image, `points` the 68
    // landmarks in its pixels (y down). Returns false (and adds nothing) when the face
    // cannot be normalised.
    bool addFace(const cv::Mat& grey, const ShapeVec& points);

    // Samples the profiles of one face into `out` (out[level][landmark]); false when the
    // face cannot be normalised. Used by addFace and by validation.
    bool sampleFace(const cv::Mat& grey, const ShapeVec& points,
                    std::vector<std::vector<std::vector<double>>>& out);

    // The image manager and the normalised level-0 shape (local frame) of the last
    // sampled face: its search pyramid still holds that face. Null before any face.
    ImageDataManager* lastManager();
    const ShapeMat* lastShape();

    const ProfileStats& stats(int level, int landmark) const { return stats_[level][landmark]; }
    // Mixing of two sources (ProfileSources.h): one profile's samples counted in from
    // another trainer `weight` times, or replaced by another trainer's profile and samples.
    void addWeighted(int level, int landmark, const ProfileStats& other, long weight) {
        stats_[level][landmark].addWeighted(other, weight);
    }
    void replace(int level, int landmark, const ProfileSpec& spec, const ProfileStats& stats) {
        layout_.spec[level][landmark] = spec;
        stats_[level][landmark] = stats;
    }
    const ProfileLayout& layout() const { return layout_; }
    long faces() const { return faces_; }

private:
    struct Pipeline;
    Pipeline& pipelineFor(int width, int height);

    ProfileLayout layout_;
    std::vector<std::vector<ProfileStats>> stats_;
    std::map<std::pair<int, int>, std::unique_ptr<Pipeline>> pipelines_;
    long faces_ = 0;
    Pipeline* last_ = nullptr;
};

}  // namespace trainer
}  // namespace kvo
