#include "tracker/KVOModeState.h"

#include "util/LoadOrder.h"

namespace kvo {

// Created first at library load: the tracker built at load compares against them.
const std::string KVOMode::POINT_TRACKING KVO_LOAD_ORDER(KVO_ORDER_MODE_NAMES) = "mode_point_tracking";
const std::string KVOMode::FACE_DETECTION KVO_LOAD_ORDER(KVO_ORDER_MODE_NAMES) = "mode_face_detection";
const std::string KVOMode::FACE_TRACKING KVO_LOAD_ORDER(KVO_ORDER_MODE_NAMES) = "mode_face_tracking";
const std::string KVOState::FACE_DETECTION KVO_LOAD_ORDER(KVO_ORDER_MODE_NAMES) = "state_face_detection";
const std::string KVOState::FACE_TRACKING_START KVO_LOAD_ORDER(KVO_ORDER_MODE_NAMES) = "state_face_tracking_start";
const std::string KVOState::FACE_TRACKING KVO_LOAD_ORDER(KVO_ORDER_MODE_NAMES) = "state_face_tracking";
const std::string KVOState::POINT_TRACKING KVO_LOAD_ORDER(KVO_ORDER_MODE_NAMES) = "state_point_tracking";
const std::string KVOState::RESET KVO_LOAD_ORDER(KVO_ORDER_MODE_NAMES) = "state_reset";

}  // namespace kvo
