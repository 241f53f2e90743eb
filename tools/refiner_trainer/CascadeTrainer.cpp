#include "CascadeTrainer.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "refine/LandmarkRefiner.h"
#include "refine/ShapeIndexedPixels.h"

#include <opencv2/core.hpp>

namespace kvo {
namespace refiner {

namespace {

// Runs body(first, last) on `threads` contiguous shares of [0, n) and joins them.
template <typename Body>
void inShares(int n, int threads, const Body& body) {
    threads = std::max(1, std::min(threads, n));
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) {
        pool.emplace_back([&, t] { body(static_cast<long>(n) * t / threads, static_cast<long>(n) * (t + 1) / threads); });
    }
    body(0, static_cast<long>(n) / threads);
    for (std::thread& th : pool) th.join();
}

// Centres `s` (VALUES floats) on the origin.
void centre(float* s) {
    double cx = 0, cy = 0;
    for (int i = 0; i < LANDMARKS; ++i) {
        cx += s[2 * i];
        cy += s[2 * i + 1];
    }
    cx /= LANDMARKS;
    cy /= LANDMARKS;
    for (int i = 0; i < LANDMARKS; ++i) {
        s[2 * i] -= static_cast<float>(cx);
        s[2 * i + 1] -= static_cast<float>(cy);
    }
}

struct Candidate {
    RefinerSplit split;
};

class TreeFitter {
public:
    TreeFitter(const CascadeSettings& s, int samples, int pool, int width)
        : s_(s), n_(samples), pool_(pool), width_(width) {
        nodeOf_.assign(samples, 0);
    }

    // Fits one tree to `residuals` (n x width) on `pixels` (n x pool); writes its splits
    // and unquantised leaf values (2^depth x width, shrunk), and each sample's leaf.
    void fit(const unsigned char* pixels, const float* residuals, const std::vector<float>& poolPositions,
             Random& rng, std::vector<RefinerSplit>& splits, std::vector<float>& leafValues,
             std::vector<int>& leafOf) {
        const int depth = s_.depth, S = s_.splits;
        std::fill(nodeOf_.begin(), nodeOf_.end(), 0);
        splits.assign((1 << depth) - 1, RefinerSplit());
        for (int d = 0; d < depth; ++d) {
            const int first = (1 << d) - 1, count = 1 << d;
            // The samples of each node, for drawing thresholds from them.
            std::vector<std::vector<int>> members(count);
            for (int i = 0; i < n_; ++i) members[nodeOf_[i] - first].push_back(i);
            std::vector<RefinerSplit> cand(static_cast<size_t>(count) * S);
            for (int node = 0; node < count; ++node) {
                for (int c = 0; c < S; ++c) {
                    RefinerSplit& sp = cand[static_cast<size_t>(node) * S + c];
                    drawPair(poolPositions, rng, sp);
                    const std::vector<int>& m = members[node];
                    if (!m.empty()) {
                        const unsigned char* px = pixels + static_cast<size_t>(m[rng.below(static_cast<int>(m.size()))]) * pool_;
                        sp.threshold = static_cast<std::int16_t>(static_cast<int>(px[sp.a]) - static_cast<int>(px[sp.b]));
                    }
                }
            }
            // Left sums of every candidate and node totals, one block per thread share.
            const int threads = std::max(1, std::min(s_.threads, n_));
            const size_t leftSize = static_cast<size_t>(count) * S * width_;
            std::vector<std::vector<float>> left(threads, std::vector<float>(leftSize, 0.0f));
            std::vector<std::vector<float>> total(threads, std::vector<float>(static_cast<size_t>(count) * width_, 0.0f));
            std::vector<std::vector<int>> leftCount(threads, std::vector<int>(static_cast<size_t>(count) * S, 0));
            std::vector<std::vector<int>> totalCount(threads, std::vector<int>(count, 0));
            std::vector<std::thread> pool;
            auto body = [&](int t) {
                const long from = static_cast<long>(n_) * t / threads, to = static_cast<long>(n_) * (t + 1) / threads;
                float* L = left[t].data();
                float* T = total[t].data();
                for (long i = from; i < to; ++i) {
                    const int node = nodeOf_[i] - first;
                    const unsigned char* px = pixels + static_cast<size_t>(i) * pool_;
                    const float* r = residuals + static_cast<size_t>(i) * width_;
                    float* tn = T + static_cast<size_t>(node) * width_;
                    for (int v = 0; v < width_; ++v) tn[v] += r[v];
                    ++totalCount[t][node];
                    const RefinerSplit* cs = &cand[static_cast<size_t>(node) * S];
                    for (int c = 0; c < S; ++c) {
                        if (static_cast<int>(px[cs[c].a]) - static_cast<int>(px[cs[c].b]) > cs[c].threshold) {
                            float* l = L + (static_cast<size_t>(node) * S + c) * width_;
                            for (int v = 0; v < width_; ++v) l[v] += r[v];
                            ++leftCount[t][static_cast<size_t>(node) * S + c];
                        }
                    }
                }
            };
            for (int t = 1; t < threads; ++t) pool.emplace_back(body, t);
            body(0);
            for (std::thread& th : pool) th.join();
            for (int t = 1; t < threads; ++t) {
                for (size_t k = 0; k < leftSize; ++k) left[0][k] += left[t][k];
                for (size_t k = 0; k < total[0].size(); ++k) total[0][k] += total[t][k];
                for (size_t k = 0; k < leftCount[0].size(); ++k) leftCount[0][k] += leftCount[t][k];
                for (int k = 0; k < count; ++k) totalCount[0][k] += totalCount[t][k];
            }
            // The split of each node that leaves the least squared residual (the most
            // explained: |sum left|^2 / n left + |sum right|^2 / n right).
            for (int node = 0; node < count; ++node) {
                const int nAll = totalCount[0][node];
                const float* tn = &total[0][static_cast<size_t>(node) * width_];
                double best = -1;
                int bestC = 0;
                for (int c = 0; c < S; ++c) {
                    const int nl = leftCount[0][static_cast<size_t>(node) * S + c], nr = nAll - nl;
                    const float* l = &left[0][(static_cast<size_t>(node) * S + c) * width_];
                    double sl = 0, sr = 0;
                    for (int v = 0; v < width_; ++v) {
                        sl += static_cast<double>(l[v]) * l[v];
                        const double rv = static_cast<double>(tn[v]) - l[v];
                        sr += rv * rv;
                    }
                    const double score = (nl > 0 ? sl / nl : 0.0) + (nr > 0 ? sr / nr : 0.0);
                    if (score > best) {
                        best = score;
                        bestC = c;
                    }
                }
                splits[first + node] = cand[static_cast<size_t>(node) * S + bestC];
            }
            for (int i = 0; i < n_; ++i) {
                const RefinerSplit& sp = splits[nodeOf_[i]];
                const unsigned char* px = pixels + static_cast<size_t>(i) * pool_;
                nodeOf_[i] = 2 * nodeOf_[i] + (static_cast<int>(px[sp.a]) - static_cast<int>(px[sp.b]) > sp.threshold ? 1 : 2);
            }
        }
        const int inner = (1 << depth) - 1, leaves = 1 << depth;
        leafValues.assign(static_cast<size_t>(leaves) * width_, 0.0f);
        std::vector<double> sums(static_cast<size_t>(leaves) * width_, 0.0);
        std::vector<int> counts(leaves, 0);
        leafOf.resize(n_);
        for (int i = 0; i < n_; ++i) {
            const int leaf = nodeOf_[i] - inner;
            leafOf[i] = leaf;
            ++counts[leaf];
            const float* r = residuals + static_cast<size_t>(i) * width_;
            for (int v = 0; v < width_; ++v) sums[static_cast<size_t>(leaf) * width_ + v] += r[v];
        }
        for (int leaf = 0; leaf < leaves; ++leaf) {
            if (counts[leaf] == 0) continue;
            for (int v = 0; v < width_; ++v) {
                leafValues[static_cast<size_t>(leaf) * width_ + v] =
                    static_cast<float>(s_.shrinkage * sums[static_cast<size_t>(leaf) * width_ + v] / counts[leaf]);
            }
        }
    }

private:
    // Two different pool pixels, a pair at distance d kept with probability exp(-lambda d).
    void drawPair(const std::vector<float>& pos, Random& rng, RefinerSplit& sp) const {
        for (;;) {
            const int a = rng.below(pool_), b = rng.below(pool_);
            if (a == b) continue;
            const double d = std::hypot(pos[2 * a] - pos[2 * b], pos[2 * a + 1] - pos[2 * b + 1]);
            if (rng.uniform() < std::exp(-s_.lambda * d)) {
                sp.a = static_cast<std::uint16_t>(a);
                sp.b = static_cast<std::uint16_t>(b);
                return;
            }
        }
    }

    const CascadeSettings& s_;
    int n_, pool_, width_;
    std::vector<int> nodeOf_;
};

}  // namespace

std::vector<float> meanShapeOf(const SampleSet& samples) {
    const int n = samples.size();
    std::vector<float> mean(samples.target.begin(), samples.target.begin() + VALUES);
    centre(mean.data());
    std::vector<float> t(VALUES);
    for (int round = 0; round < 3; ++round) {
        std::vector<double> acc(VALUES, 0.0);
        for (int i = 0; i < n; ++i) {
            std::copy(samples.target.begin() + static_cast<size_t>(i) * VALUES,
                      samples.target.begin() + static_cast<size_t>(i + 1) * VALUES, t.begin());
            centre(t.data());
            float a, b;
            similarityFromMean(t.data(), mean.data(), LANDMARKS, a, b);  // target -> mean
            for (int k = 0; k < LANDMARKS; ++k) {
                acc[2 * k] += a * t[2 * k] - b * t[2 * k + 1];
                acc[2 * k + 1] += b * t[2 * k] + a * t[2 * k + 1];
            }
        }
        for (int v = 0; v < VALUES; ++v) mean[v] = static_cast<float>(acc[v] / n);
        centre(mean.data());
        const double eyes = std::hypot(mean[2 * 27] - mean[2 * 32], mean[2 * 27 + 1] - mean[2 * 32 + 1]);
        for (float& v : mean) v = static_cast<float>(v / eyes);
    }
    return mean;
}

RefinerModel trainCascade(const SampleSet& samples, const CascadeSettings& s, const LevelReport& report) {
    const int n = samples.size();
    RefinerModel model;
    model.landmarks = LANDMARKS;
    model.depth = s.depth;
    model.meanShape = meanShapeOf(samples);
    const std::vector<float>& mean = model.meanShape;

    std::vector<float> cur = samples.start;
    Random rng(s.seed);
    std::vector<unsigned char> pixels(static_cast<size_t>(n) * s.pool);
    std::vector<float> residuals(static_cast<size_t>(n) * VALUES);
    std::vector<float> poolPos(2 * static_cast<size_t>(s.pool));
    const int K = s.basis;
    const int width = K > 0 ? K : VALUES;
    TreeFitter fitter(s, n, s.pool, width);
    std::vector<float> fitted(K > 0 ? static_cast<size_t>(n) * K : 0);  // residuals on the basis

    float x0 = 1e30f, x1 = -1e30f, y0 = 1e30f, y1 = -1e30f;
    for (int i = 0; i < LANDMARKS; ++i) {
        x0 = std::min(x0, mean[2 * i]);
        x1 = std::max(x1, mean[2 * i]);
        y0 = std::min(y0, mean[2 * i + 1]);
        y1 = std::max(y1, mean[2 * i + 1]);
    }
    const float padX = static_cast<float>(s.padding) * (x1 - x0), padY = static_cast<float>(s.padding) * (y1 - y0);

    for (int l = 0; l < s.levels; ++l) {
        RefinerLevel level;
        level.anchors.resize(s.pool);
        level.offsets.resize(2 * static_cast<size_t>(s.pool));
        for (int p = 0; p < s.pool; ++p) {
            const float x = static_cast<float>(rng.uniform(x0 - padX, x1 + padX));
            const float y = static_cast<float>(rng.uniform(y0 - padY, y1 + padY));
            int nearest = 0;
            float bestD = 1e30f;
            for (int k = 0; k < LANDMARKS; ++k) {
                const float d = (x - mean[2 * k]) * (x - mean[2 * k]) + (y - mean[2 * k + 1]) * (y - mean[2 * k + 1]);
                if (d < bestD) {
                    bestD = d;
                    nearest = k;
                }
            }
            level.anchors[p] = static_cast<std::uint16_t>(nearest);
            level.offsets[2 * p] = x - mean[2 * nearest];
            level.offsets[2 * p + 1] = y - mean[2 * nearest + 1];
            poolPos[2 * p] = x;
            poolPos[2 * p + 1] = y;
        }
        // Pixels at every sample's current shape, and its residual in mean-shape units.
        inShares(n, s.threads, [&](long from, long to) {
            for (long i = from; i < to; ++i) {
                const cv::Mat& img = samples.images[samples.image[i]];
                float* c = &cur[static_cast<size_t>(i) * VALUES];
                float a, b;
                similarityFromMean(mean.data(), c, LANDMARKS, a, b);
                readPoolPixels(img.data, img.cols, img.rows, c, level.anchors.data(), level.offsets.data(), s.pool, a,
                               b, &pixels[static_cast<size_t>(i) * s.pool]);
                const float den = a * a + b * b;
                const float* t = &samples.target[static_cast<size_t>(i) * VALUES];
                float* r = &residuals[static_cast<size_t>(i) * VALUES];
                for (int k = 0; k < LANDMARKS; ++k) {
                    const float dx = t[2 * k] - c[2 * k], dy = t[2 * k + 1] - c[2 * k + 1];
                    r[2 * k] = (a * dx + b * dy) / den;
                    r[2 * k + 1] = (-b * dx + a * dy) / den;
                }
            }
        });
        // With a basis: the level's leading directions of the residuals (their second
        // moment's eigenvectors), and the trees fit the residuals' coefficients on them.
        float* target = residuals.data();
        if (K > 0) {
            cv::Mat moment = cv::Mat::zeros(VALUES, VALUES, CV_64F);
            for (int i = 0; i < n; ++i) {
                const float* r = &residuals[static_cast<size_t>(i) * VALUES];
                for (int u = 0; u < VALUES; ++u) {
                    double* row = moment.ptr<double>(u);
                    for (int v = u; v < VALUES; ++v) row[v] += static_cast<double>(r[u]) * r[v];
                }
            }
            for (int u = 0; u < VALUES; ++u)
                for (int v = 0; v < u; ++v) moment.at<double>(u, v) = moment.at<double>(v, u);
            cv::Mat values, vectors;
            cv::eigen(moment, values, vectors);  // rows: eigenvectors, largest first
            level.basisSize = K;
            level.basis.assign(static_cast<size_t>(VALUES) * K, 0.0f);
            for (int v = 0; v < VALUES; ++v)
                for (int c = 0; c < K; ++c) level.basis[static_cast<size_t>(v) * K + c] = static_cast<float>(vectors.at<double>(c, v));
            for (int i = 0; i < n; ++i) {
                const float* r = &residuals[static_cast<size_t>(i) * VALUES];
                for (int c = 0; c < K; ++c) {
                    double sum = 0;
                    for (int v = 0; v < VALUES; ++v) sum += static_cast<double>(level.basis[static_cast<size_t>(v) * K + c]) * r[v];
                    fitted[static_cast<size_t>(i) * K + c] = static_cast<float>(sum);
                }
            }
            target = fitted.data();
        }
        std::vector<RefinerSplit> splits;
        std::vector<float> leafValues;
        std::vector<int> leafOf;
        for (int t = 0; t < s.trees; ++t) {
            fitter.fit(pixels.data(), target, poolPos, rng, splits, leafValues, leafOf);
            if (t == 0) {
                // The level's leaf step: the first tree's largest leaf value, with room to
                // spare, is 127 steps (later trees fit smaller residuals).
                float largest = 0;
                for (float v : leafValues) largest = std::max(largest, std::fabs(v));
                level.leafScale = largest > 0 ? 1.25f * largest / 127.0f : 1e-6f;
            }
            const float k = level.leafScale;
            std::vector<std::int8_t> q(leafValues.size());
            for (size_t v = 0; v < q.size(); ++v) {
                const float steps = std::round(leafValues[v] / k);
                q[v] = static_cast<std::int8_t>(std::max(-127.0f, std::min(127.0f, steps)));
            }
            for (int i = 0; i < n; ++i) {
                const std::int8_t* inc = &q[static_cast<size_t>(leafOf[i]) * width];
                float* r = target + static_cast<size_t>(i) * width;
                for (int v = 0; v < width; ++v) r[v] -= k * inc[v];
            }
            level.splits.insert(level.splits.end(), splits.begin(), splits.end());
            level.leaves.insert(level.leaves.end(), q.begin(), q.end());
            level.trees += 1;
        }
        model.levels.push_back(std::move(level));
        // The samples move as the runtime moves them.
        const RefinerLevel& done = model.levels.back();
        inShares(n, s.threads, [&](long from, long to) {
            std::vector<unsigned char> px(s.pool);
            std::vector<std::int32_t> sums(VALUES);
            for (long i = from; i < to; ++i) {
                const cv::Mat& img = samples.images[samples.image[i]];
                runRefinerLevel(model, done, img.data, img.cols, img.rows, &cur[static_cast<size_t>(i) * VALUES],
                                px.data(), sums.data());
            }
        });
        if (report) report(l, model);
    }
    return model;
}

}  // namespace refiner
}  // namespace kvo
