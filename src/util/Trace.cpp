#include "util/Trace.h"

#include <iostream>

namespace kvo {

void trace(const std::string& s) { std::cout << s << std::endl; }

void Err(const std::string& s) { std::cout << "Error: " << s << std::endl; }

}  // namespace kvo
