// Loading of the Haar cascade text into the detector's linked lists.
//
// The text is OpenCV's older Haar cascade layout. Elements are found by position only
// (first child, next sibling); their names are not looked at:
//   document > storage > cascade > [size, stages]
//   stages > stage* ; stage > [trees, stage_threshold]
//   trees > tree* ; tree > node* ; node > [feature, threshold, left_val, right_val]
//   feature > [rects] ; rects > rect*  (each "x y width height weight")
// Every node of a tree becomes an independent stump of its stage.
#include <algorithm>
#include <memory>
#include <sstream>
#include <string>

#include <rapidxml/rapidxml.hpp>

#include "detection/ViolaJones.h"
#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

using XmlNode = rapidxml::xml_node<char>;

// Reads numbers from element texts with one reused stream.
class NumberReader {
public:
    void load(const XmlNode* element) {
        stream_.str(element->value() ? std::string(element->value(), element->value_size())
                                     : std::string());
        stream_.clear();
    }
    // Standard formatted input: a failed extraction stores 0 (or the type's limit for
    // an out-of-range number) and fails the following extractions from this text.
    template <typename T>
    void read(T& target) {
        stream_ >> target;
    }

private:
    std::istringstream stream_;
};

// A cascade being built; owns its nodes until handed to the detector, so that a
// refused text leaves nothing behind.
struct CascadeBuilder {
    VJStage* firstStage = nullptr;
    VJStage* lastStage = nullptr;
    VJFeatureRect* firstRect = nullptr;
    VJFeatureRect* lastRect = nullptr;

    ~CascadeBuilder() { release(); }

    void release() {
        for (VJStage* s = firstStage; s;) {
            for (VJClassifier* c = s->firstClassifier; c;) {
                VJClassifier* nextClassifier = c->next;
                delete c;
                c = nextClassifier;
            }
            VJStage* nextStage = s->next;
            delete s;
            s = nextStage;
        }
        for (VJFeatureRect* r = firstRect; r;) {
            VJFeatureRect* next = r->nextInCascade;
            delete r;
            r = next;
        }
        firstStage = lastStage = nullptr;
        firstRect = lastRect = nullptr;
    }

    VJStage* addStage() {
        VJStage* s = new VJStage();
        if (lastStage) lastStage->next = s; else firstStage = s;
        lastStage = s;
        return s;
    }

    VJFeatureRect* addRect(VJFeatureRect*& featureTail, VJClassifier* owner) {
        VJFeatureRect* r = new VJFeatureRect();
        if (lastRect) lastRect->nextInCascade = r; else firstRect = r;
        lastRect = r;
        if (featureTail) featureTail->nextInFeature = r; else owner->firstRect = r;
        featureTail = r;
        return r;
    }
};

// The walk reports the first missing element by its conventional name.
struct MissingElement {
    const char* what;
};

const XmlNode* child(const XmlNode* parent, const char* what) {
    const XmlNode* n = parent->first_node();
    if (!n) throw MissingElement{what};
    return n;
}

const XmlNode* sibling(const XmlNode* node, const char* what) {
    const XmlNode* n = node->next_sibling();
    if (!n) throw MissingElement{what};
    return n;
}

}  // namespace

void ViolaJones::releaseCascade() {
    CascadeBuilder owned;
    owned.firstStage = firstStage;
    owned.firstRect = allRects;
    firstStage = nullptr;
    allRects = nullptr;
    scanStages_.clear();
    scanStumps_.clear();
    rectGeometry_.clear();
    rectWeights_.clear();
    spansX_.clear();
    spansY_.clear();
    for (ScanSide& side : sides_) side.rects.clear();
    // `owned` frees the lists on leaving scope.
}

bool ViolaJones::readXML(char* cascadeXml) {
    releaseCascade();
    windowWidth = 0;
    windowHeight = 0;
    if (!cascadeXml) {
        Err("ViolaJones: no cascade text to load.");
        return false;
    }

    // The document's node pool is large (tens of kilobytes), so it lives on the heap
    // rather than on the caller's stack; it is released when loading ends.
    std::unique_ptr<rapidxml::xml_document<char>> doc(new rapidxml::xml_document<char>());
    CascadeBuilder cascade;
    NumberReader numbers;
    int width = 0;
    int height = 0;
    try {
        doc->parse<0>(cascadeXml);

        const XmlNode* storage = child(doc.get(), "opencv_storage");
        const XmlNode* cascadeNode = child(storage, "cascade");
        const XmlNode* sizeNode = child(cascadeNode, "size");
        numbers.load(sizeNode);
        numbers.read(width);
        numbers.read(height);
        const XmlNode* stages = sibling(sizeNode, "stages");

        for (const XmlNode* stageNode = stages->first_node(); stageNode;
             stageNode = stageNode->next_sibling()) {
            VJStage* stage = cascade.addStage();
            VJClassifier* lastClassifier = nullptr;
            const XmlNode* trees = child(stageNode, "trees");
            for (const XmlNode* tree = trees->first_node(); tree; tree = tree->next_sibling()) {
                for (const XmlNode* node = tree->first_node(); node; node = node->next_sibling()) {
                    VJClassifier* c = new VJClassifier();
                    if (lastClassifier) lastClassifier->next = c; else stage->firstClassifier = c;
                    lastClassifier = c;

                    const XmlNode* feature = child(node, "feature");
                    const XmlNode* rects = child(feature, "rects");
                    VJFeatureRect* featureTail = nullptr;
                    for (const XmlNode* rectNode = rects->first_node(); rectNode;
                         rectNode = rectNode->next_sibling()) {
                        VJFeatureRect* r = cascade.addRect(featureTail, c);
                        numbers.load(rectNode);
                        numbers.read(r->x);
                        numbers.read(r->y);
                        numbers.read(r->width);
                        numbers.read(r->height);
                        numbers.read(r->weight);
                    }
                    const XmlNode* threshold = sibling(feature, "threshold");
                    numbers.load(threshold);
                    numbers.read(c->threshold);
                    const XmlNode* left = sibling(threshold, "left_val");
                    numbers.load(left);
                    numbers.read(c->leftValue);
                    const XmlNode* right = sibling(left, "right_val");
                    numbers.load(right);
                    numbers.read(c->rightValue);
                }
            }
            const XmlNode* stageThreshold = sibling(trees, "stage_threshold");
            numbers.load(stageThreshold);
            numbers.read(stage->threshold);
        }
    } catch (const rapidxml::parse_error& e) {
        Err(std::string("ViolaJones: the cascade is not well-formed XML (") + e.what() +
            " at offset " + kvo::to_string(static_cast<long long>(e.where<char>() - cascadeXml)) +
            ").");
        return false;
    } catch (const MissingElement& m) {
        Err(std::string("ViolaJones: the cascade lacks its <") + m.what + "> element.");
        return false;
    } catch (const std::bad_alloc&) {
        Err("ViolaJones: out of memory while loading the cascade.");
        return false;
    }

    // A scan reads each feature rectangle inside its window; a cascade whose window is
    // empty or whose rectangles leave it would make the scan read outside the images.
    if (width <= 0 || height <= 0) {
        Err("ViolaJones: the cascade window size " + kvo::to_string(width) + " x " +
            kvo::to_string(height) + " is not positive.");
        return false;
    }
    if (!cascade.firstStage) {
        Err("ViolaJones: the cascade has no stages.");
        return false;
    }
    size_t index = 0;
    for (const VJFeatureRect* r = cascade.firstRect; r; r = r->nextInCascade, ++index) {
        if (r->x < 0 || r->y < 0 || r->width < 0 || r->height < 0 || r->x > width - r->width ||
            r->y > height - r->height) {
            Err("ViolaJones: feature rectangle " + kvo::to_string(static_cast<long long>(index)) +
                " (" + kvo::to_string(r->x) + ", " + kvo::to_string(r->y) + ", " +
                kvo::to_string(r->width) + ", " + kvo::to_string(r->height) +
                ") lies outside the cascade window.");
            return false;
        }
    }

    windowWidth = width;
    windowHeight = height;
    firstStage = cascade.firstStage;
    allRects = cascade.firstRect;
    cascade.firstStage = nullptr;
    cascade.firstRect = nullptr;
    buildScanCascade();
    return true;
}

void ViolaJones::buildScanCascade() {
    for (const VJStage* s = firstStage; s; s = s->next) {
        ScanStage stage{s->threshold, static_cast<int>(scanStumps_.size()), 0,
                        static_cast<int>(rectGeometry_.size()), 0};
        for (const VJClassifier* c = s->firstClassifier; c; c = c->next) {
            ScanStump stump{c->threshold, {c->rightValue, c->leftValue},
                            static_cast<int>(rectGeometry_.size()), 0};
            for (const VJFeatureRect* r = c->firstRect; r; r = r->nextInFeature) {
                rectGeometry_.push_back(RectGeometry{r->x, r->y, r->width, r->height});
                rectWeights_.push_back(r->weight);
            }
            if (!c->firstRect) {
                // A feature without rectangles is 0. An empty box of weight 0 gives the
                // same 0.0, so the scan needs no separate case.
                rectGeometry_.push_back(RectGeometry{0, 0, 0, 0});
                rectWeights_.push_back(0.0);
            }
            stump.endRect = static_cast<int>(rectGeometry_.size());
            scanStumps_.push_back(stump);
        }
        stage.endStump = static_cast<int>(scanStumps_.size());
        stage.endRect = static_cast<int>(rectGeometry_.size());
        scanStages_.push_back(stage);
    }
    // The window positions of a size are bounded by the farthest reach of any rectangle,
    // which depends only on these pairs (a few hundred, against thousands of rectangles).
    auto before = [](const Span& a, const Span& b) {
        return a.start < b.start || (a.start == b.start && a.length < b.length);
    };
    auto same = [](const Span& a, const Span& b) { return a.start == b.start && a.length == b.length; };
    for (const RectGeometry& g : rectGeometry_) {
        spansX_.push_back(Span{g.x, g.width});
        spansY_.push_back(Span{g.y, g.height});
    }
    for (std::vector<Span>* spans : {&spansX_, &spansY_}) {
        std::sort(spans->begin(), spans->end(), before);
        spans->erase(std::unique(spans->begin(), spans->end(), same), spans->end());
    }
    // Each scanning thread keeps its own corner offsets; the weights never change.
    for (ScanSide& side : sides_) {
        side.rects.resize(rectGeometry_.size());
        for (size_t i = 0; i < rectGeometry_.size(); ++i)
            side.rects[i] = ScanRect{0, 0, 0, 0, rectWeights_[i]};
    }
}

}  // namespace kvo
