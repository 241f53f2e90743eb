// The cascade loader: positional walk, number reading, refusal of unusable texts.
#include <gtest/gtest.h>

#include <string>

#include "OpenCvCascadeText.h"
#include "SyntheticCascade.h"
#include "detection/ViolaJones.h"
#include "image/ImageDataManager.h"

namespace {

using kvo_test::StageText;
using kvo_test::StumpText;

class CascadeLoader : public ::testing::Test {
protected:
    // Loads `text` and returns what the loader wrote to standard output.
    std::string load(std::string text, bool* loaded = nullptr) {
        text.push_back('\0');
        buffer = text;
        testing::internal::CaptureStdout();
        const bool ok = detector.readXML(&buffer[0]);
        if (loaded) *loaded = ok;
        return testing::internal::GetCapturedStdout();
    }

    static int countRects(const kvo::ViolaJones& d) {
        int n = 0;
        for (const kvo::VJFeatureRect* r = d.allRects; r; r = r->nextInCascade) ++n;
        return n;
    }

    kvo::ImageDataManager manager;
    kvo::ViolaJones detector{manager};
    std::string buffer;
};

// Exactly one line, and it is an error line.
void expectOneErrorLine(const std::string& out) {
    EXPECT_EQ(out.rfind("Error: ", 0), 0u) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

TEST_F(CascadeLoader, TwoNodesOfOneTreeBecomeTwoStumpsWithTheirOwnValues) {
    const std::string text = kvo_test::cascadeText(
        "20 22", {StageText{{{StumpText{{"0 0 3 3 -1.", "1 1 2 2 2."}, "0.25", "-0.5", "1.5"},
                              StumpText{{"2 3 4 5 3."}, "-0.125", "0.75", "-2."}}},
                            "-1.25"}});
    bool loaded = false;
    EXPECT_EQ(load(text, &loaded), "");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(detector.windowWidth, 20);
    EXPECT_EQ(detector.windowHeight, 22);

    const kvo::VJStage* stage = detector.firstStage;
    ASSERT_NE(stage, nullptr);
    EXPECT_EQ(stage->next, nullptr);
    EXPECT_DOUBLE_EQ(stage->threshold, -1.25);
    const kvo::VJClassifier* first = stage->firstClassifier;
    ASSERT_NE(first, nullptr);
    const kvo::VJClassifier* second = first->next;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->next, nullptr);
    EXPECT_DOUBLE_EQ(first->threshold, 0.25);
    EXPECT_DOUBLE_EQ(first->leftValue, -0.5);
    EXPECT_DOUBLE_EQ(first->rightValue, 1.5);
    EXPECT_DOUBLE_EQ(second->threshold, -0.125);
    EXPECT_DOUBLE_EQ(second->leftValue, 0.75);
    EXPECT_DOUBLE_EQ(second->rightValue, -2.0);

    // The first feature's rectangles, and the trailing-point real read as -1.0.
    const kvo::VJFeatureRect* r = first->firstRect;
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->x, 0);
    EXPECT_EQ(r->y, 0);
    EXPECT_EQ(r->width, 3);
    EXPECT_EQ(r->height, 3);
    EXPECT_EQ(r->weight, -1.0);
    ASSERT_NE(r->nextInFeature, nullptr);
    EXPECT_EQ(r->nextInFeature->weight, 2.0);
    EXPECT_EQ(r->nextInFeature->nextInFeature, nullptr);
    ASSERT_NE(second->firstRect, nullptr);
    EXPECT_EQ(second->firstRect->height, 5);
    EXPECT_EQ(second->firstRect->nextInFeature, nullptr);

    // The cascade-wide list runs through the rectangles of every feature in reading order.
    EXPECT_EQ(detector.allRects, first->firstRect);
    EXPECT_EQ(r->nextInCascade, r->nextInFeature);
    EXPECT_EQ(r->nextInFeature->nextInCascade, second->firstRect);
    EXPECT_EQ(countRects(detector), 3);
}

TEST_F(CascadeLoader, StagesAndTreesKeepDocumentOrder) {
    const StumpText a{{"0 0 1 1 1."}, "1", "1", "0"};
    const StumpText b{{"0 0 2 2 1.", "0 0 1 1 1."}, "2", "2", "0"};
    const std::string text = kvo_test::cascadeText(
        "24 24", {StageText{{{a}, {b, a}}, "3"}, StageText{{{b}}, "4"}});
    bool loaded = false;
    load(text, &loaded);
    ASSERT_TRUE(loaded);
    const kvo::VJStage* s1 = detector.firstStage;
    ASSERT_NE(s1, nullptr);
    ASSERT_NE(s1->next, nullptr);
    EXPECT_EQ(s1->next->next, nullptr);
    EXPECT_DOUBLE_EQ(s1->threshold, 3.0);
    EXPECT_DOUBLE_EQ(s1->next->threshold, 4.0);
    int stumps = 0;
    double thresholds = 0;
    for (const kvo::VJClassifier* c = s1->firstClassifier; c; c = c->next, ++stumps) thresholds = thresholds * 10 + c->threshold;
    EXPECT_EQ(stumps, 3);
    EXPECT_DOUBLE_EQ(thresholds, 121.0);  // a, b, a
    EXPECT_EQ(countRects(detector), 1 + 2 + 1 + 2);
}

TEST_F(CascadeLoader, RealCascadeListsEveryRectangleOnce) {
    std::string text;
    try {
        text = kvo_test::oldLayoutCascadeFromOpenCv(kvo_test::defaultCascadePath());
    } catch (const std::exception& e) {
        GTEST_SKIP() << e.what();
    }
    // Rectangle elements are the only elements whose text starts with a digit after "<_>".
    int expectedRects = 0;
    for (size_t p = text.find("<rects>"); p != std::string::npos; p = text.find("<rects>", p + 1)) {
        const size_t end = text.find("</rects>", p);
        for (size_t q = text.find("<_>", p); q < end; q = text.find("<_>", q + 1)) ++expectedRects;
    }
    bool loaded = false;
    EXPECT_EQ(load(text, &loaded), "");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(detector.windowWidth, 24);
    EXPECT_EQ(detector.windowHeight, 24);
    int stages = 0, stumps = 0;
    for (const kvo::VJStage* s = detector.firstStage; s; s = s->next, ++stages)
        for (const kvo::VJClassifier* c = s->firstClassifier; c; c = c->next) ++stumps;
    EXPECT_EQ(stages, 25);
    EXPECT_EQ(stumps, 2913);
    EXPECT_GT(expectedRects, 2 * stumps);
    EXPECT_EQ(countRects(detector), expectedRects);
}

TEST_F(CascadeLoader, NumbersThatCannotBeReadAreZero) {
    const std::string text = kvo_test::cascadeText(
        "24 24", {StageText{{{StumpText{{"1 2 x 4 5."}, "", "abc", " 7"}}}, "2.5"}});
    bool loaded = false;
    load(text, &loaded);
    ASSERT_TRUE(loaded);
    const kvo::VJClassifier* c = detector.firstStage->firstClassifier;
    EXPECT_EQ(c->firstRect->x, 1);
    EXPECT_EQ(c->firstRect->y, 2);
    EXPECT_EQ(c->firstRect->width, 0);   // failed here
    EXPECT_EQ(c->firstRect->height, 0);  // and nothing more is read from this text
    EXPECT_EQ(c->firstRect->weight, 0.0);
    EXPECT_EQ(c->threshold, 0.0);
    EXPECT_EQ(c->leftValue, 0.0);
    EXPECT_EQ(c->rightValue, 7.0);
}

TEST_F(CascadeLoader, MalformedAndTruncatedTextsAreRefusedWithOneErrorLine) {
    const std::string good = kvo_test::acceptAllCascade();
    const std::string cases[] = {
        "",
        "not xml at all",
        "<opencv_storage><cascade><size>24 24</size><stages>",  // unclosed
        good.substr(0, good.size() / 2),                           // truncated mid-document
        "<opencv_storage><cascade><size>24 24</size></stages></cascade></opencv_storage>",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        bool loaded = true;
        expectOneErrorLine(load(text, &loaded));
        EXPECT_FALSE(loaded);
        EXPECT_FALSE(detector.hasCascade());
        EXPECT_EQ(detector.allRects, nullptr);
    }
}

TEST_F(CascadeLoader, MissingPositionalElementsAreRefused) {
    std::string noStageThreshold = kvo_test::acceptAllCascade();
    const size_t from = noStageThreshold.find("<stage_threshold>");
    const size_t to = noStageThreshold.find("</_>", from);  // also drops parent and next
    noStageThreshold.erase(from, to - from);

    std::string noRightVal = kvo_test::acceptAllCascade();
    noRightVal.erase(noRightVal.find("<right_val>"), std::string("<right_val>0.</right_val>").size());

    const std::string cases[] = {
        "<opencv_storage/>",
        "<opencv_storage><cascade/></opencv_storage>",
        "<opencv_storage><cascade><size>24 24</size></cascade></opencv_storage>",
        "<opencv_storage><cascade><size>24 24</size><stages><_/></stages></cascade></opencv_storage>",
        noStageThreshold,
        noRightVal,
        // a stage with no stages at all would accept every window
        "<opencv_storage><cascade><size>24 24</size><stages></stages></cascade></opencv_storage>",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        bool loaded = true;
        expectOneErrorLine(load(text, &loaded));
        EXPECT_FALSE(loaded);
        EXPECT_FALSE(detector.hasCascade());
    }
}

TEST_F(CascadeLoader, RectanglesOutsideTheWindowAndEmptyWindowsAreRefused) {
    const std::string cases[] = {
        kvo_test::acceptAllCascade("20 0 5 4 1."),
        kvo_test::acceptAllCascade("0 -1 5 4 1."),
        kvo_test::acceptAllCascade("0 0 5 25 1."),
        kvo_test::acceptAllCascade("0 0 -2 4 1."),
        kvo_test::cascadeText("0 24", {StageText{{{StumpText{{}, "1", "1", "0"}}}, "0"}}),
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        bool loaded = true;
        expectOneErrorLine(load(text, &loaded));
        EXPECT_FALSE(loaded);
        EXPECT_FALSE(detector.hasCascade());
    }
    // A rectangle touching the window's far edges is fine.
    bool loaded = false;
    EXPECT_EQ(load(kvo_test::acceptAllCascade("4 0 20 24 1."), &loaded), "");
    EXPECT_TRUE(loaded);
}

TEST_F(CascadeLoader, ARefusedTextDropsTheEarlierCascade) {
    bool loaded = false;
    load(kvo_test::acceptAllCascade(), &loaded);
    ASSERT_TRUE(loaded);
    load("<broken", &loaded);
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(detector.hasCascade());
    EXPECT_EQ(detector.windowWidth, 0);
    load(kvo_test::acceptAllCascade(), &loaded);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(countRects(detector), 1);
}

}  // namespace
