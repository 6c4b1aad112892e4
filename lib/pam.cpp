// PAM (P7) reader: the keyword header and the rows of gray or colour tuples, with or without
// alpha.
#include <cstdio>
#include <cstring>

#include "pmintern.h"

namespace {

// A keyword line of the header: what a header needs is far shorter; a longer line is refused
// rather than cut, which could turn it into another valid line.
constexpr size_t lineMax = 256;

bool blank(int c) { return c == ' ' || c == '\t'; }

// The next line that is neither blank nor a comment (of any length), without its leading and
// trailing blanks (a carriage return counts as one, so that CR LF headers read too). End of file
// before the header's end stops as the other headers do.
void readLine(FILE* f, char* line) {
    for (;;) {
        int c = getc_unlocked(f);
        while (blank(c)) c = getc_unlocked(f);
        if (c == '#') {
            while (c != '\n' && c != EOF) c = getc_unlocked(f);
            if (c == EOF) pm_eofreadingbyte();
            continue;
        }
        size_t n = 0;
        for (; c != '\n' && c != EOF; c = getc_unlocked(f)) {
            if (n == lineMax - 1) {
                line[n] = '\0';
                pm_error("PAM header line too long: '%.40s...'", line);
            }
            line[n++] = char(c);
        }
        if (c == EOF) pm_eofreadingbyte();
        while (n > 0 && (blank(line[n - 1]) || line[n - 1] == '\r')) --n;
        line[n] = '\0';
        if (n > 0) return;
    }
}

// A positive decimal number of at most limit, digits only; 0 otherwise.
unsigned int positive(const char* text, unsigned int limit) {
    unsigned long long v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return 0;
        v = v * 10 + unsigned(*p - '0');
        if (v > limit) return 0;
    }
    return unsigned(v);
}

struct Header {
    // WIDTH, HEIGHT, DEPTH, MAXVAL in that order; 0 until given.
    unsigned int values[4] = {};
    char tupleType[lineMax] = "";
    bool typed = false;
};

const char* const numberKeywords[] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"};
const unsigned int numberLimits[] = {2147483647, 2147483647, 2147483647, 65535};

// One keyword line (not ENDHDR) into the header.
void takeLine(char* line, Header* h) {
    char* value = line;
    while (*value && !blank(*value)) ++value;
    if (*value) *value++ = '\0';
    while (blank(*value)) ++value;
    if (std::strcmp(line, "TUPLTYPE") == 0) {
        // Cut short, a type too long to be known stays too long to be known.
        const size_t have = std::strlen(h->tupleType);
        std::snprintf(h->tupleType + have, lineMax - have, "%s%s", h->typed ? " " : "", value);
        h->typed = true;
        return;
    }
    for (int k = 0; k < 4; ++k) {
        if (std::strcmp(line, numberKeywords[k]) != 0) continue;
        if (h->values[k] != 0) pm_error("PAM header: %s given twice", numberKeywords[k]);
        h->values[k] = positive(value, numberLimits[k]);
        if (h->values[k] == 0)
            pm_error("PAM header: %s must be a number from 1 to %u, not '%s'", numberKeywords[k],
                     numberLimits[k], value);
        return;
    }
    pm_error("PAM header: unknown keyword '%s'", line);
}

struct TupleType {
    const char* name;
    int depth;
};
const TupleType tupleTypes[] = {
    {"BLACKANDWHITE", 1},       {"GRAYSCALE", 1},       {"RGB", 3},
    {"BLACKANDWHITE_ALPHA", 2}, {"GRAYSCALE_ALPHA", 2}, {"RGB_ALPHA", 4}};

// The depth must be the tuple type's; without a type it decides alone.
void checkTupleType(const Header& h) {
    const unsigned int depth = h.values[2];
    if (!h.typed) {
        if (depth > 4)
            pm_error("PAM depth %u without a tuple type: only depths 1 to 4 (gray, gray and "
                     "alpha, RGB, RGB and alpha) can be read",
                     depth);
        return;
    }
    for (const TupleType& t : tupleTypes) {
        if (std::strcmp(h.tupleType, t.name) != 0) continue;
        if (depth != unsigned(t.depth))
            pm_error("PAM tuple type %s has depth %d, but the header says depth %u", t.name,
                     t.depth, depth);
        return;
    }
    pm_error("PAM tuple type '%s' cannot be read: the types known are BLACKANDWHITE, GRAYSCALE, "
             "RGB, BLACKANDWHITE_ALPHA, GRAYSCALE_ALPHA and RGB_ALPHA",
             h.tupleType);
}

} // namespace

void pam_readpaminitrest(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* depthP) {
    const int c = getc_unlocked(f);
    if (c == EOF) pm_eofreadingbyte();
    if (c != '\n') pm_error("PAM magic number 'P7' is not followed by a newline");
    Header h;
    char line[lineMax];
    for (readLine(f, line); std::strcmp(line, "ENDHDR") != 0; readLine(f, line)) takeLine(line, &h);
    for (int k = 0; k < 4; ++k)
        if (h.values[k] == 0) pm_error("PAM header: no %s line before ENDHDR", numberKeywords[k]);
    checkTupleType(h);
    *colsP = int(h.values[0]);
    *rowsP = int(h.values[1]);
    *depthP = int(h.values[2]);
    *maxvalP = h.values[3];
}

namespace {

// Tuples of gray or colour samples with alpha last, of one byte (width 1) or two, high first.
template <int depth, int width>
void unpackAlphaTuples(const unsigned char* raw, size_t n, xel* xelrow, gray* alpharow) {
    const auto at = [](const unsigned char* p, int k) {
        return width == 1 ? gray(p[k]) : gray(p[2 * k]) << 8 | p[2 * k + 1];
    };
    for (size_t col = 0; col < n; ++col, raw += depth * width) {
        xelrow[col] = depth == 4 ? xel{at(raw, 0), at(raw, 1), at(raw, 2)} : xel{0, 0, at(raw, 0)};
        alpharow[col] = at(raw, depth - 1);
    }
}

} // namespace

void pam_readpamrow(FILE* f, xel* xelrow, gray* alpharow, int cols, pixval maxval, int depth) {
    // Without alpha, the raster is a raw graymap's or pixmap's.
    if (depth == 1 || depth == 3) {
        pnm_readpnmrow(f, xelrow, cols, maxval, depth == 1 ? RAW_PGM : RAW_PPM);
        return;
    }
    const size_t n = pm_colcount(cols);
    size_t samples;
    if (!pm_mulsize(n, size_t(depth), &samples)) pm_error("out of memory allocating a row");
    const unsigned char* raw = pm_readrawsamples(f, samples, maxval);
    if (depth == 4 && maxval <= 255) unpackAlphaTuples<4, 1>(raw, n, xelrow, alpharow);
    if (depth == 4 && maxval > 255) unpackAlphaTuples<4, 2>(raw, n, xelrow, alpharow);
    if (depth == 2 && maxval <= 255) unpackAlphaTuples<2, 1>(raw, n, xelrow, alpharow);
    if (depth == 2 && maxval > 255) unpackAlphaTuples<2, 2>(raw, n, xelrow, alpharow);
    pm_rowread(f);
}
