#pragma once
// The objects that the named functions share: the one tracker, the frame source and
// image ROI created by kvo_init, and the two eye points of kvo_updateByEyes.
//
// The tracker and the eye points are created when the library is loaded and live
// until it is unloaded; the input and the image ROI are created by the first kvo_init.
//
// Thread safety: the host calls the named functions one at a time on one thread.
#include "extension/BitmapData.h"
#include "math/Point.h"
#include "math/Rectangle.h"
#include "tracker/Kestavo.h"

namespace kvo {
namespace extension {

Kestavo& tracker();
// Null until kvo_init has succeeded.
BitmapData* input();
Rectangle* imageRoi();
void setInitialized(BitmapData* in, Rectangle* roi);
PointPtr& eyePointA();
PointPtr& eyePointB();

}  // namespace extension
}  // namespace kvo
