// Fuzzes the shape-model loader: the input is the JSON text given to
// kvo::ASMModel::readASM with a shape-search pyramid in place.
#include <cstdint>
#include <string>

#include "FuzzImages.h"
#include "FuzzInput.h"
#include "asm/ASMModel.h"
#include "asm/ASMModelConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvofuzz::silenceStandardOutputOnce();
    kvo::ImageDataManager& images = kvofuzz::imagesOnce(64, 48, false, true);
    const std::string text(reinterpret_cast<const char*>(data), size);  // zero-terminated
    kvo::ASMModel model;
    kvo::ASMModelConfig config;
    model.readASM(text.c_str(), config, images, false);
    return 0;
}
