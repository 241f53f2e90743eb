// shape_trainer: builds the library's 68-landmark shape model.
//
//   shape_trainer --muct muct68-shapes.csv [--faces300w DIR] [--labels train_labels.tsv --media DIR]
//                 --out model.json [--seed N] [--stride N] [--max-faces N] [--augment N] [--len1d L]
//                 [--ridge R] [--muct-limit N] [--muct-weight W] [--var-scale S] [--validation-out FILE]
//                 [--twod SIDE:GROUP,...]   (groups: jaw brows eyes nose mouth all)
//                 [--placement detector|eyes|both] [--len-levels L0,L1,L2,L3] [--no-evidence I,J,...]
//                 [--video-like WIDTH,QUALITY]
//                 [--labels-weight W] [--labels-augment N] [--labels-len-levels L0,L1,L2,L3]
//                 [--profile-source LEVELS:GROUPS=SOURCE;...] [--labels-placement yes|no]
//
// 1. Shape statistics: the complete MUCT shapes and the 300-W training shapes (converted
//    to our layout, with their mirror images) are aligned by similarity and analysed
//    (mean, eigenvectors, eigenvalues). --muct-weight sets each MUCT shape's weight
//    against the 300-W shapes' 1 (0: 300-W shapes only); --var-scale multiplies the
//    eigenvalues, which bound how far the search may move along each mode.
// 2. Placement: on the training faces the library's detector finds (--placement
//    detector, the default), on the rectangles updateByEyes derives from the 300-W faces'
//    hand-placed eyes (eyes), or on both, the labelled shapes are expressed in the frame
//    in which the search places its mean shape (width-scaled by initScale / refWidth,
//    shifted by 0.05 and 0.25 of the half width); the mean shape is scaled and shifted to
//    their average.
// 3. Profiles: every training face, its mirror image and `augment` random variations
//    (rotation, scale, lighting) are sampled through the search's own pyramid. With
//    --video-like each face is first made as a small, compressed video frame shows it
//    (its landmarks WIDTH pixels across, JPEG at QUALITY, scaled back).
//    The labelled faces (--labels) and the 300-W faces are sampled apart and mixed per
//    level and landmark (ProfileSources.h): --profile-source chooses the source of each
//    profile, --labels-weight counts each labelled face W times where both are mixed,
//    --labels-augment sets their random variations (default --augment) and
//    --labels-len-levels their 1-D lengths where they are the only source.
//    --labels-placement no keeps the labelled faces out of the placement.
// The 300-W folder (--faces300w, research use only, never copied) gives hand-placed faces
// in dlib's layout, converted by the labeller's rules; every 10th face by sorted name is
// held out for validation (track_eval --faces300w) and never used here.
// Faces whose source names the held-out speaker ("franck") are never used. Every fifth
// block of 100 video frames and every fifth still of the labels file form its validation
// split, written to --validation-out for the evaluation tool.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Augment.h"
#include "CommandLine.h"
#include "FaceDetections.h"
#include "Faces300W.h"
#include "LandmarkSchemes.h"
#include "ModelWriter.h"
#include "Placement.h"
#include "MuctShapes.h"
#include "ProfileSources.h"
#include "ProfileTrainer.h"
#include "ShapeStatistics.h"
#include "TrainingSet.h"
#include "asm/ASMModelConfig.h"

using namespace kvo;
using namespace kvo::trainer;

namespace {

struct Options {
    std::string muct, labels, media, out, validationOut, faces300w;
    unsigned seed = 20240611u;
    int stride = 3;
    int maxFaces = 0;
    int augment = 4;
    int len1d = 9;
    std::vector<int> lenLevels;  // 1-D length per pyramid level (0 = finest); empty: len1d everywhere
    double videoWidth = 0.0;     // --video-like: faces' width in pixels (0: faces as they are)
    int videoQuality = 0;        // --video-like: JPEG quality
    double ridge = 0.05;
    int muctLimit = 0;
    double muctWeight = 1.0;
    double varScale = 1.0;
    std::string placement = "detector";  // start rectangles the mean shape is fitted to
    std::vector<bool> noEvidence = std::vector<bool>(68, false);  // landmarks without profile evidence
    // 2-D gradient patches: side length (0 = none) and the feature groups that use them
    // on levels 0-2 (the levels whose gradient images the search computes).
    int twoDSide = 0;
    std::string twoDGroups;
    long labelsWeight = 1;             // each labelled face's count against a 300-W face's 1
    long labelsAugment = -1;           // random variations per labelled face (-1: --augment)
    std::vector<int> labelsLenLevels;  // 1-D lengths of labelled-only profiles (empty: as the others)
    ProfileSourceTable sources;        // per level and landmark: both, labels or 300w
    bool labelsPlacement = true;       // labelled faces take part in the placement
};

// Reads the options strictly: an unknown option, a missing value or a number that does
// not read completely or lies outside its range is one "Error: ..." line and exit status 2.
// Ensures: true with `o` filled, or false after that line was written.
bool parse(int argc, char** argv, Options& o) {
    using kvo::cli::UsageError;
    long seed = static_cast<long>(o.seed);
    kvo::cli::CommandLine line;
    line.text("--muct", o.muct)
        .text("--labels", o.labels)
        .text("--faces300w", o.faces300w)
        .text("--media", o.media)
        .text("--out", o.out)
        .text("--validation-out", o.validationOut)
        .integer("--seed", seed, 0, 4294967295LL)
        .integer("--stride", o.stride, 1, 1000000)
        .integer("--max-faces", o.maxFaces, 0, 100000000)
        .integer("--augment", o.augment, 0, 1000)
        .integer("--len1d", o.len1d, 3, 40)
        .option("--video-like", [&](const std::string& name, const std::string& v) {
            // WIDTH,QUALITY: profiles from each face made small and compressed like a video frame's
            const size_t comma = v.find(',');
            if (comma == std::string::npos) throw UsageError(name + ": WIDTH,QUALITY (got '" + v + "')");
            o.videoWidth = static_cast<double>(kvo::cli::toInteger(name, v.substr(0, comma), 16, 2000));
            o.videoQuality = static_cast<int>(kvo::cli::toInteger(name, v.substr(comma + 1), 1, 100));
        })
        .option("--len-levels", [&](const std::string& name, const std::string& v) {
            // L0,L1,L2,L3: one 1-D length per level, finest first
            o.lenLevels.clear();
            size_t from = 0;
            while (from <= v.size()) {
                const size_t comma = v.find(',', from);
                const size_t to = comma == std::string::npos ? v.size() : comma;
                o.lenLevels.push_back(static_cast<int>(kvo::cli::toInteger(name, v.substr(from, to - from), 3, 40)));
                from = to + 1;
            }
            if (o.lenLevels.size() != static_cast<size_t>(kLevels))
                throw UsageError(name + ": one length per level, " + std::to_string(kLevels) + " in all (got '" + v + "')");
        })
        .integer("--labels-weight", o.labelsWeight, 1, 1000)
        .integer("--labels-augment", o.labelsAugment, 0, 1000)
        .option("--labels-len-levels", [&](const std::string& name, const std::string& v) {
            o.labelsLenLevels.clear();
            size_t from = 0;
            while (from <= v.size()) {
                const size_t comma = v.find(',', from);
                const size_t to = comma == std::string::npos ? v.size() : comma;
                o.labelsLenLevels.push_back(
                    static_cast<int>(kvo::cli::toInteger(name, v.substr(from, to - from), 3, 40)));
                from = to + 1;
            }
            if (o.labelsLenLevels.size() != static_cast<size_t>(kLevels))
                throw UsageError(name + ": one length per level, " + std::to_string(kLevels) + " in all (got '" + v + "')");
        })
        .option("--profile-source", [&](const std::string& name, const std::string& v) {
            std::string error;
            if (!parseProfileSources(v, o.sources, error)) throw UsageError(name + ": " + error);
        })
        .option("--labels-placement", [&](const std::string& name, const std::string& v) {
            if (v != "yes" && v != "no") throw UsageError(name + ": yes or no (got '" + v + "')");
            o.labelsPlacement = v == "yes";
        })
        .number("--ridge", o.ridge, 0.0, 1e6)
        .integer("--muct-limit", o.muctLimit, 0, 100000000)
        .number("--muct-weight", o.muctWeight, 0.0, 1e6)
        .number("--var-scale", o.varScale, 1e-3, 1e3)
        .option("--no-evidence", [&](const std::string& name, const std::string& v) {
            // I,J,...: landmark indices (our layout) whose profiles carry no evidence
            size_t from = 0;
            while (from <= v.size()) {
                const size_t comma = v.find(',', from);
                const size_t to = comma == std::string::npos ? v.size() : comma;
                o.noEvidence[static_cast<size_t>(kvo::cli::toInteger(name, v.substr(from, to - from), 0, 67))] = true;
                from = to + 1;
            }
        })
        .option("--placement", [&](const std::string& name, const std::string& v) {
            if (v != "detector" && v != "eyes" && v != "both")
                throw UsageError(name + ": detector, eyes or both (got '" + v + "')");
            o.placement = v;
        })
        .option("--twod", [&](const std::string& name, const std::string& v) {
            // SIDE:GROUP[,GROUP...], e.g. 5:eyes,brows
            const size_t colon = v.find(':');
            o.twoDSide = static_cast<int>(kvo::cli::toInteger(name, v.substr(0, colon), 3, 9));
            if (o.twoDSide % 2 == 0) throw UsageError(name + ": the side must be odd, 3 to 9 (got '" + v + "')");
            o.twoDGroups = colon == std::string::npos ? "all" : v.substr(colon + 1);
        });
    try {
        line.parse(argc, argv);
        if (o.muct.empty() || o.out.empty() || (o.labels.empty() && o.faces300w.empty()) ||
            (!o.labels.empty() && o.media.empty()))
            throw UsageError("usage: shape_trainer --muct CSV [--faces300w DIR] [--labels TSV --media DIR] "
                             "--out JSON [options]");
    } catch (const UsageError& e) {
        kvo::cli::reportUsageError(e);
        return false;
    }
    o.seed = static_cast<unsigned>(seed);
    return true;
}

// Uniform double in [lo, hi) from the 32-bit generator (portable, unlike the standard
// distributions).
double uniform(std::mt19937& rng, double lo, double hi) {
    const double u = static_cast<double>(rng()) / 4294967296.0;
    return lo + (hi - lo) * u;
}

bool isValidation(const LabelledFace& f, int stillIndex) {
    if (f.frame >= 0) return (f.frame / 100) % 5 == 4;
    return stillIndex % 5 == 4;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) return 2;

    // 1. Shape statistics.
    std::vector<ShapeVec> shapes = readMuctShapes(o.muct, o.muctLimit);
    if (shapes.size() < 2) return 1;
    const size_t muctCount = shapes.size();
    std::vector<LabelledFace> faces300w;
    std::vector<Rectangle> eyeRects300w;  // where updateByEyes starts on each of them
    if (!o.faces300w.empty()) {
        std::string error;
        std::vector<Face300W> listed;
        if (!listFaces300W(o.faces300w, listed, error)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return 1;
        }
        const Converter300W converter(o.muct);
        if (!converter.ok()) {
            std::fprintf(stderr, "Error: %s\n", converter.error().c_str());
            return 1;
        }
        int held = 0, failed = 0;
        for (const Face300W& f : listed) {
            if (f.validation) {
                ++held;
                continue;
            }
            LabelledFace lf;
            lf.source = f.name + ".jpg";
            if (!converter.convert(f.dlib, lf.points)) {
                ++failed;
                continue;
            }
            // Search orientation (y up), and the mirror image (partners swapped).
            ShapeVec up(136), mirrored(136);
            for (int i = 0; i < 68; ++i) {
                up[2 * i] = lf.points[2 * i];
                up[2 * i + 1] = -lf.points[2 * i + 1];
            }
            for (int i = 0; i < 68; ++i) {
                const int p = labeller::OURS_PARTNER[i];
                mirrored[2 * i] = -up[2 * p];
                mirrored[2 * i + 1] = up[2 * p + 1];
            }
            shapes.push_back(up);
            shapes.push_back(mirrored);
            faces300w.push_back(lf);
            eyeRects300w.push_back(eyeRectangle(f.dlib));
        }
        std::printf("300-W: %zu faces listed, %d held out for validation, %zu training, %d not convertible\n",
                    listed.size(), held, faces300w.size(), failed);
    }
    std::vector<double> weights(shapes.size(), 1.0);
    for (size_t k = 0; k < muctCount; ++k) weights[k] = o.muctWeight;
    double total = 0.0;
    for (double w : weights) total += w;
    if (total <= 1.0) {
        std::fprintf(stderr, "Error: the shape statistics need a total weight above 1 (--muct-weight %g)\n",
                     o.muctWeight);
        return 1;
    }
    ShapeModel model = buildShapeModel(shapes, 8, weights);
    if (o.varScale != 1.0)
        for (double& v : model.vals) v *= o.varScale;
    std::printf("shapes: %zu MUCT shapes (weight %g), %zu 300-W shapes with mirrors, first eigenvalues "
                "(unit-norm frame) %.6g %.6g %.6g\n",
                muctCount, o.muctWeight, shapes.size() - muctCount, model.vals[0], model.vals[1], model.vals[2]);

    // 2. Labelled faces: training and validation split.
    std::vector<LabelledFace> all;
    if (!o.labels.empty()) all = readLabels(o.labels);
    std::vector<LabelledFace> train, validation;
    int stillIndex = 0;
    for (const LabelledFace& f : all) {
        if (f.source.find("franck") != std::string::npos) continue;  // held-out speaker
        if (f.frame >= 0 && f.frame % o.stride != 0) continue;
        const bool val = isValidation(f, stillIndex);
        if (f.frame < 0) ++stillIndex;
        (val ? validation : train).push_back(f);
    }
    if (o.maxFaces > 0 && static_cast<int>(train.size()) > o.maxFaces) {
        // An even spread over the list keeps every source represented.
        std::vector<LabelledFace> sub;
        for (int k = 0; k < o.maxFaces; ++k) sub.push_back(train[static_cast<size_t>(k) * train.size() / o.maxFaces]);
        train.swap(sub);
        validation.clear();
    }
    std::printf("faces: %zu training, %zu validation\n", train.size(), validation.size());
    if (!o.validationOut.empty()) {
        std::ofstream v(o.validationOut);
        for (const LabelledFace& f : validation) {
            v << f.source << '\t' << f.frame << '\t';
            char buf[32];
            for (size_t k = 0; k < f.points.size(); ++k) {
                std::snprintf(buf, sizeof buf, k ? " %.3f" : "%.3f", f.points[k]);
                v << buf;
            }
            v << '\n';
        }
    }
    std::vector<cv::Mat> images = loadImages(train, o.media);
    const size_t labelledCount = train.size();  // the labelled faces come first
    // The 300-W training faces follow the labelled ones.
    if (!faces300w.empty()) {
        const std::vector<cv::Mat> more = loadImages(faces300w, o.faces300w);
        train.insert(train.end(), faces300w.begin(), faces300w.end());
        images.insert(images.end(), more.begin(), more.end());
    }

    // 3. Placement of the mean shape relative to the start rectangles: the detector's
    // (on the faces it finds, with the shape's centre inside), the ones updateByEyes
    // derives from the hand-placed eyes (300-W faces), or both.
    const ASMModelConfig config;
    PlacementTarget placement(config);
    if (o.placement != "eyes") {
        FaceDetections detector;
        for (size_t k = 0; k < train.size(); ++k) {
            if (images[k].empty()) continue;
            if (k < labelledCount && !o.labelsPlacement) continue;
            Rectangle face;
            if (!detector.detect(images[k], face)) continue;
            const ShapeVec& p = train[k].points;
            double cx = 0, cy = 0;
            for (int i = 0; i < 68; ++i) { cx += p[2 * i] / 68.0; cy += p[2 * i + 1] / 68.0; }
            if (!face.contains(cx, cy)) continue;
            placement.add(p, face);
        }
    }
    const int detected = placement.count();
    if (o.placement != "detector")
        for (size_t k = 0; k < faces300w.size(); ++k) placement.add(faces300w[k].points, eyeRects300w[k]);
    double s = 1.0, tx = 0.0, ty = 0.0;
    if (placement.count() > 0) {
        placement.fit(model.mean, s, tx, ty);
    } else {
        // No detection: a face of refWidth / initScale pixels centred like the placement.
        s = 215.0 / 0.25;
        std::printf("placement: no detected training face, default scale\n");
    }
    placeModel(model, s, tx, ty);
    std::printf("placement: %d detected faces, %d eye-started faces, scale %.6f, shift (%.6f, %.6f)\n", detected,
                placement.count() - detected, s, tx, ty);

    // 4. Profiles.
    ProfileLayout layout = ProfileLayout::uniform(o.len1d);
    if (!o.lenLevels.empty())
        for (int lev = 0; lev < kLevels; ++lev)
            for (int i = 0; i < kLandmarks; ++i) layout.spec[lev][i].length = o.lenLevels[lev];
    if (o.twoDSide > 0) {
        int chosen = 0;
        for (int i = 0; i < kLandmarks; ++i) {
            bool use = false;
            size_t from = 0;
            while (from <= o.twoDGroups.size()) {
                const size_t comma = o.twoDGroups.find(',', from);
                const size_t to = comma == std::string::npos ? o.twoDGroups.size() : comma;
                use = use || landmarkInGroup(i, o.twoDGroups.substr(from, to - from));
                from = to + 1;
            }
            if (!use) continue;
            ++chosen;
            for (int lev = 0; lev <= 2; ++lev) layout.spec[lev][i] = ProfileSpec{true, o.twoDSide};
        }
        std::printf("profiles: 2-D patches of side %d for %d landmarks (%s) on levels 0-2\n", o.twoDSide, chosen,
                    o.twoDGroups.c_str());
    }
    layout.nPixSearch = config.nPixSearch;
    layout.sigmoidScale = config.sigmoidScale;
    ProfileLayout labelsLayout = layout;
    if (!o.labelsLenLevels.empty())
        for (int lev = 0; lev < kLevels; ++lev)
            for (int i = 0; i < kLandmarks; ++i)
                if (o.sources.source[lev][i] == ProfileSource::Labels && !labelsLayout.spec[lev][i].twoD)
                    labelsLayout.spec[lev][i].length = o.labelsLenLevels[lev];
    ProfileTrainer profiles(layout);         // the 300-W faces (and the model's profiles in the end)
    ProfileTrainer labelled(labelsLayout);   // the labelled faces
    std::mt19937 rng(o.seed);
    cv::Mat grey;
    ShapeVec pts;
    for (size_t k = 0; k < train.size(); ++k) {
        if (images[k].empty()) continue;
        const bool isLabelled = k < labelledCount;
        ProfileTrainer& into = isLabelled ? labelled : profiles;
        const long augment = isLabelled && o.labelsAugment >= 0 ? o.labelsAugment : o.augment;
        if (o.videoWidth > 0) images[k] = videoLike(images[k], train[k].points, o.videoWidth, o.videoQuality);
        into.addFace(images[k], train[k].points);
        Variation mirror;
        mirror.mirror = true;
        applyVariation(images[k], train[k].points, mirror, grey, pts);
        into.addFace(grey, pts);
        for (long a = 0; a < augment; ++a) {
            Variation v;
            v.mirror = (rng() & 1u) != 0;
            v.rotation = uniform(rng, -0.15, 0.15);
            v.scale = uniform(rng, 0.85, 1.15);
            v.gain = uniform(rng, 0.7, 1.3);
            v.gamma = uniform(rng, 0.75, 1.33);
            v.offset = uniform(rng, -20.0, 20.0);
            applyVariation(images[k], train[k].points, v, grey, pts);
            into.addFace(grey, pts);
        }
    }
    std::printf("profiles: %ld sampled 300-W faces, %ld sampled labelled faces (weight %ld)\n", profiles.faces(),
                labelled.faces(), o.labelsWeight);
    {
        std::string error;
        if (!mixProfiles(profiles, labelled, o.sources, o.labelsWeight, error)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return 1;
        }
    }
    if (profiles.faces() + labelled.faces() < 2) {
        std::fprintf(stderr, "too few faces to train profiles\n");
        return 1;
    }
    ModelWriterOptions wo;
    wo.ridge1d = o.ridge;
    wo.ridge2d = o.ridge;
    wo.noEvidence = o.noEvidence;
    const std::string json = writeModelJson(model, profiles, wo);
    std::ofstream out(o.out, std::ios::binary);
    out << json;
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", o.out.c_str());
        return 1;
    }
    std::printf("model: %s, %zu bytes\n", o.out.c_str(), json.size());
    return 0;
}
