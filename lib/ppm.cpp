// Pixmap readers (which also take graymaps and bitmaps) and writers.
#include <cstdio>

#include "pmintern.h"

// ---- Readers ---------------------------------------------------------------------------------

void ppm_readppminitrest(FILE* f, int* colsP, int* rowsP, pixval* maxvalP) {
    *colsP = int(pm_getuint(f));
    *rowsP = int(pm_getuint(f));
    const unsigned int maxval = pm_getuint(f);
    if (maxval > PPM_OVERALLMAXVAL)
        pm_error("maxval (%d) is too large.\nThe maximum allowed by the PPM is %d.", int(maxval),
                 int(PPM_OVERALLMAXVAL));
    *maxvalP = maxval;
}

void ppm_readppminit(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* formatP) {
    *formatP = pm_readmagicnumber(f);
    switch (PNM_FORMAT_TYPE(*formatP)) {
    case PLAIN_PBM:
        pbm_readpbminitrest(f, colsP, rowsP);
        // Read as a pixmap, a bitmap has maxval 1 (as a graymap it gets 255).
        *maxvalP = 1;
        break;
    case PLAIN_PGM:
        pgm_readpgminitrest(f, colsP, rowsP, maxvalP);
        break;
    case PLAIN_PPM:
        ppm_readppminitrest(f, colsP, rowsP, maxvalP);
        break;
    default:
        pm_error("bad magic number - not a ppm, pgm, or pbm file");
    }
}

void ppm_readppmrow(FILE* f, pixel* pixelrow, int cols, pixval maxval, int format) {
    switch (format) {
    case PLAIN_PPM:
        for (int col = 0; col < cols; ++col) {
            // Separate statements: the order red, green, blue is the order in the file, and a
            // sample above maxval is reported as it is met.
            pixel& p = pixelrow[col];
            p.r = pm_scanuint(f);
            pm_checksample(p.r, maxval);
            p.g = pm_scanuint(f);
            pm_checksample(p.g, maxval);
            p.b = pm_scanuint(f);
            pm_checksample(p.b, maxval);
        }
        pm_rowread(f);
        break;
    case RAW_PPM: {
        size_t samples;
        if (!pm_mulsize(pm_colcount(cols), 3, &samples)) pm_error("out of memory allocating a row");
        const unsigned char* raw = pm_readrawsamples(f, samples, maxval);
        if (maxval <= 255) {
            for (int col = 0; col < cols; ++col) {
                const unsigned char* p = raw + 3 * size_t(col);
                pixelrow[col] = pixel{p[0], p[1], p[2]};
            }
        } else {
            for (int col = 0; col < cols; ++col) {
                const unsigned char* p = raw + 6 * size_t(col);
                pixelrow[col] = pixel{pixval(p[0]) << 8 | p[1], pixval(p[2]) << 8 | p[3],
                                      pixval(p[4]) << 8 | p[5]};
            }
        }
        pm_rowread(f);
        break;
    }
    case PLAIN_PGM:
    case RAW_PGM: {
        gray* grays =
            static_cast<gray*>(pm_scratchbuf(PM_SCRATCH_GRAY, pm_colcount(cols), sizeof(gray)));
        pgm_readpgmrow(f, grays, cols, maxval, format);
        for (int col = 0; col < cols; ++col)
            pixelrow[col] = pixel{grays[col], grays[col], grays[col]};
        break;
    }
    case PLAIN_PBM:
    case RAW_PBM: {
        bit* bits = static_cast<bit*>(pm_scratchbuf(PM_SCRATCH_BIT, pm_colcount(cols), 1));
        pbm_readpbmrow(f, bits, cols, format);
        for (int col = 0; col < cols; ++col) {
            const pixval v = pm_bitsample(bits[col], maxval);
            pixelrow[col] = pixel{v, v, v};
        }
        break;
    }
    default:
        pm_error("can't happen");
    }
}

pixel** ppm_readppm(FILE* f, int* colsP, int* rowsP, pixval* maxvalP) {
    int format;
    ppm_readppminit(f, colsP, rowsP, maxvalP, &format);
    const int cols = *colsP;
    const pixval maxval = *maxvalP;
    return pm_readraster<pixel>(f, cols, *rowsP, maxval, format,
                                [&](pixel* row) { ppm_readppmrow(f, row, cols, maxval, format); });
}

void ppm_check(FILE* f, int checkType, int format, int cols, int rows, pixval maxval,
               int* retvalP) {
    if (!pm_checkstart("ppm_check", cols, rows, checkType, retvalP)) return;
    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PBM:
        pbm_check(f, checkType, format, cols, rows, retvalP);
        return;
    case PLAIN_PGM:
        pgm_check(f, checkType, format, cols, rows, maxval, retvalP);
        return;
    default:
        break;
    }
    int result = PM_CHECK_UNCHECKABLE; // a plain raster has no fixed size
    if (format == RAW_PPM)
        result = pm_checkrawraster(f, size_t(rows), size_t(cols), maxval <= 255 ? 3 : 6);
    if (retvalP) *retvalP = result;
}

// ---- Writers ---------------------------------------------------------------------------------

void ppm_writeppminit(FILE* f, int cols, int rows, pixval maxval, int forceplain) {
    const bool rawWanted = !forceplain && !pm_plain_output;
    if (rawWanted && maxval > PPM_OVERALLMAXVAL)
        pm_error("too-large maxval passed to ppm_writeppminit(): %d."
                 "Maximum allowed by the PPM format is %d.",
                 int(maxval), int(PPM_OVERALLMAXVAL));
    std::fprintf(f, "%c%c\n%d %d\n%d\n", 'P', pm_plainwanted(forceplain, maxval) ? '3' : '6', cols,
                 rows, int(maxval));
}

void ppm_writeppmrowraw(FILE* f, const pixel* pixelrow, int cols, pixval maxval) {
    for (int col = 0; col < cols; ++col) {
        pgm_writerawsample(f, pixelrow[col].r, maxval);
        pgm_writerawsample(f, pixelrow[col].g, maxval);
        pgm_writerawsample(f, pixelrow[col].b, maxval);
    }
}

void ppm_writeppmrowplain(FILE* f, const pixel* pixelrow, int cols, pixval maxval) {
    (void)maxval;
    // The count assumes eleven characters per pixel whatever its digits, so a line holds at
    // most 6 pixels.
    int charcount = 0;
    for (int col = 0; col < cols; ++col) {
        if (charcount >= 65) {
            std::putc('\n', f);
            charcount = 0;
        } else if (charcount > 0) {
            std::putc(' ', f);
            std::putc(' ', f);
            charcount += 2;
        }
        pm_putus(pixelrow[col].r, f);
        std::putc(' ', f);
        pm_putus(pixelrow[col].g, f);
        std::putc(' ', f);
        pm_putus(pixelrow[col].b, f);
        charcount += 11;
    }
    if (charcount > 0) std::putc('\n', f);
}

void ppm_writeppmrow(FILE* f, const pixel* pixelrow, int cols, pixval maxval, int forceplain) {
    if (pm_plainwanted(forceplain, maxval))
        ppm_writeppmrowplain(f, pixelrow, cols, maxval);
    else
        ppm_writeppmrowraw(f, pixelrow, cols, maxval);
}

void ppm_writeppm(FILE* f, pixel** pixels, int cols, int rows, pixval maxval, int forceplain) {
    ppm_writeppminit(f, cols, rows, maxval, forceplain);
    for (int row = 0; row < rows; ++row) ppm_writeppmrow(f, pixels[row], cols, maxval, forceplain);
}
