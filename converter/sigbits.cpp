// How many rightmost bits of the samples carry information.
//
// A sample widened by repeating a narrower value (0xABAB from 0xAB, 0x77 from 0x7) can be
// written with the narrower width. The tests are applied to samples at the input's own scale,
// never rescaled: once a level has passed, the next one can pass only if every sample is 0.
#include "gridpack.h"

namespace gridpack {

namespace {

// A value v passes a level when v == (v & mask) * factor.
struct Level {
    pixval mask;
    pixval factor;
};

constexpr Level level16to8{255, 257};
constexpr Level level8to4{15, 17};
constexpr Level level4to2{3, 5};
constexpr Level level2to1{1, 3};

inline bool repeats(pixval v, Level level) { return v == (v & level.mask) * level.factor; }

// True when every sample the test looks at passes; reading stops at the first that fails.
// Gray xels carry their value in b; colour xels are tested r, g, b in that order.
bool allSamplesRepeat(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                      int format, xel* xelrow, bool allThree, Level level) {
    pm_seek2(ifP, &rasterPos, sizeof rasterPos);
    for (int row = 0; row < rows; ++row) {
        pnm_readpnmrow(ifP, xelrow, cols, maxval, format);
        if (allThree) {
            for (int col = 0; col < cols; ++col) {
                const xel& x = xelrow[col];
                if (!repeats(x.r, level) || !repeats(x.g, level) || !repeats(x.b, level))
                    return false;
            }
        } else {
            for (int col = 0; col < cols; ++col)
                if (!repeats(xelrow[col].b, level)) return false;
        }
    }
    return true;
}

} // namespace

void meaningful_bits_pgm(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                         int format, int* meaningfulBitsP) {
    const XelRow row = allocXelRow(cols);
    xel* const xelrow = row.get();
    int bits = pm_maxvaltobits(int(maxval));

    // A level is tried when the maxval is exactly its width's full scale, or when the level
    // above has just passed. Only then does a repeated bit pattern stand for a narrower value:
    // at maxval 200, 187 is not 11 widened, and writing it with 4 bits would change it.
    bool passed = maxval == 65535 && allSamplesRepeat(ifP, rasterPos, cols, rows, maxval, format,
                                                      xelrow, false, level16to8);
    if (passed) bits = 8;
    passed = (maxval == 255 || passed) &&
             allSamplesRepeat(ifP, rasterPos, cols, rows, maxval, format, xelrow, false, level8to4);
    if (passed) bits = 4;
    passed = (maxval == 15 || passed) &&
             allSamplesRepeat(ifP, rasterPos, cols, rows, maxval, format, xelrow, false, level4to2);
    if (passed) bits = 2;
    passed = (maxval == 3 || passed) &&
             allSamplesRepeat(ifP, rasterPos, cols, rows, maxval, format, xelrow, false, level2to1);
    if (passed) bits = 1;
    *meaningfulBitsP = bits;
}

void meaningful_bits_ppm(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                         int format, int* meaningfulBitsP) {
    const XelRow row = allocXelRow(cols);
    int bits = pm_maxvaltobits(int(maxval));
    // Colour is only ever written with 8 or 16 bits per sample, so narrower levels gain nothing.
    if (maxval == 65535 &&
        allSamplesRepeat(ifP, rasterPos, cols, rows, maxval, format, row.get(), true, level16to8))
        bits = 8;
    *meaningfulBitsP = bits;
}

void findRedundantBits(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                       int format, bool withAlpha, bool forced, int* meaningfulBitsP) {
    const int fullBits = pm_maxvaltobits(int(maxval));
    const int type = PNM_FORMAT_TYPE(format);
    int bits;
    if (!withAlpha && !forced && type == PLAIN_PGM)
        meaningful_bits_pgm(ifP, rasterPos, cols, rows, maxval, format, &bits);
    else if (!forced && type == PLAIN_PPM)
        meaningful_bits_ppm(ifP, rasterPos, cols, rows, maxval, format, &bits);
    else
        bits = fullBits;

    if (verbose && bits != fullBits)
        pm_message("Using only %d rightmost bits of input samples.  The rest are just copies of "
                   "those.",
                   bits);
    *meaningfulBitsP = bits;
}

} // namespace gridpack
