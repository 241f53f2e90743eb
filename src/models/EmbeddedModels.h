#pragma once
// The four models the library carries inside itself, each stored prefix-coded with its
// own code table: the face-detection Haar cascade (XML), the 68-landmark shape model
// (JSON), the Candide-3 face mesh (line-oriented text) and the landmark refinement's
// regression trees (binary, refine/RefinerModel.h).
//
// What it represents: the arrays, their 32-bit length words and the code tables are
// generated at build time by the model encoder (tools/model_encoder) from the model
// texts; the decode functions turn them back into the texts for the parsers.
//
// Thread safety: everything here is immutable after library load. The code tables are
// dynamically initialised statics, so nothing may decode a model during static
// initialisation; the tracker decodes each model once, during its init. The decode
// functions keep no state and may be called from any thread.
#include <cstdint>
#include <string>
#include <vector>

namespace kvo {

// Haar cascade of the face detector, in the positional XML layout its loader walks.
extern const unsigned char haarcascade_frontalface_default_min_xml[];
extern const std::uint32_t haarcascade_frontalface_default_min_xml_length;  // bytes
extern const std::vector<std::string> cascadeSymbols;
extern const std::vector<std::uint32_t> cascadeCodes;
extern const std::vector<std::uint32_t> cascadeCodeLengths;  // bits

// Active shape model of 68 landmarks (JSON): models/shape_model.json, or empty when the
// build found none. The name is the model store's fixed array name, not a description of
// the model it holds (models/README.md describes that).
extern const unsigned char asm_muct_68l_17pw_7pw_5830s_1t_nn_ntc_mouth_min[];
extern const std::uint32_t asm_muct_68l_17pw_7pw_5830s_1t_nn_ntc_mouth_min_length;  // bytes
extern const std::vector<std::string> asmSymbols;
extern const std::vector<std::uint32_t> asmCodes;
extern const std::vector<std::uint32_t> asmCodeLengths;  // bits

// Candide-3 mesh: vertex list, face list, seven action units and four shape units.
extern const unsigned char candide_3_1_6_min_model[];
extern const std::uint32_t candide_3_1_6_min_model_length;  // bytes
extern const std::vector<std::string> candideSymbols;
extern const std::vector<std::uint32_t> candideCodes;
extern const std::vector<std::uint32_t> candideCodeLengths;  // bits

// Regression trees of the landmark refinement: models/landmark_refiner.bin, or empty when
// the build found none.
extern const unsigned char landmark_refiner_model[];
extern const std::uint32_t landmark_refiner_model_length;  // bytes
extern const std::vector<std::string> refinerSymbols;
extern const std::vector<std::uint32_t> refinerCodes;
extern const std::vector<std::uint32_t> refinerCodeLengths;  // bits

// Each returns the plain text of one model, decoded afresh on every call.
// Requires: static initialisation of the library has finished.
std::string decodeCascadeModel();
std::string decodeShapeModel();
std::string decodeCandideModel();
std::string decodeRefinerModel();  // bytes, not text

}  // namespace kvo
