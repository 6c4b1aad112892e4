// Helpers for the anymap reader and writer tests: images read back as plain sample triples.
#ifndef TESTS_SUPPORT_ANYMAPTEST_H
#define TESTS_SUPPORT_ANYMAPTEST_H

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "pixmill.h"
#include "testutil.h"

// A pixel or xel as red, green, blue, comparable and printable by GoogleTest.
using Rgb3 = std::array<unsigned, 3>;

inline Rgb3 rgb3(const pixel& p) { return {p.r, p.g, p.b}; }

inline std::vector<Rgb3> rgb3Row(const pixel* row, int cols) {
    std::vector<Rgb3> out;
    for (int col = 0; col < cols; ++col) out.push_back(rgb3(row[col]));
    return out;
}

// An image read whole through the anymap reader, rows concatenated.
struct PnmRead {
    int cols = 0, rows = 0, format = 0;
    pixval maxval = 0;
    std::vector<Rgb3> xels;
};

inline PnmRead readAnymap(const std::string& bytes) {
    FILE* f = tmpFileWith(bytes);
    PnmRead img;
    xel** xels = pnm_readpnm(f, &img.cols, &img.rows, &img.maxval, &img.format);
    for (int row = 0; row < img.rows; ++row)
        for (int col = 0; col < img.cols; ++col) img.xels.push_back(rgb3(xels[row][col]));
    pm_freearray(reinterpret_cast<char**>(xels), img.rows);
    std::fclose(f);
    return img;
}

// What a writer puts on a stream, as bytes.
template <typename Write> std::string writtenBy(Write write) {
    FILE* f = std::tmpfile();
    write(f);
    std::string out;
    std::rewind(f);
    for (int c; (c = std::getc(f)) != EOF;) out += char(c);
    std::fclose(f);
    return out;
}

#endif
