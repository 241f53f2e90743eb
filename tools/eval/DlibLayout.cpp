#include "eval/DlibLayout.h"

namespace kvo {
namespace eval {

EyeCentres dlibEyeCentres(const double* s) {
    EyeCentres e;
    for (int k = 0; k < 6; ++k) {
        e.leftX += s[2 * (36 + k)] / 6;
        e.leftY += s[2 * (36 + k) + 1] / 6;
        e.rightX += s[2 * (42 + k)] / 6;
        e.rightY += s[2 * (42 + k) + 1] / 6;
    }
    return e;
}

}  // namespace eval
}  // namespace kvo
