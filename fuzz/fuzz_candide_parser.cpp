// Fuzzes the Candide parser: the input is the model text given to
// kvo::CandideModel::initFromText; each input parses into one model, replacing the
// previous input's, as a repeated parse does.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "candide/CandideModel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvofuzz::silenceStandardOutputOnce();
    static kvo::CandideModel* model = new kvo::CandideModel();
    const bool usable = model->initFromText(std::string(reinterpret_cast<const char*>(data), size));
    // A model that reports itself usable must say so consistently.
    if (usable != model->isUsable()) std::abort();
    if (usable) {
        // A usable model must be safe to move: units (whose vertex indices came from
        // the text) and the pose projection.
        model->updateActionUnitVectors();
        model->updateTransform({2.0, 10.0, -5.0, 0.1, -0.2, 0.3});
        if (model->projectedXY.size() != 2 * model->vertices.size()) std::abort();
    }
    return 0;
}
