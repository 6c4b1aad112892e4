// Palette construction and the palette's transparent and background entries.
#include <climits>
#include <cstdlib>
#include <memory>

#include "gridpack.h"

namespace gridpack {

void readOrderedPalette(FILE* pfP, pixel orderedPalette[], unsigned int* orderedSizeP) {
    if (verbose) pm_message("reading ordered palette (colormap)...");
    int cols, rows, format;
    pixval maxval;
    pnm_readpnminit(pfP, &cols, &rows, &maxval, &format);
    // The type and the size are judged from the header, before the raster: a header promising
    // billions of pixels then costs nothing, and at most 256 pixels are ever read.
    if (PNM_FORMAT_TYPE(format) != PLAIN_PPM)
        pm_error("ordered palette must be a PPM file, not type %d", format);

    // Both are non-negative ints, so the product fits in 64 bits.
    const long long count = static_cast<long long>(cols) * rows;
    if (count > static_cast<long long>(MAXPALETTEENTRIES))
        pm_error("ordered-palette image contains %lld pixels.  Maximum is %d", count,
                 int(MAXPALETTEENTRIES));
    if (verbose) pm_message("%d colors found", int(count));

    // A zero-width palette has no pixels, and its rows hold no bytes to read.
    unsigned int n = 0;
    if (cols > 0) {
        xel row[MAXPALETTEENTRIES];
        for (int r = 0; r < rows; ++r) {
            pnm_readpnmrow(pfP, row, cols, maxval, format);
            for (int col = 0; col < cols; ++col) orderedPalette[n++] = row[col];
        }
    }
    *orderedSizeP = n;
}

void compute_nonalpha_palette(const color_hist chv, int colors, FILE* pfP, pixel palette[],
                              unsigned int* paletteSizeP, gray transValues[],
                              unsigned int* transSizeP) {
    (void)transValues;
    if (pfP == nullptr) {
        for (int i = 0; i < colors; ++i) palette[i] = chv[i].color;
    } else {
        pixel ordered[MAXPALETTEENTRIES];
        unsigned int orderedSize;
        readOrderedPalette(pfP, ordered, &orderedSize);
        if (int(orderedSize) != colors)
            pm_error("sizes of ordered palette (%d) and existing palette (%d) differ",
                     int(orderedSize), colors);
        // Samples are compared as they stand: the file must be written at the image's maxval.
        for (int i = 0; i < colors; ++i) {
            const pixel& c = chv[i].color;
            bool found = false;
            for (unsigned int j = 0; j < orderedSize && !found; ++j)
                found = PPM_EQUAL(ordered[j], c);
            if (!found)
                pm_error("failed to find color (%d, %d, %d), which is in the input image, in the "
                         "ordered palette",
                         int(c.r), int(c.g), int(c.b));
        }
        for (unsigned int j = 0; j < orderedSize; ++j) palette[j] = ordered[j];
    }
    *paletteSizeP = unsigned(colors);
    *transSizeP = 0;
}

namespace {

// The distinct alpha values met with each census colour, in order of first occurrence: colour
// i's list is values[i * 256 .. i * 256 + counts[i] - 1].
struct AlphaLists {
    gray* values;
    unsigned int* counts;
};

// Collects the colour-and-alpha pairs of the image; returns the pair count, or 257 as soon as
// the pairs are known to be too many (no list then needs more than its 256 values).
unsigned int collectPairs(FILE* ifP, int cols, int rows, pixval maxval, int format,
                          pm_filepos rasterPos, gray** alpha_mask, color_hash cht,
                          const AlphaLists& lists) {
    const XelRow ownedRow = allocXelRow(cols);
    xel* const xelrow = ownedRow.get();
    unsigned int pairs = 0;
    pm_seek2(ifP, &rasterPos, sizeof rasterPos);
    for (int row = 0; row < rows && pairs <= MAXPALETTEENTRIES; ++row) {
        pnm_readpnmrow(ifP, xelrow, cols, maxval, format);
        // Gray pixels become three equal samples, as in the census.
        pnm_promoteformatrow(xelrow, cols, maxval, format, maxval, PLAIN_PPM);
        const gray* const alphaRow = alpha_mask[row];
        int index = -1;
        gray lastAlpha = 0;
        for (int col = 0; col < cols; ++col) {
            const gray a = alphaRow[col];
            // A run of equal pixels with equal alpha needs neither lookup nor list search.
            if (index >= 0 && PPM_EQUAL(xelrow[col], xelrow[col - 1])) {
                if (a == lastAlpha) continue;
            } else {
                index = ppm_lookupcolor(cht, &xelrow[col]);
                if (index < 0)
                    pm_error("internal inconsistency: color (%u, %u, %u) is not in the census",
                             xelrow[col].r, xelrow[col].g, xelrow[col].b);
            }
            lastAlpha = a;
            gray* const list = lists.values + size_t(index) * MAXPALETTEENTRIES;
            unsigned int& count = lists.counts[index];
            unsigned int k = 0;
            while (k < count && list[k] != a) ++k;
            if (k < count) continue;
            if (pairs == MAXPALETTEENTRIES) {
                pairs = MAXPALETTEENTRIES + 1;
                break;
            }
            list[count++] = a;
            ++pairs;
        }
    }
    return pairs;
}

} // namespace

void compute_alpha_palette(FILE* ifP, int cols, int rows, pixval maxval, int format,
                           pm_filepos rasterPos, gray** alpha_mask, gray alphaMaxval,
                           pixel palette[], gray transValues[], unsigned int* paletteSizeP,
                           unsigned int* transSizeP, bool* tooManyPairsP) {
    color_hist chv;
    int colors;
    getChv(ifP, rasterPos, cols, rows, maxval, format, int(MAXPALETTEENTRIES), &chv, &colors);
    if (chv == nullptr) {
        // More colours than palette entries means more pairs too.
        *paletteSizeP = unsigned(colors);
        *tooManyPairsP = true;
        return;
    }
    // Owned until this function returns, also when a read error throws (fuzz builds).
    const std::unique_ptr<color_hash_entry*, void (*)(color_hash)> cht(
        ppm_colorhisttocolorhash(chv, colors), ppm_freecolorhash);
    void* values;
    void* counts;
    mallocProduct(&values, size_t(colors) * MAXPALETTEENTRIES, sizeof(gray));
    mallocProduct(&counts, size_t(colors), sizeof(unsigned int));
    const std::unique_ptr<void, void (*)(void*)> ownValues(values, std::free);
    const std::unique_ptr<void, void (*)(void*)> ownCounts(counts, std::free);
    if (values == nullptr || counts == nullptr)
        pm_error("out of memory allocating alpha/palette entries");
    AlphaLists lists;
    lists.values = static_cast<gray*>(values);
    lists.counts = static_cast<unsigned int*>(counts);
    for (int i = 0; i < colors; ++i) lists.counts[i] = 0;

    const unsigned int pairs =
        collectPairs(ifP, cols, rows, maxval, format, rasterPos, alpha_mask, cht.get(), lists);
    *paletteSizeP = pairs;

    if (pairs > MAXPALETTEENTRIES) {
        *tooManyPairsP = true;
    } else {
        *tooManyPairsP = false;
        // Translucent pairs fill the palette from the front in enumeration order, so that the
        // transparency chunk covers only them; opaque pairs fill it from the back.
        int bottom = 0;
        int top = int(pairs) - 1;
        for (int i = 0; i < colors; ++i) {
            const gray* const list = lists.values + size_t(i) * MAXPALETTEENTRIES;
            for (unsigned int k = 0; k < lists.counts[i]; ++k) {
                const int pos = list[k] == alphaMaxval ? top-- : bottom++;
                palette[pos] = chv[i].color;
                transValues[pos] = list[k];
            }
        }
        if (bottom != top + 1)
            pm_error("internal inconsistency: remapped bot_idx = %d, top_idx = %d", bottom, top);
        *transSizeP = unsigned(bottom);
    }
}

bool closestColorInPalette(pixval r, pixval g, pixval b, const pixel palette[],
                           unsigned int paletteSize, unsigned int* indexP,
                           unsigned int* distanceP) {
    if (paletteSize == 0) return false;
    // Palette samples never exceed 255 (no palette is built above maxval 255), so these 32-bit
    // squares cannot wrap. A strictly smaller distance wins: ties go to the lowest index.
    unsigned int best = UINT_MAX;
    unsigned int bestIndex = 0;
    for (unsigned int i = 0; i < paletteSize; ++i) {
        const unsigned int dr = palette[i].r - r;
        const unsigned int dg = palette[i].g - g;
        const unsigned int db = palette[i].b - b;
        const unsigned int distance = dr * dr + dg * dg + db * db;
        if (distance < best) {
            best = distance;
            bestIndex = i;
        }
    }
    if (indexP) *indexP = bestIndex;
    if (distanceP) *distanceP = best;
    return true;
}

void makeOneColorTransparentInPalette(pixval r, pixval g, pixval b, bool transExact,
                                      pixel palette[], unsigned int paletteSize, gray transValues[],
                                      unsigned int* transSizeP) {
    if (*transSizeP != 0)
        pm_error("Internal error: trying to make a color in the palette transparent where there "
                 "already is one.");

    unsigned int index, distance;
    if (!closestColorInPalette(r, g, b, palette, paletteSize, &index, &distance)) return;

    if (distance != 0 && transExact) {
        // A warning, not an error: the image is written without a transparent colour.
        pm_message("specified transparent color not present in palette; ignoring -transparent");
        errorlevel = 0;
        return;
    }

    // The transparency chunk then needs a single value.
    const pixel former0 = palette[0];
    palette[0] = palette[index];
    palette[index] = former0;
    transValues[0] = 0;
    *transSizeP = 1;

    if (verbose)
        pm_message("Making all occurences of color (%u, %u, %u) transparent.", palette[0].r,
                   palette[0].g, palette[0].b);
}

void findOrAddBackgroundInPalette(pixval r, pixval g, pixval b, pixel palette[],
                                  unsigned int* paletteSizeP, int* backgroundIndexP) {
    const unsigned int paletteSize = *paletteSizeP;
    if (paletteSize == 0) {
        // An image without pixels: nothing to find, and the PNG stage refuses it anyway.
        *backgroundIndexP = 0;
        return;
    }

    // An alpha palette may hold one colour several times (once per alpha value); the last
    // match is the one taken.
    int found = -1;
    for (unsigned int i = 0; i < paletteSize; ++i)
        if (palette[i].r == r && palette[i].g == g && palette[i].b == b) found = int(i);

    if (found >= 0) {
        *backgroundIndexP = found;
        if (verbose)
            pm_message("background color (%u, %u, %u) appears in image.", palette[found].r,
                       palette[found].g, palette[found].b);
    } else if (paletteSize < MAXPALETTEENTRIES) {
        // Appended beyond the translucent entries, so it is opaque without a transparency value.
        palette[paletteSize] = pixel{r, g, b};
        *backgroundIndexP = int(paletteSize);
        *paletteSizeP = paletteSize + 1;
        if (verbose) pm_message("added background color (%u, %u, %u) to palette.", r, g, b);
    } else {
        unsigned int index = 0;
        closestColorInPalette(r, g, b, palette, paletteSize, &index, nullptr);
        *backgroundIndexP = int(index);
        errorlevel = 0;
        if (verbose)
            pm_message("no room in palette for background color; using closest match "
                       "(%u, %u, %u) instead",
                       palette[index].r, palette[index].g, palette[index].b);
    }
}

} // namespace gridpack
