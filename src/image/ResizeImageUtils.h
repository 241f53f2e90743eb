#pragma once
// The threaded resampling routines of the image pipeline: the 2x2 reduction of a
// pyramid level and the nearest-neighbour affine resampling of the input frame into the
// shape-search frame.
//
// What it represents: static routines sharing one table of MAX_THREADS thread handles
// and one of MAX_THREADS argument records. Each call fills the records, starts all the
// workers (each on a disjoint band of destination rows), then joins them in index order;
// no worker outlives the call. The tables themselves are created at library load; their
// entries by ImageDataManager::init (prepareThreadRecords).
//
// Thread safety: the tables are shared by the whole process, so only one reduction or
// resampling may run at a time. Two trackers in one process must therefore not resize
// concurrently: a tracker in face tracking or point tracking mode resizes on every
// update, so two such trackers must not update at the same time (trackers that only
// detect faces never resize). Call only from the host's calling thread.
#include <pthread.h>

#include <cstdint>

#include "math/Matrix.h"

namespace kvo {

// Argument record of one worker. Sizes in pixels; rows [firstRow, endRow) of the
// destination belong to this worker.
struct ResizeThreadArgs {
    const uint8_t* source = nullptr;
    uint8_t* destination = nullptr;
    int sourceWidth = 0;
    int sourceHeight = 0;
    int destinationWidth = 0;
    int destinationHeight = 0;
    const Matrix* matrix = nullptr;  // resampling only; reads a, d, tx, ty
    int firstRow = 0;
    int endRow = 0;  // exclusive
};

class ResizeImageUtils {
public:
    static constexpr int MAX_THREADS = 2;
    static pthread_t** THREADS;               // MAX_THREADS handles
    static ResizeThreadArgs** THREAD_ARGS;    // MAX_THREADS argument records

    // Allocates the zeroed thread handles and argument records once (later calls keep
    // the existing ones). Returns false, after reporting, when they cannot be allocated.
    static bool prepareThreadRecords();

    // 2x2 box reduction: destination[y][x] = (sum of source pixels (2x..2x+1, 2y..2y+1)) >> 2.
    // Requires: the source holds at least 2 x destinationHeight rows of sourceWidth bytes
    // and sourceWidth >= 2 x destinationWidth; sourceWidth <= 0 means 2 x destinationWidth.
    // A source with an odd width is read with its own row length, its last column unused.
    // The destination rows are destinationWidth bytes long.
    static void pyrDown(const uint8_t* source, uint8_t* destination, int destinationWidth,
                        int destinationHeight, int sourceWidth = 0);

    // Nearest-neighbour resampling of a sourceWidth x sourceHeight grey image into a
    // destinationWidth x destinationHeight image under x' = a x + tx, y' = d y + ty
    // (16.16 fixed-point stepping through the source's flat index). Destination rows whose
    // source row start lies outside the source are 128; pixels whose flat index lies
    // outside the source (index 0 included) are 255.
    // Requires: a and d finite and non-zero, tx and ty finite, a non-null source of
    // non-zero size; otherwise it reports, leaves the destination unchanged and returns
    // false.
    static bool resizeNearestNeighborGray(const uint8_t* source, int sourceWidth,
                                          int sourceHeight, uint8_t* destination,
                                          int destinationWidth, int destinationHeight,
                                          const Matrix& matrix);

    // Worker bodies; `args` is a ResizeThreadArgs*. Both return null.
    static void* pyrDown_thread(void* args);
    static void* resizeNearestNeighborGray_thread(void* args);

private:
    // Fills the argument records from `model` with the row split of destinationHeight,
    // starts every worker running `body`, then joins them in index order (a worker that
    // cannot be started does its rows on the calling thread).
    static void runWorkers(void* (*body)(void*), const ResizeThreadArgs& model);
};

}  // namespace kvo
