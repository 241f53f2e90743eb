// cascade_converter: rewrites an OpenCV Haar cascade of the newer layout (stages of
// weak classifiers with `internalNodes`/`leafValues`, a separate `features` list) into
// the older positional layout the library's cascade loader walks, minified:
//
//   <opencv_storage><NAME type_id="opencv-haar-classifier"><size>W H</size><stages>
//     <_><trees><_><_><feature><rects><_>x y w h weight</_>...</rects></feature>
//     <threshold>t</threshold><left_val>l</left_val><right_val>r</right_val></_></_>
//     ...</trees><stage_threshold>s</stage_threshold></_>...</stages></NAME></opencv_storage>
//
// (written without line breaks or indentation). Numbers keep their source spelling.
// Every weak classifier must be a stump (one node, two leaves) on an upright feature:
// the loader reads each node as an independent stump and has no tilted features.
//
//   cascade_converter INPUT.xml OUTPUT.xml
//
// After writing, the output is read back the way the loader reads it (by position, the
// numbers through a string stream) and compared with the source: stage count, stump
// count and every threshold, vote, rectangle and weight. Any difference is an error.
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <rapidxml/rapidxml.hpp>

namespace {

using Node = rapidxml::xml_node<char>;

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    double weight = 0.0;
};
struct Stump {
    std::vector<Rect> rects;
    double threshold = 0.0, left = 0.0, right = 0.0;
};
struct Stage {
    std::vector<Stump> stumps;
    double threshold = 0.0;
};
struct Cascade {
    int width = 0, height = 0;
    std::vector<Stage> stages;
};

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

std::vector<std::string> tokens(const char* text) {
    std::istringstream in(text ? text : "");
    std::vector<std::string> out;
    std::string t;
    while (in >> t) out.push_back(t);
    return out;
}

std::string join(const std::vector<std::string>& t) {
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i) out += (i ? " " : "") + t[i];
    return out;
}

// Reads numbers as the loader does: formatted extraction from a string stream.
template <typename T>
T number(const std::string& text) {
    std::istringstream in(text);
    T v{};
    if (!(in >> v)) fail("'" + text + "' is not a number");
    return v;
}

Node* child(Node* parent, const char* name) {
    Node* n = parent ? parent->first_node(name) : nullptr;
    if (!n) fail(std::string("missing element <") + name + ">" +
                 (parent ? std::string(" in <") + parent->name() + ">" : std::string()));
    return n;
}

std::vector<Node*> items(Node* list) {
    std::vector<Node*> out;
    for (Node* n = list->first_node(); n; n = n->next_sibling()) out.push_back(n);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Source side: the newer layout, looked up by element name. Writes the older layout
// into `out` and returns the model it describes.
Cascade convert(std::vector<char>& buffer, const std::string& rootName, std::string& out) {
    rapidxml::xml_document<char> doc;
    doc.parse<0>(buffer.data());
    Node* cascade = child(child(&doc, "opencv_storage"), "cascade");
    if (std::strcmp(child(cascade, "stageType")->value(), "BOOST") != 0 ||
        std::strcmp(child(cascade, "featureType")->value(), "HAAR") != 0) {
        fail("only boosted Haar cascades can be converted");
    }
    const std::string width = join(tokens(child(cascade, "width")->value()));
    const std::string height = join(tokens(child(cascade, "height")->value()));

    // The feature list: rectangles as text and as values, by feature index.
    std::vector<std::vector<std::string>> featureText;
    std::vector<std::vector<Rect>> featureRects;
    for (Node* f : items(child(cascade, "features"))) {
        if (Node* tilted = f->first_node("tilted")) {
            if (number<int>(tilted->value()) != 0) fail("tilted features cannot be converted");
        }
        featureText.emplace_back();
        featureRects.emplace_back();
        for (Node* r : items(child(f, "rects"))) {
            const std::vector<std::string> t = tokens(r->value());
            if (t.size() != 5) fail("a feature rectangle does not hold five numbers");
            featureText.back().push_back(join(t));
            Rect rect;
            rect.x = number<int>(t[0]);
            rect.y = number<int>(t[1]);
            rect.width = number<int>(t[2]);
            rect.height = number<int>(t[3]);
            rect.weight = number<double>(t[4]);
            featureRects.back().push_back(rect);
        }
    }

    Cascade model;
    model.width = number<int>(width);
    model.height = number<int>(height);
    out = "<opencv_storage><" + rootName + " type_id=\"opencv-haar-classifier\"><size>" + width + " " +
          height + "</size><stages>";
    const std::vector<Node*> stages = items(child(cascade, "stages"));
    if (Node* count = cascade->first_node("stageNum")) {
        if (number<std::size_t>(count->value()) != stages.size()) fail("stageNum differs from the stage count");
    }
    for (Node* s : stages) {
        Stage stage;
        const std::vector<Node*> weak = items(child(s, "weakClassifiers"));
        if (Node* count = s->first_node("maxWeakCount")) {
            if (number<std::size_t>(count->value()) != weak.size()) fail("maxWeakCount differs from the classifier count");
        }
        out += "<_><trees>";
        for (Node* w : weak) {
            const std::vector<std::string> nodes = tokens(child(w, "internalNodes")->value());
            const std::vector<std::string> leaves = tokens(child(w, "leafValues")->value());
            if (nodes.size() != 4) fail("a weak classifier with more than one node cannot be converted");
            const int left = number<int>(nodes[0]), right = number<int>(nodes[1]);
            const long feature = number<long>(nodes[2]);
            // Children <= 0 are leaves, numbered by their negation.
            if (left > 0 || right > 0) fail("a weak classifier is not a stump");
            if (std::size_t(-left) >= leaves.size() || std::size_t(-right) >= leaves.size())
                fail("a leaf index is out of range");
            if (feature < 0 || std::size_t(feature) >= featureText.size()) fail("a feature index is out of range");
            out += "<_><_><feature><rects>";
            for (const std::string& r : featureText[feature]) out += "<_>" + r + "</_>";
            out += "</rects></feature><threshold>" + nodes[3] + "</threshold><left_val>" + leaves[-left] +
                   "</left_val><right_val>" + leaves[-right] + "</right_val></_></_>";
            Stump stump;
            stump.rects = featureRects[feature];
            stump.threshold = number<double>(nodes[3]);
            stump.left = number<double>(leaves[-left]);
            stump.right = number<double>(leaves[-right]);
            stage.stumps.push_back(stump);
        }
        const std::string threshold = join(tokens(child(s, "stageThreshold")->value()));
        out += "</trees><stage_threshold>" + threshold + "</stage_threshold></_>";
        stage.threshold = number<double>(threshold);
        model.stages.push_back(stage);
    }
    out += "</stages></" + rootName + "></opencv_storage>";
    return model;
}

Node* first(Node* n) {
    Node* c = n ? n->first_node() : nullptr;
    if (!c) fail("the converted cascade lacks an element the loader needs");
    return c;
}
Node* after(Node* n) {
    Node* c = n->next_sibling();
    if (!c) fail("the converted cascade lacks an element the loader needs");
    return c;
}

// Target side: the converted text read strictly by position, as the loader does.
Cascade readBack(std::vector<char>& buffer) {
    rapidxml::xml_document<char> doc;
    doc.parse<0>(buffer.data());
    Cascade model;
    Node* size = first(first(first(&doc)));
    {
        std::istringstream in(size->value());
        in >> model.width >> model.height;
    }
    for (Node* s = after(size)->first_node(); s; s = s->next_sibling()) {
        Stage stage;
        Node* trees = first(s);
        for (Node* tree = trees->first_node(); tree; tree = tree->next_sibling()) {
            for (Node* node = tree->first_node(); node; node = node->next_sibling()) {
                Stump stump;
                Node* feature = first(node);
                for (Node* r = first(feature)->first_node(); r; r = r->next_sibling()) {
                    Rect rect;
                    std::istringstream in(r->value());
                    in >> rect.x >> rect.y >> rect.width >> rect.height >> rect.weight;
                    if (!in) fail("a converted rectangle does not read back");
                    stump.rects.push_back(rect);
                }
                Node* threshold = after(feature);
                Node* left = after(threshold);
                Node* right = after(left);
                stump.threshold = number<double>(threshold->value());
                stump.left = number<double>(left->value());
                stump.right = number<double>(right->value());
                stage.stumps.push_back(stump);
            }
        }
        stage.threshold = number<double>(after(trees)->value());
        model.stages.push_back(stage);
    }
    return model;
}

// Counts and values must agree exactly; returns the number of rectangles.
std::size_t compare(const Cascade& a, const Cascade& b) {
    if (a.width != b.width || a.height != b.height) fail("the window size differs after conversion");
    if (a.stages.size() != b.stages.size()) fail("the stage count differs after conversion");
    std::size_t rects = 0;
    for (std::size_t s = 0; s < a.stages.size(); ++s) {
        const Stage& x = a.stages[s];
        const Stage& y = b.stages[s];
        const std::string where = "stage " + std::to_string(s);
        if (x.threshold != y.threshold) fail(where + ": threshold differs after conversion");
        if (x.stumps.size() != y.stumps.size()) fail(where + ": stump count differs after conversion");
        for (std::size_t k = 0; k < x.stumps.size(); ++k) {
            const Stump& p = x.stumps[k];
            const Stump& q = y.stumps[k];
            const std::string at = where + ", stump " + std::to_string(k);
            if (p.threshold != q.threshold || p.left != q.left || p.right != q.right)
                fail(at + ": threshold or votes differ after conversion");
            if (p.rects.size() != q.rects.size()) fail(at + ": rectangle count differs after conversion");
            for (std::size_t r = 0; r < p.rects.size(); ++r) {
                const Rect& u = p.rects[r];
                const Rect& v = q.rects[r];
                if (u.x != v.x || u.y != v.y || u.width != v.width || u.height != v.height || u.weight != v.weight)
                    fail(at + ", rectangle " + std::to_string(r) + " differs after conversion");
            }
            rects += p.rects.size();
        }
    }
    return rects;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: cascade_converter INPUT.xml OUTPUT.xml\n";
        return 2;
    }
    const std::string input = argv[1], output = argv[2];
    try {
        std::string name = input.substr(input.find_last_of('/') + 1);
        name = name.substr(0, name.find('.'));
        if (name.empty()) name = "cascade";
        std::string source = readFile(input);
        std::vector<char> sourceBuffer(source.begin(), source.end());
        sourceBuffer.push_back('\0');
        std::string converted;
        const Cascade expected = convert(sourceBuffer, name, converted);

        std::vector<char> convertedBuffer(converted.begin(), converted.end());
        convertedBuffer.push_back('\0');
        const Cascade actual = readBack(convertedBuffer);
        const std::size_t rects = compare(expected, actual);
        std::size_t stumps = 0;
        for (const Stage& s : expected.stages) stumps += s.stumps.size();

        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        out << converted;
        out.close();
        if (!out) fail("cannot write " + output);
        std::cout << "cascade_converter: " << name << ": " << expected.stages.size() << " stages, " << stumps
                  << " stumps, " << rects << " rectangles, window " << expected.width << " x "
                  << expected.height << ", " << source.size() << " -> " << converted.size() << " bytes\n";
    } catch (const rapidxml::parse_error& e) {
        std::cerr << "Error: cascade_converter: " << input << ": XML error: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "Error: cascade_converter: " << input << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
