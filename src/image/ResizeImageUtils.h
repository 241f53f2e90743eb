#pragma once
// The threaded resampling routines of the image pipeline: the 2x2 reduction of a
// pyramid level and the nearest-neighbour affine resampling of the input frame into the
// shape-search frame.
//
// What it represents: static routines sharing one table of MAX_THREADS thread handles
// (kept for the records' layout; the routines start no thread themselves) and one of
// MAX_THREADS argument records. Each call splits the destination rows into MAX_THREADS
// disjoint bands, one per record. Given parked workers (the tracker's) and at least
// parallelMinPixels destination pixels, the calling thread does the first band and the
// parked workers the others; otherwise the calling thread does all of them, in order.
// Either way every band is finished when the call returns. The tables themselves are created at
// library load; their entries by ImageDataManager::init (prepareThreadRecords).
//
// Thread safety: the tables are shared by the whole process, so only one reduction or
// resampling may run at a time. Two trackers in one process must therefore not resize
// concurrently: a tracker in face tracking or point tracking mode resizes on every
// update, so two such trackers must not update at the same time (trackers that only
// detect faces never resize). Call only from the host's calling thread.
#include <pthread.h>

#include <cstdint>

#include "math/Matrix.h"
#include "util/ParkedWorkers.h"

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

    // The smallest destination, in pixels, that is split over parked workers; smaller ones
    // are resized on the calling thread alone. Chosen by measurement on the 2-core
    // development machine (shared): handing a band to a parked worker and waiting for it
    // costs about 10 us while the worker is busy in the frame and 30 to 55 us after it
    // slept (bench_workers), and the 480 x 480 resampling with its three reductions took
    // 136 us median on the calling thread against 182 us split (bench_tracking_stages
    // --workers calling / parked). So the shape-search pyramid stays on the calling thread,
    // and only destinations larger than it (frame pyramids of large point-tracking frames)
    // are split.
    static int parallelMinPixels;

    // Allocates the zeroed thread handles and argument records once (later calls keep
    // the existing ones). Returns false, after reporting, when they cannot be allocated.
    static bool prepareThreadRecords();

    // 2x2 box reduction: destination[y][x] = (sum of source pixels (2x..2x+1, 2y..2y+1)) >> 2.
    // Requires: the source holds at least 2 x destinationHeight rows of sourceWidth bytes
    // and sourceWidth >= 2 x destinationWidth; sourceWidth <= 0 means 2 x destinationWidth.
    // A source with an odd width is read with its own row length, its last column unused.
    // The destination rows are destinationWidth bytes long.
    // `workers`: parked workers for large destinations; null, or none running, resizes on
    // the calling thread.
    static void pyrDown(const uint8_t* source, uint8_t* destination, int destinationWidth,
                        int destinationHeight, int sourceWidth = 0, ParkedWorkers* workers = nullptr);

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
                                          const Matrix& matrix, ParkedWorkers* workers = nullptr);

    // Worker bodies; `args` is a ResizeThreadArgs*. Both return null.
    static void* pyrDown_thread(void* args);
    static void* resizeNearestNeighborGray_thread(void* args);

private:
    // Fills the argument records from `model` with the row split of destinationHeight
    // and runs `body` on every band: on the calling thread and `workers` when the
    // destination holds at least parallelMinPixels pixels and workers run, otherwise all
    // on the calling thread. Every band is finished on return.
    static void runWorkers(void* (*body)(void*), const ResizeThreadArgs& model, ParkedWorkers* workers);
};

}  // namespace kvo
