#include "asm/ASMSearch.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "asm/ShapePlausibility.h"
#include "image/GradientImage.h"
#include "util/CallWorkers.h"
#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// Half of a search-frame side as the frame mappings use it: trunc(size * 0.5 + 0.5).
int halfSide(uint32_t size) { return static_cast<int>(static_cast<double>(size) * 0.5 + 0.5); }

// Width and height of the face in the normalised frame relative to refWidth:
// (1 - (h / w - 1)^2) * refWidth / w.
double normalisedSize(double w, double h, double refWidth) {
    const double r = h / w - 1.0;
    return (1.0 - r * r) * refWidth / w;
}

}  // namespace

ASMSearch::ASMSearch(ImageDataManager& m)
    : manager(m),
      model(),
      config(),
      shape(),
      suggestedShape(),
      globalShape(),
      stabilizer(m, shape),
      correction(shape),
      candide(globalShape),
      alignSystem(4, 4, true),
      alignRhs(4, 0.0),
      alignTransform(3, 3, true),
      alignInverse(3, 3, true) {
}

ASMSearch::~ASMSearch() = default;

bool ASMSearch::stabilizerActive() const {
    return stabilizerEnabled;
}

bool ASMSearch::isFinite(const ShapeMat& s) {
    for (int i = 0; i < s.rows; ++i) {
        for (int j = 0; j < s.cols; ++j) {
            if (!std::isfinite(s.data[i][j])) return false;
        }
    }
    return true;
}

bool ASMSearch::modelUsable() {
    std::string fault;
    const int n = model.meanShape.rows;
    if (!model.loaded()) {
        fault = "no shape model is loaded";
    } else if (n < 2 || model.meanShape.cols != 2) {
        fault = "the mean shape has " + to_string(n) + " landmarks";
    } else if (model.eigVecs.rows != 2 * n || model.eigVecs.cols != 2 * n ||
               model.eigVecsT.rows != 2 * n || model.eigVecsT.cols != 2 * n) {
        fault = "the eigenvectors do not match the mean shape";
    } else if (!(config.pyrRatio > 0.0) || config.refWidth <= 0) {
        fault = "pyrRatio and refWidth must be positive";
    } else {
        for (size_t l = 0; l < model.levels.size() && fault.empty(); ++l) {
            const ASMLevelPtr& level = model.levels[l];
            const std::string name = "level " + to_string(static_cast<int>(l));
            if (!level) {
                fault = name + " is missing";
                break;
            }
            const size_t nl = static_cast<size_t>(n);
            if (level->meanShape.rows != n || level->meanShape.cols != 2 ||
                level->eigVals.rows != 2 * n || level->eigVals.cols < 1) {
                fault = name + " has a mean shape or eigenvalues of the wrong size";
            } else if (level->profMeans.size() < nl || level->profWork.size() < nl ||
                       level->covars.size() < nl || level->profSpecs.size() < nl) {
                fault = name + " has fewer profiles than landmarks";
            } else {
                for (size_t i = 0; i < nl; ++i) {
                    if (!level->covars[i] ||
                        level->profWork[i].size() != level->profMeans[i].size()) {
                        fault = name + " has an incomplete profile for landmark " +
                                to_string(static_cast<int>(i));
                        break;
                    }
                }
            }
        }
    }
    if (!fault.empty()) {
        Err("ASMSearch: " + fault + "; face tracking is off.");
        return false;
    }
    return true;
}

void ASMSearch::initSearchState() {
    if (manager.roi != nullptr) {
        initSearchState(*manager.roi);
    } else if (manager.inputData != nullptr) {
        initSearchState(Rectangle(0.0, 0.0, manager.inputData->width, manager.inputData->height));
    } else {
        initSearchState(Rectangle());
    }
}

void ASMSearch::initSearchState(const Rectangle& imageRoi) {
    inStartPhase = true;
    frameCount = 0;
    eigFraction = 0.0;
    validRegion = Rectangle(imageRoi.x + 30.0, imageRoi.y + 30.0, imageRoi.width - 60.0,
                            imageRoi.height - 60.0);
    active = modelUsable();

    if (active) {
        const ShapeMat& mean = model.meanShape;
        const int n = mean.rows;
        shape.copyFrom(mean);
        suggestedShape.copyFrom(mean);
        globalShape.copyFrom(mean);
        searchedShape.copyFrom(mean);
        refineFilter.init(n);
        conformedShape.copyFrom(mean);
        savedShape.copyFrom(mean);
        modelShape.copyFrom(mean);
        meanCol.viewAsCol(mean);
        workCol.copyFrom(meanCol);
        b.dim(2 * n, 1);
        bTmp.dim(2 * n, 1);
    }
    alignSystem.dim(4, 4);
    alignRhs.assign(4, 0.0);
    alignTransform.dim(3, 3);
    alignInverse.dim(3, 3);

    stabilizer.init();
    candide.init();

    // Worker ranges: equal contiguous chunks, the last worker taking the remainder.
    const int workers = std::min(std::max(1, static_cast<int>(numThreads)), CallWorkers::MAX_WORKERS);
    const int n = active ? model.meanShape.rows : 0;
    const int chunk = n / workers;
    profiles.assign(workers, Profiles());
    threadArgs.assign(workers, SearchThreadArgs());

    gradientRead.assign(active ? model.levels.size() : 0, false);
    for (size_t l = 0; l < gradientRead.size(); ++l) {
        for (int i = 0; i < n; ++i) {
            if (model.levels[l]->is2d(i)) gradientRead[l] = true;
        }
    }

    // Each worker's derivative buffer holds the longest 1-D search window of the model.
    size_t longest = 0;
    if (active) {
        const size_t searchSpan = 2 * static_cast<size_t>(std::max(0, config.nPixSearch));
        for (const ASMLevelPtr& level : model.levels) {
            for (int i = 0; i < n; ++i) {
                if (!level->is2d(i)) {
                    longest = std::max(longest, level->profMeans[i].size() + searchSpan);
                }
            }
        }
    }
    for (int t = 0; t < workers; ++t) {
        profiles[t].reserveProfile(longest);
        SearchThreadArgs& a = threadArgs[t];
        a.suggested = &suggestedShape;
        a.shape = &shape;
        a.level = nullptr;
        a.landmarks = &FaceLandmarks::gLandTab;
        a.nPixSearch = config.nPixSearch;
        a.nPixSearch2d = config.nPixSearch2d;
        a.sigmoidScale = config.sigmoidScale;
        a.useLandmarkNeighbours = config.useLandmarkNeighbours;
        a.first = t * chunk;
        a.last = (t == workers - 1) ? n : (t + 1) * chunk;
        a.profiles = &profiles[t];
    }
}

void ASMSearch::updateGlobalShape(ShapeMat& out, const ShapeMat& in) {
    if (out.rows != in.rows || out.cols != in.cols) out.copyFrom(in);
    const double cx = static_cast<double>(manager.asmCurrent[0].width) * 0.5 + 0.5;
    const double cy = static_cast<double>(manager.asmCurrent[0].height) * 0.5 + 0.5;
    for (int i = 0; i < in.rows; ++i) {
        out.data[i][0] = in.data[i][0] / scale + cx + offsetX;
        out.data[i][1] = -in.data[i][1] / scale + cy + offsetY;
    }
}

void ASMSearch::prepareShape(const Rectangle& face) {
    if (!active) return;
    const int half = static_cast<int>(face.width * 0.5 + 0.5);
    const int cw = halfSide(manager.asmCurrent[0].width);
    const int ch = halfSide(manager.asmCurrent[0].height);
    // Both offsets use half of the width: the face rectangle is taken as square.
    offsetX = face.x + half - cw;
    offsetY = face.y + half - ch;
    scale = 1.0;
    const double sx = face.width / config.refWidth * config.initScale;
    const double sy = face.height / config.refWidth * config.initScale;

    shape.copyFrom(model.meanShape);
    for (int i = 0; i < shape.rows; ++i) {
        std::vector<double>& row = shape.data[i];
        if (row[0] == 0.0 && row[1] == 0.0) continue;  // absent landmark
        row[0] = sx * row[0] + 0.05 * half;
        row[1] = sy * row[1] - 0.25 * half;
    }
    suggestedShape.copyFrom(shape);
    frameCount = 0;
    inStartPhase = true;
    eigFraction = 0.0;

    // Re-centre the shape on the origin, moving its offset into the mapping.
    const double w = shape.shapeWidth();
    const double h = shape.shapeHeight();
    const double cx = shape.colMinElem(0) + 0.5 * w;
    const double cy = shape.colMinElem(1) + 0.5 * h;
    offsetX += cx;
    shape.addScalarToCol(0, -cx);
    offsetY -= cy;
    shape.addScalarToCol(1, -cy);

    updateGlobalShape(globalShape, shape);
    lastSearchRefined = false;
    refineFilter.reset();
    if (candideEnabled) candide.updateTransformByShape(globalShape);
}

Matrix& ASMSearch::prepareMatrix() {
    const int hw = halfSide(manager.asmCurrent[0].width);
    const int hh = halfSide(manager.asmCurrent[0].height);
    const double w = shape.shapeWidth();
    const double h = shape.shapeHeight();
    const double cx = shape.colMinElem(0) + 0.5 * w;
    const double cy = shape.colMinElem(1) + 0.5 * h;
    double k = normalisedSize(w, h, config.refWidth);
    // A collapsed shape or one at least twice as high as wide would give an infinite,
    // zero or negative scale: keep the scale then, and only re-centre.
    if (!(w > 0.0) || !std::isfinite(k) || !(k > 0.0)) k = 1.0;

    offsetX += cx / scale;
    offsetY -= cy / scale;
    shape.addScalarToCol(0, -cx);
    shape.addScalarToCol(1, -cy);
    shape.multiplyByScalar(1.0 / scale);
    scale = k * scale;
    shape.multiplyByScalar(scale);

    matrix = Matrix(scale, 0.0, 0.0, scale, (-offsetX - hw) * scale + hw,
                    (-offsetY - hh) * scale + hh);
    return matrix;
}

int ASMSearch::finestSearchLevel() const {
    if (finestTrackingLevel < 0 || finestTrackingLevel > DEFAULT_FINEST_LEVEL) return DEFAULT_FINEST_LEVEL;
    return finestTrackingLevel;
}

int64_t ASMSearch::matchingWork(const ASMLevel& level) const {
    const int n = model.meanShape.rows;
    const int64_t offsets1d = 2 * static_cast<int64_t>(std::max(0, config.nPixSearch)) + 1;
    const int64_t side2d = 2 * static_cast<int64_t>(std::max(0, config.nPixSearch2d)) + 1;
    int64_t work = 0;
    for (int i = 0; i < n; ++i) {
        const int64_t length = static_cast<int64_t>(level.profMeans[i].size());
        work += length * (level.is2d(i) ? side2d * side2d : offsets1d);
    }
    return work;
}

void ASMSearch::matchProfiles(ASMLevel& level) {
    const int n = static_cast<int>(threadArgs.size());
    void* parts[CallWorkers::MAX_WORKERS];
    for (int t = 0; t < n; ++t) {
        threadArgs[t].level = &level;
        parts[t] = &threadArgs[t];
    }
    if (n > 1 && workers != nullptr && workers->running() > 0 && matchingWork(level) >= parallelMinWork) {
        workers->run(&ASMSearch::GetSuggestedShape_thread, parts, n);
    } else {
        for (int t = 0; t < n; ++t) GetSuggestedShape_thread(parts[t]);
    }
}

ShapeMat& ASMSearch::doSearch() {
    if (!active) return globalShape;

    frameCount += 1;
    inStartPhase = frameCount < config.startFrames;
    eigFraction = std::min(1.0, 0.05 * frameCount);

    const int lastLevel = static_cast<int>(model.levels.size()) - 1;
    int top;
    if (inStartPhase) {
        eigFraction *= 0.5;
        top = config.numLevels - 1;
        manager.updateASMPyramid(prepareMatrix());
    } else {
        top = config.trackingLevels - 1;
        if (stabilizerActive()) {
            manager.updateASMPyramid(matrix);  // keep the previous frame's mapping
        } else {
            manager.updateASMPyramid(prepareMatrix());
        }
    }
    top = std::max(0, std::min(top, lastLevel));

    bool blend = false;
    if (stabilizerEnabled && frameCount > 1) {
        stabilizer.opticalFlow.update(stabilizer.prepareOpticalFlowContraint(),
                                      stabilizer.pointStates);
        const bool predicted = stabilizer.calcOpticalFlowContraint();
        if (!predicted || inStartPhase) {
            manager.updateASMPyramid(prepareMatrix());
        } else {
            // The prediction is used only while the face stays near the centre of the
            // frame at about its normalised size.
            const double w = shape.shapeWidth();
            const double h = shape.shapeHeight();
            const double cx = shape.colMinElem(0) + 0.5 * w;
            const double cy = shape.colMinElem(1) + 0.5 * h;
            const double v = normalisedSize(w, h, config.refWidth);
            if (cx < -90.0 || cx > 90.0 || cy < -60.0 || cy > 60.0 || v < 0.85 || v > 1.15) {
                manager.updateASMPyramid(prepareMatrix());
            } else {
                savedShape.copyFrom(shape);
                blend = true;
            }
        }
    }

    // Gradient images of the levels whose 2-D profiles read them (none of a model with
    // only 1-D profiles: nothing would read them).
    const int gradientTop = std::min(std::min(config.maxGradientLevel, top),
                                     ImageDataManager::ASM_LEVELS - 1);
    for (int k = 0; k <= gradientTop; ++k) {
        if (!levelReadsGradient(k)) continue;
        buildGradientImage(manager.asmCurrent[k], manager.asmGradient[k],
                           manager.gradientRowBuffer,
                           static_cast<int>(manager.asmFrame.width >> k),
                           static_cast<int>(manager.asmFrame.height >> k));
    }

    // Levels `top` down to `finest` are searched; the finer ones are only scaled through,
    // so the shape leaves the loop at level-0 scale. By default (and always in the start
    // phase) the finest searched level is 2: there the face is about 45 pixels wide and
    // one profile step is four level-0 pixels, so its few iterations follow a face that
    // moved between frames, and the sub-pixel steadiness comes from the stabiliser blend
    // below. A host may ask for levels 1 and 0 as well after the start phase
    // (`finestTrackingLevel`), searched with the profiles, eigenvector counts and limits
    // the model holds for them; the shape arrives there already fitted at level 2, so each
    // runs FINE_LEVEL_ITERATIONS matching passes rather than the level's four (on the
    // speaker's annotated frames two gave the same error as four at about half the cost).
    const int finest = inStartPhase ? DEFAULT_FINEST_LEVEL : finestSearchLevel();
    shape.multiplyByScalar(1.0 / std::pow(config.pyrRatio, top));
    for (int lev = top; lev >= 0; --lev) {
        ASMLevel& level = *model.levels[lev];
        if (lev >= finest) {
            for (int i = 0; i < b.rows; ++i) b.data[i][0] = 0.0;
            const int iters = lev < DEFAULT_FINEST_LEVEL ? std::min(level.nMaxSearchIters, FINE_LEVEL_ITERATIONS)
                                                         : level.nMaxSearchIters;
            for (int iter = 0; iter < iters; ++iter) {
                matchProfiles(level);
                ShapeMat& conformed =
                    ConformShapeToModel(b, suggestedShape, level, model.eigVecs, model.eigVecsT,
                                        iter == iters - 1);
                // A non-finite fit (for instance from a broken eigenvalue) is dropped.
                if (isFinite(conformed)) shape.copyFrom(conformed);
            }
        }
        if (lev > 0) shape.multiplyByScalar(config.pyrRatio);
    }

    if (correctionEnabled && shape.rows >= ASMCorrectionExtension::NUM_LANDMARKS) {
        correction.update();
    }

    if (blend && stabilizerEnabled) {
        const std::vector<double>& weights = stabilizer.weights;
        for (int i = 0; i < shape.rows && i < static_cast<int>(weights.size()); ++i) {
            const std::vector<double>& saved = savedShape.data[i];
            if (saved[0] == 0.0 && saved[1] == 0.0) continue;
            const double w = weights[i];
            shape.data[i][0] = saved[0] * (1.0 - w) + shape.data[i][0] * w;
            shape.data[i][1] = saved[1] * (1.0 - w) + shape.data[i][1] * w;
        }
    }

    updateGlobalShape(globalShape, shape);
    // The refinement works on the published shape only: the next frame's search, the
    // stabiliser and the validity check go on from the search's own result, so switching
    // it on changes where the points are drawn, not how the face is followed.
    lastSearchRefined = refineEnabled && refiner.loaded() && manager.inputData != nullptr;
    if (lastSearchRefined) {
        searchedShape.copyFrom(globalShape);
        InputData& in = *manager.inputData;
        refiner.refine(in.getData(), static_cast<int>(in.width), static_cast<int>(in.height), globalShape);
        refineFilter.apply(searchedShape, globalShape);
    } else {
        refineFilter.reset();  // switched on again later, it starts afresh
    }
    if (!inStartPhase && candideEnabled) candide.update(candideActionUnitsEnabled);
    return globalShape;
}

bool ASMSearch::isValid() {
    if (!active) return false;
    const ShapeMat& g = lastSearchRefined ? searchedShape : globalShape;
    if (!isFinite(g)) return false;
    if (checkShape(g, ShapeLimits{minFaceSize, maxFaceSize, validRegion, strictValidation == 1}).anyFailed()) {
        return false;
    }
    if (inStartPhase || !candideEnabled) return true;
    return candide.isPoseValid(validRegion);
}

}  // namespace kvo
