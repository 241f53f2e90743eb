#pragma once
// The user's points by the index they were given, over the library's point list.
//
// What it represents: one slot per point the user gave (or per grid point), in order,
// each with its latest position (pixels) and state (true while validly tracked). The
// library keeps its own list and, with its point check on (its default), drops from it
// before each step every point that was lost or lies outside the region it tracks in
// (the image region inset by 5 pixels, edges included); the list then shifts. The
// slots keep their indices: a point outside the region when given is not handed to the
// library and is lost from the first frame at its given position; a point the library
// drops stays lost at its last position.
//
// Thread safety: none.
#include <cstddef>
#include <vector>

namespace kvo {
namespace app {

class PointSlots {
public:
    // `xy`: x, y pairs (pixels). `region`: where the library tracks (inclusive edges).
    // `libraryDrops`: the library's point check is on.
    PointSlots(const std::vector<double>& xy, double regionX, double regionY, double regionWidth, double regionHeight,
               bool libraryDrops);

    // The x, y pairs to hand to the library (the points inside the region, in order).
    const std::vector<double>& handed() const { return handed_; }

    // Requires: `points` (x, y pairs) and `states` as the library reports them after a
    // frame, the points of handed() having been added. Maps them onto the slots.
    // Returns false when the list cannot be matched to the slots (its length is not
    // what the library's rule leaves); the slots are then matched in order.
    bool update(const std::vector<double>& points, const std::vector<char>& states);

    const std::vector<double>& points() const { return points_; }  // x, y per slot
    const std::vector<char>& states() const { return states_; }    // 1: valid

private:
    bool inside(double x, double y) const;

    double rx_, ry_, rw_, rh_;
    bool libraryDrops_;
    std::vector<double> handed_, points_;
    std::vector<char> states_;
    std::vector<size_t> listed_;  // the slot of each entry of the library's list
    std::vector<size_t> kept_;    // scratch: the entries the library keeps
};

}  // namespace app
}  // namespace kvo
