#pragma once
// Builds small shape-model JSON documents for the loader tests: n landmarks, an
// identity eigenvector matrix, eigenvalues 2n ... 1, and per level 1-D profiles of
// three values with compact distance matrices. Any part can be replaced or left out.
#include <map>
#include <set>
#include <string>

#include "asm/ASMModelConfig.h"

namespace kvo {
namespace test {

struct ShapeModelDocument {
    int n = 2;
    int numLevels = 4;
    std::string eigVecs;                     // "" = identity 2n x 2n
    std::string eigVals;                     // "" = [[2n], ..., [1]]
    std::string avShape;                     // "" = (10 i - 5, 2 + i) per landmark
    std::map<int, std::string> levels;       // whole level object text by level number
    std::set<std::string> omit;              // top-level keys to leave out

    static std::string defaultLevel(int n) {
        std::string specs, profs, covars;
        for (int i = 0; i < n; ++i) {
            const char* sep = i ? "," : "";
            specs += sep + std::string("0");
            profs += sep + std::string("[1,2,3]");
            covars += sep + std::string("[[0,0,-9999],[0,0,1],[0,0,2],[0,0,3]]");
        }
        return "{\"ProfSpecs\":[" + specs + "],\"Profs\":[" + profs + "],\"Covars\":[" + covars + "]}";
    }

    std::string text() const {
        const int d = 2 * n;
        std::string vecs = eigVecs, vals = eigVals, shape = avShape;
        if (vecs.empty()) {
            vecs = "[";
            for (int r = 0; r < d; ++r) {
                vecs += r ? ",[" : "[";
                for (int c = 0; c < d; ++c) vecs += std::string(c ? "," : "") + (r == c ? "1" : "0");
                vecs += "]";
            }
            vecs += "]";
        }
        if (vals.empty()) {
            vals = "[";
            for (int r = 0; r < d; ++r) vals += (r ? ",[" : "[") + std::to_string(d - r) + "]";
            vals += "]";
        }
        if (shape.empty()) {
            shape = "[";
            for (int i = 0; i < n; ++i) {
                shape += (i ? ",[" : "[") + std::to_string(10 * i - 5) + "," + std::to_string(2 + i) + "]";
            }
            shape += "]";
        }
        std::string out = "{";
        auto add = [&](const std::string& key, const std::string& value) {
            if (omit.count(key)) return;
            if (out.size() > 1) out += ",";
            out += "\"" + key + "\":" + value;
        };
        add("EigVecs", vecs);
        add("EigVals", vals);
        add("AvShape", shape);
        for (int l = 0; l < numLevels; ++l) {
            auto it = levels.find(l);
            add("Lev_" + std::to_string(l), it == levels.end() ? defaultLevel(n) : it->second);
        }
        return out + "}";
    }
};

// A configuration under which the default document loads without any message.
inline ASMModelConfig smallConfig(int n) {
    ASMModelConfig c;
    c.nLandmarks = n;
    c.fXm2vts = false;
    c.nEigs = 3;
    c.nEigsLev0 = 3;
    c.nEigs2dLev0 = 3;
    c.nEigsFinal = 2;
    return c;
}

}  // namespace test
}  // namespace kvo
