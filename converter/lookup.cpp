// The pixel-to-index lookup, the PNG bit depth, and the palette and colours in PNG form.
#include "gridpack.h"

namespace gridpack {

void buildColorLookup(const pixel palette[], unsigned int paletteSize, color_hash* colorHashP) {
    color_hash const cht = ppm_alloccolorhash();
    for (unsigned int i = 0; i < paletteSize; ++i) {
        // A missing entry would silently write index -1 for that colour's pixels.
        if (ppm_addtocolorhash(cht, &palette[i], int(i)) < 0)
            pm_error("out of memory building the palette lookup table");
    }
    *colorHashP = cht;
}

void buildColorAlphaLookup(const pixel palette[], unsigned int paletteSize,
                           const gray transValues[], unsigned int transSize, gray alphaMaxval,
                           color_alpha_hash* colorAlphaHashP) {
    (void)transSize, (void)alphaMaxval;
    // The driver fills transValues with the opaque value beyond the alpha palette, so an
    // appended background entry goes in as opaque; its colour is in no pixel anyway.
    color_alpha_hash const table = alloccoloralphahash();
    for (unsigned int i = 0; i < paletteSize; ++i)
        addtocoloralphahash(table, &palette[i], &transValues[i], int(i));
    *colorAlphaHashP = table;
}

void computeColorMapLookupTable(bool colorMapped, const pixel palette[], unsigned int paletteSize,
                                const gray transValues[], unsigned int transSize, bool withAlpha,
                                gray alphaMaxval, color_hash* colorHashP,
                                color_alpha_hash* colorAlphaHashP) {
    *colorHashP = nullptr;
    *colorAlphaHashP = nullptr;
    if (!colorMapped) return;
    if (withAlpha)
        buildColorAlphaLookup(palette, paletteSize, transValues, transSize, alphaMaxval,
                              colorAlphaHashP);
    else
        buildColorLookup(palette, paletteSize, colorHashP);
    if (verbose)
        pm_message("PNG palette has %u entries, %u of them non-opaque", paletteSize, transSize);
}

void computePixelWidth(bool colorMapped, unsigned int paletteSize, int pnm_type, int meaningfulBits,
                       bool withAlpha, int* bitDepthP, int* pixelWidthP) {
    int bitDepth;
    int pixelWidth;
    if (colorMapped) {
        if (paletteSize <= 2)
            bitDepth = 1;
        else if (paletteSize <= 4)
            bitDepth = 2;
        else if (paletteSize <= 16)
            bitDepth = 4;
        else
            bitDepth = 8;
        pixelWidth = bitDepth;
        if (verbose) pm_message("Writing %d-bit color indexes", bitDepth);
    } else {
        const bool color = pnm_type == PLAIN_PPM;
        if (color || withAlpha) {
            // PNG allows only 8 and 16 bits for colour and for any image with an alpha channel.
            bitDepth = meaningfulBits > 8 ? 16 : 8;
        } else if (meaningfulBits > 8) {
            bitDepth = 16;
        } else if (meaningfulBits > 4) {
            bitDepth = 8;
        } else if (meaningfulBits > 2) {
            bitDepth = 4;
        } else {
            bitDepth = meaningfulBits == 2 ? 2 : 1;
        }
        if (withAlpha)
            pixelWidth = (color ? 4 : 2) * bitDepth;
        else
            pixelWidth = (color ? 3 : 1) * bitDepth;
        if (verbose) pm_message("Writing %d bits per component per pixel", bitDepth);
    }
    *bitDepthP = bitDepth;
    *pixelWidthP = pixelWidth;
}

void createPngPalette(const pixel palette[], unsigned int paletteSize, pixval maxval,
                      const gray transValues[], unsigned int transSize, gray alphaMaxval,
                      png_color pngPalette[], png_byte pngTrans[]) {
    for (unsigned int i = 0; i < paletteSize; ++i) {
        pngPalette[i].red = png_byte(scaleSample(palette[i].r, 255, maxval));
        pngPalette[i].green = png_byte(scaleSample(palette[i].g, 255, maxval));
        pngPalette[i].blue = png_byte(scaleSample(palette[i].b, 255, maxval));
    }
    for (unsigned int i = 0; i < transSize; ++i)
        pngTrans[i] = png_byte(scaleSample(transValues[i], 255, alphaMaxval));
}

png_color_16 xelToPngColor_16(xel color, pixval maxval, pixval pngMaxval) {
    png_color_16 out;
    out.index = 0;
    out.red = png_uint_16(scaleSample(color.r, pngMaxval, maxval));
    out.green = png_uint_16(scaleSample(color.g, pngMaxval, maxval));
    out.blue = png_uint_16(scaleSample(color.b, pngMaxval, maxval));
    // A gray image keeps its value in the blue sample.
    out.gray = out.blue;
    return out;
}

} // namespace gridpack
