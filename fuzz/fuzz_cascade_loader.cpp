// Fuzzes the cascade loader: the input is the cascade text given to
// kvo::ViolaJones::init on a small frame, and a cascade that loads is then used for
// one scan and merge of a textured frame, so that feature rectangles and window sizes
// read from the text are exercised against the image bounds.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzImages.h"
#include "FuzzInput.h"
#include "detection/ViolaJones.h"
#include "math/Rectangle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvofuzz::silenceStandardOutputOnce();
    // The image manager is sized once; the detector is made per input (init is meant
    // to run once per detector).
    kvo::ImageDataManager* images = &kvofuzz::imagesOnce(96, 72, true, false);
    std::string text(reinterpret_cast<const char*>(data), size);
    kvo::ViolaJones detector(*images);
    detector.init(&text[0]);
    detector.startScale = 1.0;
    detector.maxScale = 4.0;
    detector.stepFactor = 0.1;
    images->update(0);
    std::vector<std::shared_ptr<kvo::Rectangle>> faces;
    detector.detect(faces);
    detector.merge(faces);
    return 0;
}
