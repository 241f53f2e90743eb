#pragma once
// The tracker's mode and state names.
//
// What it represents: the texts the host passes to select a mode and receives as the
// tracker's state. They are plain strings compared by equality, created once when
// the library is loaded.
//
// Thread safety: immutable after library load.
#include <string>

namespace kvo {

struct KVOMode {
    static const std::string FACE_DETECTION;  // "mode_face_detection"
    static const std::string FACE_TRACKING;   // "mode_face_tracking"
    static const std::string POINT_TRACKING;  // "mode_point_tracking"
};

struct KVOState {
    static const std::string FACE_DETECTION;       // "state_face_detection"
    static const std::string FACE_TRACKING_START;  // "state_face_tracking_start"
    static const std::string FACE_TRACKING;        // "state_face_tracking"
    static const std::string POINT_TRACKING;       // "state_point_tracking"
    static const std::string RESET;                // "state_reset"
};

}  // namespace kvo
