#include "asm/FaceLandmarks.h"

#include "util/LoadOrder.h"

namespace kvo {

LandmarkTable FaceLandmarks::gLandTab KVO_LOAD_ORDER(KVO_ORDER_LANDMARK_TABLES);
LandmarkTable FaceLandmarks::gLand76Tab KVO_LOAD_ORDER(KVO_ORDER_LANDMARK_TABLES);
int32_t FaceLandmarks::nOldPoints = 0;

namespace {

// bits, partner, prev, next; index = landmark number.
const Landmark kLandTab[84] = {
    {6, 14, 21, 1},     {6, 13, -1, -1},    {4, 12, -1, -1},    {4, 11, -1, -1},
    {4, 10, -1, -1},    {4, 9, -1, -1},     {4, 8, -1, -1},     {4, -1, -1, -1},
    {4, 6, -1, -1},     {4, 5, -1, -1},     {4, 4, -1, -1},     {4, 3, -1, -1},
    {4, 2, -1, -1},     {6, 1, -1, -1},     {6, 0, -1, -1},     {2, 21, -1, -1},
    {2, 22, -1, -1},    {2, 23, -1, -1},    {2, 24, 19, 17},    {2, 25, 20, 18},
    {2, 26, 32, 19},    {2, 15, 22, 0},     {2, 16, 23, 21},    {2, 17, 24, 22},
    {2, 18, -1, -1},    {2, 19, -1, -1},    {2, 20, -1, -1},    {2, 32, 28, 30},
    {2, 33, 29, 27},    {2, 34, 30, 28},    {2, 35, 27, 29},    {2, 36, 27, 29},
    {2, 27, 35, 33},    {2, 28, -1, -1},    {2, 29, -1, -1},    {2, 30, 34, 32},
    {2, 31, 34, 32},    {2, 45, -1, -1},    {2, 44, -1, -1},    {8, 43, -1, -1},
    {8, 42, -1, -1},    {8, -1, 40, 42},    {8, 40, -1, -1},    {8, 39, -1, -1},
    {2, 38, -1, -1},    {2, 37, 44, 31},    {8, 47, -1, -1},    {8, 46, 46, 37},
    {8, 54, 57, 51},    {8, 53, -1, -1},    {8, 52, -1, -1},    {8, -1, -1, -1},
    {8, 50, -1, -1},    {8, 49, -1, -1},    {8, 48, 51, 57},    {0, 59, -1, -1},
    {0, 58, -1, -1},    {0, -1, -1, -1},    {0, 56, -1, -1},    {0, 55, 58, 48},
    {0, 62, 61, 59},    {0, -1, 62, 60},    {0, 60, 55, 61},    {0, 65, 48, 54},
    {0, -1, 65, 63},    {0, 63, 48, 54},    {0, -1, 54, 48},    {0, -1, 48, 54},
    {258, 76, 0, 14},   {258, 77, 0, 14},   {258, 78, 0, 14},   {258, 79, 14, 7},
    {258, 80, 0, 14},   {258, 81, 0, 14},   {258, 82, 23, 7},   {258, 83, 23, 7},
    {258, 68, 0, 14},   {258, 69, 0, 14},   {258, 70, 0, 14},   {258, 71, 0, 7},
    {258, 72, 0, 14},   {258, 73, 0, 14},   {258, 74, 17, 7},   {258, 75, 17, 7},
};

// Replacements of entries 68 ... 75 for the 76-landmark layout.
const Landmark kLand76Tab[8] = {
    {2, -1, 27, 28}, {2, -1, 28, 29}, {2, -1, 29, 30}, {2, -1, 30, 27},
    {2, -1, 32, 33}, {2, -1, 33, 34}, {2, -1, 34, 35}, {2, -1, 35, 32},
};

// The neighbour named by `named` when it is a landmark of the shape, else `fallback`.
int resolve(int named, int fallback, int n) {
    return (named >= 0 && named < n) ? named : fallback;
}

}  // namespace

void FaceLandmarks::initGLandTab() {
    for (const Landmark& l : kLandTab) gLandTab.push_back(std::make_shared<Landmark>(l));
    for (const Landmark& l : kLand76Tab) gLand76Tab.push_back(std::make_shared<Landmark>(l));
}

int FaceLandmarks::previousNeighbour(const LandmarkTable& table, int i, int n) {
    if (n < 1 || i < 0 || i >= n) return i;
    const int byIndex = (n + i - 1) % n;
    if (static_cast<size_t>(i) >= table.size() || !table[i]) return byIndex;
    return resolve(table[i]->prev, byIndex, n);
}

int FaceLandmarks::nextNeighbour(const LandmarkTable& table, int i, int n) {
    if (n < 1 || i < 0 || i >= n) return i;
    const int byIndex = (i + 1) % n;
    if (static_cast<size_t>(i) >= table.size() || !table[i]) return byIndex;
    return resolve(table[i]->next, byIndex, n);
}

}  // namespace kvo
