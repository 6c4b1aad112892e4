// Palette construction and the palette's transparent and background entries.
#include <climits>

#include "gridpack.h"

namespace gridpack {

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
