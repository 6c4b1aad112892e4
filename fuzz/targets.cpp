// The libFuzzer targets, one per build of this file (FUZZ_PARSECOLOR, FUZZ_CONVERT), each with its
// seed corpus in corpus/<target>/. pm_error throws pm_fatal, so a fatal error ends one input, not
// the fuzzer. The readers and the comment file are fuzzed through the conversion.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "gridpack.h"
#include "pmintern.h"
#include "pngdecode.h"

namespace {
// A read-only stream over the input that seeks like a file (and, like a pipe, has no descriptor).
[[maybe_unused]] FILE* openMemory(const uint8_t* data, size_t size) {
    return fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

template <typename F> bool survives(F f) {
    try {
        f();
        return true;
    } catch (const pm_fatal&) {
        return false;
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("RGBDEF", FUZZ_DICTIONARY, 1);
    pm_progname = "gridpack";
    pm_setMessage(1, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if defined(FUZZ_PARSECOLOR)
    // The first byte picks the maxval; the text ends at its first NUL, as an argument would.
    static const pixval maxvals[] = {1, 2, 15, 100, 255, 256, 1000, 65535};
    if (size == 0) return 0;
    const pixval maxval = data[0] < 128 ? maxvals[data[0] % 8] : pixval(data[0]) * 257 / 2;
    const std::string text(reinterpret_cast<const char*>(data + 1),
                           strnlen(reinterpret_cast<const char*>(data + 1), size - 1));
    survives([&] {
        const pixel p = ppm_parsecolor(text.c_str(), maxval);
        if (p.r > maxval || p.g > maxval || p.b > maxval || !*ppm_colorname(&p, maxval, 1))
            std::abort();
    });
#elif defined(FUZZ_CONVERT)
    // A whole conversion. Byte 0: -interlace -force -hist -alpha -transparent -background -text
    // -ztxt (bit 0 up); byte 1: -palette -verbose, -filter (bits 2-4; 5-7 none), -gamma, -chroma
    // and -phys, -time; byte 2: the colours of -transparent (low 4 bits) and -background; byte 3:
    // -compression (low 4 bits; 10-15 none), -downscale. Then the mask, the comment file and the
    // palette, each a 2-byte big-endian length and its bytes; the rest is the image. The result is
    // a fatal error or a PNG that libpng decodes to the image's size.
    // Every form of colour, good and bad, and names of the fuzzers' dictionary.
    static const char* const colors[] = {
        "white",        "black",   "=red",    "=navy",          "rgb:8/80/800",
        "#123",         "#ffffff", "#12345",  "rgbi:0.5/.5/.5", "rgbi:1.5/0/0",
        ".5,.5,.5",     "255,0,0", "no such", "=#000000ff",     "Light Slate Gray",
        "=rgb:ffff/0/0"};
    const auto byte = [&](size_t i) { return i < size ? data[i] : 0; };
    // The options of bits 0-9 and 13-15 of bytes 0 and 1, "|" between them; T and B stand for the
    // colours.
    std::istringstream options(
        "-interlace|-force|-hist|-alpha mask|-transparent T|-background B|"
        "-text comments|-ztxt comments|-palette palette|-verbose||||-gamma "
        "0.45455|-chroma 0.3127 0.329 0.64 0.33 0.3 0.6 0.15 0.06 -phys 2835 "
        "2835 1|-time 2026-12-06 20:32:05");
    const unsigned flags = byte(0) | byte(1) << 8, filter = byte(1) >> 2 & 7, level = byte(3) & 15;
    std::vector<std::string> args{"gridpack"};
    std::string option;
    for (unsigned bit = 0; std::getline(options, option, '|'); ++bit) {
        std::istringstream words(flags >> bit & 1 ? option : "");
        for (std::string w; words >> w;)
            args.push_back(w == "T" ? colors[byte(2) & 15] : w == "B" ? colors[byte(2) >> 4] : w);
    }
    if (filter <= 4) args.insert(args.end(), {"-filter", std::to_string(filter)});
    if (level <= 9) args.insert(args.end(), {"-compression", std::to_string(level)});
    if (byte(3) & 16) args.push_back("-downscale");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    gridpack::Options o;
    if (!survives([&] { gridpack::parseOptions(int(args.size()), argv.data(), &o); })) return 0;

    size_t pos = 4;
    FILE* side[3]; // the mask, the comment file, the palette
    for (FILE*& f : side) {
        const size_t length = size_t(byte(pos)) << 8 | byte(pos + 1);
        pos = std::min(pos + 2, size);
        f = openMemory(data + pos, std::min(length, size - pos));
        pos += std::min(length, size - pos);
    }
    FILE* in = openMemory(data + pos, size - pos);
    char* png = nullptr;
    size_t pngSize = 0;
    FILE* out = open_memstream(&png, &pngSize);
    const bool converted = survives([&] {
        gridpack::convertpnm(o, in, o.alpha ? side[0] : nullptr, o.palette_file ? side[2] : nullptr,
                             o.text || o.ztxt ? side[1] : nullptr, out);
    });
    std::fclose(out);
    if (converted) { // the size the image's header gives (if none is read, 0 by 0: no PNG's)
        int cols = 0, rows = 0, format, depth;
        pixval maxval;
        survives(
            [&] { std::rewind(in), pnm_readpaminit(in, &cols, &rows, &maxval, &format, &depth); });
        try {
            const DecodedPng decoded = decodePng(std::string(png, pngSize));
            if (decoded.width != unsigned(cols) || decoded.height != unsigned(rows)) std::abort();
        } catch (const std::exception&) {
            std::abort();
        }
    }
    std::free(png);
    std::fclose(in);
    for (FILE* f : side) std::fclose(f);
#endif
    return 0;
}
