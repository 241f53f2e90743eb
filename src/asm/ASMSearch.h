#pragma once
// The multi-resolution active-shape-model search that fits the 68-landmark face shape
// to each frame.
//
// What it represents: the state of one face track. Every frame the search chooses a
// similarity transform that maps the camera image into the 480 x 480 shape-search
// pyramid so that the face there is about `refWidth` pixels wide and centred; it moves
// each landmark to the best match of its profile model (two worker threads, each on a
// contiguous range of landmarks), constrains the moved shape to the statistical shape
// model, repeats from a coarse pyramid level downward, then applies the correction
// rules, blends with the optical-flow prediction, maps the shape back to image pixels
// and fits the Candide mesh.
//
// Coordinate frames:
//  - image frame: input pixels, x right, y down (`globalShape`, all rectangles);
//  - local frame: origin at the centre of the search frame, x right, y up, in pixels
//    of the level being searched (`shape`, `suggestedShape`, the model's mean shapes).
// A landmark at exactly (0, 0) counts as absent for the similarity alignment, the
// 3 x 3 shape transforms, the initial placement and the stabiliser blend.
//
// Lifecycle: construct with the image manager; after ASMModel::init, call
// initSearchState() once; then per face prepareShape(face) followed by doSearch() once
// per frame, and isValid() once inStartPhase is false. With a model that did not load
// (or is inconsistent with itself) the search does nothing and isValid() is false.
//
// Thread safety: none; call from the tracker's thread only. Each matching pass runs the
// worker ranges on the calling thread, or, given parked workers (`workers`) and a pass
// of at least parallelMinWork profile samples, the first range here and the others on
// the parked workers; every range is finished before the model constraint runs. The
// alignment uses NumberMat's class-wide LU scratch.
#include <pthread.h>

#include <cstdint>
#include <vector>

#include "asm/ASMCorrectionExtension.h"
#include "asm/ASMLevel.h"
#include "asm/ASMModel.h"
#include "asm/ASMModelConfig.h"
#include "asm/Profiles.h"
#include "asm/SearchThreadArgs.h"
#include "candide/ASMCandideExtension.h"
#include "image/ImageDataManager.h"
#include "math/Angles.h"
#include "math/Matrix.h"
#include "math/NumberMat.h"
#include "math/Rectangle.h"
#include "math/ShapeMat.h"
#include "refine/LandmarkRefiner.h"
#include "refine/RefinementFilter.h"
#include "util/ParkedWorkers.h"

#include "flow/ASMStabilizerExtension.h"

namespace kvo {

class ASMSearch {
public:
    static constexpr double TO_DEGREE = DEGREES_PER_RADIAN;
    static constexpr double TO_RADIAN = RADIANS_PER_DEGREE;
    // The finest pyramid level the search reaches by default and in the start phase.
    static constexpr int32_t DEFAULT_FINEST_LEVEL = 2;
    // Matching passes (at most) on each level finer than DEFAULT_FINEST_LEVEL, when searched.
    static constexpr int32_t FINE_LEVEL_ITERATIONS = 2;

    // Requires: `manager` outlives the search. Builds the empty working matrices and
    // the three extensions; reads no model data.
    explicit ASMSearch(ImageDataManager& manager);
    ~ASMSearch();
    ASMSearch(const ASMSearch&) = delete;
    ASMSearch& operator=(const ASMSearch&) = delete;

    // Sizes the whole search state from the loaded model: the working shapes become the
    // model's mean shape, the parameter vectors zeros, `validRegion` the image ROI inset
    // by 30 pixels on each side; initialises the stabiliser and the Candide extension;
    // builds the worker ranges and records, and each worker's profile scratch.
    // Requires: ASMModel::init has run on `model`. A model that is empty or whose parts
    // disagree in size is reported once and leaves the search inactive.
    // This overload takes the ROI from the image manager (the whole input when it has
    // none).
    void initSearchState();
    void initSearchState(const Rectangle& imageRoi);

    // True when initSearchState found a usable model; otherwise every operation that
    // needs the model does nothing.
    bool isActive() const { return active; }

    // Places the mean shape into `face` (image frame, pixels) and restarts the start
    // phase: frameCount 0, inStartPhase true, eigFraction 0, scale 1.
    void prepareShape(const Rectangle& face);

    // One search on the current frame of the image manager; returns `globalShape`.
    // With `refineEnabled` and a refiner model loaded, `globalShape` is the refined shape
    // (the Candide mesh is fitted to it) and `searchedShape` the search's own result.
    ShapeMat& doSearch();

    // Plausibility of the search's own result (`globalShape`, or `searchedShape` when the
    // last search was refined): size within [minFaceSize, maxFaceSize], centre
    // inside `validRegion`, with strictValidation the layout checks, and after the start
    // phase (with candideEnabled) the Candide pose limits. False for an inactive search
    // or a shape with non-finite coordinates.
    bool isValid();

    // Re-centres `shape` on the origin and rescales it to the normalised face width,
    // keeping every landmark's image position; builds and returns `matrix`, the map from
    // input pixels to search-frame pixels.
    Matrix& prepareMatrix();

    // out = in mapped from the local frame to the image frame. `out` is resized only
    // when its size differs from `in`.
    void updateGlobalShape(ShapeMat& out, const ShapeMat& in);

    // Aligns `src` to `target` (same number of rows) by the similarity transform that
    // minimises the squared distances over the landmarks present in both; transforms
    // `src` in place and returns `alignTransform` ([[a, -b, tx], [b, a, ty], [0, 0, 1]]).
    // Fewer than two distinct usable points, or a solution that is not finite or has
    // zero scale, leave `src` unchanged and return the identity.
    NumberMat& AlignShape(ShapeMat& src, const ShapeMat& target);

    // Constrains `suggested` to the shape model of `level`: aligns the model shape for
    // `b` to it, projects it into the model frame, limits the parameters to the
    // eigenvectors in use, and maps the result back. Writes `b`, transforms `suggested`
    // into the model frame in place, and returns `conformedShape`. `final` selects the
    // last-iteration eigenvector count and limit. When the alignment is degenerate the
    // result is a copy of the current `shape` (the search does not move).
    ShapeMat& ConformShapeToModel(NumberMat& b, ShapeMat& suggested, ASMLevel& level,
                                  NumberMat& eigVecs, NumberMat& eigVecsT, bool final);

    // Worker body: matches the profiles of landmarks [first, last) of a SearchThreadArgs
    // and writes their new positions into its `suggested` rows. Returns null.
    static void* GetSuggestedShape_thread(void* args);

    ImageDataManager& manager;
    ASMModel model;
    ASMModelConfig config;
    ShapeMat shape;           // current shape, local frame
    ShapeMat suggestedShape;  // output of the profile matching, local frame
    ShapeMat globalShape;     // result of the last search, image frame (refined when on)
    ShapeMat searchedShape;   // the search's own result before the refinement, image frame
    ASMStabilizerExtension stabilizer;
    ASMCorrectionExtension correction;
    ASMCandideExtension candide;
    NumberMat alignSystem;         // 4 x 4 normal equations of the alignment
    std::vector<double> alignRhs;  // 4: right-hand side, then solution (a, b, tx, ty)
    NumberMat alignTransform;      // 3 x 3
    NumberMat alignInverse;        // 3 x 3
    NumberMat meanCol;             // 2n x 1
    NumberMat workCol;             // 2n x 1
    ShapeMat conformedShape;
    ShapeMat savedShape;  // shape kept for the stabiliser blend
    ShapeMat modelShape;  // scratch of ConformShapeToModel
    NumberMat b;          // 2n x 1 shape-model parameters
    NumberMat bTmp;       // 2n x 1 scratch
    int32_t frameCount = 0;
    double eigFraction = 0.0;
    double offsetX = 0.0;  // image-frame pixels
    double offsetY = 0.0;  // image-frame pixels
    double scale = 1.0;    // search-frame pixels per image pixel
    Matrix matrix;
    Rectangle validRegion;
    double minFaceSize = 50.0;   // pixels
    double maxFaceSize = 500.0;  // pixels
    int32_t strictValidation = 1;
    // The finest pyramid level searched after the start phase: 2 (the default) searches
    // levels 2 (and 3 in the start phase) only; 1 or 0 also search those finer levels.
    // Any other value is read as 2.
    int32_t finestTrackingLevel = DEFAULT_FINEST_LEVEL;
    bool stabilizerEnabled = true;
    bool correctionEnabled = true;
    bool candideEnabled = true;
    bool candideActionUnitsEnabled = true;
    // The learned landmark refinement after each search (the host's opt-in; off by default).
    LandmarkRefiner refiner;
    bool refineEnabled = false;
    // Steadies the refinement's correction over the frames of a track (reset whenever a
    // search starts from a new face box; its settings may be changed between frames).
    RefinementFilter refineFilter;
    bool inStartPhase = true;
    int32_t numThreads = 2;
    std::vector<SearchThreadArgs> threadArgs;  // one record per worker
    // The smallest matching pass, in profile samples compared (over all landmarks: the
    // profile length times the candidate offsets), that is split over parked workers.
    // Chosen by measurement on the 2-core development machine: a pass of the embedded
    // model (68 profiles of 9 at 7 offsets: 4,284 samples) took 35 us on the calling
    // thread (139 us for 4 passes, bench_tracking_stages --workers calling) against 47 us
    // split (189 us, --workers parked); a hand-over costs 10 to 55 us (bench_workers). A
    // pass pays for a worker from about 16,384 samples (half of it then takes longer than
    // the slowest hand-over).
    int64_t parallelMinWork = 16384;
    ParkedWorkers* workers = nullptr;  // not owned; null: every range on the calling thread

    // True when some landmark of model level `k` has a 2-D profile, the only profiles that
    // read the level's gradient image (1-D profiles sample the grey image).
    bool levelReadsGradient(int k) const {
        return k >= 0 && k < static_cast<int>(gradientRead.size()) && gradientRead[k];
    }

    // One matching pass of all workers on `level`: every landmark's suggested position
    // is in `suggestedShape` when it returns. (Public for the stage benchmark.)
    void matchProfiles(ASMLevel& level);

private:
    // True when the stabiliser exists and is switched on.
    bool stabilizerActive() const;
    // finestTrackingLevel when it is 0, 1 or 2, else DEFAULT_FINEST_LEVEL.
    int finestSearchLevel() const;
    // Applies a 3 x 3 transform to every landmark not at (0, 0).
    static void transformShape(ShapeMat& s, const NumberMat& m);
    // Checks that the loaded model is complete and consistent; reports the first fault.
    bool modelUsable();
    // True when every coordinate of s is finite.
    static bool isFinite(const ShapeMat& s);

    // Profile samples one matching pass of `level` compares.
    int64_t matchingWork(const ASMLevel& level) const;

    std::vector<Profiles> profiles;    // one per worker
    std::vector<bool> gradientRead;    // per model level: some profile is 2-D
    bool active = false;
    bool lastAlignmentDegenerate = false;
    bool lastSearchRefined = false;  // globalShape holds the refined shape
};

}  // namespace kvo
