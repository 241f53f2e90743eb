// One include, compiled against one module's include root by the checks in
// CMakeLists.txt: the header named by KVO_PROBE_HEADER.
#include KVO_PROBE_HEADER
