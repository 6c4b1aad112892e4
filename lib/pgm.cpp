// Graymap readers (which also take bitmaps) and writers.
#include <cstdio>

#include "pmintern.h"

// ---- Readers ---------------------------------------------------------------------------------

void pgm_readpgminitrest(FILE* f, int* colsP, int* rowsP, gray* maxvalP) {
    *colsP = int(pm_getuint(f));
    *rowsP = int(pm_getuint(f));
    const unsigned int maxval = pm_getuint(f);
    if (maxval > PGM_OVERALLMAXVAL)
        pm_error("maxval is too large.  The largest we can handle is %u.", PGM_OVERALLMAXVAL);
    *maxvalP = maxval;
}

void pgm_readpgminit(FILE* f, int* colsP, int* rowsP, gray* maxvalP, int* formatP) {
    *formatP = pm_readmagicnumber(f);
    switch (PNM_FORMAT_TYPE(*formatP)) {
    case PLAIN_PBM:
        pbm_readpbminitrest(f, colsP, rowsP);
        // Read as a graymap, a bitmap is black 0 and white 255 (the anymap reader says 1).
        *maxvalP = 255;
        break;
    case PLAIN_PGM:
        pgm_readpgminitrest(f, colsP, rowsP, maxvalP);
        break;
    default:
        pm_error("bad magic number - not a pgm or pbm file");
    }
}

void pgm_readpgmrow(FILE* f, gray* grayrow, int cols, gray maxval, int format) {
    switch (format) {
    case PLAIN_PGM:
        for (int col = 0; col < cols; ++col) {
            grayrow[col] = pm_scanuint(f);
            pm_checksample(grayrow[col], maxval);
        }
        pm_rowread(f);
        break;
    case RAW_PGM: {
        const unsigned char* raw = pm_readrawsamples(f, pm_colcount(cols), maxval);
        if (maxval <= 255) {
            for (int col = 0; col < cols; ++col) grayrow[col] = raw[col];
        } else {
            for (int col = 0; col < cols; ++col)
                grayrow[col] = gray(raw[2 * col]) << 8 | raw[2 * col + 1];
        }
        pm_rowread(f);
        break;
    }
    case PLAIN_PBM:
    case RAW_PBM: {
        bit* bits = static_cast<bit*>(pm_scratchbuf(PM_SCRATCH_BIT, pm_colcount(cols), 1));
        pbm_readpbmrow(f, bits, cols, format);
        for (int col = 0; col < cols; ++col) grayrow[col] = pm_bitsample(bits[col], maxval);
        break;
    }
    default:
        pm_error("can't happen");
    }
}

gray** pgm_readpgmraster(FILE* f, int cols, int rows, gray maxval, int format) {
    return pm_readraster<gray>(f, cols, rows, maxval, format,
                               [&](gray* row) { pgm_readpgmrow(f, row, cols, maxval, format); });
}

gray** pgm_readpgm(FILE* f, int* colsP, int* rowsP, gray* maxvalP) {
    int format;
    pgm_readpgminit(f, colsP, rowsP, maxvalP, &format);
    return pgm_readpgmraster(f, *colsP, *rowsP, *maxvalP, format);
}

void pgm_check(FILE* f, int checkType, int format, int cols, int rows, gray maxval, int* retvalP) {
    if (!pm_checkstart("pgm_check", cols, rows, checkType, retvalP)) return;
    if (PNM_FORMAT_TYPE(format) == PLAIN_PBM) {
        pbm_check(f, checkType, format, cols, rows, retvalP);
        return;
    }
    int result = PM_CHECK_UNCHECKABLE; // a plain raster has no fixed size
    if (format == RAW_PGM)
        result = pm_checkrawraster(f, size_t(rows), size_t(cols), maxval <= 255 ? 1 : 2);
    if (retvalP) *retvalP = result;
}

// ---- Writers ---------------------------------------------------------------------------------

bool pm_plainwanted(int forceplain, unsigned int maxval) {
    // Above 65535 a sample no longer fits two raw bytes.
    return forceplain || pm_plain_output || maxval >= 65536;
}

void pm_putus(unsigned int n, FILE* f) {
    // Every value is written in full; above 65535 (a maxval only plain output allows) nothing
    // is cut to 16 bits.
    char digits[10];
    int count = 0;
    do {
        digits[count++] = char('0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (count > 0) std::putc(digits[--count], f);
}

void pgm_writerawsample(FILE* f, gray val, gray maxval) {
    if (maxval < 256) {
        if (std::putc(int(val & 0xff), f) == EOF)
            pm_error("Error writing single byte sample to file");
        return;
    }
    const unsigned char pair[2] = {static_cast<unsigned char>(val >> 8 & 0xff),
                                   static_cast<unsigned char>(val & 0xff)};
    if (std::fwrite(pair, 1, 2, f) != 2) pm_error("Error writing double byte sample to file");
}

void pgm_writepgminit(FILE* f, int cols, int rows, gray maxval, int forceplain) {
    const bool rawWanted = !forceplain && !pm_plain_output;
    if (rawWanted && maxval > PGM_OVERALLMAXVAL)
        pm_error("too-large maxval passed to ppm_writepgminit(): %d.\n"
                 "Maximum allowed by the PGM format is %d.",
                 int(maxval), int(PGM_OVERALLMAXVAL));
    std::fprintf(f, "%c%c\n%d %d\n%d\n", 'P', pm_plainwanted(forceplain, maxval) ? '2' : '5', cols,
                 rows, int(maxval));
}

void pgm_writepgmrowraw(FILE* f, const gray* grayrow, int cols, gray maxval) {
    for (int col = 0; col < cols; ++col) pgm_writerawsample(f, grayrow[col], maxval);
}

void pgm_writepgmrowplain(FILE* f, const gray* grayrow, int cols, gray maxval) {
    (void)maxval;
    // The count assumes three characters per sample whatever its digits, so a line holds at
    // most 17 samples.
    int charcount = 0;
    for (int col = 0; col < cols; ++col) {
        if (charcount >= 65) {
            std::putc('\n', f);
            charcount = 0;
        } else if (charcount > 0) {
            std::putc(' ', f);
            ++charcount;
        }
        pm_putus(grayrow[col], f);
        charcount += 3;
    }
    if (charcount > 0) std::putc('\n', f);
}

void pgm_writepgmrow(FILE* f, const gray* grayrow, int cols, gray maxval, int forceplain) {
    if (pm_plainwanted(forceplain, maxval))
        pgm_writepgmrowplain(f, grayrow, cols, maxval);
    else
        pgm_writepgmrowraw(f, grayrow, cols, maxval);
}

void pgm_writepgm(FILE* f, gray** grays, int cols, int rows, gray maxval, int forceplain) {
    pgm_writepgminit(f, cols, rows, maxval, forceplain);
    for (int row = 0; row < rows; ++row) pgm_writepgmrow(f, grays[row], cols, maxval, forceplain);
}
