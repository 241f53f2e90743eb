// The verdicts of the quality record: within the tolerance nothing, beyond it worse or
// better by the figure's better side, and a move for a figure without one; and a record
// that reads back what was written.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "QualityRecord.h"

using kvotest::Figure;
using kvotest::verdict;

TEST(QualityRecord, WithinTheToleranceEitherWayThereIsNoVerdict) {
    const Figure f{0.90, 0.01, "higher"};
    EXPECT_EQ(verdict("share", f, 0.905, "rec"), "");
    EXPECT_EQ(verdict("share", f, 0.895, "rec"), "");
}

TEST(QualityRecord, BeyondTheToleranceTheVerdictSaysWorseOrBetter) {
    const Figure higher{0.90, 0.01, "higher"}, lower{1.0, 0.1, "lower"};
    EXPECT_NE(verdict("share", higher, 0.85, "rec").find("worse than the reference by 0.05 (tolerance 0.01)"),
              std::string::npos);
    EXPECT_NE(verdict("jitter", lower, 1.5, "rec").find("worse than the reference by 0.5 (tolerance 0.1)"),
              std::string::npos);
    const std::string better = verdict("share", higher, 0.95, "RECORD=1");
    EXPECT_NE(better.find("better than the reference by 0.05"), std::string::npos) << better;
    EXPECT_NE(better.find("re-record with RECORD=1"), std::string::npos) << better;
    EXPECT_NE(verdict("jitter", lower, 0.5, "rec").find("better than the reference"), std::string::npos);
}

TEST(QualityRecord, AFigureWithoutABetterSideIsSaidToHaveMoved) {
    const Figure f{0.0, 0.02, "either"};
    EXPECT_NE(verdict("moved", f, 0.03, "rec").find("moved from the reference by 0.03 (tolerance 0.02)"),
              std::string::npos);
}

TEST(QualityRecord, ReadsBackWhatItWroteAndRefusesAMalformedLine) {
    kvotest::QualityRecord r;
    r.header = {"# made up"};
    r.figures["a.share"] = Figure{0.5, 0.01, "higher"};
    r.shapes["x.jpg"] = std::vector<double>(136, 1.25);
    const std::string path = testing::TempDir() + "quality_record_test.txt";
    ASSERT_TRUE(kvotest::writeQualityRecord(path, r));
    kvotest::QualityRecord back;
    std::string error;
    ASSERT_TRUE(kvotest::readQualityRecord(path, back, error)) << error;
    EXPECT_EQ(back.header, r.header);
    EXPECT_EQ(back.figures["a.share"].value, 0.5);
    EXPECT_EQ(back.figures["a.share"].better, "higher");
    EXPECT_EQ(back.shapes["x.jpg"], r.shapes["x.jpg"]);
    FILE* f = std::fopen(path.c_str(), "a");
    std::fputs("b.share 0.5 0.01 sideways\n", f);
    std::fclose(f);
    kvotest::QualityRecord bad;
    EXPECT_FALSE(kvotest::readQualityRecord(path, bad, error));
    EXPECT_NE(error.find(":4: malformed line"), std::string::npos) << error;
    std::remove(path.c_str());
}
