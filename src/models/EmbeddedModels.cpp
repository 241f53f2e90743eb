#include "models/EmbeddedModels.h"

#include "models/ModelDecoder.h"

namespace kvo {

std::string decodeCascadeModel() {
    return decodeModel(haarcascade_frontalface_default_min_xml,
                       haarcascade_frontalface_default_min_xml_length,
                       cascadeSymbols, cascadeCodes, cascadeCodeLengths);
}

std::string decodeShapeModel() {
    return decodeModel(asm_muct_68l_17pw_7pw_5830s_1t_nn_ntc_mouth_min,
                       asm_muct_68l_17pw_7pw_5830s_1t_nn_ntc_mouth_min_length,
                       asmSymbols, asmCodes, asmCodeLengths);
}

std::string decodeCandideModel() {
    return decodeModel(candide_3_1_6_min_model, candide_3_1_6_min_model_length,
                       candideSymbols, candideCodes, candideCodeLengths);
}

std::string decodeRefinerModel() {
    return decodeModel(landmark_refiner_model, landmark_refiner_model_length, refinerSymbols,
                       refinerCodes, refinerCodeLengths);
}

}  // namespace kvo
