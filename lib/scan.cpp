// Magic numbers, header integers and comments, raw bytes and samples, maxval/bit conversions.
#include <algorithm>
#include <cstdint>
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

void pm_eofreadingbyte() { pm_error("EOF / read error reading a byte"); }

void pm_junkwhereuint() { pm_error("junk in file where an unsigned integer should be"); }

void pm_uinttoolarge() {
    pm_error("ASCII decimal integer in file is too large to be processed.  ");
}

int pm_skipcomment(FILE* f) {
    int c;
    do {
        c = getc_unlocked(f);
        if (c == EOF) pm_eofreadingbyte();
    } while (c != '\n' && c != '\r');
    return c;
}

char pm_getc(FILE* f) {
    const int c = getc_unlocked(f);
    if (c == EOF) pm_eofreadingbyte();
    return char(c == '#' ? pm_skipcomment(f) : c);
}

unsigned int pm_getuint(FILE* f) { return pm_scanuint(f); }

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

void pm_sampleabovemaxval(unsigned int value, unsigned int maxval) {
    pm_error("sample value %u is greater than maxval %u", value, maxval);
}

// The check runs over the whole row first (a max, which vectorises) and looks for the culprit
// only when it fails. It cannot fail at the full maxval of the width, so it is skipped there.
static void checkRawSamples(const unsigned char* buf, size_t count, unsigned int maxval) {
    if (maxval <= 255) {
        if (maxval == 255) return;
        const unsigned char most = count ? *std::max_element(buf, buf + count) : 0;
        if (most <= maxval) return;
        for (size_t i = 0;; ++i) pm_checksample(buf[i], maxval);
    }
    if (maxval >= 65535) return;
    // 16-bit lanes let the max vectorise.
    uint16_t most = 0;
    for (size_t i = 0; i < count; ++i)
        most = std::max(most, uint16_t(buf[2 * i] << 8 | buf[2 * i + 1]));
    if (most <= maxval) return;
    for (size_t i = 0;; ++i) pm_checksample(unsigned(buf[2 * i]) << 8 | buf[2 * i + 1], maxval);
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
    checkRawSamples(buf, count, maxval);
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
