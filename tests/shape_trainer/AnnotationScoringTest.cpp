// Reading per-frame annotations in our layout and scoring fitted shapes against them by
// feature group: on small made-up shapes and files only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "eval/FrameAnnotations.h"
#include "eval/OurLayoutError.h"

using namespace kvo::eval;

namespace {

// A made-up shape: point i at (10 i, 3 i) except the outer eye corners 27 (100, 50) and
// 32 (150, 50), 50 px apart.
std::vector<double> madeUpShape() {
    std::vector<double> s(136);
    for (int i = 0; i < 68; ++i) s[2 * i] = 10.0 * i, s[2 * i + 1] = 3.0 * i;
    s[2 * 27] = 100, s[2 * 27 + 1] = 50;
    s[2 * 32] = 150, s[2 * 32 + 1] = 50;
    return s;
}

std::string line(int frame, const std::vector<double>& s) {
    std::ostringstream out;
    out << frame;
    for (double v : s) out << ' ' << v;
    return out.str();
}

// --- OurLayoutError ---------------------------------------------------------------

TEST(OurLayoutError, GroupsCoverTheLayoutOnceAndTheSharedThirteen) {
    std::vector<int> seen(68, 0);
    for (OurGroup g : {OurGroup::Jaw, OurGroup::Brows, OurGroup::Eyes, OurGroup::Nose, OurGroup::Mouth, OurGroup::NoseTip})
        for (int i : ourGroupPoints(g)) ++seen[i];
    EXPECT_EQ(seen, std::vector<int>(68, 1));
    EXPECT_EQ(ourGroupPoints(OurGroup::All).size(), 68u);
    EXPECT_EQ(ourGroupPoints(OurGroup::ClmShared), (std::vector<int>{27, 29, 32, 34, 67, 41, 48, 54, 51, 57, 64, 61, 7}));
    EXPECT_EQ(ourGroupPoints(OurGroup::NoseTip), std::vector<int>{67});
    EXPECT_STREQ(ourGroupName(OurGroup::NoseTip), "nose tip");
}

TEST(OurLayoutError, AShiftedShapeIsOffByTheShiftOverTheEyeDistance) {
    const std::vector<double> ref = madeUpShape();
    std::vector<double> fit = ref;
    for (int i = 0; i < 68; ++i) fit[2 * i] += 3.0, fit[2 * i + 1] -= 4.0;  // 5 px everywhere
    GroupErrors e;
    ASSERT_TRUE(ourLayoutError(fit.data(), ref.data(), e));
    for (int g = 0; g < NUM_OUR_GROUPS; ++g) EXPECT_NEAR(e[g], 5.0 / 50.0, 1e-12) << ourGroupName(static_cast<OurGroup>(g));
}

TEST(OurLayoutError, OneMovedPointCountsOnlyInItsGroups) {
    const std::vector<double> ref = madeUpShape();
    std::vector<double> fit = ref;
    fit[2 * 67] += 10.0;  // the nose tip, 10 px = 0.2 eye distances
    GroupErrors e;
    ASSERT_TRUE(ourLayoutError(fit.data(), ref.data(), e));
    EXPECT_NEAR(e[static_cast<int>(OurGroup::NoseTip)], 0.2, 1e-12);
    EXPECT_NEAR(e[static_cast<int>(OurGroup::All)], 0.2 / 68, 1e-12);
    EXPECT_NEAR(e[static_cast<int>(OurGroup::ClmShared)], 0.2 / 13, 1e-12);
    EXPECT_EQ(e[static_cast<int>(OurGroup::Nose)], 0.0);  // the tip is not in the nose group
    EXPECT_EQ(e[static_cast<int>(OurGroup::Jaw)], 0.0);
    // The eye distance is the reference's: a fit whose eyes are wrong does not rescale it.
    fit = ref;
    fit[2 * 32] += 50.0;  // the fit's eyes 100 px apart, the reference's 50
    ASSERT_TRUE(ourLayoutError(fit.data(), ref.data(), e));
    EXPECT_NEAR(e[static_cast<int>(OurGroup::Eyes)], 1.0 / 10, 1e-12);
}

TEST(OurLayoutError, UnusableShapesAreNotScored) {
    const std::vector<double> ref = madeUpShape();
    GroupErrors e{};
    e.fill(-1.0);
    std::vector<double> fit = ref;
    fit[5] = NAN;
    EXPECT_FALSE(ourLayoutError(fit.data(), ref.data(), e));
    fit = ref;
    fit[7] = INFINITY;
    EXPECT_FALSE(ourLayoutError(fit.data(), ref.data(), e));
    std::vector<double> flat = ref;
    flat[2 * 32] = flat[2 * 27], flat[2 * 32 + 1] = flat[2 * 27 + 1];  // no eye distance
    EXPECT_FALSE(ourLayoutError(ref.data(), flat.data(), e));
    EXPECT_EQ(e[0], -1.0);  // untouched
    // A peer's shape known on some points only is scored on those.
    std::vector<double> partial(136, NAN);
    for (int i : ourGroupPoints(OurGroup::ClmShared)) partial[2 * i] = ref[2 * i] + 5.0, partial[2 * i + 1] = ref[2 * i + 1];
    EXPECT_NEAR(pointSetError(partial.data(), ref.data(), ourGroupPoints(OurGroup::ClmShared)), 0.1, 1e-12);
    EXPECT_TRUE(std::isnan(pointSetError(partial.data(), ref.data(), ourGroupPoints(OurGroup::All))));
}

TEST(OurLayoutError, SummaryMeanMedianAndShareAboveTenPercent) {
    ErrorSummary s = summariseErrors({0.3, 0.05, 0.1, 0.02});
    EXPECT_EQ(s.count, 4);
    EXPECT_NEAR(s.mean, 0.1175, 1e-12);
    EXPECT_NEAR(s.median, 0.075, 1e-12);  // even count: the middle two averaged
    EXPECT_NEAR(s.above10, 0.25, 1e-12);  // 0.10 itself is not above
    s = summariseErrors({0.04, 0.2, 0.01});
    EXPECT_NEAR(s.median, 0.04, 1e-12);
    s = summariseErrors({});
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(s.mean, 0.0);

    ErrorTally tally;
    GroupErrors a{}, b{};
    a.fill(0.02);
    b.fill(0.04);
    b[static_cast<int>(OurGroup::Mouth)] = 0.5;
    tally.add(a);
    tally.add(b);
    EXPECT_EQ(tally.frames(), 2);
    EXPECT_NEAR(tally.summary(OurGroup::Jaw).mean, 0.03, 1e-12);
    EXPECT_NEAR(tally.summary(OurGroup::Mouth).mean, 0.26, 1e-12);
    EXPECT_NEAR(tally.summary(OurGroup::Mouth).above10, 0.5, 1e-12);
}

// --- FrameAnnotations --------------------------------------------------------------

TEST(FrameAnnotations, ReadsFrameNumbersAndShapesSkippingBlankLines) {
    const std::vector<double> s = madeUpShape();
    std::istringstream in(line(0, s) + "\n\n" + line(7, s) + "\n   \n" + line(3, s));
    FrameShapes out;
    std::string error;
    ASSERT_TRUE(readFrameAnnotations(in, "made-up", out, error)) << error;
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out.begin()->first, 0);
    EXPECT_EQ(out.rbegin()->first, 7);
    EXPECT_EQ(out[3], s);
}

TEST(FrameAnnotations, MalformedLinesAreRefusedWithTheirPlace) {
    const std::vector<double> s = madeUpShape();
    std::vector<double> shorter(s.begin(), s.end() - 2);
    struct Case {
        std::string text, expected;
    } cases[] = {
        {line(0, s) + "\n" + line(1, shorter), "made-up:2: 134 coordinates, expected 136"},
        {line(0, s) + " 5", "made-up:1: 137 coordinates"},
        {line(-1, s), "made-up:1: the frame number '-1'"},
        {line(0, s).replace(0, 1, "x"), "made-up:1: the frame number 'x'"},
        {line(4, s) + " nan", "made-up:1: 'nan' is not a finite number"},
        {line(5, s) + "\n" + line(5, s), "made-up:2: frame 5 is given twice"},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        FrameShapes out;
        std::string error;
        const bool ok = readFrameAnnotations(in, "made-up", out, error);
        EXPECT_FALSE(ok);
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << error;
    }
}

TEST(FrameAnnotations, AFolderGivesEveryTextFileAndNothingElse) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kvo_annotations_test_" + std::to_string(getpid()));
    fs::create_directories(dir);
    FrameShapes out;
    std::string error;
    EXPECT_FALSE(readFrameAnnotationsDir(dir.string(), out, error));
    EXPECT_NE(error.find("holds no annotation file"), std::string::npos) << error;
    const std::vector<double> s = madeUpShape();
    std::ofstream(dir / "b.txt") << line(10, s) << "\n";
    std::ofstream(dir / "a.txt") << line(0, s) << "\n" << line(1, s) << "\n";
    std::ofstream(dir / "README.md") << "not annotations\n";
    error.clear();
    ASSERT_TRUE(readFrameAnnotationsDir(dir.string(), out, error)) << error;
    EXPECT_EQ(out.size(), 3u);
    // A frame in two files is refused like one given twice in a file.
    std::ofstream(dir / "c.txt") << line(1, s) << "\n";
    out.clear();
    EXPECT_FALSE(readFrameAnnotationsDir(dir.string(), out, error));
    EXPECT_NE(error.find("c.txt:1: frame 1 is given twice"), std::string::npos) << error;
    EXPECT_FALSE(readFrameAnnotationsDir((dir / "missing").string(), out, error));
    EXPECT_NE(error.find("cannot read the folder"), std::string::npos) << error;
    fs::remove_all(dir);
}

}  // namespace
