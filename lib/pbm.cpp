// Bitmap readers: header, plain and raw rows (one byte per pixel or packed), whole images and the
// raster-size check.
#include <cstdio>
#include <cstring>

#include "pmintern.h"

void pbm_readpbminitrest(FILE* f, int* colsP, int* rowsP) {
    // pm_getuint never returns more than 2147483640, so both fit an int and are not negative.
    *colsP = int(pm_getuint(f));
    *rowsP = int(pm_getuint(f));
}

void pbm_readpbminit(FILE* f, int* colsP, int* rowsP, int* formatP) {
    *formatP = pm_readmagicnumber(f);
    if (PNM_FORMAT_TYPE(*formatP) != PLAIN_PBM) pm_error("bad magic number - not a pbm file");
    pbm_readpbminitrest(f, colsP, rowsP);
}

// The next plain bit: no separator is needed between bits, and comments may stand between them.
static bit getbit(FILE* f) {
    int c;
    do {
        c = getc_unlocked(f);
        if (c == '#') c = pm_skipcomment(f);
    } while (c == ' ' || c == '\t' || c == '\n' || c == '\r');
    // '0' and '1' differ in the low bit only; one test for both keeps random bits from
    // costing a mispredicted branch each.
    if ((c & ~1) == '0') return bit(c & 1);
    if (c == EOF) pm_eofreadingbyte();
    pm_error("junk in file where bits should be");
}

static size_t rawBitmapRowBytes(int cols) { return cols > 0 ? (size_t(cols) + 7) / 8 : 0; }

const unsigned char* pm_readrawbitrow(FILE* f, int cols) {
    const size_t bytes = rawBitmapRowBytes(cols);
    unsigned char* buf = static_cast<unsigned char*>(pm_scratchbuf(PM_SCRATCH_RAW, bytes, 1));
    if (std::fread(buf, 1, bytes, f) != bytes)
        pm_error("EOF / read error reading a one-byte sample");
    return buf;
}

void pbm_readpbmrow(FILE* f, bit* bitrow, int cols, int format) {
    switch (format) {
    case PLAIN_PBM:
        for (int col = 0; col < cols; ++col) bitrow[col] = getbit(f);
        break;
    case RAW_PBM: {
        const unsigned char* bytes = pm_readrawbitrow(f, cols);
        // The padding bits of the last byte are never looked at.
        const int whole = cols / 8;
        for (int i = 0; i < whole; ++i) {
            const unsigned byte = bytes[i];
            bit* out = bitrow + 8 * i;
            for (int b = 0; b < 8; ++b) out[b] = bit((byte >> (7 - b)) & 1);
        }
        for (int col = whole * 8; col < cols; ++col)
            bitrow[col] = bit((bytes[col / 8] >> (7 - col % 8)) & 1);
        break;
    }
    default:
        pm_error("can't happen");
    }
    pm_rowread(f);
}

void pbm_readpbmrow_packed(FILE* f, unsigned char* packedBits, int cols, int format) {
    switch (format) {
    case PLAIN_PBM:
        // The caller's row comes in zeroed; only black bits are set.
        for (int col = 0; col < cols; ++col)
            if (getbit(f)) packedBits[col / 8] |= static_cast<unsigned char>(0x80u >> (col % 8));
        break;
    case RAW_PBM: {
        const size_t bytes = rawBitmapRowBytes(cols);
        const size_t got = std::fread(packedBits, 1, bytes, f);
        if (got < bytes) {
            if (!std::feof(f)) pm_error("I/O error reading raw PBM row");
            if (got == 0)
                pm_error("Attempt to read a raw PBM image row, but no more rows left in file.");
            pm_error("EOF in the middle of a raw PBM row.");
        }
        break;
    }
    default:
        pm_error("Internal error in pbm_readpbmrow_packed.");
    }
}

bit** pbm_readpbm(FILE* f, int* colsP, int* rowsP) {
    int format;
    pbm_readpbminit(f, colsP, rowsP, &format);
    const int cols = *colsP;
    return pm_readraster<bit>(f, cols, *rowsP, 1, format,
                              [&](bit* row) { pbm_readpbmrow(f, row, cols, format); });
}

bool pm_checkstart(const char* checker, int cols, int rows, int checkType, int* retvalP) {
    if (rows < 0) pm_error("Invalid number of rows passed to %s(): %d", checker, rows);
    if (cols < 0) pm_error("Invalid number of columns passed to %s(): %d", checker, cols);
    if (checkType == PM_CHECK_BASIC) return true;
    if (retvalP) *retvalP = PM_CHECK_UNKNOWN_TYPE;
    return false;
}

int pm_checkrawraster(FILE* f, size_t rows, size_t cols, size_t bytesPerCol) {
    size_t rowBytes, size;
    // A raster beyond the 32-bit raster size cannot be judged by pm_check.
    if (!pm_mulsize(cols, bytesPerCol, &rowBytes) || !pm_mulsize(rows, rowBytes, &size) ||
        size > 0xffffffffu)
        return PM_CHECK_UNCHECKABLE;
    int result;
    pm_check(f, PM_CHECK_BASIC, unsigned(size), &result);
    return result;
}

void pbm_check(FILE* f, int checkType, int format, int cols, int rows, int* retvalP) {
    if (!pm_checkstart("pbm_check", cols, rows, checkType, retvalP)) return;
    int result = PM_CHECK_UNCHECKABLE; // a plain raster has no fixed size
    if (format == RAW_PBM) result = pm_checkrawraster(f, size_t(rows), rawBitmapRowBytes(cols), 1);
    if (retvalP) *retvalP = result;
}
