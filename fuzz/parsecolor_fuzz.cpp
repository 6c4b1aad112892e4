// Colour specifications over arbitrary text at several maxvals, names looked up in a small
// dictionary of the fuzzer's own; the reverse lookup of every colour that parses.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzzsupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("RGBDEF", FUZZ_DICTIONARY, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the maxval: the boundaries the converter uses, and the rest of them.
    static const pixval maxvals[] = {1, 2, 15, 100, 255, 256, 1000, 65535};
    const pixval maxval = data[0] < 8 * 16 ? maxvals[data[0] % 8] : pixval(data[0]) * 257 / 2;
    // The text ends at its first NUL, as a command-line argument would.
    const std::string text(reinterpret_cast<const char*>(data + 1),
                           strnlen(reinterpret_cast<const char*>(data + 1), size - 1));
    fuzz::survives([&] {
        const pixel p = ppm_parsecolor(text.c_str(), maxval);
        if (p.r > maxval || p.g > maxval || p.b > maxval) std::abort();
        const char* name = ppm_colorname(&p, maxval, 1);
        if (name == nullptr || name[0] == '\0') std::abort();
    });
    return 0;
}
