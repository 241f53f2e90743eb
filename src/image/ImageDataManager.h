#pragma once
// Owner of every pixel buffer of the tracker.
//
// What it represents: the region of interest (ROI) of the input frame and three groups of
// images:
//  - the frame pyramid: four levels (ROI size >> k, scale 2^-k), each with the previous
//    and the current frame, used by face detection and point tracking;
//  - the detector's integral and squared integral images (sized by the detector);
//  - the shape-search pyramid: the 480 x 480 resampling target `asmFrame` and levels of
//    480, 240, 120 and 60 pixels square, each with previous and current frame and a
//    gradient image, plus the gradient pass's row buffer.
// Previous and current are roles: each refresh exchanges the two buffers' pointers, so
// the object frameCurrent[k] (and any pointer to it) always shows the newest frame.
// All buffers are allocated once (init, initASM, the detector's init); the per-frame
// calls only exchange pointers, copy and compute.
//
// Thread safety: none. Use from the host's calling thread only; the reductions and the
// resampling may hand bands of rows to `workers` (the tracker's parked workers) inside
// the call, through ResizeImageUtils' shared tables.
#include "image/ImageData.h"
#include "image/InputData.h"
#include "math/Matrix.h"
#include "math/Rectangle.h"
#include "util/ParkedWorkers.h"

namespace kvo {

class ImageDataManager {
public:
    static constexpr int FRAME_LEVELS = 4;            // levels of the frame pyramid
    static constexpr int ASM_LEVELS = 4;              // levels of the shape-search pyramid
    static constexpr uint32_t ASM_FRAME_SIZE = 480;   // pixels, width and height of level 0
    static constexpr uint32_t GRADIENT_ROW_LENGTH = 1920;  // integers in gradientRowBuffer

    ImageDataManager() = default;
    ~ImageDataManager();
    ImageDataManager(const ImageDataManager&) = delete;
    ImageDataManager& operator=(const ImageDataManager&) = delete;

    // Keeps `input` (not owned) and the ROI, and allocates the frame pyramid and the
    // worker records.
    // Requires: `input` non-null with a non-zero size (otherwise reports, does nothing).
    // `roi` may be null: the manager then uses its own rectangle covering the whole input.
    // Ensures: the ROI lies inside the input: a ROI reaching outside is clamped to the
    // input in place (reported); one that is empty after clamping is replaced in place by
    // the whole input (reported). A ROI whose truncated size equals the input's is kept
    // as it is (it is copied as the whole frame, whatever its x and y).
    void init(InputData* input, Rectangle* roi);

    // Allocates the gradient row buffer and the shape-search pyramid.
    void initASM();

    // Exchanges previous and current frames on all four levels, copies the ROI of the
    // input's grey frame into frameCurrent[0], then rebuilds levels 1 .. min(levels, 3)
    // by 2x2 reduction (levels <= 0: level 0 only).
    // Requires: init done. A missing frame, or a ROI that no longer lies inside the
    // input, is reported and leaves every image unchanged.
    void update(int levels);

    // Resamples the whole input frame into asmFrame under `matrix` (x' = a x + tx,
    // y' = d y + ty; b and c unused), exchanges previous and current on the four
    // shape-search levels, copies asmFrame into asmCurrent[0] and reduces it into levels
    // 1 .. 3.
    // Requires: init and initASM done; a, d finite and non-zero, tx, ty finite.
    // Otherwise reports and leaves every image unchanged.
    void updateASMPyramid(Matrix& matrix);

    InputData* inputData = nullptr;  // frame source, not owned
    Rectangle* roi = nullptr;        // ROI in input pixels
    ImageData framePrevious[FRAME_LEVELS];
    ImageData frameCurrent[FRAME_LEVELS];
    ImageDataInt integralImage;
    ImageDataInt squaredIntegralImage;
    ImageData* detectionImage = nullptr;  // set by the detector; one of frameCurrent
    ImageData asmFrame;
    ImageData asmPrevious[ASM_LEVELS];
    ImageData asmCurrent[ASM_LEVELS];
    ImageDataInt asmGradient[ASM_LEVELS];
    ImageDataInt gradientRowBuffer;
    // Parked workers the reductions and the resampling may use (not owned; null: all on
    // the calling thread).
    ParkedWorkers* workers = nullptr;

private:
    Rectangle wholeInput;  // the ROI used when init is given none
};

}  // namespace kvo
