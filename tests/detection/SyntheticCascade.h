#pragma once
// Test helper: writes small cascades in the older positional layout that
// kvo::ViolaJones reads, from a compact description.
#include <string>
#include <vector>

namespace kvo_test {

struct StumpText {
    std::vector<std::string> rects;  // "x y width height weight"
    std::string threshold;
    std::string left;
    std::string right;
};

struct StageText {
    std::vector<std::vector<StumpText>> trees;  // each tree: its nodes, in order
    std::string threshold;
};

inline std::string cascadeText(const std::string& size, const std::vector<StageText>& stages) {
    std::string out = "<opencv_storage>\n<cascade type_id=\"opencv-haar-classifier\">\n  <size>" +
                      size + "</size>\n  <stages>\n";
    for (const StageText& s : stages) {
        out += "    <_>\n      <!-- stage -->\n      <trees>\n";
        for (const auto& tree : s.trees) {
            out += "        <_>\n";
            for (const StumpText& n : tree) {
                out += "          <_>\n            <feature>\n              <rects>\n";
                for (const std::string& r : n.rects) out += "                <_>\n                  " + r + "</_>\n";
                out += "              </rects>\n              <tilted>0</tilted></feature>\n";
                out += "            <threshold>" + n.threshold + "</threshold>\n";
                out += "            <left_val>" + n.left + "</left_val>\n";
                out += "            <right_val>" + n.right + "</right_val></_>\n";
            }
            out += "        </_>\n";
        }
        out += "      </trees>\n      <stage_threshold>" + s.threshold +
               "</stage_threshold>\n      <parent>-1</parent>\n      <next>-1</next></_>\n";
    }
    return out + "  </stages></cascade>\n</opencv_storage>\n";
}

// One stage with one stump on one full-window rectangle: a window is accepted when
// sigma x threshold > mean (pixels in 0...1), i.e. the stump votes left.
inline std::string meanBelowCascade(const std::string& threshold) {
    return cascadeText("24 24", {StageText{{{StumpText{{"0 0 24 24 1."}, threshold, "1.", "0."}}}, "0.5"}});
}

// A cascade that accepts every window: the feature has weight 0, so it is always 0,
// below the positive threshold.
inline std::string acceptAllCascade(const std::string& rect = "0 0 1 1 0.") {
    return cascadeText("24 24", {StageText{{{StumpText{{rect}, "1.", "1.", "0."}}}, "0.5"}});
}

}  // namespace kvo_test
