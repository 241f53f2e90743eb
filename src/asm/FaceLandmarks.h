#pragma once
// The landmark table of the 68-point face layout.
//
// What it represents: for every landmark, the two landmarks between which its search
// direction (whisker) is taken, its mirror partner and a set of face-attribute bits.
// `gLandTab` holds 84 descriptors (index = landmark number); `gLand76Tab` holds the 8
// descriptors that replace entries 68 ... 75 for a 76-landmark model. Both are empty
// until `initGLandTab` runs during model loading.
//
// Thread safety: the tables are written only while the model loads (tracker thread)
// and are read-only afterwards, when the search workers read them concurrently.
#include <cstdint>
#include <memory>
#include <vector>

namespace kvo {

// Face-attribute bits that a landmark descriptor may carry.
class FaceAttributes {
public:
    static constexpr int32_t FA_Rowley = 0x2000;
    static constexpr int32_t FA_ViolaJones = 0x1000;
    static constexpr int32_t FA_VjFailed = 0x200;
    static constexpr int32_t FA_Synthesize = 0x100;
    static constexpr int32_t FA_NnFailed = 0x80;
    static constexpr int32_t FA_Expression = 0x40;
    static constexpr int32_t FA_EyesClosed = 0x20;
    static constexpr int32_t FA_Obscured = 0x10;
    static constexpr int32_t FA_Mustache = 0x8;
    static constexpr int32_t FA_Beard = 0x4;
    static constexpr int32_t FA_Glasses = 0x2;
    static constexpr int32_t FA_BadImage = 0x1;
};

// One landmark descriptor.
struct Landmark {
    int32_t bits;     // FaceAttributes values attached to the landmark
    int32_t partner;  // mirror landmark on the other side of the face, -1 on the axis
    int32_t prev;     // landmark before this one for the whisker, -1: the previous index
    int32_t next;     // landmark after this one for the whisker, -1: the next index
};

using LandmarkPtr = std::shared_ptr<Landmark>;
using LandmarkTable = std::vector<LandmarkPtr>;

class FaceLandmarks {
public:
    static LandmarkTable gLandTab;    // 84 descriptors once built
    static LandmarkTable gLand76Tab;  // 8 replacements of entries 68 ... 75
    static int32_t nOldPoints;        // landmark count the table was last adjusted for

    // Appends the 84 descriptors of the main table and the 8 of the 76-landmark table,
    // each newly allocated. A repeated call appends another copy behind the first;
    // look-ups by index keep seeing the first.
    static void initGLandTab();

    // Whisker neighbours of landmark i in a shape of n landmarks.
    // Requires: n >= 1 and 0 <= i < n (otherwise i itself is returned).
    // Ensures: the descriptor's prev (next) when it is non-negative, otherwise
    // (n + i - 1) mod n (respectively (i + 1) mod n). When the table has no entry i, or
    // the named neighbour is not a landmark of the shape (>= n), the index rule is used
    // too, so the result is always in [0, n).
    static int previousNeighbour(const LandmarkTable& table, int i, int n);
    static int nextNeighbour(const LandmarkTable& table, int i, int n);
};

}  // namespace kvo
