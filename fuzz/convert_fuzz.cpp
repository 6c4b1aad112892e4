// A whole conversion of arbitrary bytes, with options and side files taken from the input:
//
//   byte 0   bit 0 -interlace, 1 -force, 2 -hist, 3 -alpha, 4 -transparent, 5 -background,
//            6 -text, 7 -ztxt
//   byte 1   bit 0 -palette, 1 -verbose, bits 2-4 -filter (5 to 7: none), 5 -gamma,
//            6 -chroma and -phys, 7 -time
//   byte 2   the colour of -transparent (low 4 bits) and of -background (high 4 bits)
//   byte 3   -compression (low 4 bits; 10 to 15: none), bit 4 -downscale
//   then the alpha mask, the comment file and the ordered palette, each a 2-byte big-endian
//   length and that many bytes; the rest is the image.
//
// A conversion either ends in a fatal error (pm_fatal here) or writes a PNG that libpng's
// reader decodes to the image's size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzzsupport.h"
#include "gridpack.h"
#include "pngdecode.h"

namespace {

// Every form of colour specification, good and bad, and names of the fuzzers' dictionary.
const char* const colorTexts[16] = {
    "white",        "black",   "=red",    "=navy",          "rgb:8/80/800",
    "#123",         "#ffffff", "#12345",  "rgbi:0.5/.5/.5", "rgbi:1.5/0/0",
    ".5,.5,.5",     "255,0,0", "no such", "=#000000ff",     "Light Slate Gray",
    "=rgb:ffff/0/0"};

struct Input {
    const uint8_t* data;
    size_t size;

    uint8_t byte(size_t i) const { return i < size ? data[i] : 0; }
    // The next length-prefixed part; what is left when the length runs past the end.
    std::pair<const uint8_t*, size_t> part(size_t* posP) const {
        const size_t length = size_t(byte(*posP)) << 8 | byte(*posP + 1);
        *posP = std::min(*posP + 2, size);
        const size_t n = std::min(length, size - *posP);
        const uint8_t* start = data + *posP;
        *posP += n;
        return {start, n};
    }
};

std::vector<std::string> commandLine(const Input& in) {
    const uint8_t flags = in.byte(0), more = in.byte(1), colors = in.byte(2), level = in.byte(3);
    std::vector<std::string> args{"gridpack"};
    if (flags & 1) args.push_back("-interlace");
    if (flags & 2) args.push_back("-force");
    if (flags & 4) args.push_back("-hist");
    // -alpha with -transparent is a usage error of the scan, which the target takes too.
    if (flags & 8) args.insert(args.end(), {"-alpha", "mask.pgm"});
    if (flags & 16) args.insert(args.end(), {"-transparent", colorTexts[colors & 15]});
    if (flags & 32) args.insert(args.end(), {"-background", colorTexts[colors >> 4]});
    if (flags & 64) args.insert(args.end(), {"-text", "comments.txt"});
    if (flags & 128) args.insert(args.end(), {"-ztxt", "comments.txt"});
    if (more & 1) args.insert(args.end(), {"-palette", "palette.ppm"});
    if (more & 2) args.push_back("-verbose");
    if (((more >> 2) & 7) <= 4)
        args.insert(args.end(), {"-filter", std::to_string((more >> 2) & 7)});
    if (more & 32) args.insert(args.end(), {"-gamma", "0.45455"});
    if (more & 64) {
        args.insert(args.end(), {"-chroma", "0.3127", "0.329", "0.64", "0.33", "0.3", "0.6", "0.15",
                                 "0.06", "-phys", "2835", "2835", "1"});
    }
    if (more & 128) args.insert(args.end(), {"-time", "2026-12-06", "20:32:05"});
    if ((level & 15) <= 9) args.insert(args.end(), {"-compression", std::to_string(level & 15)});
    if (level & 16) args.push_back("-downscale");
    return args;
}

// The image's size from its own header, or false when it has none.
bool imageSize(const uint8_t* data, size_t size, int* colsP, int* rowsP) {
    FILE* f = fuzz::openMemory(data, size);
    const bool ok = fuzz::survives([&] {
        pixval maxval;
        int format;
        pnm_readpnminit(f, colsP, rowsP, &maxval, &format);
    });
    std::fclose(f);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("RGBDEF", FUZZ_DICTIONARY, 1);
    pm_progname = "gridpack";
    pm_setMessage(1, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Input in{data, size};
    size_t pos = 4;
    const auto mask = in.part(&pos);
    const auto comments = in.part(&pos);
    const auto palette = in.part(&pos);
    const uint8_t* const image = data + pos;
    const size_t imageSizeBytes = size - pos;

    std::vector<std::string> args = commandLine(in);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    gridpack::resetOptions();
    const char* paletteFile = nullptr;
    if (!fuzz::survives(
            [&] { gridpack::parseOptions(int(args.size()), argv.data(), &paletteFile); }))
        return 0;

    bool inputClosed;
    FILE* ifP = fuzz::openMemory(image, imageSizeBytes, &inputClosed);
    FILE* afP = gridpack::alpha ? fuzz::openMemory(mask.first, mask.second) : nullptr;
    FILE* tfP = gridpack::text || gridpack::ztxt ? fuzz::openMemory(comments.first, comments.second)
                                                 : nullptr;
    FILE* pfP = paletteFile ? fuzz::openMemory(palette.first, palette.second) : nullptr;
    char* png = nullptr;
    size_t pngSize = 0;
    FILE* ofP = open_memstream(&png, &pngSize);

    const bool converted = fuzz::survives([&] { gridpack::convertpnmTo(ifP, afP, pfP, tfP, ofP); });
    std::fclose(ofP);
    if (converted) {
        // Success means a whole, valid PNG of the image's size.
        int cols = 0, rows = 0;
        if (!imageSize(image, imageSizeBytes, &cols, &rows)) std::abort();
        try {
            const DecodedPng decoded = decodePng(std::string(png, pngSize));
            if (decoded.width != unsigned(cols) || decoded.height != unsigned(rows)) std::abort();
        } catch (const std::runtime_error&) {
            std::abort();
        }
    } else {
        gridpack::resetConversion();
    }
    std::free(png);
    if (!inputClosed) std::fclose(ifP);
    for (FILE* f : {afP, tfP, pfP})
        if (f) std::fclose(f);
    gridpack::freeChv();
    return 0;
}
