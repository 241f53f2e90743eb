#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "ShapeModelDocument.h"
#include "asm/ASMModel.h"
#include "asm/FaceLandmarks.h"
#include "image/ImageDataManager.h"
#include "models/EmbeddedModels.h"
#include "support/TinyShapeModel.h"

namespace kvo {
namespace {

using test::ShapeModelDocument;
using test::smallConfig;

int lineCount(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override { resetTable(); }
    void TearDown() override { resetTable(); }
    static void resetTable() {
        FaceLandmarks::gLandTab.clear();
        FaceLandmarks::gLand76Tab.clear();
        FaceLandmarks::nOldPoints = 0;
    }
    // Loads `text` and returns what the loader wrote to standard output.
    std::string load(const std::string& text, ASMModelConfig& config, bool verbose = false) {
        testing::internal::CaptureStdout();
        model.readASM(text.c_str(), config, images, verbose);
        return testing::internal::GetCapturedStdout();
    }
    // Expects exactly one "Error: readASM: ..." line naming `fragment`, and no model.
    void expectRefused(const std::string& text, ASMModelConfig config, const std::string& fragment) {
        const std::string out = load(text, config);
        EXPECT_EQ(0u, out.find("Error: readASM: ")) << out;
        EXPECT_NE(std::string::npos, out.find(fragment)) << out;
        EXPECT_EQ(1, lineCount(out)) << out;
        expectEmpty();
    }
    void expectEmpty() {
        EXPECT_FALSE(model.loaded());
        EXPECT_TRUE(model.levels.empty());
        EXPECT_EQ(0, model.eigVecs.rows);
        EXPECT_EQ(0, model.eigVecsT.rows);
        EXPECT_EQ(0, model.meanShape.rows);
    }

    ImageDataManager images;
    ASMModel model;
};

TEST_F(LoaderTest, FreshModelIsEmpty) {
    expectEmpty();
    EXPECT_EQ(-9999.0, ASMModel::SPARSE_SYMMETRIC);
}

TEST_F(LoaderTest, SmallDocumentLoadsSilently) {
    ShapeModelDocument doc;
    doc.eigVecs = "[[1,2,3,4],[5,6,7,8],[9,10,11,12],[13,14,15,16]]";
    ASMModelConfig config = smallConfig(2);
    EXPECT_EQ("", load(doc.text(), config));
    ASSERT_TRUE(model.loaded());
    ASSERT_EQ(4u, model.levels.size());
    ASSERT_EQ(4, model.eigVecsT.rows);
    EXPECT_EQ(5.0, model.eigVecsT.data[0][1]);
    EXPECT_EQ(2.0, model.eigVecsT.data[1][0]);
    EXPECT_EQ(15.0, model.eigVecsT.data[2][3]);
    ASSERT_EQ(2, model.meanShape.rows);
    EXPECT_EQ(5.0, model.meanShape.data[1][0]);
    EXPECT_EQ(3.0, model.meanShape.data[1][1]);
    for (int i = 0; i < 4; ++i) {
        const ASMLevel& lev = *model.levels[i];
        EXPECT_EQ(i, lev.level);
        EXPECT_EQ(&images.asmCurrent[i], lev.image);
        EXPECT_EQ(&images.asmGradient[i], lev.gradient);
        ASSERT_EQ(2u, lev.profMeans.size());
        EXPECT_EQ((std::vector<double>{1, 2, 3}), lev.profMeans[1]);
        EXPECT_EQ((std::vector<double>(3, 0.0)), lev.profWork[1]);
        ASSERT_EQ(2u, lev.covars.size());
        EXPECT_NE(lev.covars[0].get(), lev.covars[1].get());
    }
    EXPECT_EQ(4, model.levels[0]->eigVals.rows);
    EXPECT_EQ(4.0, model.levels[0]->eigVals.data[0][0]);
}

TEST_F(LoaderTest, ProfileFlagDigitsAreReadAsHexadecimal) {
    ShapeModelDocument doc;
    doc.levels[0] =
        "{\"ProfSpecs\":[80000000,10],"
        "\"Profs\":[[1,2,3,4,5,6,7,8,9],[1,2,3]],"
        "\"Covars\":[[[0,0,-9999],[0,0,1],[0,0,1],[0,0,1],[0,0,1],[0,0,1],[0,0,1],[0,0,1],[0,0,1],[0,0,1]],"
        "[[0,0,-9999],[0,0,1],[0,0,1],[0,0,1]]]}";
    ASMModelConfig config = smallConfig(2);
    config.nEigs2dLev0 = 2;
    config.BMax2dLev0 = 6.5;
    config.nMaxSearchIters2d = 7;
    config.nQualifyingDisp2d = 77;
    EXPECT_EQ("", load(doc.text(), config));
    ASSERT_TRUE(model.loaded());
    const ASMLevel& l0 = *model.levels[0];
    EXPECT_EQ(0x80000000u, l0.profSpecs[0]);
    EXPECT_EQ(0x10u, l0.profSpecs[1]);
    EXPECT_TRUE(l0.is2d(0));
    EXPECT_FALSE(l0.is2d(1));
    // A level with a 2-D profile takes the 2-D settings.
    EXPECT_EQ(2, l0.nEigs);
    EXPECT_EQ(6.5, l0.BMax);
    EXPECT_EQ(7, l0.nMaxSearchIters);
    EXPECT_EQ(77, l0.nQualifyingDisp);
    EXPECT_EQ(4, model.levels[1]->nMaxSearchIters);
    EXPECT_EQ(100, model.levels[1]->nQualifyingDisp);
}

TEST_F(LoaderTest, CompactDistanceMatrixKeepsItsThirdColumnAsOneRow) {
    ShapeModelDocument doc;
    doc.levels[1] =
        "{\"ProfSpecs\":[0,0],\"Profs\":[[1,2],[1,2,3]],"
        "\"Covars\":[[[0,0,-9999],[0,0,2.5],[1,1,4]],[[1,0,5],[0,1,0],[0,0,1]]]}";
    ASMModelConfig config = smallConfig(2);
    EXPECT_EQ("", load(doc.text(), config));
    ASSERT_TRUE(model.loaded());
    const NumberMat& compact = *model.levels[1]->covars[0];
    ASSERT_EQ(1, compact.rows);
    ASSERT_EQ(3, compact.cols);
    EXPECT_EQ(3, compact.numElements);
    EXPECT_EQ((std::vector<double>{-9999.0, 2.5, 4.0}), compact.data[0]);
    // A 3-column matrix without the marker stays a full matrix.
    const NumberMat& full = *model.levels[1]->covars[1];
    ASSERT_EQ(3, full.rows);
    ASSERT_EQ(3, full.cols);
    EXPECT_EQ(5.0, full.data[0][2]);
}

TEST_F(LoaderTest, DefaultConfigurationOnA68LandmarkModel) {
    ASMModelConfig config;
    EXPECT_EQ("", load(test::tinyShapeModelJson(), config));
    ASSERT_TRUE(model.loaded());
    ASSERT_EQ(4u, model.levels.size());
    EXPECT_EQ(11, config.nEigs);
    for (int i = 0; i < 4; ++i) {
        const ASMLevel& lev = *model.levels[i];
        EXPECT_EQ(11, lev.nEigs) << i;
        EXPECT_EQ(7, lev.nEigsFinal) << i;
        EXPECT_EQ(i == 0 ? 5.0 : 4.0, lev.BMax) << i;
        EXPECT_EQ(12.0, lev.BMaxFinal) << i;
        // Only level 2 of the test model has 2-D profiles.
        EXPECT_EQ(i == 2 ? 2 : 4, lev.nMaxSearchIters) << i;
        EXPECT_EQ(100, lev.nQualifyingDisp) << i;
    }
}

TEST_F(LoaderTest, DerivedEigenvectorCountAndItsLowerBound) {
    ASMModelConfig config;
    config.nEigs = -1;
    EXPECT_EQ("", load(test::tinyShapeModelJson(), config));
    EXPECT_EQ(45, config.nEigs);
    EXPECT_EQ(45, model.levels[3]->nEigs);
    EXPECT_EQ(11, model.levels[0]->nEigs);

    ASMModelConfig zero;
    zero.nEigs = 0;
    EXPECT_EQ("", load(test::tinyShapeModelJson(), zero));
    EXPECT_EQ(1, zero.nEigs);
    EXPECT_EQ(1, model.levels[1]->nEigs);
}

TEST_F(LoaderTest, ZeroFinalValuesFallBackToTheLevelValues) {
    ShapeModelDocument doc;
    ASMModelConfig config = smallConfig(2);
    config.nEigsFinal = 0;
    config.BMaxFinal = 0.0;
    config.nEigsLev0 = 4;
    EXPECT_EQ("", load(doc.text(), config));
    ASSERT_TRUE(model.loaded());
    EXPECT_EQ(4, model.levels[0]->nEigsFinal);
    // The general limit, also on level 0 whose own limit is 5.
    EXPECT_EQ(4.0, model.levels[0]->BMaxFinal);
    EXPECT_EQ(5.0, model.levels[0]->BMax);
    EXPECT_EQ(3, model.levels[2]->nEigsFinal);
    EXPECT_EQ(4.0, model.levels[2]->BMaxFinal);
}

TEST_F(LoaderTest, ZeroLevel0SettingsUseTheGeneralOnes) {
    ShapeModelDocument doc;
    ASMModelConfig config = smallConfig(2);
    config.nEigsLev0 = 0;
    config.BMaxLev0 = 9.0;
    EXPECT_EQ("", load(doc.text(), config));
    EXPECT_EQ(3, model.levels[0]->nEigs);
    EXPECT_EQ(4.0, model.levels[0]->BMax);

    ASMModelConfig noLimit = smallConfig(2);
    noLimit.BMaxLev0 = 0.0;
    EXPECT_EQ("", load(doc.text(), noLimit));
    EXPECT_EQ(4.0, model.levels[0]->BMax);
}

TEST_F(LoaderTest, HigherLevelsAreScaledByThePyramidRatio) {
    ShapeModelDocument doc;
    doc.avShape = "[[-8,4],[12,-16]]";
    doc.eigVals = "[[32],[16],[8],[4]]";
    ASMModelConfig config = smallConfig(2);
    EXPECT_EQ("", load(doc.text(), config));
    const ASMLevel& l2 = *model.levels[2];
    EXPECT_DOUBLE_EQ(2.0, l2.eigVals.data[0][0]);
    EXPECT_DOUBLE_EQ(0.25, l2.eigVals.data[3][0]);
    EXPECT_DOUBLE_EQ(-2.0, l2.meanShape.data[0][0]);
    EXPECT_DOUBLE_EQ(-4.0, l2.meanShape.data[1][1]);
    EXPECT_DOUBLE_EQ(8.0, model.levels[1]->eigVals.data[0][0]);
    EXPECT_DOUBLE_EQ(6.0, model.levels[1]->meanShape.data[1][0]);
    // The model's own mean shape stays at level-0 scale.
    EXPECT_DOUBLE_EQ(12.0, model.meanShape.data[1][0]);

    ASMModelConfig three = smallConfig(2);
    three.pyrRatio = 3.0;
    EXPECT_EQ("", load(doc.text(), three));
    EXPECT_DOUBLE_EQ(32.0 / 81.0, model.levels[2]->eigVals.data[0][0]);
    EXPECT_DOUBLE_EQ(-8.0 / 9.0, model.levels[2]->meanShape.data[0][0]);
}

TEST_F(LoaderTest, SmallFirstEigenvalueIsReportedButLoads) {
    ShapeModelDocument doc;
    doc.eigVals = "[[0.05],[0.04],[0.03],[0.02]]";
    ASMModelConfig config = smallConfig(2);
    EXPECT_EQ("Error: eigen data invalid (not enough variation, max eigenvalue is 0.05)\n",
              load(doc.text(), config));
    EXPECT_TRUE(model.loaded());
}

TEST_F(LoaderTest, VerboseLoadTracesEachLevel) {
    ShapeModelDocument doc;
    doc.numLevels = 2;
    ASMModelConfig config = smallConfig(2);
    config.numLevels = 2;
    const std::string expected =
        " \n \nnumLevels: 2\n"
        "ASMLevel 0: params:\nnEig: 3\nnEigsFinal: 2\nBMax: 5\nBMaxFinal: 12\n"
        "nMaxSearchIters: 4\nnQualifyingDisp: 100\n \n"
        "ASMLevel 1: params:\nnEig: 3\nnEigsFinal: 2\nBMax: 4\nBMaxFinal: 12\n"
        "nMaxSearchIters: 4\nnQualifyingDisp: 100\n \n";
    EXPECT_EQ(expected, load(doc.text(), config, true));
    EXPECT_EQ(2u, model.levels.size());
}

TEST_F(LoaderTest, LandmarkCountMismatchIsReportedButLoads) {
    ShapeModelDocument doc;
    ASMModelConfig config = smallConfig(2);
    config.nLandmarks = 68;
    EXPECT_EQ(
        "Error: nLandmarks 68 in asm file does not match the number 2 of rows in the mean shape.\n\n"
        "Error: eigen data invalid\n",
        load(doc.text(), config));
    EXPECT_TRUE(model.loaded());
}

TEST_F(LoaderTest, InconsistentFlagsAreReported) {
    ShapeModelDocument doc;
    ASMModelConfig config = smallConfig(2);
    config.fMe17 = true;
    EXPECT_EQ("Error: fMe17 is true yet fXm2vts is false, check your asm and config file.\n",
              load(doc.text(), config));
    EXPECT_TRUE(model.loaded());
}

TEST_F(LoaderTest, AssignNumEigsReportsImplausibleCounts) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(3, model.assignNumEigs(0, 3, 4, "nEigs", 1));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());

    testing::internal::CaptureStdout();
    EXPECT_EQ(0, model.assignNumEigs(0, 0, 4, "nEigsFinal", 2));
    EXPECT_EQ("Error: level 2 nEigsFinal is 0.\n"
              "       Check definitions of nEigs and friends in the config file.\n",
              testing::internal::GetCapturedStdout());

    testing::internal::CaptureStdout();
    EXPECT_EQ(9, model.assignNumEigs(9, 3, 4, "nEigs", 1));
    EXPECT_EQ("Error: level 1 nEigs 9 is more than the number 4.\n"
              "       Check definitions of nEigs and friends in the config file.\n",
              testing::internal::GetCapturedStdout());
}

TEST_F(LoaderTest, ReportedCountsAreClampedToTheEigenvalues) {
    ShapeModelDocument doc;
    ASMModelConfig config = smallConfig(2);
    config.nEigsFinal = 9;
    config.nEigsLev0 = -2;
    const std::string out = load(doc.text(), config);
    EXPECT_NE(std::string::npos, out.find("Error: level 0 nEigsLev0 is -2.\n"));
    EXPECT_NE(std::string::npos, out.find("Error: level 3 nEigsFinal 9 is more than the number 4.\n"));
    EXPECT_EQ(10, lineCount(out));  // 5 messages of two lines each
    ASSERT_TRUE(model.loaded());
    EXPECT_EQ(0, model.levels[0]->nEigs);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(4, model.levels[i]->nEigsFinal) << i;
}

TEST_F(LoaderTest, ParseErrorLeavesTheModelEmpty) {
    ASMModelConfig config = smallConfig(2);
    ShapeModelDocument doc;
    ASSERT_EQ("", load(doc.text(), config));
    ASSERT_TRUE(model.loaded());
    const std::string text = doc.text();
    EXPECT_EQ("Error: Error in JSON parsing: readASM\n", load(text.substr(0, text.size() / 2), config));
    expectEmpty();
    EXPECT_EQ("Error: Error in JSON parsing: readASM\n", load("", config));
    EXPECT_EQ("Error: Error in JSON parsing: readASM\n", load("{\"EigVecs\": [1,]}", config));
    expectEmpty();
}

TEST_F(LoaderTest, MissingPartsAreRefused) {
    const ASMModelConfig config = smallConfig(2);
    for (const char* key : {"EigVecs", "EigVals", "AvShape", "Lev_0", "Lev_3"}) {
        SCOPED_TRACE(key);
        ShapeModelDocument doc;
        doc.omit.insert(key);
        expectRefused(doc.text(), config, std::string("\"") + key + "\"");
    }
    // A document with fewer levels than configured lacks the last ones.
    ShapeModelDocument three;
    three.numLevels = 3;
    expectRefused(three.text(), config, "\"Lev_3\"");
}

TEST_F(LoaderTest, LevelWithoutOneOfItsArraysIsRefused) {
    const ASMModelConfig config = smallConfig(2);
    const char* variants[][2] = {
        {"{\"Profs\":[[1,2,3],[1,2,3]],\"Covars\":[[1,2,3,4],[1,2,3,4]]}", "\"ProfSpecs\""},
        {"{\"ProfSpecs\":[0,0],\"Covars\":[[1,2,3,4],[1,2,3,4]]}", "\"Profs\""},
        {"{\"ProfSpecs\":[0,0],\"Profs\":[[1,2,3],[1,2,3]]}", "\"Covars\""},
        {"[1,2]", "\"Lev_2\""},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v[0]);
        ShapeModelDocument doc;
        doc.levels[2] = v[0];
        expectRefused(doc.text(), config, v[1]);
    }
}

TEST_F(LoaderTest, MalformedValuesAreRefused) {
    const ASMModelConfig config = smallConfig(2);
    struct Case {
        const char* what;
        ShapeModelDocument doc;
    };
    std::vector<Case> cases;
    auto add = [&cases](const char* what, std::function<void(ShapeModelDocument&)> change) {
        ShapeModelDocument d;
        change(d);
        cases.push_back({what, d});
    };
    const std::string covar = "[[0,0,-9999],[0,0,1],[0,0,1],[0,0,1]]";
    auto level = [](const std::string& specs, const std::string& profs, const std::string& covars) {
        return "{\"ProfSpecs\":" + specs + ",\"Profs\":" + profs + ",\"Covars\":" + covars + "}";
    };
    add("EigVals", [](ShapeModelDocument& d) { d.eigVals = "\"big\""; });
    add("EigVecs", [](ShapeModelDocument& d) { d.eigVecs = "[[1,0,0,0],[0,1],[0,0,1,0],[0,0,0,1]]"; });
    add("EigVecs", [](ShapeModelDocument& d) { d.eigVecs = "[[1,0,0,0],[0,1,0,0],[0,0,1,0],[0,0,0,null]]"; });
    add("AvShape", [](ShapeModelDocument& d) { d.avShape = "[]"; });
    add("AvShape", [](ShapeModelDocument& d) { d.avShape = "[[1,2],\"x\"]"; });
    add("landmark 0", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[-1,0]", "[[1,2,3],[1,2,3]]", "[" + covar + "," + covar + "]");
    });
    add("landmark 1", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[0,1.5]", "[[1,2,3],[1,2,3]]", "[" + covar + "," + covar + "]");
    });
    add("landmark 0", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[123456789,0]", "[[1,2,3],[1,2,3]]", "[" + covar + "," + covar + "]");
    });
    add("landmark 1", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[0,0]", "[[1,2,3],[1,\"a\",3]]", "[" + covar + "," + covar + "]");
    });
    add("landmark 0", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[0,0]", "[[],[1,2,3]]", "[" + covar + "," + covar + "]");
    });
    add("\"Profs\"", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[0,0]", "[[1,2,3]]", "[" + covar + "," + covar + "]");
    });
    add("\"Covars\"", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[0,0]", "[[1,2,3],[1,2,3]]", "[" + covar + "]");
    });
    add("landmark 1", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[0,0]", "[[1,2,3],[1,2,3]]", "[" + covar + ",\"x\"]");
    });
    add("\"ProfSpecs\"", [&](ShapeModelDocument& d) {
        d.levels[1] = level("[]", "[]", "[]");
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.doc.text().substr(0, 300));
        expectRefused(c.doc.text(), config, c.what);
    }
    expectRefused("[1,2,3]", config, "not a JSON object");
}

TEST_F(LoaderTest, SizesThatDisagreeWithTheLandmarkCountAreRefused) {
    const ASMModelConfig config = smallConfig(2);
    {
        ShapeModelDocument doc;  // 3 x 3 eigenvectors for 2 landmarks
        doc.eigVecs = "[[1,0,0],[0,1,0],[0,0,1]]";
        ASMModelConfig copy = config;
        const std::string out = load(doc.text(), copy);
        EXPECT_NE(std::string::npos, out.find("Error: eigen data invalid\n"));
        EXPECT_NE(std::string::npos, out.find("Error: readASM: the eigenvectors form a 3 x 3 matrix"));
        expectEmpty();
    }
    {
        ShapeModelDocument doc;
        doc.eigVals = "[[3],[2],[1]]";
        expectRefused(doc.text(), config, "3 eigenvalues for 4 eigenvectors");
    }
    {
        ShapeModelDocument doc;
        doc.eigVals = "[4,3,2,1]";  // a row, not a column
        expectRefused(doc.text(), config, "1 eigenvalues for 4 eigenvectors");
    }
    {
        ShapeModelDocument doc;
        doc.avShape = "[[1,2,3],[4,5,6]]";
        expectRefused(doc.text(), config, "3 columns instead of 2");
    }
    {
        ShapeModelDocument doc;
        doc.levels[3] = ShapeModelDocument::defaultLevel(3);
        expectRefused(doc.text(), config, "level 3 has 3 profiles for 2 landmarks");
    }
}

TEST_F(LoaderTest, OneDimensionalProfilesMustFitTheSearchBuffer) {
    auto docWithLength = [](int len) {
        std::string prof = "[", covar = "[[0,0,-9999]";
        for (int k = 0; k < len; ++k) {
            prof += k ? ",1" : "1";
            covar += ",[0,0,1]";
        }
        prof += "]";
        covar += "]";
        ShapeModelDocument doc;
        doc.levels[2] = "{\"ProfSpecs\":[0,0],\"Profs\":[" + prof + ",[1,2,3]],\"Covars\":[" + covar +
                        ",[[0,0,-9999],[0,0,1],[0,0,1],[0,0,1]]]}";
        return doc.text();
    };
    ASMModelConfig config = smallConfig(2);
    EXPECT_EQ("", load(docWithLength(44), config));  // 44 + 2 * 3 = 50
    EXPECT_TRUE(model.loaded());
    expectRefused(docWithLength(45), config, "level 2 landmark 0 has a 1-D profile of 45 values");
    config.nPixSearch = 0;
    EXPECT_EQ("", load(docWithLength(50), config));
    EXPECT_TRUE(model.loaded());
}

TEST_F(LoaderTest, TwoDimensionalProfilesMustBeOddSquares) {
    ShapeModelDocument doc;
    doc.levels[0] =
        "{\"ProfSpecs\":[80000000,0],\"Profs\":[[1,2,3,4],[1,2,3]],"
        "\"Covars\":[[[0,0,-9999],[0,0,1],[0,0,1],[0,0,1],[0,0,1]],[[0,0,-9999],[0,0,1],[0,0,1],[0,0,1]]]}";
    expectRefused(doc.text(), smallConfig(2), "2-D profile of 4 values");
}

TEST_F(LoaderTest, DistanceMatricesMustCoverTheirProfiles) {
    const ASMModelConfig config = smallConfig(2);
    {
        ShapeModelDocument doc;  // full 2 x 2 for three values
        doc.levels[1] = "{\"ProfSpecs\":[0,0],\"Profs\":[[1,2,3],[1,2,3]],"
                        "\"Covars\":[[[1,0],[0,1]],[[0,0,-9999],[0,0,1],[0,0,1],[0,0,1]]]}";
        expectRefused(doc.text(), config, "2 x 2 distance matrix for a profile of 3 values");
    }
    {
        ShapeModelDocument doc;  // compact form with one weight too few
        doc.levels[1] = "{\"ProfSpecs\":[0,0],\"Profs\":[[1,2,3],[1,2,3]],"
                        "\"Covars\":[[[0,0,1],[0,0,1],[0,0,1],[0,0,1]],[[0,0,-9999],[0,0,1],[0,0,1]]]}";
        expectRefused(doc.text(), config, "1 x 3 distance matrix for a profile of 3 values");
    }
    {
        ShapeModelDocument doc;  // a plain row is read as the compact form
        doc.levels[1] = "{\"ProfSpecs\":[0,0],\"Profs\":[[1],[1,2,3]],"
                        "\"Covars\":[[5],[[0,0,-9999],[0,0,1],[0,0,1],[0,0,1]]]}";
        expectRefused(doc.text(), config, "1 x 1 distance matrix for a profile of 1 values");
    }
}

TEST_F(LoaderTest, LevelCountOutsideTheDocumentOrBelowOne) {
    ASMModelConfig none = smallConfig(2);
    none.numLevels = 0;
    expectRefused(ShapeModelDocument().text(), none, "numLevels 0");

    ShapeModelDocument five;
    five.numLevels = 5;
    ASMModelConfig config = smallConfig(2);
    config.numLevels = 5;
    EXPECT_EQ("", load(five.text(), config));
    ASSERT_EQ(5u, model.levels.size());
    // The search pyramid has four levels; a fifth model level uses level 0's images.
    EXPECT_EQ(&images.asmCurrent[0], model.levels[4]->image);
    EXPECT_EQ(&images.asmGradient[0], model.levels[4]->gradient);
    EXPECT_EQ(&images.asmCurrent[3], model.levels[3]->image);
}

TEST_F(LoaderTest, ReloadReplacesTheLevels) {
    ASMModelConfig config = smallConfig(2);
    ShapeModelDocument doc;
    ASSERT_EQ("", load(doc.text(), config));
    std::shared_ptr<ASMLevel> old = model.levels[0];
    doc.avShape = "[[-1,1],[1,1]]";
    ASSERT_EQ("", load(doc.text(), config));
    EXPECT_NE(old.get(), model.levels[0].get());
    EXPECT_EQ(1, old.use_count());
    EXPECT_EQ(-5.0, old->meanShape.data[0][0]);
    EXPECT_EQ(-1.0, model.meanShape.data[0][0]);
}

TEST_F(LoaderTest, LandmarkTableIsBuiltOnlyForTheTableLayout) {
    ASMModelConfig config = smallConfig(2);
    EXPECT_EQ("", load(ShapeModelDocument().text(), config));
    EXPECT_TRUE(FaceLandmarks::gLandTab.empty());
    EXPECT_EQ(0, FaceLandmarks::nOldPoints);

    ASMModelConfig table;
    EXPECT_EQ("", load(test::tinyShapeModelJson(), table));
    EXPECT_EQ(84u, FaceLandmarks::gLandTab.size());
    EXPECT_EQ(68, FaceLandmarks::nOldPoints);
    EXPECT_EQ(258, FaceLandmarks::gLandTab[70]->bits);
    // A second load appends a second copy.
    EXPECT_EQ("", load(test::tinyShapeModelJson(), table));
    EXPECT_EQ(168u, FaceLandmarks::gLandTab.size());
}

TEST_F(LoaderTest, A76LandmarkModelTakesTheReplacementEntries) {
    ShapeModelDocument doc;
    doc.n = 76;
    ASMModelConfig config = smallConfig(76);
    config.fXm2vts = true;
    EXPECT_EQ("", load(doc.text(), config));
    ASSERT_TRUE(model.loaded());
    ASSERT_EQ(84u, FaceLandmarks::gLandTab.size());
    const Landmark& e70 = *FaceLandmarks::gLandTab[70];
    EXPECT_EQ(2, e70.bits);
    EXPECT_EQ(-1, e70.partner);
    EXPECT_EQ(29, e70.prev);
    EXPECT_EQ(30, e70.next);
    EXPECT_EQ(FaceLandmarks::gLand76Tab[7].get(), FaceLandmarks::gLandTab[75].get());
    EXPECT_EQ(258, FaceLandmarks::gLandTab[76]->bits);
    EXPECT_EQ(76, FaceLandmarks::nOldPoints);
}

TEST_F(LoaderTest, InitReadsTheEmbeddedModelOrReportsItsAbsence) {
    const bool embedded = !decodeShapeModel().empty();
    ASMModelConfig config;
    testing::internal::CaptureStdout();
    model.init(config, images);
    const std::string out = testing::internal::GetCapturedStdout();
    if (embedded) {
        EXPECT_TRUE(model.loaded()) << out;
        EXPECT_EQ(68, model.meanShape.rows);
        EXPECT_EQ(&images.asmCurrent[2], model.levels[2]->image);
    } else {
        EXPECT_EQ("Error: ASMModel::init: the embedded shape model is empty; face tracking is unavailable\n",
                  out);
        expectEmpty();
    }
}

}  // namespace
}  // namespace kvo
