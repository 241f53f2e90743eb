// The two initialisers that read the Candide model embedded in the library. They live
// apart from the parser and the fit so that those link without the embedded store.
#include "candide/ASMCandideExtension.h"
#include "candide/CandideModel.h"
#include "models/EmbeddedModels.h"

namespace kvo {

void CandideModel::init() { initFromText(decodeCandideModel()); }

void ASMCandideExtension::init() {
    if (initialised) return;  // the model's unit lists may be filled only once
    initFromModelText(decodeCandideModel());
}

}  // namespace kvo
