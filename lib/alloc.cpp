// Rows, arrays and the overflow-checked product allocation.
#include <cstdint>
#include <cstdlib>

#include "pmintern.h"

void mallocProduct(void** resultP, size_t factor1, size_t factor2) {
    size_t size;
    if (!pm_mulsize(factor1, factor2, &size)) {
        *resultP = nullptr;
        return;
    }
    // malloc(0) may return null, which callers would take for a failure.
    *resultP = std::malloc(size ? size : 1);
}

// The byte size of cols elements, or false when a negative count or the product cannot be one.
static bool rowSize(int cols, int size, size_t* bytesP) {
    if (cols < 0 || size < 0) return false;
    return pm_mulsize(size_t(cols), size_t(size), bytesP);
}

void* pm_allocrow(int cols, int size) {
    size_t bytes;
    void* row = nullptr;
    if (rowSize(cols, size, &bytes)) row = std::malloc(bytes ? bytes : 1);
    if (row == nullptr) pm_error("out of memory allocating a row");
    return row;
}

void pm_freerow(void* row) { std::free(row); }

char** pm_allocarray(int cols, int rows, int size) {
    void* index = nullptr;
    if (rows >= 0) mallocProduct(&index, size_t(rows) + 1, sizeof(char*));
    if (index == nullptr)
        pm_error("out of memory allocating row index (%u rows) for an array", unsigned(rows));
    char** rowIndex = static_cast<char**>(index);

    size_t rowBytes = 0;
    void* block = nullptr;
    if (rowSize(cols, size, &rowBytes)) mallocProduct(&block, size_t(rows), rowBytes);

    if (block != nullptr) {
        char* const base = static_cast<char*>(block);
        for (int row = 0; row < rows; ++row) rowIndex[row] = base + size_t(row) * rowBytes;
        rowIndex[rows] = base;
    } else {
        rowIndex[rows] = nullptr;
        for (int row = 0; row < rows; ++row)
            rowIndex[row] = static_cast<char*>(pm_allocrow(cols, size));
    }
    return rowIndex;
}

void pm_freearray(char** its, int rows) {
    if (its[rows] != nullptr) {
        std::free(its[rows]);
    } else {
        for (int row = 0; row < rows; ++row) pm_freerow(its[row]);
    }
    std::free(its);
}

void* pm_scratchbuf(pm_scratchslot slot, size_t count, size_t size) {
    static void* buffers[PM_SCRATCH_SLOTS];
    static size_t capacities[PM_SCRATCH_SLOTS];
    size_t bytes;
    if (!pm_mulsize(count, size, &bytes)) pm_error("out of memory allocating a row");
    if (bytes > capacities[slot] || buffers[slot] == nullptr) {
        // The old contents are not needed, so free + malloc rather than realloc's copy.
        std::free(buffers[slot]);
        buffers[slot] = std::malloc(bytes ? bytes : 1);
        capacities[slot] = buffers[slot] ? bytes : 0;
        if (buffers[slot] == nullptr) pm_error("out of memory allocating a row");
    }
    return buffers[slot];
}

[[noreturn]] static void indexAllocFailure(int rows) {
    pm_error("out of memory allocating row index (%u rows) for an array", unsigned(rows));
}

void pm_arraybegin(pm_arraybuilder* b, FILE* f, int cols, int rows, int size, unsigned int maxval,
                   int format) {
    *b = pm_arraybuilder{nullptr, 0, cols, rows, size, 0, false};
    if (pm_rasterfits(f, cols, rows, maxval, format)) {
        b->index = pm_allocarray(cols, rows, size);
        b->wholeBlock = true;
    }
}

// Room for entries up to and including entry `needed`, doubling (at most to rows + 1 entries).
static void growIndex(pm_arraybuilder* b, size_t needed) {
    if (needed < b->capacity) return;
    if (b->rows < 0) indexAllocFailure(b->rows);
    const size_t full = size_t(b->rows) + 1;
    size_t capacity = b->capacity < 8 ? 8 : b->capacity * 2;
    if (capacity > full) capacity = full;
    if (capacity <= needed) capacity = needed + 1;
    size_t bytes;
    void* grown = nullptr;
    if (pm_mulsize(capacity, sizeof(char*), &bytes)) grown = std::realloc(b->index, bytes);
    if (grown == nullptr) indexAllocFailure(b->rows);
    b->index = static_cast<char**>(grown);
    b->capacity = capacity;
}

void* pm_arrayrow(pm_arraybuilder* b, int row) {
    if (b->wholeBlock) return b->index[row];
    growIndex(b, size_t(row));
    b->index[row] = static_cast<char*>(pm_allocrow(b->cols, b->size));
    b->filled = row + 1;
    return b->index[row];
}

char** pm_arrayfinish(pm_arraybuilder* b) {
    if (!b->wholeBlock) {
        growIndex(b, size_t(b->rows));
        // Rows allocated one by one: pm_freearray frees them one by one.
        b->index[b->rows] = nullptr;
    }
    char** const index = b->index;
    *b = pm_arraybuilder{};
    return index;
}

void pm_arrayabandon(pm_arraybuilder* b) {
    if (b->wholeBlock) {
        pm_freearray(b->index, b->rows);
    } else {
        for (int row = 0; row < b->filled; ++row) pm_freerow(b->index[row]);
        std::free(b->index);
    }
    *b = pm_arraybuilder{};
}
