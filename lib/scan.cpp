// Magic numbers, header integers and comments, raw bytes and samples, maxval/bit conversions.
#include <cstdio>

#include "pmintern.h"

int pm_readmagicnumber(FILE* f) {
    // Both bytes are read before either is judged.
    const int first = getc_unlocked(f);
    const int second = getc_unlocked(f);
    if (first == EOF || second == EOF)
        pm_error("Error reading magic number from Pixmill image stream.  "
                 "Most often, this means your input file is empty.");
    return first * 256 + second;
}

char pm_getc(FILE* f) {
    int c = getc_unlocked(f);
    if (c == EOF) pm_error("EOF / read error reading a byte");
    if (c == '#') {
        do {
            c = getc_unlocked(f);
            if (c == EOF) pm_error("EOF / read error reading a byte");
        } while (c != '\n' && c != '\r');
    }
    return char(c);
}

static bool isHeaderSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
static bool isDigit(char c) { return c >= '0' && c <= '9'; }

unsigned int pm_getuint(FILE* f) {
    char c;
    do {
        c = pm_getc(f);
    } while (isHeaderSpace(c));
    if (!isDigit(c)) pm_error("junk in file where an unsigned integer should be");

    unsigned int v = 0;
    do {
        const unsigned int d = unsigned(c - '0');
        // The limit is 214748364 against the value so far plus the digit, not INT_MAX: the
        // largest value returned is 2147483640.
        if (v > 214748364u - d)
            pm_error("ASCII decimal integer in file is too large to be processed.  ");
        v = v * 10 + d;
        c = pm_getc(f);
    } while (isDigit(c));
    return v;
}

unsigned char pm_getrawbyte(FILE* f) {
    const int c = getc_unlocked(f);
    if (c == EOF) pm_error("EOF / read error reading a one-byte sample");
    return static_cast<unsigned char>(c);
}

unsigned int pgm_getrawsample(FILE* f, unsigned int maxval) {
    if (maxval <= 255) return pm_getrawbyte(f);
    unsigned char pair[2];
    if (std::fread(pair, 2, 1, f) != 1) pm_error("EOF /read error while reading a long sample");
    return unsigned(pair[0]) << 8 | pair[1];
}

const unsigned char* pm_readrawsamples(FILE* f, size_t count, unsigned int maxval) {
    const size_t width = maxval <= 255 ? 1 : 2;
    unsigned char* buf = static_cast<unsigned char*>(pm_scratchbuf(PM_SCRATCH_RAW, count, width));
    // Counting whole items: a two-byte sample of which only one byte arrives is missing, as it
    // would be for pgm_getrawsample.
    if (std::fread(buf, width, count, f) != count) {
        if (width == 1) pm_error("EOF / read error reading a one-byte sample");
        pm_error("EOF /read error while reading a long sample");
    }
    return buf;
}

int pm_maxvaltobits(int maxval) {
    if (maxval < 2) return 1;
    if (maxval > 65535) pm_error("maxval of %d is too large!", maxval);
    int bits = 2;
    while (maxval >= (1 << bits)) ++bits;
    return bits;
}

int pm_bitstomaxval(int bits) {
    if (bits <= 0) return 0;
    if (bits >= 31) return 0x7fffffff;
    return (1 << bits) - 1;
}

unsigned int pm_lcm(unsigned int x, unsigned int y, unsigned int z, unsigned int limit) {
    if (x == 0 || y == 0 || z == 0) pm_error("pm_lcm(): Least common multiple of zero taken.");
    unsigned int m = x;
    if (y > m) m = y;
    if (z > m) m = z;
    // 64-bit candidates cannot wrap before passing any 32-bit limit.
    unsigned long long candidate = m;
    while (candidate <= limit && (candidate % x || candidate % y || candidate % z)) candidate += m;
    return candidate <= limit ? unsigned(candidate) : limit;
}
