// Helpers shared by libpixmill's sources; not part of the public interface.
#ifndef PMINTERN_H
#define PMINTERN_H

#include <cstddef>
#include <cstdio>

#include "pixmill.h"

// The one overflow idiom every size goes through.
inline bool pm_mulsize(size_t a, size_t b, size_t* product) {
    return !__builtin_mul_overflow(a, b, product);
}

// ---- Plain-text scanning ----
// The rare ends of the scanners, kept out of line so that the hot loops stay small.
[[noreturn]] void pm_eofreadingbyte();
[[noreturn]] void pm_junkwhereuint();
[[noreturn]] void pm_uinttoolarge();
// Consumes a comment after its '#', through its line end, and returns that line end.
int pm_skipcomment(FILE* f);

// pm_getuint's rules on the stream buffer without a call per character: the four white-space
// characters and comments before the number; a comment right after a digit ends the number;
// the character that ends the number is consumed; a number that meets end of file fails.
inline unsigned int pm_scanuint(FILE* f) {
    int c;
    for (;;) {
        c = getc_unlocked(f);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        if (c != '#') break;
        pm_skipcomment(f); // a comment reads as its line end, which is white space
    }
    unsigned int v = unsigned(c - '0');
    if (v > 9) {
        if (c == EOF) pm_eofreadingbyte();
        pm_junkwhereuint(); // bytes of 128 and above included
    }
    for (;;) {
        c = getc_unlocked(f);
        const unsigned int d = unsigned(c - '0');
        if (d > 9) break;
        // Against 214748364 (not INT_MAX) with the digit added: 2147483640 is the largest value.
        if (v > 214748364u - d) pm_uinttoolarge();
        v = v * 10 + d;
    }
    if (c == EOF) pm_eofreadingbyte();
    if (c == '#') pm_skipcomment(f);
    return v;
}

// The progress hook after a row: one test when nobody listens.
inline void pm_rowread(FILE* f) {
    if (pm_progress) pm_progress(pm_hookcontext, f, false);
}

// ---- Samples above maxval ----
// A sample above the image's maxval would come out as corrupted data later, so the row readers
// refuse it.
[[noreturn]] void pm_sampleabovemaxval(unsigned int value, unsigned int maxval);
inline void pm_checksample(unsigned int value, unsigned int maxval) {
    if (__builtin_expect(value > maxval, 0)) pm_sampleabovemaxval(value, maxval);
}

// A bitmap pixel's sample: 0 for black (1), maxval for white (0). No branch: the bits of a
// dithered image defeat any predictor.
inline unsigned int pm_bitsample(unsigned int black, unsigned int maxval) {
    return maxval & (black - 1u);
}

// A row's element count; a negative cols reads nothing, as a sample-by-sample loop would.
inline size_t pm_colcount(int cols) { return cols > 0 ? size_t(cols) : 0; }

// ---- Reused row buffers of the readers ----
// The converter rereads the raster once per pass, so the readers keep one buffer per purpose for
// the whole process (the library is not reentrant) instead of allocating per row. Buffers of
// different slots never alias, so a reader may fill one while unpacking from another.
enum pm_scratchslot { PM_SCRATCH_RAW, PM_SCRATCH_GRAY, PM_SCRATCH_BIT, PM_SCRATCH_SLOTS };
// At least count * size bytes; contents are undefined after a call that has to grow the buffer.
// A product that does not fit, or no memory, stops with the row allocation message.
void* pm_scratchbuf(pm_scratchslot slot, size_t count, size_t size);

// ---- Raw raster rows in one read ----
// count samples of one byte (maxval <= 255) or two bytes, high first, in the raw buffer. A short
// read stops with the message the one- or two-byte sample reader would have given; after the
// read, the first sample above maxval in row order, if any, stops the program.
const unsigned char* pm_readrawsamples(FILE* f, size_t count, unsigned int maxval);
// The ceil(cols / 8) bytes of a raw bitmap row in the raw buffer; a short read stops with the
// one-byte sample message.
const unsigned char* pm_readrawbitrow(FILE* f, int cols);

// ---- Whole images ----
// True when f is a seekable stream (a regular file, or a stream without a descriptor that can
// seek to its end) with at least as many bytes after the current position as the smallest
// raster the header describes: a raw raster exactly, a plain one one byte per sample. False for
// pipes, for streams that cannot tell their size, and for unknown formats.
bool pm_rasterfits(FILE* f, int cols, int rows, unsigned int maxval, int format);

// The row index of a whole-image reader while its rows are being read. When the stream holds
// the raster it is one pm_allocarray; otherwise the index and the rows grow as rows arrive, so
// that a header promising more than the stream holds costs memory in proportion to what the
// stream really contains, and the reader still stops with the message of the row that is
// missing.
struct pm_arraybuilder {
    char** index;
    size_t capacity; // entries of index (growing form)
    int cols, rows, size;
    int filled;      // rows allocated so far (growing form)
    bool wholeBlock; // index came from pm_allocarray
};
void pm_arraybegin(pm_arraybuilder* b, FILE* f, int cols, int rows, int size, unsigned int maxval,
                   int format);
// The row about to be read; rows are asked for in order.
void* pm_arrayrow(pm_arraybuilder* b, int row);
// The finished array, released with pm_freearray.
char** pm_arrayfinish(pm_arraybuilder* b);
// Frees whatever was built (a fatal error met on the way).
void pm_arrayabandon(pm_arraybuilder* b);

// Reads a whole raster, row after row, through readRow(T* row).
template <typename T, typename ReadRow>
T** pm_readraster(FILE* f, int cols, int rows, unsigned int maxval, int format, ReadRow readRow) {
    pm_arraybuilder b;
    pm_arraybegin(&b, f, cols, rows, int(sizeof(T)), maxval, format);
    // A read error throws through here.
    struct Abandon {
        pm_arraybuilder* b;
        ~Abandon() {
            if (b) pm_arrayabandon(b);
        }
    } abandon{&b};
    for (int row = 0; row < rows; ++row) readRow(static_cast<T*>(pm_arrayrow(&b, row)));
    abandon.b = nullptr;
    return reinterpret_cast<T**>(pm_arrayfinish(&b));
}

// The opening of the format checks: negative sizes are fatal (the message names the checker);
// false, with the result stored, for a check type other than the basic one.
bool pm_checkstart(const char* checker, int cols, int rows, int checkType, int* retvalP);
// pm_check's result for a raw raster of rows * cols * bytesPerCol bytes after the current
// position.
int pm_checkrawraster(FILE* f, size_t rows, size_t cols, size_t bytesPerCol);

// ---- Writers ----
// Plain text when forced, when -plain was given, or when maxval is too large for raw samples.
bool pm_plainwanted(int forceplain, unsigned int maxval);
// A plain sample: the decimal digits without leading zeros.
void pm_putus(unsigned int n, FILE* f);

// Throws pm_fatal with the message and the status.
[[noreturn]] void pm_fatalexit(const char* message, int status);

#endif
