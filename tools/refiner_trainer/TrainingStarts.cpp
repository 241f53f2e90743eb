#include "TrainingStarts.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "TrainingSet.h"
#include "eval/GreyFrame.h"
#include "tracker/KVOModeState.h"
#include "tracker/Kestavo.h"

namespace kvo {
namespace refiner {

std::uint64_t Random::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}
double Random::uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
double Random::uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
double Random::normal() {
    const double u = 1.0 - uniform(), v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
}
int Random::below(int n) { return n <= 1 ? 0 : static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

int mirrorIndex(int i) {
    // Jaw reversed; brows, eyes, nose sides, lips swapped; the midline keeps its points.
    static const int pairs[][2] = {{15, 21}, {16, 22}, {17, 23}, {18, 24}, {19, 25}, {20, 26}, {27, 32}, {28, 33},
                                   {29, 34}, {30, 35}, {31, 36}, {37, 45}, {38, 44}, {39, 43}, {40, 42}, {46, 47},
                                   {48, 54}, {49, 53}, {50, 52}, {55, 59}, {56, 58}, {60, 62}, {63, 65}};
    if (i >= 0 && i <= 14) return 14 - i;
    for (const auto& p : pairs) {
        if (p[0] == i) return p[1];
        if (p[1] == i) return p[0];
    }
    return i;
}

namespace {

// The tracker as the runtime meets a still: eye-started search, then five updates, the
// refinement off. Ensures: true with `shape` set when the face is still tracked.
class StillTracker {
public:
    explicit StillTracker(int side) : input_(side, side) { kestavo_.init(&input_, nullptr); }
    bool track(const cv::Mat& grey, double lx, double ly, double rx, double ry, std::vector<float>& shape) {
        input_.setRows(grey.data, grey.step[0]);
        std::string state =
            kestavo_.updateByEyes(std::make_shared<Point>(lx, ly), std::make_shared<Point>(rx, ry), 10);
        for (int k = 0; k < 5; ++k) state = kestavo_.update();
        if (state != KVOState::FACE_TRACKING && state != KVOState::FACE_TRACKING_START) return false;
        shape.resize(VALUES);
        for (int i = 0; i < LANDMARKS; ++i) {
            shape[2 * i] = static_cast<float>(kestavo_.faceShape.points[i]->x);
            shape[2 * i + 1] = static_cast<float>(kestavo_.faceShape.points[i]->y);
        }
        return true;
    }

private:
    eval::GreyFrame input_;
    Kestavo kestavo_;
};

struct Extent {
    double x0 = 1e30, x1 = -1e30, y0 = 1e30, y1 = -1e30;
};
Extent extentOf(const std::vector<double>& pts) {
    Extent e;
    for (size_t i = 0; i + 1 < pts.size(); i += 2) {
        e.x0 = std::min(e.x0, pts[i]);
        e.x1 = std::max(e.x1, pts[i]);
        e.y0 = std::min(e.y0, pts[i + 1]);
        e.y1 = std::max(e.y1, pts[i + 1]);
    }
    return e;
}

// Frames `crop` so that the points' x-extent becomes `width` pixels, turned by `angle`
// (radians) about the points' centre, which lands on the frame's centre; every shape in
// `shapes` moves with it.
cv::Mat frame(const cv::Mat& crop, int side, double width, double angle, std::vector<std::vector<double>*> shapes) {
    const Extent e = extentOf(*shapes[0]);
    const double s = width / std::max(1.0, e.x1 - e.x0);
    const double cx = 0.5 * (e.x0 + e.x1), cy = 0.5 * (e.y0 + e.y1), half = 0.5 * (side - 1);
    const double a = s * std::cos(angle), b = s * std::sin(angle);
    const cv::Matx23d m(a, -b, half - (a * cx - b * cy), b, a, half - (b * cx + a * cy));
    cv::Mat out;
    cv::warpAffine(crop, out, m, cv::Size(side, side), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    for (std::vector<double>* p : shapes) {
        for (size_t i = 0; i + 1 < p->size(); i += 2) {
            const double x = (*p)[i], y = (*p)[i + 1];
            (*p)[i] = m(0, 0) * x + m(0, 1) * y + m(0, 2);
            (*p)[i + 1] = m(1, 0) * x + m(1, 1) * y + m(1, 2);
        }
    }
    return out;
}

// Eye centres of an our-layout shape: the mean of each eye's corners and lid points.
void eyeCentres(const std::vector<double>& ours, double& lx, double& ly, double& rx, double& ry) {
    lx = ly = rx = ry = 0;
    for (int k = 0; k < 4; ++k) {
        lx += ours[2 * (27 + k)] / 4;
        ly += ours[2 * (27 + k) + 1] / 4;
        rx += ours[2 * (32 + k)] / 4;
        ry += ours[2 * (32 + k) + 1] / 4;
    }
}

std::vector<float> toFloats(const std::vector<double>& v) { return std::vector<float>(v.begin(), v.end()); }

}  // namespace

namespace {

// Adds `framings` framed starts of one face: `picture` (BGR, or grey when `isGrey`) with
// its points in our layout.
void addFace(const cv::Mat& picture, bool isGrey, const std::vector<double>& ours, int framings,
             const StartSettings& s, StillTracker& tracker, Random& rng, SampleSet& set, int& lost) {
    std::vector<double> mirrored(ours.size());
    for (int i = 0; i < LANDMARKS; ++i) {
        const int j = mirrorIndex(i);
        mirrored[2 * i] = (picture.cols - 1) - ours[2 * j];
        mirrored[2 * i + 1] = ours[2 * j + 1];
    }
    cv::Mat flipped;
    cv::flip(picture, flipped, 1);
    for (int k = 0; k < framings; ++k) {
        const bool mirror = (k % 2) == 1;
        std::vector<double> target = mirror ? mirrored : ours;
        const double width = rng.uniform(s.minWidth, s.maxWidth);
        const double angle = rng.uniform(-s.maxAngle, s.maxAngle) * (3.141592653589793 / 180.0);
        const cv::Mat framed = frame(mirror ? flipped : picture, s.frameSide, width, angle, {&target});
        const cv::Mat grey = isGrey ? framed : trainer::toLibraryGrey(framed);
        double lx, ly, rx, ry;
        eyeCentres(target, lx, ly, rx, ry);
        const double eyeDist = std::hypot(rx - lx, ry - ly);
        // A perturbed pair of eyes: both moved together, and their span scaled.
        const double mx = 0.5 * (lx + rx) + s.eyeShift * eyeDist * rng.normal();
        const double my = 0.5 * (ly + ry) + s.eyeShift * eyeDist * rng.normal();
        const double span = 1.0 + 0.5 * s.eyeShift * rng.normal();
        const double hx = 0.5 * (rx - lx) * span, hy = 0.5 * (ry - ly) * span;
        std::vector<float> start;
        if (!tracker.track(grey, mx - hx, my - hy, mx + hx, my + hy, start)) {
            ++lost;
            continue;
        }
        const int image = static_cast<int>(set.images.size());
        set.images.push_back(grey);
        const std::vector<float> t = toFloats(target);
        for (int c = 0; c <= s.jitterCopies; ++c) {
            std::vector<float> sample = start;
            if (c > 0) {
                // A jittered copy: the start turned, scaled and moved about its centre.
                double cx = 0, cy = 0;
                for (int i = 0; i < LANDMARKS; ++i) {
                    cx += start[2 * i] / LANDMARKS;
                    cy += start[2 * i + 1] / LANDMARKS;
                }
                const double sc = 1.0 + s.jitterScale * rng.normal();
                const double th = s.jitterAngle * rng.normal() * (3.141592653589793 / 180.0);
                const double tx = s.jitterShift * eyeDist * rng.normal();
                const double ty = s.jitterShift * eyeDist * rng.normal();
                const double a = sc * std::cos(th), b = sc * std::sin(th);
                for (int i = 0; i < LANDMARKS; ++i) {
                    const double x = start[2 * i] - cx, y = start[2 * i + 1] - cy;
                    sample[2 * i] = static_cast<float>(cx + tx + a * x - b * y);
                    sample[2 * i + 1] = static_cast<float>(cy + ty + b * x + a * y);
                }
            }
            set.image.push_back(image);
            set.start.insert(set.start.end(), sample.begin(), sample.end());
            set.target.insert(set.target.end(), t.begin(), t.end());
        }
    }
}

}  // namespace

SampleSet collectStarts(const std::string& dir, const std::vector<trainer::Face300W>& faces,
                        const trainer::Converter300W& converter, const StartSettings& s, int& skipped, int& lost) {
    SampleSet set;
    skipped = lost = 0;
    StillTracker tracker(s.frameSide);
    Random rng(s.seed);
    for (const trainer::Face300W& f : faces) {
        if (f.validation) continue;
        const cv::Mat bgr = cv::imread(dir + "/" + f.name + ".jpg", cv::IMREAD_COLOR);
        std::vector<double> ours;
        if (bgr.empty() || !converter.convert(f.dlib, ours)) {
            ++skipped;
            continue;
        }
        addFace(bgr, false, ours, s.framingsPerFace, s, tracker, rng, set, lost);
    }
    if (!s.labels.empty()) {
        const std::vector<trainer::LabelledFace> labelled = trainer::readLabels(s.labels);
        const std::vector<cv::Mat> images = trainer::loadImages(labelled, s.media);
        for (size_t i = 0; i < labelled.size(); ++i) {
            if (images[i].empty()) {
                ++skipped;
                continue;
            }
            addFace(images[i], true, labelled[i].points, s.labelFramings, s, tracker, rng, set, lost);
        }
    }
    return set;
}

namespace {
template <typename T>
void put(std::ofstream& out, const std::vector<T>& v) {
    const std::uint64_t n = v.size();
    out.write(reinterpret_cast<const char*>(&n), sizeof n);
    out.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(n * sizeof(T)));
}
template <typename T>
bool get(std::ifstream& in, std::vector<T>& v) {
    std::uint64_t n = 0;
    if (!in.read(reinterpret_cast<char*>(&n), sizeof n) || n > (1ULL << 34) / sizeof(T)) return false;
    v.resize(n);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(n * sizeof(T))));
}
}  // namespace

bool saveSamples(const std::string& path, const std::string& key, const SampleSet& set) {
    std::ofstream out(path, std::ios::binary);
    put(out, std::vector<char>(key.begin(), key.end()));
    put(out, set.image);
    put(out, set.start);
    put(out, set.target);
    const std::uint64_t images = set.images.size();
    out.write(reinterpret_cast<const char*>(&images), sizeof images);
    for (const cv::Mat& m : set.images) {
        const std::int32_t size[2] = {m.cols, m.rows};
        out.write(reinterpret_cast<const char*>(size), sizeof size);
        for (int r = 0; r < m.rows; ++r) out.write(reinterpret_cast<const char*>(m.ptr<uint8_t>(r)), m.cols);
    }
    return static_cast<bool>(out);
}

bool loadSamples(const std::string& path, const std::string& key, SampleSet& set) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> k;
    if (!in || !get(in, k) || std::string(k.begin(), k.end()) != key) return false;
    SampleSet s;
    std::uint64_t images = 0;
    if (!get(in, s.image) || !get(in, s.start) || !get(in, s.target) ||
        !in.read(reinterpret_cast<char*>(&images), sizeof images)) {
        return false;
    }
    for (std::uint64_t i = 0; i < images; ++i) {
        std::int32_t size[2] = {0, 0};
        if (!in.read(reinterpret_cast<char*>(size), sizeof size) || size[0] <= 0 || size[1] <= 0 || size[0] > 8192 ||
            size[1] > 8192) {
            return false;
        }
        cv::Mat m(size[1], size[0], CV_8UC1);
        if (!in.read(reinterpret_cast<char*>(m.data), static_cast<std::streamsize>(m.total()))) return false;
        s.images.push_back(m);
    }
    set = std::move(s);
    return true;
}

std::vector<ValidationFace> collectValidation(const std::string& dir, const std::vector<trainer::Face300W>& faces,
                                              const trainer::Converter300W& converter) {
    std::vector<ValidationFace> out;
    const int side = 400;
    StillTracker tracker(side);
    for (const trainer::Face300W& f : faces) {
        if (!f.validation) continue;
        const cv::Mat bgr = cv::imread(dir + "/" + f.name + ".jpg", cv::IMREAD_COLOR);
        std::vector<double> ours;
        if (bgr.empty() || !converter.convert(f.dlib, ours)) continue;
        ValidationFace v;
        v.dlib = f.dlib;
        // The same framing as the 300-W evaluation: the hand-placed points 160 px wide.
        const Extent e = extentOf(v.dlib);
        const double s = 160.0 / std::max(1.0, e.x1 - e.x0);
        const double cx = 0.5 * (e.x0 + e.x1), cy = 0.5 * (e.y0 + e.y1), half = 0.5 * (side - 1);
        cv::Mat framed;
        cv::warpAffine(bgr, framed, cv::Matx23d(s, 0, half - s * cx, 0, s, half - s * cy), cv::Size(side, side),
                       cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        for (std::vector<double>* p : {&v.dlib, &ours}) {
            for (size_t i = 0; i + 1 < p->size(); i += 2) {
                (*p)[i] = s * (*p)[i] + (half - s * cx);
                (*p)[i + 1] = s * (*p)[i + 1] + (half - s * cy);
            }
        }
        v.grey = trainer::toLibraryGrey(framed);
        v.target = toFloats(ours);
        // Eye centres as the evaluation takes them: the mean of dlib's six points per eye.
        double lx = 0, ly = 0, rx = 0, ry = 0;
        for (int k = 0; k < 6; ++k) {
            lx += v.dlib[2 * (36 + k)] / 6;
            ly += v.dlib[2 * (36 + k) + 1] / 6;
            rx += v.dlib[2 * (42 + k)] / 6;
            ry += v.dlib[2 * (42 + k) + 1] / 6;
        }
        if (!tracker.track(v.grey, lx, ly, rx, ry, v.start)) v.start.clear();
        out.push_back(std::move(v));
    }
    return out;
}

}  // namespace refiner
}  // namespace kvo
