#pragma once
// Test and measurement helper: turns a Haar cascade file in OpenCV's newer format
// (stages of weakClassifiers with internalNodes/leafValues, one shared features list)
// into the older positional layout that kvo::ViolaJones reads, so that the detector and
// OpenCV can run the very same cascade file. Numbers are copied as text, unchanged.
//
// Not part of the library: used by the detection tests, the detection benchmark and the
// evaluation tool.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <rapidxml/rapidxml.hpp>

namespace kvo_test {

inline std::vector<std::string> cascadeTokens(const char* text) {
    std::istringstream in(text ? text : "");
    std::vector<std::string> out;
    std::string t;
    while (in >> t) out.push_back(t);
    return out;
}

inline const rapidxml::xml_node<>* cascadeChild(const rapidxml::xml_node<>* n, const char* name) {
    const rapidxml::xml_node<>* c = n ? n->first_node(name) : nullptr;
    if (!c) throw std::runtime_error(std::string("cascade file lacks <") + name + ">");
    return c;
}

// Reads the OpenCV cascade at `path` and returns the older layout's text, minified.
// Throws std::runtime_error when the file cannot be read or is not a stump cascade.
inline std::string oldLayoutCascadeFromOpenCv(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path);
    std::vector<char> text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    text.push_back('\0');
    rapidxml::xml_document<> doc;
    doc.parse<0>(text.data());

    const auto* cascade = cascadeChild(cascadeChild(&doc, "opencv_storage"), "cascade");
    const std::string width = cascadeTokens(cascadeChild(cascade, "width")->value()).at(0);
    const std::string height = cascadeTokens(cascadeChild(cascade, "height")->value()).at(0);

    std::vector<std::string> features;  // the rects element of each feature, already written
    for (const auto* f = cascadeChild(cascade, "features")->first_node(); f; f = f->next_sibling()) {
        std::string rects = "<rects>";
        for (const auto* r = cascadeChild(f, "rects")->first_node(); r; r = r->next_sibling()) {
            std::string joined;
            for (const std::string& t : cascadeTokens(r->value())) joined += (joined.empty() ? "" : " ") + t;
            rects += "<_>" + joined + "</_>";
        }
        features.push_back(rects + "</rects>");
    }

    std::string out = "<opencv_storage><cascade><size>" + width + " " + height + "</size><stages>";
    for (const auto* s = cascadeChild(cascade, "stages")->first_node(); s; s = s->next_sibling()) {
        out += "<_><trees>";
        for (const auto* w = cascadeChild(s, "weakClassifiers")->first_node(); w; w = w->next_sibling()) {
            const std::vector<std::string> node = cascadeTokens(cascadeChild(w, "internalNodes")->value());
            const std::vector<std::string> leaves = cascadeTokens(cascadeChild(w, "leafValues")->value());
            if (node.size() != 4 || leaves.size() != 2) throw std::runtime_error("not a stump cascade");
            const size_t feature = std::stoul(node[2]);
            out += "<_><_><feature>" + features.at(feature) + "<tilted>0</tilted></feature><threshold>" +
                   node[3] + "</threshold><left_val>" + leaves[0] + "</left_val><right_val>" +
                   leaves[1] + "</right_val></_></_>";
        }
        out += "</trees><stage_threshold>" +
               cascadeTokens(cascadeChild(s, "stageThreshold")->value()).at(0) +
               "</stage_threshold><parent>-1</parent><next>-1</next></_>";
    }
    return out + "</stages></cascade></opencv_storage>";
}

// The cascade that the library embeds (Debian's opencv-data).
inline const char* defaultCascadePath() {
    return "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";
}

}  // namespace kvo_test
