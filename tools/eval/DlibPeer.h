#pragma once
// dlib beside the library: its HOG frontal face detector and its 68-point landmark
// predictor (iBUG 300-W layout), as every evaluator runs them on the same pictures.
//
// What it represents: the two dlib models loaded once, and the few ways the evaluators
// use them: the faces found in a picture, the predicted points inside one face as flat
// x0, y0, x1, y1, ... values (pixels), and which face lies nearest a known shape.
// Images are any dlib image, usually a dlib::cv_image over an OpenCV picture (grey or BGR).
//
// Thread safety: none; one thread per object (dlib's detector keeps scratch buffers).
#include <string>
#include <vector>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>

#include "eval/Files.h"

namespace kvo {
namespace eval {

class DlibPeer {
public:
    // Loads the detector and the predictor from `predictorPath`. Throws dlib's
    // serialization_error when the predictor cannot be read.
    explicit DlibPeer(const std::string& predictorPath = DLIB_SHAPE_PREDICTOR);

    // The faces dlib's detector finds (no upsampling), in its order.
    template <class Image>
    std::vector<dlib::rectangle> faces(const Image& image) {
        return detector_(image);
    }

    // Ensures: the predictor's 68 points inside `face`, 136 values in dlib's layout (pixels).
    template <class Image>
    std::vector<double> landmarks(const Image& image, const dlib::rectangle& face) {
        const dlib::full_object_detection d = predictor_(image, face);
        std::vector<double> xy(2 * d.num_parts());
        for (unsigned k = 0; k < d.num_parts(); ++k) {
            xy[2 * k] = d.part(k).x();
            xy[2 * k + 1] = d.part(k).y();
        }
        return xy;
    }

    // Requires: `shape` holds 68 points (136 values, pixels). Ensures: the index of the first
    // face whose centre is nearest the mean of the shape's points; -1 when `faces` is empty.
    static int nearestFace(const std::vector<dlib::rectangle>& faces, const double* shape);

private:
    dlib::frontal_face_detector detector_;
    dlib::shape_predictor predictor_;
};

}  // namespace eval
}  // namespace kvo
