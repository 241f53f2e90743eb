// Fuzzes the named functions: each input is a sequence of calls, chosen and given
// arguments by the input's bytes, made through the function table the way the host
// makes them (the extension linked statically, the stand-in host providing the FRE
// functions). Frames are 64 x 48 (the size given to the one kvo_init) or, now and
// then, of another size; arguments may be missing, of the wrong kind, null or absurd.
// The tracker is one global, so its state carries over from input to input, like a
// long session of a badly behaved host.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "extension/FREInterface.h"
#include "extension/NamedFunctions.h"
#include "host/HostRuntime.h"

namespace {

constexpr uint32_t kW = 64, kH = 48;

struct Session {
    kvohost::Runtime rt;
    const FRENamedFunction* table = nullptr;
    uint32_t count = 0;
    std::vector<uint32_t> pixels;

    Session() : pixels(kW * kH) {
        FREContextInitializer ctxInit = nullptr;
        FREContextFinalizer ctxFinal = nullptr;
        void* extData = nullptr;
        KestavoExtInitializer(&extData, &ctxInit, &ctxFinal);
        static int context = 0;
        ctxInit(extData, reinterpret_cast<const uint8_t*>(""), &context, &count, &table);
        for (size_t i = 0; i < pixels.size(); ++i) {
            const uint32_t g = static_cast<uint32_t>((i % kW) / 4 * 13 + (i / kW) / 4 * 29) & 0xff;
            pixels[i] = 0xff000000u | (g << 16) | (g << 8) | g;
        }
        kvofuzz::silenceStandardOutput();
        FREObject argv[] = {rt.bitmap(kW, kH, pixels.data()), rt.number(0), rt.number(0), rt.number(kW),
                            rt.number(kH)};
        table[0].function(nullptr, nullptr, 5, argv);
    }

    // One argument of a kind chosen by the input.
    FREObject argument(kvofuzz::FuzzInput& in) {
        switch (in.byte() % 12) {
            case 0: return nullptr;
            case 1: return rt.number(in.number());
            case 2: return rt.integer(in.i32());
            case 3: return rt.boolean(in.byte() & 1);
            case 4: {
                static const char* const texts[] = {"mode_face_detection", "mode_face_tracking",
                                                    "mode_point_tracking", "", "mode_"};
                return rt.string(texts[in.byte() % 5]);
            }
            case 5: return rt.point(in.number(), in.number());
            case 6: return rt.rectangle(in.number(), in.number(), in.number(), in.number());
            case 7: {
                FREObject a = rt.array();
                const int n = in.byte() % 6;
                for (int i = 0; i < n; ++i) {
                    // Mostly points; sometimes something else.
                    FREObject e = (in.byte() % 4) ? rt.point(in.number(), in.number()) : argument(in);
                    rt.setElement(a, static_cast<uint32_t>(i), e);
                }
                return a;
            }
            case 8: return rt.object();
            case 9: {
                // Mostly a frame of the initialised size, with the input's brightness shift.
                const uint8_t b = in.byte();
                uint32_t w = kW, h = kH;
                if (b >= 224) {
                    w = 1 + in.byte() % 80;
                    h = 1 + in.byte() % 60;
                }
                FREObject bm = rt.bitmap(w, h, w == kW && h == kH ? pixels.data() : nullptr);
                if (w == kW && h == kH) {
                    uint32_t* px = rt.bitmapPixels(bm);
                    for (size_t i = 0; i < static_cast<size_t>(w) * h; i += 1 + b % 7) px[i] ^= b * 0x010101u;
                }
                return bm;
            }
            case 10: return rt.array(in.byte() % 4);  // null elements
            default: return rt.bitmap(kW, kH, pixels.data());
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Session* session = new Session();
    kvohost::Runtime& rt = session->rt;
    kvohost::Runtime::Scope scope(rt);
    kvofuzz::FuzzInput in(data, size);
    for (int call = 0; call < 32 && !in.empty(); ++call) {
        // Index 0 (kvo_init) included: a second init must be refused.
        const uint32_t index = in.byte() % session->count;
        const uint32_t argc = in.byte() % 7;
        std::vector<FREObject> argv(argc + 1, nullptr);
        for (uint32_t i = 0; i < argc; ++i) argv[i] = session->argument(in);
        session->table[index].function(nullptr, nullptr, argc, argv.data());
    }
    return 0;
}
