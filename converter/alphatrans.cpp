// Whether an alpha mask can be replaced by a single transparent colour.
#include "gridpack.h"

namespace gridpack {

namespace {

inline bool sameColor(const xel& x, const pixel& candidate, bool color) {
    // A gray or bilevel xel keeps its value in b; its r and g are 0 and not compared.
    return color ? PPM_EQUAL(x, candidate) : x.b == candidate.b;
}

// The first fully transparent pixel in raster order; false when there is none.
bool findFirstTransparent(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                          int format, gray** alpha_mask, xel* xelrow, bool color,
                          pixel* candidateP) {
    pm_seek2(ifP, &rasterPos, sizeof rasterPos);
    for (int row = 0; row < rows; ++row) {
        pnm_readpnmrow(ifP, xelrow, cols, maxval, format);
        const gray* const alphaRow = alpha_mask[row];
        for (int col = 0; col < cols; ++col) {
            if (alphaRow[col] == 0) {
                const xel& x = xelrow[col];
                *candidateP = color ? x : pixel{x.b, x.b, x.b};
                return true;
            }
        }
    }
    return false;
}

// True when every transparent pixel has the candidate colour, every opaque one another colour,
// and no pixel is partly transparent. Reading stops at the first pixel that rules it out.
bool onlyCandidateIsTransparent(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                                int format, gray** alpha_mask, gray alphaMaxval, xel* xelrow,
                                bool color, const pixel& candidate) {
    pm_seek2(ifP, &rasterPos, sizeof rasterPos);
    for (int row = 0; row < rows; ++row) {
        pnm_readpnmrow(ifP, xelrow, cols, maxval, format);
        const gray* const alphaRow = alpha_mask[row];
        for (int col = 0; col < cols; ++col) {
            const gray a = alphaRow[col];
            if (a == 0) {
                if (!sameColor(xelrow[col], candidate, color)) return false;
            } else if (a == alphaMaxval) {
                if (sameColor(xelrow[col], candidate, color)) return false;
            } else {
                return false;
            }
        }
    }
    return true;
}

} // namespace

void alpha_trans(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval, int format,
                 gray** alpha_mask, gray alphaMaxval, bool* canBeTransIndexP,
                 pixel* alphaTransColorP) {
    const bool color = PNM_FORMAT_TYPE(format) == PLAIN_PPM;
    const XelRow row = allocXelRow(cols);
    xel* const xelrow = row.get();
    pixel candidate{0, 0, 0};
    bool answer = findFirstTransparent(ifP, rasterPos, cols, rows, maxval, format, alpha_mask,
                                       xelrow, color, &candidate) &&
                  onlyCandidateIsTransparent(ifP, rasterPos, cols, rows, maxval, format, alpha_mask,
                                             alphaMaxval, xelrow, color, candidate);
    *canBeTransIndexP = answer;
    *alphaTransColorP = candidate;
}

} // namespace gridpack
