#pragma once
// The per-frame records of a run, one JSON object a line.
//
// What it represents: an open JSON Lines file. Each record holds the frame index, its
// time in seconds (null for stills), the library's state, last and next state,
// "tracked" (true only in "state_face_tracking": a start-phase shape is not yet
// confirmed), and then, as the frame warrants: the 68 landmarks as [x, y] pairs and
// their bounds (null unless a shape search ran this frame, the start phase included),
// the Candide pose (scale, translations
// in pixels, rotations in radians; null unless the tracker is past its start phase
// with Candide on), the projected Candide vertices (when asked), the detected face
// and the number of raw detections (when a detection pass ran), the tracked points
// with their states, and the milliseconds the host measured for kvo_update
// ("update_ms") and for the getters ("getters_ms").
//
// Thread safety: none.
#include <cstdio>
#include <string>

#include "HostTracker.h"

namespace kvo {
namespace app {

// `text` as the inside of a JSON string: quotes, backslashes and control characters escaped.
std::string jsonEscaped(const std::string& text);

class JsonLinesWriter {
public:
    // Requires: `path` writable (throws AppError otherwise).
    JsonLinesWriter(const std::string& path, bool candideVertices);
    ~JsonLinesWriter();
    JsonLinesWriter(const JsonLinesWriter&) = delete;
    JsonLinesWriter& operator=(const JsonLinesWriter&) = delete;

    // `timeSeconds` < 0 writes null.
    void write(long frame, double timeSeconds, const FrameResult& r);
    // One still picture tracked as a scene of its own: its index among the pictures, its
    // file and size (pixels), what became of it ("tracked", "rejected", "not_found",
    // "detected"), the kvo_update calls given and their total milliseconds, and the last
    // frame's fields in picture pixels, with "face" (the face's start box) and
    // "raw_detections" (every window of the picture's finding scans) from `detection`.
    // One record per face of a picture: "face_index" its place among the picture's faces
    // (`faceIndex`, 0 the strongest), "score" its score and "settle" how far its pupils
    // moved at the last restart, in pupil distances (null when none ran: NaN); a picture
    // without a face gets one record with faceIndex -1, all three written as null.
    void writePicture(long picture, const std::string& path, int width, int height, int faceIndex, double score,
                      double settle, const char* outcome, int frames, double updateMs, const FrameResult& r,
                      const FrameResult& detection);
    // A still picture of the run that could not be read or decoded: its index among the
    // pictures, its file, outcome "unreadable" and the reason (`why`, e.g. "cannot be
    // decoded"); no size, no state, no shape, no detection pass ("frames" 0).
    void writeSkippedPicture(long picture, const std::string& path, const std::string& why);
    // Flushes and closes. Throws AppError when the data could not be written.
    void close();

private:
    // The result's fields; the detected face and raw-detection count of `detection`
    // when given.
    void writeFields(const FrameResult& r, const FrameResult* detection);

    FILE* file_ = nullptr;
    std::string path_;
    bool candideVertices_;
};

// The pose is meaningful only once the Candide fit runs: after the start phase.
bool hasPose(const FrameResult& r, bool candideEnabled);

}  // namespace app
}  // namespace kvo
