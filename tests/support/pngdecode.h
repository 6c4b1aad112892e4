// An independent check of gridpack's output: libpng's read API plus a walk of the raw chunks.
#ifndef TESTS_SUPPORT_PNGDECODE_H
#define TESTS_SUPPORT_PNGDECODE_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct Rgb {
    unsigned r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    friend std::ostream& operator<<(std::ostream& out, const Rgb& c) {
        return out << c.r << "," << c.g << "," << c.b;
    }
};

struct PngColor16 {
    unsigned index = 0, red = 0, green = 0, blue = 0, gray = 0;
};

struct PngText {
    std::string key;
    std::string text;
    int compression; // -1 tEXt, 0 zTXt
};

struct DecodedPng {
    unsigned width = 0, height = 0;
    int bitDepth = 0, colorType = -1, interlace = 0, channels = 0;

    std::vector<Rgb> palette;
    bool hasTrns = false;
    std::vector<unsigned> transAlpha; // colour type 3
    PngColor16 transColor;            // colour types 0 and 2
    bool hasBkgd = false;
    PngColor16 bkgd;
    bool hasSbit = false;
    unsigned sbitRed = 0, sbitGreen = 0, sbitBlue = 0, sbitGray = 0, sbitAlpha = 0;
    bool hasHist = false;
    std::vector<unsigned> hist;
    std::vector<PngText> texts;
    bool hasTime = false;
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool hasGamma = false;
    double gamma = 0;
    bool hasChrm = false;
    double chrm[8] = {};
    bool hasPhys = false;
    unsigned physX = 0, physY = 0;
    int physUnit = 0;

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
    // Colour type and depth, then the significant bits and interlacing where present, e.g.
    // "gray 8", "palette 4", "rgba 8 sBIT 8/8/8/1", "rgb 16 interlaced".
    std::string form() const;
    // Number of chunks of one type.
    int count(const std::string& type) const;
    // Position of the first chunk of a type in chunks, or -1.
    int position(const std::string& type) const;
};

// Decodes a whole PNG; any libpng error (bad CRC, bad structure) throws std::runtime_error.
DecodedPng decodePng(const std::string& bytes);
// The filter type byte of every row of a non-interlaced PNG.
std::vector<int> rowFilters(const std::string& bytes);

#endif
