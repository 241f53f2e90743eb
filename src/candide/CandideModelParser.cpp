// Reading the Candide text: sections located by header prefix, a count line, then
// exactly that many records of blank-separated numbers.
#include <cctype>

#include "candide/CandideModel.h"
#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// Section headers, in the order the units are read.
const char* const kVertexHeader = "# VERTEX LIST";
const char* const kFaceHeader = "# FACE LIST";
const char* const kActionUnitHeaders[] = {"# AUV9", "# AUV0", "# AUV11", "# AUV2",
                                          "# AUV3", "# AUV14", "# AUV5"};
struct ShapeUnitSpec {
    const char* header;
    double value;
};
const ShapeUnitSpec kShapeUnits[] = {{"# Eyes vertical position", -0.15},
                                     {"# Eyes, width", -0.3},
                                     {"# Eye separation distance", -0.1},
                                     {"# Mouth vertical position", -0.25}};

// True when `token` begins like a number: an optional sign, then a digit, or a point
// followed by a digit. Guards against reading a header or a word as a record.
bool isNumberToken(const std::string& token) {
    size_t i = 0;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    if (i < token.size() && token[i] == '.') ++i;
    return i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])) != 0;
}

// Locates a section and checks that its count and records lie within the text.
// Ensures on success: `first` is the index of the first record line and `count` the
// number of records (>= 0).
bool locateSection(const std::string& header, std::vector<std::string>& lines, size_t& first,
                   int& count) {
    const int at = getLineIndexOf(header, lines);
    if (at < 0) return false;  // reported by getLineIndexOf
    const size_t countLine = static_cast<size_t>(at) + 1;
    if (countLine >= lines.size()) {
        Err("Candide model: section " + header + " has no record count.");
        return false;
    }
    count = stringToInt(lines[countLine]);
    if (count < 0 || !isNumberToken(normalizeSpaces(lines[countLine]))) {
        Err("Candide model: section " + header + " has no valid record count.");
        return false;
    }
    first = countLine + 1;
    if (static_cast<size_t>(count) > lines.size() - first) {
        Err("Candide model: section " + header + " announces " + to_string(count) +
            " records but the text ends first.");
        return false;
    }
    return true;
}

// Splits record `index` of a section into at least `needed` numeric tokens.
bool readRecord(const std::string& header, const std::string& line, int index, size_t needed,
                SplitString& splitter) {
    splitter.text = normalizeSpaces(line);
    std::vector<std::string>& tokens = splitter.split(' ', false);
    bool ok = tokens.size() >= needed;
    for (size_t t = 0; ok && t < needed; ++t) ok = isNumberToken(tokens[t]);
    if (!ok) {
        Err("Candide model: record " + to_string(index) + " of section " + header +
            " is malformed: \"" + splitter.text + "\".");
    }
    return ok;
}

bool vertexIndexOk(const std::string& header, int index, int vertex, size_t vertexCount) {
    if (vertex >= 0 && static_cast<size_t>(vertex) < vertexCount) return true;
    Err("Candide model: record " + to_string(index) + " of section " + header +
        " names vertex " + to_string(vertex) + " outside the vertex list.");
    return false;
}

}  // namespace

bool CandideModel::parseVertices(std::vector<std::string>& lines) {
    size_t first = 0;
    int count = 0;
    if (!locateSection(kVertexHeader, lines, first, count)) return false;
    vertices.resize(count);
    points.resize(count);
    projectedXY.assign(2 * static_cast<size_t>(count), 0.0);
    SplitString splitter("");
    for (int k = 0; k < count; ++k) {
        if (!readRecord(kVertexHeader, lines[first + k], k, 3, splitter)) return false;
        const std::vector<std::string>& tok = splitter.tokens;
        CandidePointPtr v = std::make_shared<CandidePoint>();
        const double xyz[3] = {stringToDouble(tok[0]), -stringToDouble(tok[1]),
                               stringToDouble(tok[2])};
        for (int c = 0; c < 3; ++c) {
            v->neutral[c] = xyz[c];
            v->animated[c] = xyz[c];
            v->transformed[c] = xyz[c];
        }
        v->point = std::make_shared<Point>();
        v->outCoords = &projectedXY;
        v->outIndex = 2 * k;
        v->matched = false;
        vertices[k] = v;
        points[k] = v->point;
    }
    return true;
}

bool CandideModel::parseFaceList(std::vector<std::string>& lines) {
    size_t first = 0;
    int count = 0;
    if (!locateSection(kFaceHeader, lines, first, count)) return false;
    faces.resize(count);
    triangles.resize(3 * static_cast<size_t>(count));
    SplitString splitter("");
    for (int f = 0; f < count; ++f) {
        if (!readRecord(kFaceHeader, lines[first + f], f, 3, splitter)) return false;
        for (int c = 0; c < 3; ++c) {
            const int vertex = stringToInt(splitter.tokens[c]);
            // The host draws these triangles from the projected vertices, so every
            // index must name a vertex.
            if (!vertexIndexOk(kFaceHeader, f, vertex, vertices.size())) return false;
            faces[f][c] = vertex;
            triangles[3 * f + c] = vertex;
        }
    }
    return true;
}

ActionUnitVectorPtr CandideModel::parseActionUnitVector(const std::string& header,
                                                        std::vector<std::string>& lines,
                                                        double value) {
    size_t first = 0;
    int count = 0;
    if (!locateSection(header, lines, first, count)) return nullptr;
    ActionUnitVectorPtr unit = std::make_shared<ActionUnitVector>();
    unit->name = header;
    unit->value = value;
    unit->vertexIndices.resize(count);
    unit->displacements.resize(count);
    SplitString splitter("");
    for (int j = 0; j < count; ++j) {
        if (!readRecord(header, lines[first + j], j, 4, splitter)) return nullptr;
        const std::vector<std::string>& tok = splitter.tokens;
        const int vertex = stringToInt(tok[0]);
        if (!vertexIndexOk(header, j, vertex, vertices.size())) return nullptr;
        unit->vertexIndices[j] = vertex;
        unit->displacements[j] = {stringToDouble(tok[1]), -stringToDouble(tok[2]),
                                  stringToDouble(tok[3])};
    }
    return unit;
}

bool CandideModel::parseActionUnitVectors(std::vector<std::string>& lines) {
    for (const char* header : kActionUnitHeaders) {
        ActionUnitVectorPtr unit = parseActionUnitVector(header, lines, 0.0);
        if (!unit) return false;
        actionUnits.push_back(unit);
    }
    return true;
}

bool CandideModel::parseShapeUnits(std::vector<std::string>& lines) {
    for (const ShapeUnitSpec& spec : kShapeUnits) {
        ActionUnitVectorPtr unit = parseActionUnitVector(spec.header, lines, spec.value);
        if (!unit) return false;
        shapeUnits.push_back(unit);
    }
    // The shape units tailor the neutral face once; `animated` and `transformed` follow
    // at the first update.
    for (const ActionUnitVectorPtr& unit : shapeUnits) {
        for (size_t j = 0; j < unit->vertexIndices.size(); ++j) {
            CandidePoint& v = *vertices[unit->vertexIndices[j]];
            for (int c = 0; c < 3; ++c) v.neutral[c] += unit->value * unit->displacements[j][c];
        }
    }
    return true;
}

}  // namespace kvo
