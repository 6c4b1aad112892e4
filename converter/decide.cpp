// Deciding: the facts the passes found, and the options, make the PNG form — colour type, bit
// depth, the palette and its order, tRNS, bKGD, sBIT, hIST — and the report of the choice, in
// the order the reader sees it. Nothing here reads or writes a file.
#include <algorithm>
#include <climits>
#include <cstdarg>

#include "gridpack.h"

namespace gridpack {

namespace {

// Lines of the report; verbose ones only under -verbose.
void say(std::vector<std::string>& report, const char* format, ...) PM_PRINTF(2, 3);
void say(std::vector<std::string>& report, const char* format, ...) {
    char line[300];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    report.emplace_back(line);
}

bool isGray(const pixel& p) { return p.r == p.g && p.g == p.b; }

// The nearest entry (lowest index on ties), with its squared distance; the palette is not empty.
unsigned int closestColorInPalette(const pixel& color, const Form& form, unsigned int* distanceP) {
    // Palette samples never exceed 255 (no palette is built above maxval 255), so these 32-bit
    // squares cannot wrap. A strictly smaller distance wins: ties go to the lowest index.
    unsigned int best = UINT_MAX;
    unsigned int bestIndex = 0;
    for (unsigned int i = 0; i < form.paletteSize; ++i) {
        const unsigned int dr = form.palette[i].r - color.r;
        const unsigned int dg = form.palette[i].g - color.g;
        const unsigned int db = form.palette[i].b - color.b;
        const unsigned int distance = dr * dr + dg * dg + db * db;
        if (distance < best) {
            best = distance;
            bestIndex = i;
        }
    }
    if (distanceP) *distanceP = best;
    return bestIndex;
}

// The census colours, in census order or in the order of the palette file.
void nonAlphaPalette(const Facts& f, const Options& o, Form& form) {
    for (int i = 0; i < f.colors; ++i) form.palette[i] = f.census[size_t(i)].color;
    form.paletteSize = unsigned(f.colors);
    if (o.palette_file == nullptr) return;
    const size_t orderedSize = f.ordered.size();
    if (int(orderedSize) != f.colors)
        pm_error("sizes of ordered palette (%d) and existing palette (%d) differ", int(orderedSize),
                 f.colors);
    // Samples are compared as they stand: the file must be written at the image's maxval.
    for (int i = 0; i < f.colors; ++i) {
        const pixel& c = f.census[size_t(i)].color;
        bool found = false;
        for (size_t j = 0; j < orderedSize && !found; ++j) found = PPM_EQUAL(f.ordered[j], c);
        if (!found)
            pm_error("failed to find color (%d, %d, %d), which is in the input image, in the "
                     "ordered palette",
                     int(c.r), int(c.g), int(c.b));
    }
    std::copy(f.ordered.begin(), f.ordered.end(), form.palette);
}

// One entry per colour-and-alpha pair: translucent pairs fill the palette from the front in
// enumeration order, so that the transparency chunk covers only them; opaque pairs fill it from
// the back.
void alphaPalette(const Facts& f, Form& form) {
    unsigned int bottom = 0;
    unsigned int top = unsigned(f.pairs.size());
    for (const AlphaPair& pair : f.pairs) {
        const unsigned int pos = pair.alpha == f.alphaMaxval ? --top : bottom++;
        form.palette[pos] = pair.color;
        form.transValues[pos] = pair.alpha;
    }
    form.paletteSize = unsigned(f.pairs.size());
    form.transSize = bottom;
}

void makeOneColorTransparentInPalette(const pixel& color, bool exact, const Options& o,
                                      Form& form) {
    unsigned int distance;
    const unsigned int index = closestColorInPalette(color, form, &distance);
    if (distance != 0 && exact) {
        // A warning, not an error: the image is written without a transparent colour.
        say(form.report, "specified transparent color not present in palette; ignoring "
                         "-transparent");
        return;
    }
    // The transparency chunk then needs a single value.
    std::swap(form.palette[0], form.palette[index]);
    form.transValues[0] = 0;
    form.transSize = 1;
    if (o.verbose)
        say(form.report, "Making all occurences of color (%u, %u, %u) transparent.",
            form.palette[0].r, form.palette[0].g, form.palette[0].b);
}

void findOrAddBackgroundInPalette(const pixel& back, const Options& o, Form& form) {
    // An alpha palette may hold one colour several times (once per alpha value); the last
    // match is the one taken.
    int found = -1;
    for (unsigned int i = 0; i < form.paletteSize; ++i)
        if (PPM_EQUAL(form.palette[i], back)) found = int(i);
    unsigned int index;
    if (found >= 0) {
        index = unsigned(found);
        if (o.verbose)
            say(form.report, "background color (%u, %u, %u) appears in image.", back.r, back.g,
                back.b);
    } else if (form.paletteSize < MAXPALETTEENTRIES) {
        // Appended beyond the translucent entries, so it is opaque without a transparency value.
        index = form.paletteSize++;
        form.palette[index] = back;
        if (o.verbose)
            say(form.report, "added background color (%u, %u, %u) to palette.", back.r, back.g,
                back.b);
    } else {
        index = closestColorInPalette(back, form, nullptr);
        if (o.verbose)
            say(form.report,
                "no room in palette for background color; using closest match (%u, %u, %u) "
                "instead",
                form.palette[index].r, form.palette[index].g, form.palette[index].b);
    }
    form.background.index = png_byte(index);
}

// The palette when the image can have one; colorMapped stays false otherwise.
void decidePalette(const Facts& f, const Options& o, const pixel* transColor, bool transExact,
                   Form& form) {
    switch (paletteVerdict(f, o)) {
    case PaletteVerdict::NoCensus:
        return;
    case PaletteVerdict::TooManyColors:
        if (o.palette_file)
            pm_error("You specified -palette, but there are more than %d colors in the image -- "
                     "too many for a colormapped PNG",
                     int(MAXPALETTEENTRIES));
        if (o.verbose)
            say(form.report, "More than %d colors found -- too many for a colormapped PNG",
                int(MAXPALETTEENTRIES));
        return;
    case PaletteVerdict::IndexTooWide:
        if (o.verbose)
            say(form.report, "palette index would be larger than the indexed value, so not doing "
                             "colormap");
        return;
    case PaletteVerdict::Palette:
        break;
    }
    if (form.alpha) {
        if (o.palette_file)
            pm_error("This program is not capable of generating a PNG with transparency when you "
                     "specify the palette with -palette.");
        if (f.tooManyPairs) {
            if (o.verbose)
                say(form.report, "too many color/transparency pairs, writing a non-mapped file");
            return;
        }
        alphaPalette(f, form);
    } else {
        nonAlphaPalette(f, o, form);
        if (transColor) makeOneColorTransparentInPalette(*transColor, transExact, o, form);
    }
    form.colorMapped = true;
    if (o.background > -1) findOrAddBackgroundInPalette(f.backColor, o, form);
    if (o.verbose)
        say(form.report, "PNG palette has %u entries, %u of them non-opaque", form.paletteSize,
            form.transSize);
}

void decideDepth(const Facts& f, const Options& o, Form& form) {
    if (form.colorMapped) {
        const unsigned int n = form.paletteSize;
        form.bitDepth = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
        form.pixelWidth = form.bitDepth;
        if (o.verbose) say(form.report, "Writing %d-bit color indexes", form.bitDepth);
        return;
    }
    const bool color = form.type == PLAIN_PPM;
    const int bits = f.meaningfulBits;
    if (color || form.alpha) {
        // PNG allows only 8 and 16 bits for colour and for any image with an alpha channel.
        form.bitDepth = bits > 8 ? 16 : 8;
    } else if (bits > 8) {
        form.bitDepth = 16;
    } else if (bits > 4) {
        form.bitDepth = 8;
    } else if (bits > 2) {
        form.bitDepth = 4;
    } else {
        form.bitDepth = bits == 2 ? 2 : 1;
    }
    form.pixelWidth = (color ? 3 : 1) * form.bitDepth;
    if (form.alpha) form.pixelWidth = (color ? 4 : 2) * form.bitDepth;
    if (o.verbose) say(form.report, "Writing %d bits per component per pixel", form.bitDepth);
}

// Red, green and blue scaled from maxval to pngMaxval; gray is the blue one.
png_color_16 pngColor(const pixel& color, pixval maxval, pixval pngMaxval) {
    png_color_16 out{};
    out.red = png_uint_16(scaleSample(color.r, pngMaxval, maxval));
    out.green = png_uint_16(scaleSample(color.g, pngMaxval, maxval));
    out.blue = png_uint_16(scaleSample(color.b, pngMaxval, maxval));
    // A gray image keeps its value in the blue sample.
    out.gray = out.blue;
    return out;
}

// hIST entries are 16 bits. Counts beyond that are scaled so the largest reads 65535 (rounded,
// halves up), and a colour that occurs never reads 0; an appended background keeps its 0.
void decideHistogram(const Facts& f, const Options& o, Form& form) {
    unsigned long long counts[MAXPALETTEENTRIES], largest = 0;
    for (unsigned int i = 0; i < form.paletteSize; ++i) {
        counts[i] = 0;
        for (const color_count& entry : f.census)
            if (PPM_EQUAL(entry.color, form.palette[i]))
                counts[i] = (unsigned long long)entry.value;
        largest = std::max(largest, counts[i]);
    }
    for (unsigned int i = 0; i < form.paletteSize; ++i) {
        unsigned long long h = counts[i];
        if (largest > 65535 && h > 0) h = std::max(1ull, (2 * h * 65535 + largest) / (2 * largest));
        form.hist[i] = png_uint_16(h);
    }
    form.hasHist = true;
    if (o.verbose) say(form.chunkReport, "histogram created");
}

void decideTransparentColor(const Facts& f, const Options& o, const pixel* transColor, Form& form) {
    bool set = !form.colorMapped && !form.alpha && transColor;
    // A gray image has no pixel of another colour: taking its blue sample as the gray value
    // would make pixels of some other gray transparent.
    if (set && form.type != PLAIN_PPM && !isGray(*transColor)) {
        say(form.chunkReport, "specified transparent color is not gray, and the image is written "
                              "as grayscale; ignoring -transparent");
        set = false;
    }
    if (set) {
        form.hasTransColor = true;
        form.transColor = pngColor(*transColor, f.maxval, form.pngMaxval);
        const png_color_16& t = form.transColor;
        if (o.verbose)
            say(form.chunkReport, "Transparent color {gray, red, green, blue} = {%d, %d, %d, %d}",
                t.gray, t.red, t.green, t.blue);
    } else if (o.verbose) {
        say(form.chunkReport, "No transparent color");
    }
}

void decideBackground(const Facts& f, const Options& o, Form& form) {
    form.hasBackground = true;
    if (form.colorMapped) return; // the index was found with the palette
    form.background = pngColor(f.backColor, f.maxval, form.pngMaxval);
    // On a gray image a colour stands for its luminance, not for its blue sample.
    const pixel& b = f.backColor;
    const unsigned int luminance = (299 * b.r + 587 * b.g + 114 * b.b + 500) / 1000;
    if (!(form.colorType & PNG_COLOR_MASK_COLOR))
        form.background.gray = png_uint_16(scaleSample(luminance, form.pngMaxval, f.maxval));
    const png_color_16& g = form.background;
    if (o.verbose)
        say(form.chunkReport,
            "Writing bKGD chunk with background color  {gray, red, green, blue} = {%d, %d, %d, %d}",
            g.gray, g.red, g.green, g.blue);
}

// PNG allows no significant-bit value above the bit depth (libpng would drop the whole chunk),
// so each value is capped at the depth.
png_byte significantBits(int bits, int bitDepth) {
    return png_byte(bits > bitDepth ? bitDepth : bits);
}

void decideSignificantBits(const Facts& f, const Options& o, Form& form) {
    if (form.colorMapped) return;
    if (form.pngMaxval == f.maxval && !(form.alpha && form.pngMaxval != f.alphaMaxval)) return;
    form.hasSbit = true;
    const png_byte s = significantBits(pm_maxvaltobits(int(f.maxval)), form.bitDepth);
    if (form.colorType & PNG_COLOR_MASK_COLOR)
        form.sbit.red = form.sbit.green = form.sbit.blue = s;
    else
        form.sbit.gray = s;
    if (o.verbose) say(form.chunkReport, "Writing sBIT chunk with sbitval = %d", s);
    if (form.colorType & PNG_COLOR_MASK_ALPHA)
        form.sbit.alpha = significantBits(pm_maxvaltobits(int(f.alphaMaxval)), form.bitDepth);
}

} // namespace

Form decide(const Facts& f, const Options& o) {
    Form form;
    form.type = f.type;
    form.alpha = maskKept(f, o);
    // The colour made transparent: -transparent's, or the one colour the mask makes transparent.
    const bool fromMask = f.mask && !form.alpha;
    const pixel* const transColor = o.transparent > 0 ? &f.transColor
                                    : fromMask        ? &f.maskColor
                                                      : nullptr;
    const bool transExact = o.transparent > 0 && f.transExact;
    // Opacity of palette entries that get no value of their own (an appended background).
    std::fill(form.transValues, form.transValues + MAXPALETTEENTRIES, f.alphaMaxval);

    decidePalette(f, o, transColor, transExact, form);
    decideDepth(f, o, form);
    if (o.verbose) {
        const char* kind = form.colorMapped ? "palette" : form.type == PLAIN_PPM ? "RGB" : "gray";
        const char* alphaKind = !form.alpha ? "" : !form.colorMapped ? "+alpha" : "+transparency";
        say(form.report, "writing a%s %d-bit %s%s file%s", form.pixelWidth == 8 ? "n" : "",
            form.pixelWidth, kind, alphaKind, o.interlace ? " (interlaced)" : "");
    }
    form.pngMaxval = pixval(pm_bitstomaxval(form.bitDepth));
    form.colorType = form.colorMapped         ? PNG_COLOR_TYPE_PALETTE
                     : form.type == PLAIN_PPM ? PNG_COLOR_TYPE_RGB
                                              : PNG_COLOR_TYPE_GRAY;
    if (!form.colorMapped && form.alpha) form.colorType |= PNG_COLOR_MASK_ALPHA;

    if (form.colorMapped) {
        for (unsigned int i = 0; i < form.paletteSize; ++i) {
            form.pngPalette[i].red = png_byte(scaleSample(form.palette[i].r, 255, f.maxval));
            form.pngPalette[i].green = png_byte(scaleSample(form.palette[i].g, 255, f.maxval));
            form.pngPalette[i].blue = png_byte(scaleSample(form.palette[i].b, 255, f.maxval));
        }
        for (unsigned int i = 0; i < form.transSize; ++i)
            form.pngTrans[i] = png_byte(scaleSample(form.transValues[i], 255, f.alphaMaxval));
        if (o.hist) decideHistogram(f, o, form);
    } else {
        decideTransparentColor(f, o, transColor, form);
    }
    if (o.background > -1) decideBackground(f, o, form);
    decideSignificantBits(f, o, form);
    return form;
}

} // namespace gridpack
