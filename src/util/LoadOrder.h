#pragma once
// The order in which the library's statics are created when it is loaded.
//
// Statics of different translation units are otherwise created in an unspecified
// order; the tracker created at load needs the mode names, the resize thread tables,
// the code tables, the matrix and profile scratch and the landmark tables to exist
// first. Each such static is tagged with its rank here (lower ranks first; statics
// without a tag come after all tagged ones).
#define KVO_LOAD_ORDER(rank) __attribute__((init_priority(rank)))

#define KVO_ORDER_MODE_NAMES 1001
#define KVO_ORDER_RESIZE_TABLES 1002
#define KVO_ORDER_CASCADE_TABLE 1003
#define KVO_ORDER_MATRIX_SCRATCH 1004
#define KVO_ORDER_PROFILE_SCRATCH 1005
#define KVO_ORDER_SHAPE_MODEL_TABLE 1006
#define KVO_ORDER_LANDMARK_TABLES 1007
#define KVO_ORDER_CANDIDE_TABLE 1008
#define KVO_ORDER_TRACKER 1009
#define KVO_ORDER_EYE_POINTS 1010
#define KVO_ORDER_REFINER_TABLE 1011
