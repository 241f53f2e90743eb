// Fuzzes the cascade loader: the input is the cascade text given to
// kvo::ViolaJones::init on a small frame, and a cascade that loads is then used for
// one scan and merge of a textured frame, so that feature rectangles and window sizes
// read from the text are exercised against the image bounds.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "detection/ViolaJones.h"
#include "image/ImageDataManager.h"
#include "image/InputData.h"
#include "math/Rectangle.h"

namespace {

// A 96 x 72 grey frame with some texture.
class Frame : public kvo::InputData {
public:
    Frame() : kvo::InputData(96, 72), pixels(96 * 72) {
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>((i * 37) ^ (i / 96 * 11));
    }
    unsigned char* getData() override { return pixels.data(); }
    std::vector<unsigned char> pixels;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = kvofuzz::silenceStandardOutput();
    (void)quiet;
    static Frame frame;
    static kvo::Rectangle roi(0, 0, 96, 72);
    // The image manager is sized once; the detector is made per input (init is meant
    // to run once per detector).
    static kvo::ImageDataManager* images = [] {
        auto* m = new kvo::ImageDataManager();
        m->init(&frame, &roi);
        return m;
    }();
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
