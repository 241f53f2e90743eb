#pragma once
// Helpers shared by the Candide tests: the real model text, a small hand-made model
// text, and shapes for the fitting tests.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "candide/ASMCandideExtension.h"
#include "candide/CandideModel.h"
#include "math/ShapeMat.h"

namespace kvo {
namespace testing_support {

inline std::string readRealModelText() {
    std::ifstream in(std::string(KVO_CANDIDE_SOURCE), std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

// Sections of a small model text, keyed by header; `text()` writes them in a fixed
// order so that tests can drop or alter one section.
struct MiniModel {
    std::vector<std::pair<std::string, std::vector<std::string> > > sections;

    MiniModel() {
        sections.push_back({"# VERTEX LIST:", {"1.5 2.0 -0.5", "0 0 0", "1 1 1", "2 2 2", "3 3 3"}});
        sections.push_back({"# FACE LIST:", {"0 1 2", "2 3 4"}});
        const char* aus[] = {"# AUV9", "# AUV0", "# AUV11", "# AUV2", "# AUV3", "# AUV14", "# AUV5"};
        for (int i = 0; i < 7; ++i) {
            const std::string rec = std::to_string(1 + i % 4) + " 0.1 " + std::to_string(0.01 * (i + 1)) + " 0.0";
            sections.push_back({aus[i], {rec}});
        }
        sections.push_back({"# Eyes vertical position", {"2 0.0 1.0 0.0"}});
        sections.push_back({"# Eyes, width", {"2 1.0 0.0 0.0", "3 0.0 0.0 2.0"}});
        sections.push_back({"# Eye separation distance", {"3 1.0 0.0 0.0"}});
        sections.push_back({"# Mouth vertical position", {"4 0.0 -1.0 0.0"}});
    }

    std::vector<std::string>& records(const std::string& header) {
        for (auto& s : sections)
            if (s.first == header) return s.second;
        static std::vector<std::string> none;
        return none;
    }

    void drop(const std::string& header) {
        for (size_t i = 0; i < sections.size(); ++i)
            if (sections[i].first == header) sections.erase(sections.begin() + i);
    }

    // `countDelta` changes every section's announced count.
    std::string text(int countDelta = 0) const {
        std::string t = "# Mini model\n\n";
        for (const auto& s : sections) {
            t += s.first + "\n" + std::to_string(static_cast<int>(s.second.size()) + countDelta) + "\n";
            for (const auto& r : s.second) t += r + "\n";
            t += "\n";
        }
        return t;
    }
};

}  // namespace testing_support
}  // namespace kvo
