// Colour histograms, colour hash tables and colour rows.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pmintern.h"

// Blocks owned by one function until it returns them: a read error that throws must not leak
// them.
using OwnedHash = std::unique_ptr<color_hash_entry*, void (*)(color_hash)>;
using OwnedPixels = std::unique_ptr<pixel, void (*)(void*)>;
using OwnedBlock = std::unique_ptr<void, void (*)(void*)>;

// ---- Hash tables -----------------------------------------------------------------------------

color_hash ppm_alloccolorhash() {
    void* heads = nullptr;
    mallocProduct(&heads, HASH_SIZE, sizeof(color_hash_entry*));
    if (heads == nullptr) pm_error("out of memory allocating hash table");
    color_hash cht = static_cast<color_hash>(heads);
    for (unsigned int i = 0; i < HASH_SIZE; ++i) cht[i] = nullptr;
    return cht;
}

static color_hash_entry* findEntry(const color_hash cht, unsigned int hash, const pixel& color) {
    for (color_hash_entry* e = cht[hash]; e != nullptr; e = e->next)
        if (PPM_EQUAL(e->color, color)) return e;
    return nullptr;
}

// New entries go to the head of their chain: the histogram order, and through it the
// converter's default palette order, depends on this.
static color_hash_entry* newEntryAtHead(color_hash cht, unsigned int hash, const pixel& color,
                                        int value) {
    color_hash_entry* e = static_cast<color_hash_entry*>(std::malloc(sizeof(color_hash_entry)));
    if (e == nullptr) return nullptr;
    e->color = color;
    e->value = value;
    e->next = cht[hash];
    cht[hash] = e;
    return e;
}

int ppm_addtocolorhash(color_hash cht, const pixel* colorP, int value) {
    return newEntryAtHead(cht, ppm_hashpixel(*colorP), *colorP, value) ? 0 : -1;
}

int ppm_lookupcolor(const color_hash cht, const pixel* colorP) {
    const color_hash_entry* e = findEntry(cht, ppm_hashpixel(*colorP), *colorP);
    return e ? e->value : -1;
}

void ppm_freecolorhash(color_hash cht) {
    for (unsigned int i = 0; i < HASH_SIZE; ++i) {
        color_hash_entry* e = cht[i];
        while (e != nullptr) {
            color_hash_entry* const next = e->next;
            std::free(e);
            e = next;
        }
    }
    std::free(cht);
}

void ppm_freecolorhist(color_hist chv) { std::free(chv); }

// ---- Counting --------------------------------------------------------------------------------

namespace {
// Where counting and collecting take their rows from: an array in memory, or an open file
// read row by row into a buffer of the caller's.
struct RowSource {
    pixel** pixels;
    FILE* file;
    pixval maxval;
    int format;
    pixel* buffer;

    const pixel* row(int r, int cols) const {
        if (pixels != nullptr) return pixels[r];
        ppm_readppmrow(file, buffer, cols, maxval, format);
        return buffer;
    }
};
} // namespace

// One pass, one hash and one chain walk per pixel. A pixel equal to the one before it bumps
// the entry that one found, so runs cost a comparison each; the result and the insertion order
// are those of hashing every pixel.
static color_hash countInHash(const RowSource& src, int cols, int rows, int maxcolors,
                              int* colorsP) {
    OwnedHash owner(ppm_alloccolorhash(), ppm_freecolorhash);
    const color_hash cht = owner.get();
    *colorsP = 0;
    int colors = 0;
    color_hash_entry* last = nullptr;
    for (int r = 0; r < rows; ++r) {
        const pixel* const row = src.row(r, cols);
        for (int c = 0; c < cols; ++c) {
            const pixel& p = row[c];
            if (last == nullptr || !PPM_EQUAL(last->color, p)) {
                const unsigned int hash = ppm_hashpixel(p);
                last = findEntry(cht, hash, p);
                if (last == nullptr) {
                    ++colors;
                    if (maxcolors > 0 && colors > maxcolors) {
                        *colorsP = colors;
                        return nullptr;
                    }
                    last = newEntryAtHead(cht, hash, p, 0);
                    if (last == nullptr) pm_error("out of memory computing hash table");
                }
            }
            // A count saturates rather than overflow on images of more than 2^31 pixels.
            if (last->value < INT_MAX) ++last->value;
        }
    }
    *colorsP = colors;
    return owner.release();
}

// Counting under a limit, which is what the converter's census does on every pixel of a
// palette image: an open-addressed table of at least four slots per allowed colour, so a
// probe almost always ends at its first slot, and no allocation per colour. The colours are
// kept in order of first appearance; inserting them into a colour hash in that order gives
// every chain the order that hashing pixel by pixel gives. Rows are fed one at a time, so that
// a caller reading the raster for other reasons too can count on the same read.
struct pm_colorcounter {
    int maxcolors;
    unsigned int mask;       // slots - 1
    pixel* colors;           // per slot
    int* counts;             // per slot; -1 marks an empty slot
    unsigned int* firstSeen; // slot of the i-th new colour
    int graySlot[256];       // gray pixels of 8 bits (most graymaps) find their slot by value
    int colorCount;
    bool exceeded;
    unsigned int last;

    static unsigned int mix(const pixel& p) {
        return (p.r * 0x9E3779B1u) ^ (p.g * 0x85EBCA77u) ^ (p.b * 0xC2B2AE3Du);
    }
    // The slot holding p, or the empty slot where it belongs.
    unsigned int probe(const pixel& p) const {
        unsigned int h = (mix(p) ^ (mix(p) >> 15)) & mask;
        while (counts[h] >= 0 && !PPM_EQUAL(colors[h], p)) h = (h + 1) & mask;
        return h;
    }
};

pm_colorcounter* ppm_countbegin(int maxcolors) {
    unsigned int slots = 64;
    while (slots < 4u * unsigned(maxcolors)) slots *= 2;
    void* colorBlock = nullptr;
    void* countBlock = nullptr;
    void* orderBlock = nullptr;
    mallocProduct(&colorBlock, slots, sizeof(pixel));
    mallocProduct(&countBlock, slots, sizeof(int));
    mallocProduct(&orderBlock, size_t(maxcolors), sizeof(unsigned int));
    pm_colorcounter* t = static_cast<pm_colorcounter*>(std::malloc(sizeof(pm_colorcounter)));
    if (colorBlock == nullptr || countBlock == nullptr || orderBlock == nullptr || t == nullptr) {
        std::free(colorBlock), std::free(countBlock), std::free(orderBlock), std::free(t);
        pm_error("out of memory computing hash table");
    }
    *t = pm_colorcounter{maxcolors,
                         slots - 1,
                         static_cast<pixel*>(colorBlock),
                         static_cast<int*>(countBlock),
                         static_cast<unsigned int*>(orderBlock),
                         {},
                         0,
                         false,
                         0};
    for (unsigned int i = 0; i < slots; ++i) t->counts[i] = -1;
    for (int& slot : t->graySlot) slot = -1;
    return t;
}

// Counts the row of pixels that pixelAt(col) gives; false once a colour beyond the limit is met.
// The counter's scalars live in locals meanwhile: a count stored through a pointer would otherwise
// make the compiler reload them for every pixel.
template <typename PixelAt> static bool countRow(pm_colorcounter* t, int cols, PixelAt pixelAt) {
    if (t->exceeded) return false;
    int* const counts = t->counts;
    unsigned int last = t->last;
    int colorCount = t->colorCount;
    for (int c = 0; c < cols; ++c) {
        const pixel p = pixelAt(c);
        if (colorCount == 0 || !PPM_EQUAL(t->colors[last], p)) {
            const bool gray8 = p.r == p.b && p.g == p.b && p.b < 256;
            if (gray8 && t->graySlot[p.b] >= 0) {
                last = unsigned(t->graySlot[p.b]);
            } else {
                last = t->probe(p);
                if (counts[last] < 0) {
                    if (colorCount == t->maxcolors) {
                        t->exceeded = true;
                        break;
                    }
                    t->colors[last] = p;
                    counts[last] = 0;
                    t->firstSeen[colorCount++] = last;
                }
                if (gray8) t->graySlot[p.b] = int(last);
            }
        }
        counts[last] += counts[last] < INT_MAX;
    }
    t->last = last, t->colorCount = colorCount;
    return !t->exceeded;
}

bool ppm_countrow(pm_colorcounter* t, const pixel* row, int cols) {
    return countRow(t, cols, [row](int c) { return row[c]; });
}

bool ppm_countgrayrow(pm_colorcounter* t, const xel* row, int cols) {
    // Once an 8-bit gray value has been met its slot is known by value, so most pixels of a
    // graymap cost one lookup and one count; the rest go the general way, a pixel at a time.
    int* const counts = t->counts;
    for (int c = 0; c < cols; ++c) {
        const pixval v = row[c].b;
        const int slot = v < 256 ? t->graySlot[v] : -1;
        if (slot >= 0 && !t->exceeded) {
            counts[slot] += counts[slot] < INT_MAX;
        } else if (!countRow(t, 1, [v](int) { return pixel{v, v, v}; })) {
            return false;
        }
    }
    return !t->exceeded;
}

void ppm_countabandon(pm_colorcounter* t) {
    if (t == nullptr) return;
    std::free(t->colors), std::free(t->counts), std::free(t->firstSeen), std::free(t);
}

// The counted colours in a colour hash, or null (and maxcolors + 1) when there were too many.
static color_hash countedHash(const pm_colorcounter* t, int* colorsP) {
    if (t->exceeded) {
        *colorsP = t->maxcolors + 1;
        return nullptr;
    }
    OwnedHash owner(ppm_alloccolorhash(), ppm_freecolorhash);
    for (int i = 0; i < t->colorCount; ++i) {
        const unsigned int slot = t->firstSeen[i];
        if (!newEntryAtHead(owner.get(), ppm_hashpixel(t->colors[slot]), t->colors[slot],
                            t->counts[slot]))
            pm_error("out of memory computing hash table");
    }
    *colorsP = t->colorCount;
    return owner.release();
}

using OwnedCounter = std::unique_ptr<pm_colorcounter, void (*)(pm_colorcounter*)>;

color_hist ppm_countfinish(pm_colorcounter* t, int* colorsP) {
    const OwnedCounter owner(t, ppm_countabandon);
    const OwnedHash cht(countedHash(t, colorsP), ppm_freecolorhash);
    return cht ? ppm_colorhashtocolorhist(cht.get(), t->maxcolors) : nullptr;
}

static color_hash countBounded(const RowSource& src, int cols, int rows, int maxcolors,
                               int* colorsP) {
    const OwnedCounter t(ppm_countbegin(maxcolors), ppm_countabandon);
    bool within = true;
    for (int r = 0; r < rows && within; ++r) within = ppm_countrow(t.get(), src.row(r, cols), cols);
    return countedHash(t.get(), colorsP);
}

// Counting stops at the first colour beyond a positive maxcolors; 0 means no limit.
static color_hash computecolorhash(const RowSource& src, int cols, int rows, int maxcolors,
                                   int* colorsP) {
    // No limit, or one far beyond any palette: the table grows one entry per colour instead.
    if (maxcolors > 0 && maxcolors <= 65536)
        return countBounded(src, cols, rows, maxcolors, colorsP);
    return countInHash(src, cols, rows, maxcolors, colorsP);
}

static color_hash computeFromMemory(pixel** pixels, int cols, int rows, int maxcolors,
                                    int* colorsP) {
    const RowSource src{pixels, nullptr, 0, 0, nullptr};
    return computecolorhash(src, cols, rows, maxcolors, colorsP);
}

static color_hash computeFromFile(FILE* f, int cols, int rows, pixval maxval, int format,
                                  int maxcolors, int* colorsP) {
    const OwnedPixels buffer(static_cast<pixel*>(pm_allocrow(cols, int(sizeof(pixel)))),
                             pm_freerow);
    const RowSource src{nullptr, f, maxval, format, buffer.get()};
    return computecolorhash(src, cols, rows, maxcolors, colorsP);
}

color_hash ppm_computecolorhash(pixel** pixels, int cols, int rows, int maxcolors, int* colorsP) {
    return computeFromMemory(pixels, cols, rows, maxcolors, colorsP);
}

color_hash ppm_computecolorhash2(FILE* f, int cols, int rows, pixval maxval, int format,
                                 int maxcolors, int* colorsP) {
    return computeFromFile(f, cols, rows, maxval, format, maxcolors, colorsP);
}

color_hist ppm_computecolorhist(pixel** pixels, int cols, int rows, int maxcolors, int* colorsP) {
    color_hash cht = computeFromMemory(pixels, cols, rows, maxcolors, colorsP);
    if (cht == nullptr) return nullptr;
    color_hist chv = ppm_colorhashtocolorhist(cht, maxcolors);
    ppm_freecolorhash(cht);
    return chv;
}

color_hist ppm_computecolorhist2(FILE* f, int cols, int rows, pixval maxval, int format,
                                 int maxcolors, int* colorsP) {
    color_hash cht = computeFromFile(f, cols, rows, maxval, format, maxcolors, colorsP);
    if (cht == nullptr) return nullptr;
    color_hist chv = ppm_colorhashtocolorhist(cht, maxcolors);
    ppm_freecolorhash(cht);
    return chv;
}

// ---- Histogram <-> hash ----------------------------------------------------------------------

static size_t colorHashSize(const color_hash cht) {
    size_t n = 0;
    for (unsigned int i = 0; i < HASH_SIZE; ++i)
        for (const color_hash_entry* e = cht[i]; e != nullptr; e = e->next) ++n;
    return n;
}

color_hist ppm_colorhashtocolorhist(color_hash cht, int maxcolors) {
    // A negative maxcolors makes an impossible size, which ends as a lack of memory.
    const size_t slots = maxcolors != 0 ? size_t(maxcolors) : colorHashSize(cht) + 5;
    void* block = nullptr;
    mallocProduct(&block, slots, sizeof(color_count));
    if (block == nullptr) pm_error("out of memory generating histogram");
    color_hist chv = static_cast<color_hist>(block);

    // Chain index ascending, each chain head first: the converter's default palette order.
    // A caller's maxcolors too small for the table cuts the copy rather than overrun the block.
    size_t used = 0;
    for (unsigned int i = 0; i < HASH_SIZE; ++i)
        for (const color_hash_entry* e = cht[i]; e != nullptr && used < slots; e = e->next) {
            chv[used].color = e->color;
            chv[used].value = e->value;
            ++used;
        }
    // The spare slots are cleared so that nobody reads indeterminate memory.
    if (used < slots) std::memset(chv + used, 0, (slots - used) * sizeof(color_count));
    return chv;
}

color_hash ppm_colorhisttocolorhash(const color_hist chv, int colors) {
    color_hash cht = ppm_alloccolorhash();
    for (int i = 0; i < colors; ++i) {
        const pixel& color = chv[i].color;
        const unsigned int hash = ppm_hashpixel(color);
        if (findEntry(cht, hash, color) != nullptr)
            pm_error("same color found twice - %d %d %d", int(color.r), int(color.g), int(color.b));
        if (newEntryAtHead(cht, hash, color, i) == nullptr) pm_error("out of memory");
    }
    return cht;
}

void ppm_addtocolorhist(color_hist chv, int* colorsP, int maxcolors, const pixel* colorP, int value,
                        int position) {
    const int colors = *colorsP;
    for (int i = 0; i < colors; ++i) {
        if (!PPM_EQUAL(chv[i].color, *colorP)) continue;
        if (i < position)
            std::memmove(chv + i, chv + i + 1, size_t(position - i) * sizeof(color_count));
        else if (i > position)
            std::memmove(chv + position + 1, chv + position,
                         size_t(i - position) * sizeof(color_count));
        chv[position].color = *colorP;
        chv[position].value = value;
        return;
    }
    if (colors >= maxcolors) return;
    std::memmove(chv + position + 1, chv + position,
                 size_t(colors - position) * sizeof(color_count));
    chv[position].color = *colorP;
    chv[position].value = value;
    *colorsP = colors + 1;
}

// ---- Colour rows -----------------------------------------------------------------------------

color_hash ppm_colorrowtocolorhash(pixel* colorrow, int ncolors) {
    color_hash cht = ppm_alloccolorhash();
    for (int i = 0; i < ncolors; ++i) {
        const unsigned int hash = ppm_hashpixel(colorrow[i]);
        if (findEntry(cht, hash, colorrow[i]) != nullptr) continue;
        if (newEntryAtHead(cht, hash, colorrow[i], i) == nullptr)
            pm_error("out of memory adding to hash table");
    }
    return cht;
}

// The distinct colours in order of first appearance, or null with the count at -1 when there
// are more than maxcolors.
static pixel* collectColorRow(const RowSource& src, int cols, int rows, int maxcolors,
                              int* ncolorsP) {
    OwnedPixels colorrow(static_cast<pixel*>(pm_allocrow(maxcolors, int(sizeof(pixel)))),
                         pm_freerow);
    const OwnedHash owner(ppm_alloccolorhash(), ppm_freecolorhash);
    const color_hash cht = owner.get();
    int ncolors = 0;
    for (int r = 0; r < rows; ++r) {
        const pixel* const row = src.row(r, cols);
        for (int c = 0; c < cols; ++c) {
            const pixel& p = row[c];
            if (c > 0 && PPM_EQUAL(p, row[c - 1])) continue;
            const unsigned int hash = ppm_hashpixel(p);
            if (findEntry(cht, hash, p) != nullptr) continue;
            if (ncolors >= maxcolors) {
                *ncolorsP = -1;
                return nullptr;
            }
            if (newEntryAtHead(cht, hash, p, ncolors) == nullptr)
                pm_error("out of memory adding to hash table");
            colorrow.get()[ncolors++] = p;
        }
    }
    *ncolorsP = ncolors;
    return colorrow.release();
}

pixel* ppm_computecolorrow(pixel** pixels, int cols, int rows, int maxcolors, int* ncolorsP) {
    const RowSource src{pixels, nullptr, 0, 0, nullptr};
    return collectColorRow(src, cols, rows, maxcolors, ncolorsP);
}

pixel* ppm_mapfiletocolorrow(FILE* f, int maxcolors, int* ncolorsP, pixval* maxvalP) {
    int cols, rows, format;
    ppm_readppminit(f, &cols, &rows, maxvalP, &format);
    const OwnedPixels buffer(static_cast<pixel*>(pm_allocrow(cols, int(sizeof(pixel)))),
                             pm_freerow);
    const RowSource src{nullptr, f, *maxvalP, format, buffer.get()};
    return collectColorRow(src, cols, rows, maxcolors, ncolorsP);
}

void ppm_colorrowtomapfile(FILE* f, pixel* colormap, int ncolors, pixval maxval) {
    ppm_writeppminit(f, ncolors, 1, maxval, 1);
    for (int i = 0; i < ncolors; ++i) ppm_writeppmrow(f, colormap + i, 1, maxval, 1);
}

static pm_pixelcmp custom_cmp = nullptr;

// Red, then green, then blue, ascending. The sign is what matters to qsort; comparing instead
// of subtracting keeps samples above INT_MAX in order.
static int pixel_cmp(const void* a, const void* b) {
    const pixel& p = *static_cast<const pixel*>(a);
    const pixel& q = *static_cast<const pixel*>(b);
    if (p.r != q.r) return p.r < q.r ? -1 : 1;
    if (p.g != q.g) return p.g < q.g ? -1 : 1;
    if (p.b != q.b) return p.b < q.b ? -1 : 1;
    return 0;
}

static int custom_stub(const void* a, const void* b) {
    return custom_cmp(static_cast<pixel*>(const_cast<void*>(a)),
                      static_cast<pixel*>(const_cast<void*>(b)));
}

void ppm_sortcolorrow(pixel* colorrow, int ncolors, pm_pixelcmp cmpfunc) {
    if (ncolors <= 1) return;
    if (cmpfunc == nullptr) {
        std::qsort(colorrow, size_t(ncolors), sizeof(pixel), pixel_cmp);
    } else {
        custom_cmp = cmpfunc;
        std::qsort(colorrow, size_t(ncolors), sizeof(pixel), custom_stub);
    }
}

int ppm_addtocolorrow(pixel* colorrow, int* ncolorsP, int maxcolors, pixel* colorP) {
    for (int i = 0; i < *ncolorsP; ++i)
        if (PPM_EQUAL(colorrow[i], *colorP)) return i;
    if (*ncolorsP >= maxcolors) return -1;
    colorrow[*ncolorsP] = *colorP;
    return (*ncolorsP)++;
}

// Distances are taken in 64 bits and saturate, so samples of any size compare correctly. The
// first entry always becomes the best (no cut-off distance), ties keep the lowest index, and an
// empty map gives -1.
int ppm_findclosestcolor(const pixel* colormap, int ncolors, const pixel* colorP) {
    int best = -1;
    uint64_t bestDistance = 0;
    for (int i = 0; i < ncolors; ++i) {
        const pixel& p = colormap[i];
        const uint64_t dr = p.r > colorP->r ? p.r - colorP->r : colorP->r - p.r;
        const uint64_t dg = p.g > colorP->g ? p.g - colorP->g : colorP->g - p.g;
        const uint64_t db = p.b > colorP->b ? p.b - colorP->b : colorP->b - p.b;
        uint64_t distance = dr * dr;
        if (__builtin_add_overflow(distance, dg * dg, &distance) ||
            __builtin_add_overflow(distance, db * db, &distance))
            distance = UINT64_MAX;
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}
