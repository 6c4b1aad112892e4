// An independent check of gridpack's output: libpng's read API plus a walk of the raw chunks.
#ifndef TESTS_SUPPORT_PNGDECODE_H
#define TESTS_SUPPORT_PNGDECODE_H

#include <ostream>
#include <png.h>
#include <string>
#include <vector>

struct Rgb {
    unsigned r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    friend std::ostream& operator<<(std::ostream& out, const Rgb& c) {
        return out << c.r << "," << c.g << "," << c.b;
    }
};

struct PngText {
    std::string key, text;
    int compression; // -1 tEXt, 0 zTXt
};

// The image and its chunks; an ancillary chunk that is absent leaves its field empty (or zero).
struct DecodedPng {
    unsigned width = 0, height = 0;
    int bitDepth = 0, colorType = -1, interlace = 0, channels = 0;

    std::vector<Rgb> palette;
    bool hasTrns = false, hasBkgd = false, hasSbit = false;
    std::vector<unsigned> transAlpha; // colour type 3
    png_color_16 transColor{};        // colour types 0 and 2
    png_color_16 bkgd{};
    png_color_8 sbit{};
    std::vector<unsigned> hist;
    std::vector<PngText> texts;
    std::string time, phys; // "y-m-d h:m:s", "x y unit"
    double gamma = 0;
    std::vector<double> chrm;

    std::vector<std::string> chunks;         // chunk types in datastream order
    std::vector<std::vector<unsigned>> rows; // samples at the stored depth, channels per pixel

    unsigned sample(unsigned x, unsigned y, unsigned channel = 0) const {
        return rows.at(y).at(size_t(x) * unsigned(channels) + channel);
    }
    Rgb rgb(unsigned x, unsigned y) const {
        return {sample(x, y, 0), sample(x, y, 1), sample(x, y, 2)};
    }
    unsigned gray(unsigned x, unsigned y) const { return sample(x, y, 0); }
    unsigned index(unsigned x, unsigned y) const { return sample(x, y, 0); }
    Rgb paletteColor(unsigned x, unsigned y) const { return palette.at(index(x, y)); }
    // The samples of row y; in a palette image each pixel's r, g, b and, with a tRNS chunk, its
    // opacity.
    std::vector<unsigned> pixels(unsigned y = 0) const;
    // Colour type and depth, then the palette size, significant bits and interlacing where
    // present, e.g. "gray 8", "palette 4 PLTE 16", "rgba 8 sBIT 8/8/8/1", "rgb 16 interlaced".
    std::string form() const;
    int count(const std::string& chunkType) const;
};

// Decodes a whole PNG; any libpng error (bad CRC, bad structure) throws std::runtime_error.
DecodedPng decodePng(const std::string& bytes);
// The filter type byte of every row of a non-interlaced PNG.
std::vector<int> rowFilters(const std::string& bytes);

#endif
