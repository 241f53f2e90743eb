// candide_reducer: reduces a Candide-3 model text (.wfm) to the sections the library's
// Candide parser reads, minified:
//
//   candide_reducer INPUT.wfm OUTPUT
//
// Kept, each as its bare header line, a count line and the records: the vertex list,
// the face list, the action units "# AUV9", "# AUV0", "# AUV11", "# AUV2", "# AUV3",
// "# AUV14", "# AUV5" and the shape units "# Eyes vertical position", "# Eyes, width",
// "# Eye separation distance", "# Mouth vertical position". A record keeps only the
// tokens the parser reads (3 for vertices and faces, 4 for units), separated by one
// blank; decimals lose trailing zeros, which leaves their values unchanged.
//
// A section is found as the parser finds it (the first line that begins with the
// header), so the reduced text yields what the full text yields. After writing, both
// texts are read the parser's way and every record is compared value by value;
// vertex indices are checked against the vertex count. Any difference is an error.
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/StringUtils.h"

namespace {

struct Section {
    const char* header;
    std::size_t tokens;  // tokens per record that the parser reads
    bool integerFirst;   // first token is an integer (units), or all are (faces)
    bool allIntegers;
};

const Section kSections[] = {
    {"# VERTEX LIST", 3, false, false},
    {"# FACE LIST", 3, true, true},
    {"# AUV9", 4, true, false},
    {"# AUV0", 4, true, false},
    {"# AUV11", 4, true, false},
    {"# AUV2", 4, true, false},
    {"# AUV3", 4, true, false},
    {"# AUV14", 4, true, false},
    {"# AUV5", 4, true, false},
    {"# Eyes vertical position", 4, true, false},
    {"# Eyes, width", 4, true, false},
    {"# Eye separation distance", 4, true, false},
    {"# Mouth vertical position", 4, true, false},
};

// The least vertex count the pose fit addresses (vertex indices up to 112).
const std::size_t kMinVertices = 113;

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

// The records of one section, read the parser's way: tokens of the normalised lines.
std::vector<std::vector<std::string>> readSection(const Section& s, std::vector<std::string>& lines) {
    const int at = kvo::getLineIndexOf(s.header, lines);
    if (at < 0 || std::size_t(at) + 1 >= lines.size()) fail(std::string("section ") + s.header + " is missing");
    const int count = kvo::stringToInt(lines[at + 1]);
    if (count < 0 || std::size_t(at) + 2 + std::size_t(count) > lines.size())
        fail(std::string("section ") + s.header + " has fewer records than its count");
    std::vector<std::vector<std::string>> records;
    for (int r = 0; r < count; ++r) {
        kvo::SplitString split(kvo::normalizeSpaces(lines[at + 2 + r]));
        std::vector<std::string> t = split.split(' ', false);
        if (t.size() < s.tokens) fail(std::string("a record of ") + s.header + " has too few numbers");
        t.resize(s.tokens);
        records.push_back(t);
    }
    return records;
}

std::vector<std::string> splitLines(const std::string& text) {
    kvo::SplitString split(text);
    return split.split('\n', true);
}

// A decimal with trailing fractional zeros (and a bare trailing point) removed; the
// decimal value, and so the double read from it, is unchanged.
std::string shorten(std::string t) {
    const std::size_t dot = t.find('.');
    if (dot == std::string::npos || t.find_first_of("eE") != std::string::npos) return t;
    while (t.size() > dot + 1 && t.back() == '0') t.pop_back();
    if (t.size() == dot + 1) t.pop_back();
    if (t.empty() || t == "-" || t == "+") t += "0";
    return t;
}

void compareSections(const Section& s, const std::vector<std::vector<std::string>>& a,
                     const std::vector<std::vector<std::string>>& b, std::size_t vertices) {
    if (a.size() != b.size()) fail(std::string(s.header) + ": record count differs after reduction");
    for (std::size_t r = 0; r < a.size(); ++r) {
        for (std::size_t k = 0; k < s.tokens; ++k) {
            const bool integer = s.allIntegers || (k == 0 && s.integerFirst);
            const bool same = integer ? kvo::stringToInt(a[r][k]) == kvo::stringToInt(b[r][k])
                                      : kvo::stringToDouble(a[r][k]) == kvo::stringToDouble(b[r][k]);
            if (!same) fail(std::string(s.header) + ": record " + std::to_string(r) + " differs after reduction");
            if (integer && vertices > 0) {
                const int v = kvo::stringToInt(a[r][k]);
                if (v < 0 || std::size_t(v) >= vertices)
                    fail(std::string(s.header) + ": record " + std::to_string(r) + " names vertex " +
                         std::to_string(v) + " of " + std::to_string(vertices));
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: candide_reducer INPUT.wfm OUTPUT\n";
        return 2;
    }
    const std::string input = argv[1], output = argv[2];
    try {
        std::ifstream in(input, std::ios::binary);
        if (!in) fail("cannot read " + input);
        std::ostringstream s;
        s << in.rdbuf();
        const std::string source = s.str();

        std::vector<std::string> sourceLines = splitLines(source);
        std::string reduced;
        std::vector<std::vector<std::vector<std::string>>> expected;
        for (const Section& sec : kSections) {
            expected.push_back(readSection(sec, sourceLines));
            reduced += std::string(sec.header) + "\n" + std::to_string(expected.back().size()) + "\n";
            for (const std::vector<std::string>& record : expected.back()) {
                for (std::size_t k = 0; k < record.size(); ++k) reduced += (k ? " " : "") + shorten(record[k]);
                reduced += "\n";
            }
        }

        std::vector<std::string> reducedLines = splitLines(reduced);
        const std::size_t vertices = expected[0].size();
        if (vertices < kMinVertices)
            fail("the vertex list holds " + std::to_string(vertices) + " vertices, fewer than " +
                 std::to_string(kMinVertices));
        std::size_t records = 0;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const std::vector<std::vector<std::string>> actual = readSection(kSections[i], reducedLines);
            compareSections(kSections[i], expected[i], actual, i == 0 ? 0 : vertices);
            records += actual.size();
        }

        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        out << reduced;
        out.close();
        if (!out) fail("cannot write " + output);
        std::cout << "candide_reducer: " << vertices << " vertices, " << expected[1].size() << " faces, "
                  << records << " records in " << expected.size() << " sections, " << source.size()
                  << " -> " << reduced.size() << " bytes\n";
    } catch (const std::exception& e) {
        std::cerr << "Error: candide_reducer: " << input << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
