// The colour census, taken at most once per conversion, and the colour-and-alpha table.
#include <cstdlib>

#include "gridpack.h"

namespace gridpack {

namespace {
// The census cache: the image is counted at most once between two freeChv calls, however many
// parts ask. A census that overflowed stays cached too (as no histogram).
bool getChv_computed = false;
color_hist getChv_chv = nullptr;
int getChv_colors = 0;
} // namespace

void getChv(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval, int format,
            int maxColors, color_hist* chvP, int* colorsP) {
    // Every caller asks for the PNG palette limit; the census is always taken with it.
    (void)maxColors;
    if (!getChv_computed) {
        if (verbose) pm_message("Finding colors in input image...");
        pm_seek2(ifP, &rasterPos, sizeof rasterPos);
        getChv_chv = ppm_computecolorhist2(ifP, cols, rows, maxval, format, int(MAXPALETTEENTRIES),
                                           &getChv_colors);
        // Printed without -verbose too (only -quiet silences it), once per count taken.
        if (getChv_chv) pm_message("%d colors found", getChv_colors);
        getChv_computed = true;
    }
    *chvP = getChv_chv;
    *colorsP = getChv_colors;
}

void freeChv() {
    if (getChv_computed && getChv_chv) ppm_freecolorhist(getChv_chv);
    getChv_chv = nullptr;
    getChv_computed = false;
}

color_alpha_hash alloccoloralphahash() {
    void* heads;
    mallocProduct(&heads, HASH_SIZE, sizeof(color_alpha_entry*));
    if (heads == nullptr) pm_error("out of memory allocating hash table");
    color_alpha_hash table = static_cast<color_alpha_hash>(heads);
    for (unsigned int i = 0; i < HASH_SIZE; ++i) table[i] = nullptr;
    return table;
}

color_alpha_entry* addtocoloralphahash(color_alpha_hash table, const pixel* colorP,
                                       const gray* alphaP, int value) {
    // The alpha value stays out of the hash: all pairs of one colour share a chain.
    const unsigned int hash = ppm_hashpixel(*colorP);
    color_alpha_entry* entry = static_cast<color_alpha_entry*>(std::malloc(sizeof *entry));
    if (entry == nullptr) pm_error("Out of memory building hash table");
    entry->color = *colorP;
    entry->alpha = *alphaP;
    entry->value = value;
    entry->next = table[hash];
    table[hash] = entry;
    return entry;
}

int lookupColorAlpha(color_alpha_hash table, const pixel* colorP, const gray* alphaP) {
    for (const color_alpha_entry* e = table[ppm_hashpixel(*colorP)]; e; e = e->next)
        if (PPM_EQUAL(e->color, *colorP) && e->alpha == *alphaP) return e->value;
    return -1;
}

void freecoloralphahash(color_alpha_hash table) {
    for (unsigned int i = 0; i < HASH_SIZE; ++i) {
        color_alpha_entry* e = table[i];
        while (e) {
            color_alpha_entry* const next = e->next;
            std::free(e);
            e = next;
        }
    }
    std::free(table);
}

} // namespace gridpack
