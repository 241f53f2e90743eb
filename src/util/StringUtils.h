#pragma once
// Text conversions and line helpers used to read the embedded model texts and to
// format diagnostics.
//
// Thread safety: every function here uses only local state and may be called from
// any thread; `SplitString` objects are not shared between threads.
#include <string>
#include <vector>

namespace kvo {

// Formats `v` as a default-configured std::ostringstream does: decimal integers, and
// doubles with six significant digits in %g style (0.5, 1e+06, 1e-05, 1.23457e+06).
template <typename T>
std::string to_string(const T& v);

// Read a number the way a std::istringstream does: leading white space skipped,
// reading stops at the first character that cannot continue the number, and a text
// that does not begin with a number gives 0.
int stringToInt(const std::string& s);             // decimal; "3.7" gives 3
unsigned int stringToUint(const std::string& s);   // hexadecimal; "ff" and "0xff" give 255
double stringToDouble(const std::string& s);

// `v` in base 2, most significant digit first, no leading zeros; 0 gives "0".
std::string uintToBinaryString(unsigned long v);

// Splits a text at a delimiter character.
//
// Ensures: after `split`, `tokens` holds the pieces between delimiters, in order.
// With keepEmpty, an empty piece between two delimiters (or before the first) is
// kept; a trailing empty piece is never kept.
class SplitString {
public:
    explicit SplitString(const std::string& s);
    std::vector<std::string>& split(char delimiter, bool keepEmpty);

    std::string text;
    std::vector<std::string> tokens;
};

// Index of the first line that begins with `key`, or -1 after reporting
// "Error: Error: getLineIndexOf: <key> not found." (the doubled prefix is the
// established message form).
int getLineIndexOf(const std::string& key, std::vector<std::string>& lines);

// `s` with surrounding spaces removed and every inner run of white space replaced by
// one space; an all-blank text gives "".
std::string normalizeSpaces(std::string s);

}  // namespace kvo
