#include "asm/ASMLevel.h"

namespace kvo {

ASMLevel::ASMLevel(int lev, ImageData* img, ImageDataInt* grad)
    : level(lev),
      image(img),
      gradient(grad),
      nMaxSearchIters(0),
      nQualifyingDisp(0),
      nEigs(0),
      nEigsFinal(0),
      BMax(0.0),
      BMaxFinal(0.0) {}

}  // namespace kvo
