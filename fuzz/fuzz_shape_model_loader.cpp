// Fuzzes the shape-model loader: the input is the JSON text given to
// kvo::ASMModel::readASM with a shape-search pyramid in place.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "asm/ASMModel.h"
#include "asm/ASMModelConfig.h"
#include "image/ImageDataManager.h"
#include "image/InputData.h"
#include "math/Rectangle.h"

namespace {

class Frame : public kvo::InputData {
public:
    Frame() : kvo::InputData(64, 48), pixels(64 * 48, 128) {}
    unsigned char* getData() override { return pixels.data(); }
    std::vector<unsigned char> pixels;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = kvofuzz::silenceStandardOutput();
    (void)quiet;
    static Frame frame;
    static kvo::Rectangle roi(0, 0, 64, 48);
    static kvo::ImageDataManager* images = [] {
        auto* m = new kvo::ImageDataManager();
        m->init(&frame, &roi);
        m->initASM();
        return m;
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);  // zero-terminated
    kvo::ASMModel model;
    kvo::ASMModelConfig config;
    model.readASM(text.c_str(), config, *images, false);
    return 0;
}
