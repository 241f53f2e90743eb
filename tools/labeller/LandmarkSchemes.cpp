#include "LandmarkSchemes.h"

namespace kvo {
namespace labeller {

namespace {

std::array<int, NUM_POINTS> makePartners(const int (*pairs)[2], int nPairs) {
    std::array<int, NUM_POINTS> p{};
    for (int i = 0; i < NUM_POINTS; ++i) p[i] = i;
    for (int k = 0; k < nPairs; ++k) {
        p[pairs[k][0]] = pairs[k][1];
        p[pairs[k][1]] = pairs[k][0];
    }
    return p;
}

// Kestavo: jaw i <-> 14 - i, brows, eyes (with pupils 31/36), nose sides, lips.
const int OURS_PAIRS[][2] = {
    {0, 14}, {1, 13}, {2, 12}, {3, 11}, {4, 10}, {5, 9}, {6, 8},
    {15, 21}, {16, 22}, {17, 23}, {18, 24}, {19, 25}, {20, 26},
    {27, 32}, {28, 33}, {29, 34}, {30, 35}, {31, 36},
    {37, 45}, {38, 44}, {39, 43}, {40, 42}, {46, 47},
    {48, 54}, {49, 53}, {50, 52}, {55, 59}, {56, 58},
    {60, 62}, {63, 65}};

// dlib: jaw i <-> 16 - i, brows 17-21 <-> 26-22, nose base, eyes, lips.
const int DLIB_PAIRS[][2] = {
    {0, 16}, {1, 15}, {2, 14}, {3, 13}, {4, 12}, {5, 11}, {6, 10}, {7, 9},
    {17, 26}, {18, 25}, {19, 24}, {20, 23}, {21, 22},
    {31, 35}, {32, 34},
    {36, 45}, {37, 44}, {38, 43}, {39, 42}, {40, 47}, {41, 46},
    {48, 54}, {49, 53}, {50, 52}, {55, 59}, {56, 58},
    {60, 64}, {61, 63}, {65, 67}};

}  // namespace

const std::array<int, NUM_POINTS> OURS_PARTNER =
    makePartners(OURS_PAIRS, sizeof(OURS_PAIRS) / sizeof(OURS_PAIRS[0]));
const std::array<int, NUM_POINTS> DLIB_PARTNER =
    makePartners(DLIB_PAIRS, sizeof(DLIB_PAIRS) / sizeof(DLIB_PAIRS[0]));

Shape68 mirrorShape(const Shape68& s, const std::array<int, NUM_POINTS>& partner, double axisX) {
    Shape68 m;
    for (int i = 0; i < NUM_POINTS; ++i) {
        const dlib::dpoint& q = s[partner[i]];
        m[i] = dlib::dpoint(2.0 * axisX - q.x(), q.y());
    }
    return m;
}

}  // namespace labeller
}  // namespace kvo
