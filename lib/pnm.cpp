// The format-independent anymap reader, format promotion and the small xel operations.
#include <cstdio>

#include "pmintern.h"

// ---- Reader ----------------------------------------------------------------------------------

static void readHeaderRest(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int format) {
    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PPM:
        ppm_readppminitrest(f, colsP, rowsP, maxvalP);
        break;
    case PLAIN_PGM:
        pgm_readpgminitrest(f, colsP, rowsP, maxvalP);
        break;
    case PLAIN_PBM:
        pbm_readpbminitrest(f, colsP, rowsP);
        *maxvalP = 1;
        break;
    default:
        pm_error("bad magic number - not a ppm, pgm, or pbm file");
    }
}

void pnm_readpnminit(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* formatP) {
    *formatP = pm_readmagicnumber(f);
    readHeaderRest(f, colsP, rowsP, maxvalP, *formatP);
}

void pnm_readpaminit(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* formatP, int* depthP) {
    *formatP = pm_readmagicnumber(f);
    if (*formatP == PAM_FORMAT) {
        pam_readpaminitrest(f, colsP, rowsP, maxvalP, depthP);
        return;
    }
    readHeaderRest(f, colsP, rowsP, maxvalP, *formatP);
    *depthP = PNM_FORMAT_TYPE(*formatP) == PLAIN_PPM ? 3 : 1;
}

// A graymap row straight into the xels, with what pgm_readpgmrow would read and refuse.
static void readGrayXels(FILE* f, xel* xelrow, int cols, pixval maxval, int format) {
    if (format == PLAIN_PGM) {
        for (int col = 0; col < cols; ++col) {
            const gray v = pm_scanuint(f);
            pm_checksample(v, maxval);
            xelrow[col] = xel{0, 0, v};
        }
        return;
    }
    const unsigned char* raw = pm_readrawsamples(f, pm_colcount(cols), maxval);
    if (maxval <= 255) {
        for (int col = 0; col < cols; ++col) xelrow[col] = xel{0, 0, raw[col]};
    } else {
        for (int col = 0; col < cols; ++col)
            xelrow[col] = xel{0, 0, gray(raw[2 * col]) << 8 | raw[2 * col + 1]};
    }
}

void pnm_readpnmrow(FILE* f, xel* xelrow, int cols, pixval maxval, int format) {
    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PPM:
        ppm_readppmrow(f, xelrow, cols, maxval, format);
        break;
    case PLAIN_PGM:
        readGrayXels(f, xelrow, cols, maxval, format);
        pm_rowread(f); // the other families' readers tell it themselves
        break;
    case PLAIN_PBM: {
        // Through a bit row: unpacking a byte straight into eight 12-byte xels measured half as
        // fast as two simple loops that the compiler turns into wide stores.
        bit* bits = static_cast<bit*>(pm_scratchbuf(PM_SCRATCH_BIT, pm_colcount(cols), 1));
        pbm_readpbmrow(f, bits, cols, format);
        for (int col = 0; col < cols; ++col)
            xelrow[col] = xel{0, 0, pm_bitsample(bits[col], maxval)};
        break;
    }
    default:
        pm_error("can't happen");
    }
}

xel** pnm_readpnm(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* formatP) {
    pnm_readpnminit(f, colsP, rowsP, maxvalP, formatP);
    const int cols = *colsP, format = *formatP;
    const pixval maxval = *maxvalP;
    return pm_readraster<xel>(f, cols, *rowsP, maxval, format,
                              [&](xel* row) { pnm_readpnmrow(f, row, cols, maxval, format); });
}

void pnm_check(FILE* f, int checkType, int format, int cols, int rows, pixval maxval,
               int* retvalP) {
    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PPM:
        ppm_check(f, checkType, format, cols, rows, maxval, retvalP);
        break;
    case PLAIN_PGM:
        pgm_check(f, checkType, format, cols, rows, maxval, retvalP);
        break;
    case PLAIN_PBM:
        pbm_check(f, checkType, format, cols, rows, retvalP);
        break;
    default:
        pm_error("pnm_check() called with invalid format parameter");
    }
}

// ---- Promotion -------------------------------------------------------------------------------

[[noreturn]] static void cannotDecreaseMaxval() {
    pm_error("pnm_promoteformatrow: can't decrease maxval - try using tonefit");
}

// Gray scaling truncates; colour scaling (scaleColor) rounds. A maxval of 0 holds only the value
// 0, so it scales to 0 instead of dividing by zero.
static pixval scaleGray(pixval v, pixval maxval, pixval newmaxval) {
    return maxval ? v * newmaxval / maxval : 0;
}

static pixval scaleColor(pixval v, pixval maxval, pixval newmaxval) {
    return maxval ? (v * newmaxval + maxval / 2) / maxval : 0;
}

static void promoteSameType(xel* xelrow, int cols, pixval maxval, int type, pixval newmaxval) {
    if (type == PLAIN_PBM) return; // a bitmap is 0 or not, whatever the maxvals say
    if (newmaxval < maxval) cannotDecreaseMaxval();
    if (newmaxval == maxval) return;
    switch (type) {
    case PLAIN_PGM:
        for (int col = 0; col < cols; ++col)
            xelrow[col] = xel{0, 0, scaleGray(xelrow[col].b, maxval, newmaxval)};
        break;
    case PLAIN_PPM:
        for (int col = 0; col < cols; ++col) {
            xel& x = xelrow[col];
            x = xel{scaleColor(x.r, maxval, newmaxval), scaleColor(x.g, maxval, newmaxval),
                    scaleColor(x.b, maxval, newmaxval)};
        }
        break;
    default:
        pm_error("Invalid old format passed to pnm_promoteformatrow()");
    }
}

void pnm_promoteformatrow(xel* xelrow, int cols, pixval maxval, int format, pixval newmaxval,
                          int newformat) {
    const int oldType = PNM_FORMAT_TYPE(format);
    const int newType = PNM_FORMAT_TYPE(newformat);
    if ((oldType == PLAIN_PPM && (newType == PLAIN_PGM || newType == PLAIN_PBM)) ||
        (oldType == PLAIN_PGM && newType == PLAIN_PBM))
        pm_error("pnm_promoteformatrow: can't promote downwards!");

    if (oldType == newType) {
        promoteSameType(xelrow, cols, maxval, oldType, newmaxval);
        return;
    }
    switch (oldType) {
    case PLAIN_PBM:
        // The old maxval plays no part: any nonzero bitmap value is white.
        if (newType == PLAIN_PGM) {
            for (int col = 0; col < cols; ++col)
                xelrow[col] = xel{0, 0, xelrow[col].b ? newmaxval : 0};
        } else if (newType == PLAIN_PPM) {
            for (int col = 0; col < cols; ++col) {
                const pixval v = xelrow[col].b ? newmaxval : 0;
                xelrow[col] = xel{v, v, v};
            }
        } else {
            pm_error("Invalid new format passed to pnm_promoteformatrow()");
        }
        break;
    case PLAIN_PGM:
        if (newType != PLAIN_PPM) pm_error("Invalid new format passed to pnm_promoteformatrow()");
        if (newmaxval < maxval) cannotDecreaseMaxval();
        for (int col = 0; col < cols; ++col) {
            const pixval v =
                newmaxval == maxval ? xelrow[col].b : scaleGray(xelrow[col].b, maxval, newmaxval);
            xelrow[col] = xel{v, v, v};
        }
        break;
    case PLAIN_PPM:
        pm_error("Invalid new format passed to pnm_promoteformatrow()");
    default:
        pm_error("Invalid old format passed to pnm_promoteformatrow()");
    }
}

void pnm_promoteformat(xel** xels, int cols, int rows, pixval maxval, int format, pixval newmaxval,
                       int newformat) {
    for (int row = 0; row < rows; ++row)
        pnm_promoteformatrow(xels[row], cols, maxval, format, newmaxval, newformat);
}

// ---- Xel helpers -----------------------------------------------------------------------------

xel pnm_backgroundxel(xel** xels, int cols, int rows, pixval maxval, int format) {
    (void)maxval;
    // An image without pixels has no corners; black is as good a guess as any.
    if (cols <= 0 || rows <= 0) return xel{0, 0, 0};
    const xel ul = xels[0][0], ur = xels[0][cols - 1];
    const xel ll = xels[rows - 1][0], lr = xels[rows - 1][cols - 1];
    // The rules are tried in this order; the first that matches picks the corner.
    if ((PPM_EQUAL(ul, ur) && PPM_EQUAL(ul, ll)) || (PPM_EQUAL(ul, ur) && PPM_EQUAL(ul, lr)) ||
        (PPM_EQUAL(ul, ll) && PPM_EQUAL(ul, lr)))
        return ul;
    if (PPM_EQUAL(ur, ll) && PPM_EQUAL(ll, lr)) return ur;
    if (PPM_EQUAL(ul, ur) || PPM_EQUAL(ul, ll) || PPM_EQUAL(ul, lr)) return ul;
    if (PPM_EQUAL(ur, ll) || PPM_EQUAL(ur, lr)) return ur;
    if (PPM_EQUAL(ll, lr)) return ll;

    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PPM:
        return xel{pixval((0ull + ul.r + ur.r + ll.r + lr.r) / 4),
                   pixval((0ull + ul.g + ur.g + ll.g + lr.g) / 4),
                   pixval((0ull + ul.b + ur.b + ll.b + lr.b) / 4)};
    case PLAIN_PGM:
        return xel{0, 0, pixval((0ull + ul.b + ur.b + ll.b + lr.b) / 4)};
    case PLAIN_PBM:
        pm_error("pnm_backgroundxel: four bits no two of which equal each other??");
    default:
        pm_error("Invalid format passed to pnm_backgroundxel()");
    }
}

xel pnm_backgroundxelrow(xel* xelrow, int cols, pixval maxval, int format) {
    if (cols <= 0) return xel{0, 0, 0}; // no pixels, no ends to look at
    const xel first = xelrow[0], last = xelrow[cols - 1];
    if (PPM_EQUAL(first, last)) return first;
    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PPM:
        return xel{pixval((0ull + first.r + last.r) / 2), pixval((0ull + first.g + last.g) / 2),
                   pixval((0ull + first.b + last.b) / 2)};
    case PLAIN_PGM:
        return xel{0, 0, pixval((0ull + first.b + last.b) / 2)};
    case PLAIN_PBM: {
        int blacks = 0;
        for (int col = 0; col < cols; ++col)
            if (xelrow[col].b == 0) ++blacks;
        return blacks < cols / 2 ? xel{0, 0, maxval} : xel{0, 0, 0};
    }
    default:
        pm_error("Invalid format passed to pnm_backgroundxelrow()");
    }
}

xel pnm_whitexel(pixval maxval, int format) {
    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PPM:
        return xel{maxval, maxval, maxval};
    case PLAIN_PGM:
    case PLAIN_PBM:
        return xel{0, 0, maxval};
    default:
        pm_error("Invalid format passed to pnm_whitexel()");
    }
}

xel pnm_blackxel(pixval maxval, int format) {
    (void)maxval;
    if (PNM_FORMAT_TYPE(format) == -1)
        pm_error("Invalid format passed to pnm_blackxel(): %d", format);
    return xel{0, 0, 0};
}

void pnm_invertxel(xel* xP, pixval maxval, int format) {
    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PPM:
        *xP = xel{maxval - xP->r, maxval - xP->g, maxval - xP->b};
        break;
    case PLAIN_PGM:
        *xP = xel{0, 0, maxval - xP->b};
        break;
    case PLAIN_PBM:
        *xP = xel{0, 0, xP->b ? 0 : maxval};
        break;
    default:
        pm_error("Invalid format passed to pnm_invertxel()");
    }
}

pixel xeltopixel(xel x) { return pixel{x.b, x.b, x.b}; }
