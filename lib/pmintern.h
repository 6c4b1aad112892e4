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

#ifdef PM_FATAL_THROWS
#include <stdexcept>
#include <string>
// Test and fuzz builds: pm_error and pm_usage throw this instead of ending the process, after
// writing their message as usual.
struct pm_fatal : std::runtime_error {
    int status;
    pm_fatal(const std::string& message, int exitStatus)
        : std::runtime_error(message), status(exitStatus) {}
};
#endif

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
// read stops with the message the one- or two-byte sample reader would have given.
const unsigned char* pm_readrawsamples(FILE* f, size_t count, unsigned int maxval);
// The ceil(cols / 8) bytes of a raw bitmap row in the raw buffer; a short read stops with the
// one-byte sample message.
const unsigned char* pm_readrawbitrow(FILE* f, int cols);

// pm_check's result for a raw raster of rows * cols * bytesPerCol bytes after the current
// position.
int pm_checkrawraster(FILE* f, size_t rows, size_t cols, size_t bytesPerCol);

// ---- Writers ----
// Plain text when forced, when -plain was given, or when maxval is too large for raw samples.
bool pm_plainwanted(int forceplain, unsigned int maxval);
// A plain sample: the decimal digits without leading zeros.
void pm_putus(unsigned int n, FILE* f);

// Ends the process with the status, or (test and fuzz builds) throws pm_fatal with the message.
[[noreturn]] void pm_fatalexit(const char* message, int status);

#endif
