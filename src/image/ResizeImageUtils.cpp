#include "image/ResizeImageUtils.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/FastMalloc.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// A table of MAX_THREADS null pointers, created at library load.
template <typename T>
T** allocatePointerTable() {
    T** table = static_cast<T**>(fastMalloc(sizeof(T*) * ResizeImageUtils::MAX_THREADS));
    if (table != nullptr) {
        for (int i = 0; i < ResizeImageUtils::MAX_THREADS; ++i) {
            table[i] = nullptr;
        }
    }
    return table;
}

// double -> int32 truncating toward zero; values that do not fit (and NaN) give INT32_MIN,
// as the x86 conversion instruction does, instead of undefined behaviour.
int32_t truncToInt32(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(v);
}

// The 32-bit two's-complement value of `v` shifted right arithmetically by 16, i.e. what
// (int32)v >> 16 gives on the library's targets, written without implementation-defined
// conversions or shifts.
int32_t signedHigh16(uint32_t v) {
    const int32_t high = static_cast<int32_t>(v >> 16);  // 0 .. 65535
    return high >= 32768 ? high - 65536 : high;
}

}  // namespace

pthread_t** ResizeImageUtils::THREADS = allocatePointerTable<pthread_t>();
ResizeThreadArgs** ResizeImageUtils::THREAD_ARGS = allocatePointerTable<ResizeThreadArgs>();
int ResizeImageUtils::parallelMinPixels = 512 * 512;

bool ResizeImageUtils::prepareThreadRecords() {
    if (THREADS == nullptr || THREAD_ARGS == nullptr) {
        Err("Resize worker tables are missing");
        return false;
    }
    for (int i = 0; i < MAX_THREADS; ++i) {
        if (THREADS[i] == nullptr) {
            void* handle = fastMalloc(sizeof(pthread_t));
            if (handle == nullptr) {
                return false;
            }
            std::memset(handle, 0, sizeof(pthread_t));
            THREADS[i] = static_cast<pthread_t*>(handle);
        }
        if (THREAD_ARGS[i] == nullptr) {
            void* record = fastMalloc(sizeof(ResizeThreadArgs));
            if (record == nullptr) {
                return false;
            }
            THREAD_ARGS[i] = new (record) ResizeThreadArgs();
        }
    }
    return true;
}

void ResizeImageUtils::runWorkers(void* (*body)(void*), const ResizeThreadArgs& model, ParkedWorkers* workers) {
    const int rows = model.destinationHeight;
    bool ready = THREADS != nullptr && THREAD_ARGS != nullptr;
    for (int i = 0; ready && i < MAX_THREADS; ++i) {
        ready = THREADS[i] != nullptr && THREAD_ARGS[i] != nullptr;
    }
    if (!ready) {
        // The image manager was never initialised: still produce the result, on this thread.
        Err("Resize workers are not prepared; resizing on the calling thread");
        ResizeThreadArgs all = model;
        all.firstRow = 0;
        all.endRow = rows;
        body(&all);
        return;
    }
    const int chunk = rows / MAX_THREADS;
    void* parts[MAX_THREADS];
    for (int i = 0; i < MAX_THREADS; ++i) {
        ResizeThreadArgs* args = THREAD_ARGS[i];
        *args = model;
        args->firstRow = i * chunk;
        args->endRow = (i == MAX_THREADS - 1) ? rows : (i + 1) * chunk;
        parts[i] = args;
    }
    const int64_t pixels = static_cast<int64_t>(rows) * model.destinationWidth;
    if (workers != nullptr && pixels >= parallelMinPixels) {
        workers->run(body, parts, MAX_THREADS);  // bands without a running worker run here
    } else {
        for (int i = 0; i < MAX_THREADS; ++i) body(parts[i]);
    }
}

// ---------------------------------------------------------------------------------------
// 2x2 reduction

void ResizeImageUtils::pyrDown(const uint8_t* source, uint8_t* destination, int destinationWidth,
                               int destinationHeight, int sourceWidth, ParkedWorkers* workers) {
    if (destinationWidth <= 0 || destinationHeight <= 0) {
        return;
    }
    if (sourceWidth <= 0) {
        sourceWidth = 2 * destinationWidth;
    }
    if (source == nullptr || destination == nullptr || sourceWidth / 2 < destinationWidth) {
        Err("Invalid 2x2 reduction: the source does not cover the destination");
        return;
    }
    ResizeThreadArgs model;
    model.source = source;
    model.destination = destination;
    model.sourceWidth = sourceWidth;
    model.sourceHeight = 2 * destinationHeight;
    model.destinationWidth = destinationWidth;
    model.destinationHeight = destinationHeight;
    runWorkers(&ResizeImageUtils::pyrDown_thread, model, workers);
}

void* ResizeImageUtils::pyrDown_thread(void* argsPtr) {
    const ResizeThreadArgs& args = *static_cast<const ResizeThreadArgs*>(argsPtr);
    const std::size_t stride = static_cast<std::size_t>(args.sourceWidth);
    const int width = args.destinationWidth;
    for (int y = args.firstRow; y < args.endRow; ++y) {
        const uint8_t* top = args.source + 2 * static_cast<std::size_t>(y) * stride;
        const uint8_t* bottom = top + stride;
        uint8_t* out = args.destination + static_cast<std::size_t>(y) * width;
        int x = 0;
#if defined(__SSE2__)
        // 16 destination pixels from 32 bytes of each source row: sum the byte pairs of
        // both rows in 16-bit lanes, shift by 2, pack back to bytes.
        const __m128i lowBytes = _mm_set1_epi16(0x00FF);
        for (; x + 16 <= width; x += 16) {
            const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x));
            const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x + 16));
            const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x));
            const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x + 16));
            const __m128i s0 = _mm_add_epi16(
                _mm_add_epi16(_mm_and_si128(t0, lowBytes), _mm_srli_epi16(t0, 8)),
                _mm_add_epi16(_mm_and_si128(b0, lowBytes), _mm_srli_epi16(b0, 8)));
            const __m128i s1 = _mm_add_epi16(
                _mm_add_epi16(_mm_and_si128(t1, lowBytes), _mm_srli_epi16(t1, 8)),
                _mm_add_epi16(_mm_and_si128(b1, lowBytes), _mm_srli_epi16(b1, 8)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                             _mm_packus_epi16(_mm_srli_epi16(s0, 2), _mm_srli_epi16(s1, 2)));
        }
#endif
        for (; x < width; ++x) {
            out[x] = static_cast<uint8_t>(
                (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1]) >> 2);
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Affine nearest-neighbour resampling

bool ResizeImageUtils::resizeNearestNeighborGray(const uint8_t* source, int sourceWidth,
                                                 int sourceHeight, uint8_t* destination,
                                                 int destinationWidth, int destinationHeight,
                                                 const Matrix& matrix, ParkedWorkers* workers) {
    if (!std::isfinite(matrix.a) || !std::isfinite(matrix.d) || !std::isfinite(matrix.tx) ||
        !std::isfinite(matrix.ty) || matrix.a == 0.0 || matrix.d == 0.0) {
        Err("Invalid resampling transform: a and d must be finite and non-zero, tx and ty finite");
        return false;
    }
    if (source == nullptr || sourceWidth <= 0 || sourceHeight <= 0 || destination == nullptr) {
        Err("Invalid resampling: no source or destination pixels");
        return false;
    }
    if (destinationWidth <= 0 || destinationHeight <= 0) {
        return true;
    }
    ResizeThreadArgs model;
    model.source = source;
    model.destination = destination;
    model.sourceWidth = sourceWidth;
    model.sourceHeight = sourceHeight;
    model.destinationWidth = destinationWidth;
    model.destinationHeight = destinationHeight;
    model.matrix = &matrix;
    runWorkers(&ResizeImageUtils::resizeNearestNeighborGray_thread, model, workers);
    return true;
}

void* ResizeImageUtils::resizeNearestNeighborGray_thread(void* argsPtr) {
    const ResizeThreadArgs& args = *static_cast<const ResizeThreadArgs*>(argsPtr);
    const Matrix& m = *args.matrix;
    // 16.16 fixed-point source steps per destination pixel. The products r * stepY and
    // c * stepX wrap in 32 bits (unsigned here, so the wrap is defined).
    const uint32_t stepX = static_cast<uint32_t>(truncToInt32(65536.0 / m.a)) + 1u;
    const uint32_t stepY = static_cast<uint32_t>(truncToInt32(65536.0 / m.d)) + 1u;
    const int64_t offX = truncToInt32(-m.tx / m.a);
    const int64_t offY = truncToInt32(-m.ty / m.d);
    // Flat indices are formed in 64 bits: they cannot overflow, and any index outside
    // (0, width x height) is never read.
    const int64_t width = args.sourceWidth;
    const int64_t total = width * args.sourceHeight;
    const int columns = args.destinationWidth;
    // True when c * stepX stays below 2^31 for every column (no sign change, no wrap).
    const bool stepsStayPositive =
        stepX < 0x80000000u &&
        static_cast<uint64_t>(stepX) * static_cast<uint64_t>(columns > 0 ? columns - 1 : 0) < 0x80000000u;
    for (int r = args.firstRow; r < args.endRow; ++r) {
        uint8_t* out = args.destination + static_cast<std::size_t>(r) * columns;
        const uint32_t rowPosition = static_cast<uint32_t>(r) * stepY;
        const int64_t rowStart = signedHigh16(rowPosition) * width + offY * width + offX;
        if (rowStart <= 0 || rowStart >= total) {
            std::memset(out, 128, static_cast<std::size_t>(columns));
            continue;
        }
        if (stepsStayPositive) {
            // Column offsets grow from 0 without wrapping and rowStart > 0, so every index
            // is positive; only the end of the source can be crossed, once.
            const uint8_t* row = args.source + rowStart;
            const int64_t available = total - rowStart;  // pixels from rowStart to the end
            uint32_t columnPosition = 0;
            int c = 0;
            for (; c < columns && static_cast<int64_t>(columnPosition >> 16) < available;
                 ++c, columnPosition += stepX) {
                out[c] = row[columnPosition >> 16];
            }
            for (; c < columns; ++c) {
                out[c] = 255;
            }
            continue;
        }
        uint32_t columnPosition = 0;
        for (int c = 0; c < columns; ++c, columnPosition += stepX) {
            const int64_t i = rowStart + signedHigh16(columnPosition);
            out[c] = (i > 0 && i < total) ? args.source[i] : 255;
        }
    }
    return nullptr;
}

}  // namespace kvo
