// PNG row filters and libpng's choice among them, for rows compressed off libpng's own path. The
// choice must be exactly libpng's (the smallest sum of the filtered bytes taken as signed, ties
// to the earlier filter in the order none, sub, up, average, Paeth), so that the filtered data,
// and with it the size of the file, stays what libpng would have written. The loops are written
// so that the compiler can vectorise them; this file is built with -O3 for that.
#include <cstdlib>
#include <cstring>

#include "gridpack.h"

namespace gridpack {

namespace {

// |v| for v taken as a signed byte, which is what libpng sums.
inline unsigned magnitude(png_byte v) { return v < 128 ? v : 256u - v; }

inline png_byte paeth(unsigned a, unsigned b, unsigned c) {
    const int p = int(a + b) - int(c);
    const int pa = std::abs(p - int(a)), pb = std::abs(p - int(b)), pc = std::abs(p - int(c));
    return png_byte(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Each filter of one row into out (without the filter byte), returning the sum libpng compares.
// The first bpp bytes have no left neighbour (0); prev is the row above, all 0 for the first row.
size_t filterNone(const png_byte* row, const png_byte*, png_byte* out, size_t n, size_t) {
    size_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += magnitude(out[i] = row[i]);
    return sum;
}

size_t filterSub(const png_byte* row, const png_byte*, png_byte* out, size_t n, size_t bpp) {
    size_t sum = 0;
    for (size_t i = 0; i < bpp && i < n; ++i) sum += magnitude(out[i] = row[i]);
    for (size_t i = bpp; i < n; ++i) sum += magnitude(out[i] = png_byte(row[i] - row[i - bpp]));
    return sum;
}

size_t filterUp(const png_byte* row, const png_byte* prev, png_byte* out, size_t n, size_t) {
    size_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += magnitude(out[i] = png_byte(row[i] - prev[i]));
    return sum;
}

size_t filterAvg(const png_byte* row, const png_byte* prev, png_byte* out, size_t n, size_t bpp) {
    size_t sum = 0;
    for (size_t i = 0; i < bpp && i < n; ++i)
        sum += magnitude(out[i] = png_byte(row[i] - (prev[i] >> 1)));
    for (size_t i = bpp; i < n; ++i)
        sum += magnitude(out[i] = png_byte(row[i] - ((row[i - bpp] + prev[i]) >> 1)));
    return sum;
}

size_t filterPaeth(const png_byte* row, const png_byte* prev, png_byte* out, size_t n, size_t bpp) {
    size_t sum = 0;
    // Without a left neighbour Paeth predicts from the byte above.
    for (size_t i = 0; i < bpp && i < n; ++i) sum += magnitude(out[i] = png_byte(row[i] - prev[i]));
    for (size_t i = bpp; i < n; ++i)
        sum += magnitude(out[i] = png_byte(row[i] - paeth(row[i - bpp], prev[i], prev[i - bpp])));
    return sum;
}

// A switch, not a table of function pointers: the program keeps no writable data.
size_t applyFilter(int f, const png_byte* row, const png_byte* prev, png_byte* out, size_t n,
                   size_t bpp) {
    switch (f) {
    case 0:
        return filterNone(row, prev, out, n, bpp);
    case 1:
        return filterSub(row, prev, out, n, bpp);
    case 2:
        return filterUp(row, prev, out, n, bpp);
    case 3:
        return filterAvg(row, prev, out, n, bpp);
    default:
        return filterPaeth(row, prev, out, n, bpp);
    }
}
constexpr int filterBits[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                              PNG_FILTER_PAETH};

} // namespace

void filterRow(int filters, const png_byte* row, const png_byte* prev, size_t rowBytes, size_t bpp,
               png_byte* out, png_byte* scratch) {
    // A single filter needs no choice; with none among several, none's sum is the one to beat.
    int chosen = -1;
    size_t best = 0;
    png_byte* candidate = out + 1;
    for (int f = 0; f < 5; ++f) {
        if (!(filters & filterBits[f])) continue;
        if (filters == filterBits[f]) {
            out[0] = png_byte(f);
            applyFilter(f, row, prev, out + 1, rowBytes, bpp);
            return;
        }
        const size_t sum = applyFilter(f, row, prev, candidate, rowBytes, bpp);
        if (chosen < 0 || sum < best) {
            chosen = f;
            best = sum;
            // The best row so far stays where it is; the next candidate goes to the other buffer.
            candidate = candidate == out + 1 ? scratch : out + 1;
        }
    }
    out[0] = png_byte(chosen);
    // The winner is in whichever buffer is not the next candidate's.
    if (candidate == out + 1) std::memcpy(out + 1, scratch, rowBytes);
}

} // namespace gridpack
