#pragma once
// Conversions between radians and degrees, as the library reports and limits poses.
//
// Thread safety: constants.

namespace kvo {

constexpr double DEGREES_PER_RADIAN = 57.29577951308232;     // 180 / pi, rounded to double
constexpr double RADIANS_PER_DEGREE = 0.017453292519943295;  // pi / 180, rounded to double

}  // namespace kvo
