// Fuzzes the prefix-code decoder: the three embedded code tables on arbitrary byte
// streams, and arbitrary small code tables (lengths 0 to 40 bits, vectors of unequal
// length) on arbitrary streams. AddressSanitizer checks that no byte past the stream
// is read; the test also checks that the output is made only of table symbols' bytes
// (its length is bounded by the stream's bits).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "models/EmbeddedModels.h"
#include "models/ModelDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvofuzz::FuzzInput in(data, size);
    const uint8_t selector = in.byte();
    std::vector<std::string> symbols;
    std::vector<uint32_t> codes, lengths;
    const std::vector<std::string>* s = &symbols;
    const std::vector<uint32_t>* c = &codes;
    const std::vector<uint32_t>* l = &lengths;
    switch (selector % 4) {
        case 0: s = &kvo::cascadeSymbols; c = &kvo::cascadeCodes; l = &kvo::cascadeCodeLengths; break;
        case 1: s = &kvo::asmSymbols; c = &kvo::asmCodes; l = &kvo::asmCodeLengths; break;
        case 2: s = &kvo::candideSymbols; c = &kvo::candideCodes; l = &kvo::candideCodeLengths; break;
        default: {
            const int n = in.byte() % 12;
            for (int i = 0; i < n; ++i) {
                symbols.push_back(std::string(1 + in.byte() % 3, static_cast<char>('a' + i)));
                codes.push_back(in.u32());
                lengths.push_back(in.byte() % 41);
            }
            // Unequal vectors: drop some entries of one of them.
            const uint8_t cut = in.byte();
            if (cut & 1) codes.resize(codes.size() / 2);
            if (cut & 2) lengths.resize(lengths.size() / 2);
        }
    }
    // The stream in a buffer of its own exact size, so any read past it is caught.
    const size_t n = in.remaining();
    unsigned char* bytes = n ? static_cast<unsigned char*>(std::malloc(n)) : nullptr;
    for (size_t i = 0; i < n; ++i) bytes[i] = in.byte();
    const std::string out = kvo::decodeModel(bytes, static_cast<uint32_t>(n), *s, *c, *l);
    std::free(bytes);

    // Every symbol is at least one bit long, so the output has at most 8 * n + 32
    // symbols of the longest symbol's length.
    size_t longest = 0;
    for (const std::string& sym : *s) longest = sym.size() > longest ? sym.size() : longest;
    if (out.size() > (8 * n + 32) * longest) std::abort();
    return 0;
}
