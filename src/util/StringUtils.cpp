#include "util/StringUtils.h"

#include <sstream>

#include "util/Trace.h"

namespace kvo {

template <typename T>
std::string to_string(const T& v) {
    std::ostringstream os;
    os << v;
    return os.str();
}
template std::string to_string<int>(const int&);
template std::string to_string<double>(const double&);
template std::string to_string<unsigned int>(const unsigned int&);
template std::string to_string<long>(const long&);
template std::string to_string<unsigned long>(const unsigned long&);
template std::string to_string<long long>(const long long&);
template std::string to_string<unsigned long long>(const unsigned long long&);

namespace {
// A failed extraction leaves 0 in the target (C++11 stream semantics), which is the
// documented result for text that does not start with a number.
template <typename T>
T readNumber(const std::string& s, std::ios_base& (*base)(std::ios_base&)) {
    std::istringstream is(s);
    T v = 0;
    is >> base >> v;
    return v;
}
}  // namespace

int stringToInt(const std::string& s) { return readNumber<int>(s, std::dec); }

unsigned int stringToUint(const std::string& s) { return readNumber<unsigned int>(s, std::hex); }

double stringToDouble(const std::string& s) {
    std::istringstream is(s);
    double v = 0.0;
    is >> v;
    return v;
}

std::string uintToBinaryString(unsigned long v) {
    if (v == 0) return "0";
    std::string out;
    while (v != 0) {
        out.insert(out.begin(), static_cast<char>('0' + (v & 1UL)));
        v >>= 1;
    }
    return out;
}

SplitString::SplitString(const std::string& s) : text(s) {}

std::vector<std::string>& SplitString::split(char delimiter, bool keepEmpty) {
    tokens.clear();
    std::string current;
    for (char c : text) {
        if (c == delimiter) {
            if (!keepEmpty && current.empty()) continue;
            tokens.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) tokens.push_back(current);
    return tokens;
}

int getLineIndexOf(const std::string& key, std::vector<std::string>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, key.size(), key) == 0) return static_cast<int>(i);
    }
    Err("Error: getLineIndexOf: " + key + " not found.");
    return -1;
}

std::string normalizeSpaces(std::string s) {
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
    std::istringstream is(s);
    std::string word, out;
    while (is >> word) {
        if (!out.empty()) out.push_back(' ');
        out += word;
    }
    return out;
}

}  // namespace kvo
