// The refiner model's binary form: what the trainer writes reads back unchanged, and every
// malformed model is refused with a reason, without reading past its end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "refine/RefinerModel.h"
#include "SyntheticRefiner.h"

namespace {

using kvo::RefinerModel;

std::string bytesOf(const RefinerModel& m) { return kvo::serializeRefinerModel(m); }

// Overwrites the 4 bytes at `offset` with `value` (little-endian).
std::string withWord(std::string s, size_t offset, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) s[offset + k] = static_cast<char>((value >> (8 * k)) & 0xff);
    return s;
}

// Offsets in the two-pixel model's bytes (3 landmarks): header 20, mean shape 24, then the
// level: scale 4, pool size 4, two pool entries of 10, basis size 4 (0), tree count 4,
// one split of 6, and 2 leaves x 6 increments.
constexpr size_t kLevel = 20 + 24;
constexpr size_t kPool = kLevel + 4;
constexpr size_t kFirstAnchor = kPool + 4;
constexpr size_t kBasis = kFirstAnchor + 20;
constexpr size_t kTrees = kBasis + 4;
constexpr size_t kSplit = kTrees + 4;
constexpr size_t kEnd = kSplit + 6 + 12;

TEST(RefinerModel, WrittenModelReadsBackUnchanged) {
    const RefinerModel m = kvotest::twoPixelModel();
    const std::string bytes = bytesOf(m);
    ASSERT_EQ(bytes.size(), kEnd);
    RefinerModel back;
    std::string error;
    ASSERT_TRUE(kvo::parseRefinerModel(bytes, back, error)) << error;
    EXPECT_EQ(back.landmarks, 3);
    EXPECT_EQ(back.depth, 1);
    EXPECT_EQ(back.meanShape, m.meanShape);
    ASSERT_EQ(back.levels.size(), 1u);
    EXPECT_EQ(back.levels[0].leafScale, 0.5f);
    EXPECT_EQ(back.levels[0].anchors, m.levels[0].anchors);
    EXPECT_EQ(back.levels[0].offsets, m.levels[0].offsets);
    EXPECT_EQ(back.levels[0].splits[0].threshold, 10);
    EXPECT_EQ(back.levels[0].leaves, m.levels[0].leaves);
    EXPECT_EQ(bytesOf(back), bytes);
}

TEST(RefinerModel, EveryCutShortModelIsRefused) {
    const std::string bytes = bytesOf(kvotest::twoPixelModel());
    for (size_t len = 0; len < bytes.size(); ++len) {
        RefinerModel m;
        std::string error;
        EXPECT_FALSE(kvo::parseRefinerModel(bytes.substr(0, len), m, error)) << len << " bytes";
        EXPECT_FALSE(error.empty()) << len;
        EXPECT_TRUE(m.empty()) << len;
    }
}

TEST(RefinerModel, InconsistentModelsAreRefusedWithTheirFault) {
    const std::string good = bytesOf(kvotest::twoPixelModel());
    struct Case {
        const char* what;
        std::string bytes;
        const char* says;
    };
    std::string badMagic = good;
    badMagic[0] = 'X';
    std::string nanScale = good;
    const std::uint32_t nan = 0x7fc00000u;
    std::string farAnchor = good;
    farAnchor[kFirstAnchor] = 3;  // only landmarks 0 .. 2
    std::string farPixel = good;
    farPixel[kSplit + 2] = 2;  // the pool has pixels 0 and 1
    const Case cases[] = {
        {"signature", badMagic, "signature"},
        {"version", withWord(good, 4, 2), "version"},
        {"no landmarks", withWord(good, 8, 0), "landmark count"},
        {"too many levels", withWord(good, 12, 65), "level count"},
        {"depth 9", withWord(good, 16, 9), "depth"},
        {"NaN leaf scale", withWord(nanScale, kLevel, nan), "leaf scale"},
        {"negative leaf scale", withWord(good, kLevel, 0xbf800000u), "leaf scale"},
        {"empty pool", withWord(good, kPool, 0), "pool size"},
        {"pool larger than the data", withWord(good, kPool, 60000), "ends inside the pixel pool"},
        {"anchor beyond the landmarks", farAnchor, "landmark the model does not have"},
        {"more trees than the data holds", withWord(good, kTrees, 99999), "ends inside the trees"},
        {"split outside the pool", farPixel, "outside its pool"},
        {"basis wider than the shape", withWord(good, kBasis, 7), "basis size"},
        {"basis larger than the data", withWord(good, kBasis, 6), "ends inside the basis"},
        {"trailing bytes", good + "x", "after its last level"},
    };
    for (const Case& c : cases) {
        RefinerModel m;
        std::string error;
        EXPECT_FALSE(kvo::parseRefinerModel(c.bytes, m, error)) << c.what;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
        EXPECT_TRUE(m.empty()) << c.what;
    }
}

}  // namespace
