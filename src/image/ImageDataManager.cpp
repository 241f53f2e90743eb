#include "image/ImageDataManager.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "image/ResizeImageUtils.h"
#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// A rectangle's truncated integer geometry, or invalid when a value is not finite or too
// large to be a pixel coordinate.
struct PixelRect {
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;
    bool valid = false;
};

PixelRect truncated(const Rectangle& r) {
    const double limit = 1e15;  // far beyond any image, well inside int64
    PixelRect p;
    for (double v : {r.x, r.y, r.width, r.height}) {
        if (!(std::fabs(v) < limit)) {
            return p;
        }
    }
    p.x = static_cast<int64_t>(r.x);
    p.y = static_cast<int64_t>(r.y);
    p.width = static_cast<int64_t>(r.width);
    p.height = static_cast<int64_t>(r.height);
    p.valid = true;
    return p;
}

// The whole-frame copy reads only the input, whatever x and y are.
bool coversWholeInput(const PixelRect& p, int64_t iw, int64_t ih) {
    return p.valid && p.width == iw && p.height == ih;
}

bool insideInput(const PixelRect& p, int64_t iw, int64_t ih) {
    return p.valid && p.width > 0 && p.height > 0 && p.x >= 0 && p.y >= 0 &&
           p.x + p.width <= iw && p.y + p.height <= ih;
}

std::string describe(const Rectangle& r) {
    return "(" + to_string(r.x) + ", " + to_string(r.y) + ", " + to_string(r.width) + ", " +
           to_string(r.height) + ")";
}

// Makes `roi` lie inside an iw x ih input: clamps it, or replaces an empty one by the
// whole input. Each change is reported.
void fitToInput(Rectangle& roi, int64_t iw, int64_t ih) {
    const PixelRect p = truncated(roi);
    if (coversWholeInput(p, iw, ih) || insideInput(p, iw, ih)) {
        return;
    }
    const std::string input = std::to_string(iw) + " x " + std::to_string(ih) + " input";
    if (p.valid) {
        const int64_t x0 = std::max<int64_t>(p.x, 0);
        const int64_t y0 = std::max<int64_t>(p.y, 0);
        const int64_t x1 = std::min<int64_t>(p.x + p.width, iw);
        const int64_t y1 = std::min<int64_t>(p.y + p.height, ih);
        if (x1 > x0 && y1 > y0) {
            const Rectangle clamped(static_cast<double>(x0), static_cast<double>(y0),
                                    static_cast<double>(x1 - x0), static_cast<double>(y1 - y0));
            Err("Image ROI " + describe(roi) + " reaches outside the " + input + "; clamped to " +
                describe(clamped));
            roi = clamped;
            return;
        }
    }
    Err("Image ROI " + describe(roi) + " has no pixels inside the " + input +
        "; using the whole input");
    roi = Rectangle(0.0, 0.0, static_cast<double>(iw), static_cast<double>(ih));
}

void swapBuffers(ImageData& a, ImageData& b) { std::swap(a.data, b.data); }

}  // namespace

ImageDataManager::~ImageDataManager() {
    gradientRowBuffer.release();
    for (int k = ASM_LEVELS - 1; k >= 0; --k) {
        asmGradient[k].release();
        asmCurrent[k].release();
        asmPrevious[k].release();
    }
    asmFrame.release();
    squaredIntegralImage.release();
    integralImage.release();
    for (int k = FRAME_LEVELS - 1; k >= 0; --k) {
        frameCurrent[k].release();
        framePrevious[k].release();
    }
}

void ImageDataManager::init(InputData* input, Rectangle* givenRoi) {
    if (input == nullptr || input->width == 0 || input->height == 0 ||
        input->width > static_cast<uint32_t>(INT32_MAX) ||
        input->height > static_cast<uint32_t>(INT32_MAX)) {
        Err("Image manager needs an input frame of non-zero size");
        return;
    }
    inputData = input;
    if (givenRoi == nullptr) {
        wholeInput = Rectangle(0.0, 0.0, static_cast<double>(input->width),
                               static_cast<double>(input->height));
        roi = &wholeInput;
    } else {
        roi = givenRoi;
        fitToInput(*roi, input->width, input->height);
    }

    uint32_t w = static_cast<uint32_t>(static_cast<int32_t>(roi->width));
    uint32_t h = static_cast<uint32_t>(static_cast<int32_t>(roi->height));
    for (int k = 0; k < FRAME_LEVELS; ++k) {
        const double scale = 1.0 / static_cast<double>(1 << k);
        framePrevious[k].init(w, h, scale);
        frameCurrent[k].init(w, h, scale);
        w >>= 1;
        h >>= 1;
    }
    ResizeImageUtils::prepareThreadRecords();
}

void ImageDataManager::initASM() {
    gradientRowBuffer.init(GRADIENT_ROW_LENGTH, 1, 1.0);
    asmFrame.init(ASM_FRAME_SIZE, ASM_FRAME_SIZE, 1.0);
    for (int k = 0; k < ASM_LEVELS; ++k) {
        const uint32_t size = ASM_FRAME_SIZE >> k;
        const double scale = 1.0 / static_cast<double>(1 << k);
        asmPrevious[k].init(size, size, scale);
        asmCurrent[k].init(size, size, scale);
        asmGradient[k].init(size, size, scale);
    }
}

void ImageDataManager::update(int levels) {
    if (inputData == nullptr || roi == nullptr || !frameCurrent[0].initialized ||
        !framePrevious[0].initialized) {
        Err("Image manager is not initialised; frame skipped");
        return;
    }
    const uint8_t* frame = inputData->getData();
    if (frame == nullptr) {
        Err("The input holds no frame; frame skipped");
        return;
    }
    const int64_t iw = inputData->width;
    const int64_t ih = inputData->height;
    const PixelRect r = truncated(*roi);
    const bool whole = coversWholeInput(r, iw, ih);
    if (!whole && !insideInput(r, iw, ih)) {
        Err("Image ROI " + describe(*roi) + " does not lie inside the " + std::to_string(iw) +
            " x " + std::to_string(ih) + " input; frame skipped");
        return;
    }

    for (int k = 0; k < FRAME_LEVELS; ++k) {
        swapBuffers(framePrevious[k], frameCurrent[k]);
    }

    ImageData& level0 = frameCurrent[0];
    if (whole && level0.width == iw && level0.height == ih) {
        std::memcpy(level0.data, frame, static_cast<std::size_t>(iw * ih));
    } else {
        // Row by row; never more than the level-0 buffer holds (it keeps the size the ROI
        // had at init).
        const int64_t columns = std::min<int64_t>(r.width, level0.width);
        const int64_t rows = std::min<int64_t>(r.height, level0.height);
        const uint8_t* src = frame + (whole ? 0 : r.y * iw + r.x);
        uint8_t* dst = level0.data;
        for (int64_t y = 0; y < rows; ++y, src += iw, dst += level0.width) {
            std::memcpy(dst, src, static_cast<std::size_t>(columns));
        }
    }

    const int top = std::min(levels, FRAME_LEVELS - 1);
    for (int k = 1; k <= top; ++k) {
        ResizeImageUtils::pyrDown(frameCurrent[k - 1].data, frameCurrent[k].data,
                                  static_cast<int>(frameCurrent[k].width),
                                  static_cast<int>(frameCurrent[k].height),
                                  static_cast<int>(frameCurrent[k - 1].width), workers);
    }
}

void ImageDataManager::updateASMPyramid(Matrix& matrix) {
    bool ready = inputData != nullptr && asmFrame.initialized;
    for (int k = 0; ready && k < ASM_LEVELS; ++k) {
        ready = asmPrevious[k].initialized && asmCurrent[k].initialized;
    }
    if (!ready) {
        Err("Shape-search images are not initialised; resampling skipped");
        return;
    }
    const uint8_t* frame = inputData->getData();
    if (frame == nullptr) {
        Err("The input holds no frame; resampling skipped");
        return;
    }
    if (!ResizeImageUtils::resizeNearestNeighborGray(
            frame, static_cast<int>(inputData->width), static_cast<int>(inputData->height),
            asmFrame.data, static_cast<int>(asmFrame.width), static_cast<int>(asmFrame.height),
            matrix, workers)) {
        return;
    }
    for (int k = 0; k < ASM_LEVELS; ++k) {
        swapBuffers(asmPrevious[k], asmCurrent[k]);
    }
    const std::size_t bytes = static_cast<std::size_t>(asmFrame.width) * asmFrame.height;
    if (bytes != 0) {
        std::memcpy(asmCurrent[0].data, asmFrame.data, bytes);
    }
    for (int k = 1; k < ASM_LEVELS; ++k) {
        ResizeImageUtils::pyrDown(asmCurrent[k - 1].data, asmCurrent[k].data,
                                  static_cast<int>(asmFrame.width >> k),
                                  static_cast<int>(asmFrame.height >> k),
                                  static_cast<int>(asmCurrent[k - 1].width), workers);
    }
}

}  // namespace kvo
