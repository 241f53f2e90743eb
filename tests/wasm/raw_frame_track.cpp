// Tracks raw RGBA frames through the stand-in host and the native library, and prints
// per frame the state and the 68 landmarks: the native half of the WebAssembly parity
// test (tests/wasm/parity.mjs prints the same lines from the module).
//
// Usage: raw_frame_track LIBRARY FRAMES.rgba WIDTH HEIGHT [COUNT]
// FRAMES.rgba holds frames of WIDTH x HEIGHT pixels, 4 bytes each (red, green, blue,
// alpha), one after another. Output, one line per frame:
//   <frame> <state> <x0> <y0> ... <x67> <y67>   (pixels, 17 significant digits)
// Exit status 0, or 1 after one "Error: ..." line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host/HostRuntime.h"

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "Error: usage: raw_frame_track LIBRARY FRAMES.rgba WIDTH HEIGHT [COUNT]\n");
        return 1;
    }
    const int width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "Error: the frame size must be positive, not %s x %s\n", argv[3], argv[4]);
        return 1;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "Error: cannot open %s\n", argv[2]);
        return 1;
    }
    const std::size_t frameBytes = std::size_t(width) * std::size_t(height) * 4;
    long count = argc > 5 ? std::atol(argv[5]) : -1;
    try {
        kvohost::Runtime rt;
        kvohost::Extension ext(rt, argv[1]);
        FREObject bitmap = rt.bitmap(uint32_t(width), uint32_t(height));
        FREObject points = rt.array();
        std::vector<uint8_t> rgba(frameBytes);
        std::vector<uint32_t> words(std::size_t(width) * std::size_t(height));
        for (long i = 0; count < 0 || i < count; ++i) {
            if (!in.read(reinterpret_cast<char*>(rgba.data()), std::streamsize(frameBytes))) break;
            for (std::size_t p = 0; p < words.size(); ++p) {
                const uint8_t* c = &rgba[p * 4];
                words[p] = uint32_t(c[3]) << 24 | uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | uint32_t(c[2]);
            }
            rt.setBitmapPixels(bitmap, words.data());
            kvohost::Runtime::Scope scope(rt);
            if (i == 0) {
                ext.call("kvo_init", bitmap, rt.number(0), rt.number(0), rt.number(width), rt.number(height));
            }
            const std::string state = rt.toString(ext.call("kvo_update", bitmap));
            ext.call("kvo_get_faceShape_points", points);
            std::printf("%ld %s", i, state.c_str());
            for (const kvohost::PointValue& p : rt.toPoints(points)) std::printf(" %.17g %.17g", p.x, p.y);
            std::printf("\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
