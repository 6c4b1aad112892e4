// An anymap image in a temporary file, opened through the real header reader, with the raster
// position recorded as the conversion driver does.
#ifndef TESTS_SUPPORT_IMAGEFILE_H
#define TESTS_SUPPORT_IMAGEFILE_H

#include <cstdio>
#include <string>
#include <vector>

#include "pixmill.h"
#include "testutil.h"

struct ImageFile {
    FILE* f = nullptr;
    int cols = 0, rows = 0, format = 0;
    pixval maxval = 0;
    pm_filepos rasterPos = 0;

    explicit ImageFile(const std::string& bytes) {
        f = tmpFileWith(bytes);
        pnm_readpnminit(f, &cols, &rows, &maxval, &format);
        pm_tell2(f, &rasterPos, sizeof rasterPos);
    }
    ImageFile(const std::string& magic, int c, int r, unsigned m, const std::vector<unsigned>& s)
        : ImageFile(pnmImage(magic, c, r, m, s)) {}
    ~ImageFile() { std::fclose(f); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
};

// An alpha mask of rows x cols values given row by row, freed with the object.
struct AlphaMask {
    gray** rows;
    int nrows;
    AlphaMask(int cols, int r, const std::vector<unsigned>& values) : nrows(r) {
        rows = pm_allocarray_of<gray>(cols, r);
        for (int y = 0; y < r; ++y)
            for (int x = 0; x < cols; ++x) rows[y][x] = values.at(size_t(y * cols + x));
    }
    ~AlphaMask() { pm_freearray(reinterpret_cast<char**>(rows), nrows); }
    AlphaMask(const AlphaMask&) = delete;
    AlphaMask& operator=(const AlphaMask&) = delete;
};

#endif
