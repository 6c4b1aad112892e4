// An independent reading of gridpack's output: libpng's read API plus a walk of the raw chunks.
#ifndef TESTS_SUPPORT_PNGDECODE_H
#define TESTS_SUPPORT_PNGDECODE_H

#include <array>
#include <map>
#include <string>
#include <vector>

struct DecodedPng {
    unsigned width = 0, height = 0;
    int depth = 0, colorType = -1, interlace = 0, channels = 0;
    std::vector<std::vector<unsigned>> rows; // stored samples (palette indexes), row by row
    std::vector<std::array<unsigned, 3>> palette;
    // Each ancillary chunk present, as text: numbers joined by commas (tRNS: a palette's
    // opacities or the one colour, gray or r,g,b; bKGD: index, gray or r,g,b; sBIT per channel;
    // hIST; cHRM; pHYs x,y,unit), gAMA as printed by %g, tIME as y-m-dTh:m:s, and "text" for
    // every text chunk in order, type:keyword=text joined by "|".
    std::map<std::string, std::string> chunks;
    std::vector<unsigned> trns, hist; // the same tRNS and hIST as numbers
    std::vector<int> filters;         // each row's filter type (not interlaced)
    std::string idat, data;           // the image data as stored, and inflated (not interlaced)
    int idatChunks = 0;

    // Red, green, blue (a palette resolved, gray repeated) and opacity, at the stored depth
    // (8 bits for a palette); opacity is the full value where the PNG gives none.
    std::array<unsigned, 4> pixel(unsigned x, unsigned y) const;
};

// Decodes a whole PNG; any libpng error or warning (a bad CRC or structure, a chunk dropped)
// and any byte after IEND throws std::runtime_error.
DecodedPng decodePng(const std::string& bytes);

#endif
