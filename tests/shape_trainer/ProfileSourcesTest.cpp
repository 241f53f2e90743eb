// Mixing the profiles of two training sets (300-W stills and dlib-labelled faces) per level
// and landmark: the rules text, weighted statistics and the chosen source's profile length.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProfileSources.h"

using namespace kvo::trainer;

namespace {

ProfileStats statsOf(const std::vector<std::vector<double>>& samples) {
    ProfileStats s;
    for (const auto& p : samples) s.add(p);
    return s;
}

}  // namespace

TEST(ProfileSources, RulesChooseLevelsAndGroupsAndLaterRulesWin) {
    ProfileSourceTable t;
    std::string error;
    ASSERT_TRUE(parseProfileSources("0,1,2,3:all=300w;2,3:mouth,67=labels;3:48=both", t, error)) << error;
    EXPECT_EQ(t.source[0][50], ProfileSource::Stills300W);
    EXPECT_EQ(t.source[2][50], ProfileSource::Labels);
    EXPECT_EQ(t.source[2][67], ProfileSource::Labels);
    EXPECT_EQ(t.source[2][66], ProfileSource::Labels);
    EXPECT_EQ(t.source[2][47], ProfileSource::Stills300W);  // nose, not named
    EXPECT_EQ(t.source[3][48], ProfileSource::Both);
    EXPECT_EQ(t.source[3][49], ProfileSource::Labels);
    ProfileSourceTable untouched;
    EXPECT_EQ(untouched.source[1][10], ProfileSource::Both);
}

TEST(ProfileSources, MalformedRulesAreRefusedWithAReason) {
    ProfileSourceTable t;
    std::string error;
    EXPECT_FALSE(parseProfileSources("4:all=labels", t, error));
    EXPECT_NE(error.find("0-3"), std::string::npos);
    EXPECT_FALSE(parseProfileSources("0:lips=labels", t, error));
    EXPECT_NE(error.find("lips"), std::string::npos);
    EXPECT_FALSE(parseProfileSources("0:all=video", t, error));
    EXPECT_FALSE(parseProfileSources("0:68=both", t, error));
    EXPECT_FALSE(parseProfileSources("all=both", t, error));
    EXPECT_TRUE(parseProfileSources("", t, error));
}

TEST(ProfileSources, GroupsFollowTheLayout) {
    EXPECT_TRUE(landmarkInGroup(67, "nose"));
    EXPECT_TRUE(landmarkInGroup(14, "jaw"));
    EXPECT_FALSE(landmarkInGroup(15, "jaw"));
    EXPECT_TRUE(landmarkInGroup(26, "brows"));
    EXPECT_TRUE(landmarkInGroup(36, "eyes"));
    EXPECT_TRUE(landmarkInGroup(66, "mouth"));
    EXPECT_FALSE(landmarkInGroup(67, "mouth"));
    EXPECT_TRUE(landmarkInGroup(7, "7"));
    EXPECT_FALSE(landmarkInGroup(7, "17"));
}

TEST(ProfileSources, WeightedSamplesCountAsRepeatedOnes) {
    const ProfileStats a = statsOf({{1.0, 2.0}, {3.0, 0.0}});
    const ProfileStats b = statsOf({{5.0, -1.0}});
    ProfileStats mixed = a;
    mixed.addWeighted(b, 3);
    const ProfileStats repeated = statsOf({{1.0, 2.0}, {3.0, 0.0}, {5.0, -1.0}, {5.0, -1.0}, {5.0, -1.0}});
    EXPECT_EQ(mixed.count, 5);
    ASSERT_EQ(mixed.sum.size(), repeated.sum.size());
    for (size_t i = 0; i < mixed.sum.size(); ++i) EXPECT_DOUBLE_EQ(mixed.sum[i], repeated.sum[i]);
    for (size_t i = 0; i < mixed.outer.size(); ++i) EXPECT_DOUBLE_EQ(mixed.outer[i], repeated.outer[i]);
    ProfileStats empty;
    empty.addWeighted(b, 2);
    EXPECT_EQ(empty.count, 2);
    EXPECT_DOUBLE_EQ(empty.sum[0], 10.0);
    ProfileStats unchanged = a;
    unchanged.addWeighted(ProfileStats(), 5);
    EXPECT_EQ(unchanged.count, 2);
}

TEST(ProfileSources, MixKeepsTakesOrAddsEachProfileAsTheTableSays) {
    ProfileLayout nine = ProfileLayout::uniform(9), fifteen = ProfileLayout::uniform(9);
    for (int lev = 0; lev < kLevels; ++lev) fifteen.spec[lev][67].length = 15;
    ProfileTrainer stills(nine), labels(fifteen);
    // Samples put in by hand through the mixing calls: stills get a profile of 1s twice,
    // labels one of 3s twice (9 long; 15 long for the nose tip).
    for (int lev = 0; lev < kLevels; ++lev)
        for (int i = 0; i < kLandmarks; ++i) {
            stills.addWeighted(lev, i, statsOf({std::vector<double>(9, 1.0)}), 2);
            labels.addWeighted(lev, i, statsOf({std::vector<double>(i == 67 ? 15 : 9, 3.0)}), 2);
        }
    ProfileSourceTable t;
    std::string error;
    ASSERT_TRUE(parseProfileSources("0:all=300w;1:67=labels", t, error)) << error;
    t.source[2][67] = ProfileSource::Stills300W;  // 2-3: nose tip kept apart (lengths differ)
    t.source[3][67] = ProfileSource::Stills300W;
    ASSERT_TRUE(mixProfiles(stills, labels, t, 2, error)) << error;
    EXPECT_EQ(stills.stats(0, 10).count, 2);                 // 300w: kept
    EXPECT_DOUBLE_EQ(stills.stats(0, 10).sum[0], 2.0);
    EXPECT_EQ(stills.stats(1, 67).count, 2);                 // labels: replaced, its length
    EXPECT_EQ(stills.stats(1, 67).sum.size(), 15u);
    EXPECT_EQ(stills.layout().spec[1][67].length, 15);
    EXPECT_DOUBLE_EQ(stills.stats(1, 67).sum[0], 6.0);
    EXPECT_EQ(stills.stats(2, 10).count, 6);                 // both: 2 + 2 x 2
    EXPECT_DOUBLE_EQ(stills.stats(2, 10).sum[0], 2.0 + 2 * 6.0);
    EXPECT_EQ(stills.layout().spec[2][10].length, 9);

    ProfileTrainer stills2(nine);
    for (int lev = 0; lev < kLevels; ++lev)
        for (int i = 0; i < kLandmarks; ++i) stills2.addWeighted(lev, i, statsOf({std::vector<double>(9, 1.0)}), 2);
    ProfileSourceTable allBoth;
    EXPECT_FALSE(mixProfiles(stills2, labels, allBoth, 1, error));  // nose tip: 9 against 15
    EXPECT_NE(error.find("landmark 67"), std::string::npos);

    // A source without faces leaves its profiles empty: refused, not written as NaN.
    ProfileTrainer none(nine), someLabels(nine);
    for (int lev = 0; lev < kLevels; ++lev)
        for (int i = 0; i < kLandmarks; ++i)
            someLabels.addWeighted(lev, i, statsOf({std::vector<double>(9, 3.0)}), 2);
    ProfileSourceTable stillsAtOne;
    ASSERT_TRUE(parseProfileSources("1:all=300w", stillsAtOne, error));
    EXPECT_FALSE(mixProfiles(none, someLabels, stillsAtOne, 1, error));
    EXPECT_NE(error.find("level 1"), std::string::npos) << error;
}
