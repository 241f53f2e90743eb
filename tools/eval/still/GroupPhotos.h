#pragma once
// Group photos with every annotated face: how many faces kestavo's still settings find
// with a shape on them, beside dlib's detector and predictor on the same photos.
//
// What it represents: the measurement of finding every face in ordinary photos (a folder
// of `<photo>.jpg` with `<photo>_<k>.pts` for its annotated faces, dlib's 68-point layout,
// 1-based pixels). Each photo goes through trackPicture() as the kestavo program runs it.
// A face counts as found when a tracked shape lies within 0.10 of it on the 17 core
// points (divided by its hand-placed outer-eye distance); each shape counts for one face
// at most (nearest pairs first). A tracked shape that is found for no face is "on no
// annotated face" when its centre lies outside every annotated face's point extent
// (possibly an unannotated face: not every face of these photos is annotated), else
// "off its face". dlib: its HOG detector with the picture upsampled once and its
// 68-point predictor, scored alike, on a second thread while ours runs (ours' time is
// reported only by the timing mode, not here).
//
// Thread safety: none.
#include <cstdio>
#include <string>

#include "StillEvalRun.h"

namespace kvo {
namespace app {

// Returns the exit status (0; 1 when the folder holds no photo with annotations).
// Uses run's settings, library, refine, withDlib, perPicture (one line per photo) and
// perFace (one line per tracked shape).
int groupPhotos(const StillEvalRun& run, const std::string& dir);

}  // namespace app
}  // namespace kvo
