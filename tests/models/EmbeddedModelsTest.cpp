// The models the library embeds: each decodes to exactly the text the build converted
// or reduced, its table is sound, and the real texts round-trip through the encoder.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PrefixCoder.h"
#include "StreamChecks.h"
#include "models/EmbeddedModels.h"
#include "models/ModelDecoder.h"

namespace {

std::string readText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Model {
    const char* name;
    const char* textPath;
    std::string (*decode)();
    kvo::PrefixCodeTable table;
    std::uint32_t length;
};

std::vector<Model> models() {
    return {
        {"cascade", KVO_CASCADE_TEXT, kvo::decodeCascadeModel,
         {kvo::cascadeSymbols, kvo::cascadeCodes, kvo::cascadeCodeLengths},
         kvo::haarcascade_frontalface_default_min_xml_length},
        {"shape model", KVO_SHAPE_MODEL_TEXT, kvo::decodeShapeModel,
         {kvo::asmSymbols, kvo::asmCodes, kvo::asmCodeLengths},
         kvo::asm_muct_68l_17pw_7pw_5830s_1t_nn_ntc_mouth_min_length},
        {"candide", KVO_CANDIDE_TEXT, kvo::decodeCandideModel,
         {kvo::candideSymbols, kvo::candideCodes, kvo::candideCodeLengths},
         kvo::candide_3_1_6_min_model_length},
        {"refiner", KVO_REFINER_MODEL_FILE, kvo::decodeRefinerModel,
         {kvo::refinerSymbols, kvo::refinerCodes, kvo::refinerCodeLengths},
         kvo::landmark_refiner_model_length},
    };
}

TEST(EmbeddedModels, DecodeToTheBuildTexts) {
    for (const Model& m : models()) {
        const std::string expected = readText(m.textPath);
        const std::string decoded = m.decode();
        EXPECT_EQ(decoded.size(), expected.size()) << m.name;
        EXPECT_TRUE(decoded == expected) << m.name << " differs from " << m.textPath;
    }
}

TEST(EmbeddedModels, TablesAreSoundPrefixCodes) {
    for (const Model& m : models()) {
        std::string error;
        EXPECT_TRUE(kvo::checkPrefixCodeTable(m.table, error)) << m.name << ": " << error;
        EXPECT_TRUE(kvo_test::noZeroRunPossible(m.table)) << m.name;
        for (std::uint32_t len : m.table.codeLengths) {
            EXPECT_GE(len, 2u) << m.name;
            EXPECT_LE(len, 17u) << m.name;
        }
    }
}

TEST(EmbeddedModels, TextsAreWhatTheParsersExpect) {
    const std::string cascade = kvo::decodeCascadeModel();
    EXPECT_EQ(cascade.rfind("<opencv_storage><", 0), 0u);
    EXPECT_NE(cascade.find("<size>24 24</size><stages><_><trees><_><_><feature><rects><_>"), std::string::npos);
    EXPECT_EQ(cascade.find('\n'), std::string::npos);  // minified
    const std::string candide = kvo::decodeCandideModel();
    EXPECT_EQ(candide.rfind("# VERTEX LIST\n113\n", 0), 0u);
    for (const char* header : {"# FACE LIST\n184\n", "# AUV9\n", "# AUV0\n", "# AUV11\n", "# AUV2\n", "# AUV3\n",
                               "# AUV14\n", "# AUV5\n", "# Eyes vertical position\n", "# Eyes, width\n",
                               "# Eye separation distance\n", "# Mouth vertical position\n"}) {
        EXPECT_NE(candide.find(header), std::string::npos) << header;
    }
}

TEST(EmbeddedModels, RealTextsRoundTripThroughTheEncoder) {
    for (const Model& m : models()) {
        const std::string text = readText(m.textPath);
        const kvo::PrefixCodeTable table = kvo::buildPrefixCode(text);
        std::vector<unsigned char> bytes;
        std::string error;
        ASSERT_TRUE(kvo::encodeText(text, table, bytes, error)) << m.name << ": " << error;
        EXPECT_EQ(bytes.size(), m.length) << m.name;  // the build stored the same stream
        EXPECT_EQ(kvo_test::firstZeroWindow(bytes, text, table), text.size()) << m.name;
        const std::string decoded = kvo::decodeModel(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                                     table.symbols, table.codes, table.codeLengths);
        EXPECT_TRUE(decoded == text) << m.name;
    }
}

TEST(EmbeddedModels, StoredStreamsNeverShowAZeroWindowEarly) {
    const std::vector<std::pair<const unsigned char*, Model>> stored{
        {kvo::haarcascade_frontalface_default_min_xml, models()[0]},
        {kvo::asm_muct_68l_17pw_7pw_5830s_1t_nn_ntc_mouth_min, models()[1]},
        {kvo::candide_3_1_6_min_model, models()[2]},
    };
    for (const auto& s : stored) {
        const std::vector<unsigned char> bytes(s.first, s.first + s.second.length);
        const std::string text = readText(s.second.textPath);
        EXPECT_EQ(kvo_test::firstZeroWindow(bytes, text, s.second.table), text.size()) << s.second.name;
    }
}

}  // namespace
