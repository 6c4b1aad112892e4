// The anymap readers over arbitrary bytes: the format-independent reader row by row with format
// promotion, and every whole-image reader.
#include <cstdint>
#include <cstdio>

#include "fuzzsupport.h"

namespace {

// Raises each row to a pixmap at the same maxval and then at 65535, as the converter does and
// beyond; checks what promotion promises.
void promoteRow(xel* row, int cols, pixval maxval, int format) {
    pnm_promoteformatrow(row, cols, maxval, format, maxval, PLAIN_PPM);
    for (int col = 0; col < cols; ++col) {
        const xel& x = row[col];
        if (PNM_FORMAT_TYPE(format) != PLAIN_PPM && (x.r != x.g || x.g != x.b)) std::abort();
        if (x.r > maxval || x.g > maxval || x.b > maxval) std::abort();
    }
    pnm_promoteformatrow(row, cols, maxval, PLAIN_PPM, 65535, PLAIN_PPM);
}

void readRows(const uint8_t* data, size_t size) {
    FILE* f = fuzz::openMemory(data, size);
    xel* row = nullptr;
    fuzz::survives([&] {
        int cols, rows, format;
        pixval maxval;
        pnm_readpnminit(f, &cols, &rows, &maxval, &format);
        // A row needs at least one byte per eight pixels; longer rows can only fail at their
        // first read, after allocating memory that a fuzzer would count against the input.
        if (cols == 0 || size_t(cols) > 8 * size + 8) return;
        row = static_cast<xel*>(pm_allocrow(cols, sizeof(xel)));
        for (int r = 0; r < rows; ++r) {
            pnm_readpnmrow(f, row, cols, maxval, format);
            promoteRow(row, cols, maxval, format);
        }
    });
    pm_freerow(row);
    std::fclose(f);
}

template <typename T, typename Read> void readWhole(const uint8_t* data, size_t size, Read read) {
    FILE* f = fuzz::openMemory(data, size);
    fuzz::survives([&] {
        int cols, rows;
        T** array = read(f, &cols, &rows);
        pm_freearray(reinterpret_cast<char**>(array), rows);
    });
    std::fclose(f);
}

// A zero-width image of many rows is read into an index of 8 bytes per row, by the array's
// shape; a row longer than the input would be allocated whole before its read fails. Such
// headers are left to the row reader.
bool headerTooLargeForArrays(const uint8_t* data, size_t size) {
    FILE* f = fuzz::openMemory(data, size);
    int cols = 1, rows = 0;
    fuzz::survives([&] {
        pixval maxval;
        int format;
        pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    });
    std::fclose(f);
    return (cols == 0 && rows > 65536) || size_t(cols) > 8 * size + 8;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readRows(data, size);
    if (headerTooLargeForArrays(data, size)) return 0;
    readWhole<xel>(data, size, [](FILE* f, int* colsP, int* rowsP) {
        pixval maxval;
        int format;
        return pnm_readpnm(f, colsP, rowsP, &maxval, &format);
    });
    readWhole<gray>(data, size, [](FILE* f, int* colsP, int* rowsP) {
        gray maxval;
        return pgm_readpgm(f, colsP, rowsP, &maxval);
    });
    readWhole<pixel>(data, size, [](FILE* f, int* colsP, int* rowsP) {
        pixval maxval;
        return ppm_readppm(f, colsP, rowsP, &maxval);
    });
    readWhole<bit>(data, size,
                   [](FILE* f, int* colsP, int* rowsP) { return pbm_readpbm(f, colsP, rowsP); });
    return 0;
}
