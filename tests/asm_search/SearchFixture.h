#pragma once
// A shape search on a 640 x 480 synthetic frame with the small test shape model loaded.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "asm/ASMSearch.h"
#include "image/ImageDataManager.h"
#include "eval/GreyFrame.h"
#include "support/TinyShapeModel.h"

namespace kvo {
namespace test {

using BufferInput = eval::GreyFrame;

class SearchFixture : public ::testing::Test {
protected:
    SearchFixture() : input(640, 480), roi(0, 0, 640, 480), search(manager) {}

    // Loads the test model into the search and sizes its state.
    void load(const TinyShapeModelOptions& options = TinyShapeModelOptions()) {
        manager.init(&input, &roi);
        manager.initASM();
        const std::string text = tinyShapeModelJson(options);
        search.model.readASM(text.c_str(), search.config, manager, false);
        ASSERT_TRUE(search.model.loaded());
        search.initSearchState();
        ASSERT_TRUE(search.isActive());
    }

    // The mean shape (local frame, y up) mapped to the image frame, scaled by `s` and
    // centred at (cx, cy).
    ShapeMat meanInImage(double s, double cx, double cy) {
        ShapeMat g;
        g.copyFrom(search.model.meanShape);
        for (int i = 0; i < g.rows; ++i) {
            g.data[i][0] = cx + s * g.data[i][0];
            g.data[i][1] = cy - s * g.data[i][1];
        }
        return g;
    }

    BufferInput input;
    Rectangle roi;
    ImageDataManager manager;
    ASMSearch search;
};

}  // namespace test
}  // namespace kvo
