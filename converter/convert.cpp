// convertpnm: libpng set-up and the error bridge, the header, the analysis passes over the raster
// and the decision on the PNG form. The emission of that form is in emit.cpp.
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "gridpack.h"

namespace gridpack {

int errorlevel;
gridpack_jmpbuf gridpack_jmpbuf_struct;

namespace {

Conversion conversion;

[[noreturn]] void gridpack_error_handler(png_structp png_ptr, png_const_charp message) {
    progressEnd();
    std::fprintf(stderr, "gridpack:  fatal libpng error: %s\n", message);
    std::fflush(stderr);
    gridpack_jmpbuf* jmpbufP = static_cast<gridpack_jmpbuf*>(png_get_error_ptr(png_ptr));
    if (jmpbufP == nullptr) {
        std::fprintf(stderr, "gridpack:  EXTREMELY fatal error: jmpbuf unrecoverable; "
                             "terminating.\n");
        std::fflush(stderr);
        std::exit(99);
    }
    std::longjmp(jmpbufP->jmpbuf, 1);
}

// Failures found while the libpng structures exist release them and the input first.
[[noreturn]] void stopConversion(Conversion& c, FILE* ifP, const char* message) {
    png_destroy_write_struct(&c.png_ptr, &c.info_ptr);
    pm_closer(ifP);
    pm_error("%s", message);
}

void rewind(const Conversion& c, FILE* ifP) { pm_seek2(ifP, &c.rasterPos, sizeof c.rasterPos); }

int formatType(int format) {
    switch (PNM_FORMAT_TYPE(format)) {
    case PLAIN_PPM:
        return PLAIN_PPM;
    case PLAIN_PGM:
        return PLAIN_PGM;
    case PLAIN_PBM:
        return PLAIN_PBM;
    default:
        return -1;
    }
}

// A colour text parsed at maxmaxval and brought to the image's maxval.
pixel colorAtImageScale(const Conversion& c, const char* colorText) {
    const pixel parsed = ppm_parsecolor(colorText, c.maxmaxval);
    return {scaleSample(parsed.r, c.maxval, c.maxmaxval),
            scaleSample(parsed.g, c.maxval, c.maxmaxval),
            scaleSample(parsed.b, c.maxval, c.maxmaxval)};
}

// A raw raster has an exact size, so a file cut short is refused here, before a byte of PNG goes
// out, rather than in the writing pass with a partial PNG behind it. A plain raster can only be
// judged by its smallest size (a digit per sample); that is done where a header promises rows
// of gigabytes in a file of a few bytes (more than largeRow bytes a row), which every pass would
// set aside only to fail on the first; smaller plain images keep the message of the row that
// ends early.
constexpr size_t largeRow = size_t(1) << 20;

void refuseTooShort(Conversion& c, FILE* ifP) {
    const bool raw = c.format == RAW_PBM || c.format == RAW_PGM || c.format == RAW_PPM;
    if (!raw && size_t(c.cols) * sizeof(xel) <= largeRow) return;
    unsigned long long needed;
    long long left;
    const bool representable =
        pnm_rasterbytes(ifP, c.cols, c.rows, c.maxval, c.format, &needed, &left);
    if (left < 0 || (representable && needed <= (unsigned long long)left)) return;
    char message[200];
    std::snprintf(message, sizeof message,
                  "the input file is too short: the header promises %s%llu bytes of raster but "
                  "only %lld remain",
                  representable ? "" : "more than ", representable ? needed : ULLONG_MAX, left);
    stopConversion(c, ifP, message);
}

void readHeader(Conversion& c, FILE* ifP) {
    pnm_readpnminit(ifP, &c.cols, &c.rows, &c.maxval, &c.format);
    pm_tell2(ifP, &c.rasterPos, sizeof c.rasterPos);
    // Every sample is rescaled by dividing by the maxval.
    if (c.maxval == 0)
        stopConversion(c, ifP, "the input image has maxval 0; it must be at least 1");
    // A PNG has at least one pixel each way; without this, a zero-width image of 2^31 rows
    // would be read row by empty row, pass after pass, only to be refused by libpng.
    if (c.cols == 0 || c.rows == 0)
        stopConversion(c, ifP, "the input image has no pixels; a PNG needs at least one");
    refuseTooShort(c, ifP);
    c.pnm_type = formatType(c.format);
    c.xelrow = static_cast<xel*>(pm_allocrow(c.cols, int(sizeof(xel))));

    if (verbose) {
        switch (c.pnm_type) {
        case PLAIN_PBM:
            pm_message("reading a PBM file (maxval=%d)", int(c.maxval));
            break;
        case PLAIN_PGM:
            pm_message("reading a PGM file (maxval=%d)", int(c.maxval));
            break;
        case PLAIN_PPM:
            pm_message("reading a PPM file (maxval=%d)", int(c.maxval));
            break;
        default:
            break;
        }
    }
    if (c.pnm_type == PLAIN_PGM || c.pnm_type == PLAIN_PPM) c.maxmaxval = 65535;
}

void readAlphaMask(Conversion& c, FILE* ifP, FILE* afP) {
    if (verbose) pm_message("reading alpha-channel image...");
    // The sizes are compared before the raster is read, so that a mask header promising
    // billions of rows costs nothing.
    int alphaFormat;
    pgm_readpgminit(afP, &c.alphaCols, &c.alphaRows, &c.alphaMaxval, &alphaFormat);
    if (c.alphaCols != c.cols || c.alphaRows != c.rows) {
        char message[160];
        std::snprintf(message, sizeof message,
                      "dimensions for image and alpha mask do not agree: image %dx%d, mask %dx%d",
                      c.cols, c.rows, c.alphaCols, c.alphaRows);
        stopConversion(c, ifP, message);
    }
    c.alpha_mask = pgm_readpgmraster(afP, c.alphaCols, c.alphaRows, c.alphaMaxval, alphaFormat);
    if (c.alphaMaxval == 0)
        stopConversion(c, ifP, "the alpha mask has maxval 0; it must be at least 1");

    bool canBeTransIndex;
    pixel alphaTransColor;
    alpha_trans(ifP, c.rasterPos, c.cols, c.rows, c.maxval, c.format, c.alpha_mask, c.alphaMaxval,
                &canBeTransIndex, &alphaTransColor);
    if (canBeTransIndex && !force) {
        if (verbose) pm_message("converting alpha mask to transparency index");
        alpha = 0;
        transparent = 2;
        c.transColor = alphaTransColor;
        c.transExact = false;
    } else {
        transparent = -1;
    }
}

// A pixmap whose every pixel has red = green = blue is written as gray. The pass stops at the
// first pixel that is not gray.
void testForGray(Conversion& c, FILE* ifP) {
    rewind(c, ifP);
    for (int row = 0; row < c.rows; ++row) {
        pnm_readpnmrow(ifP, c.xelrow, c.cols, c.maxval, c.format);
        for (int col = 0; col < c.cols; ++col) {
            const xel& x = c.xelrow[col];
            if (x.r != x.g || x.g != x.b) return;
        }
    }
    c.pnm_type = PLAIN_PGM;
}

// Builds the palette when the image can have one; leaves colorMapped false otherwise.
void decidePalette(Conversion& c, FILE* ifP, FILE* pfP) {
    c.colorMapped = false;
    if (force || c.pnm_type == PLAIN_PBM || c.maxval > 255) return;

    getChv(ifP, c.rasterPos, c.cols, c.rows, c.maxval, c.format, int(MAXPALETTEENTRIES), &c.chv,
           &c.colors);
    if (c.chv == nullptr) {
        if (pfP)
            pm_error("You specified -palette, but there are more than %d colors in the image -- "
                     "too many for a colormapped PNG",
                     int(MAXPALETTEENTRIES));
        if (verbose)
            pm_message("More than %d colors found -- too many for a colormapped PNG",
                       int(MAXPALETTEENTRIES));
        return;
    }
    // A grayscale image is indexed only when the index needs at most half the bits of a sample.
    if (pfP == nullptr && c.pnm_type == PLAIN_PGM &&
        pm_maxvaltobits(c.colors - 1) > pm_maxvaltobits(int(c.maxval)) / 2) {
        if (verbose)
            pm_message("palette index would be larger than the indexed value, so not doing "
                       "colormap");
        return;
    }

    if (alpha) {
        if (pfP)
            pm_error("This program is not capable of generating a PNG with transparency when you "
                     "specify the palette with -palette.");
        compute_alpha_palette(ifP, c.cols, c.rows, c.maxval, c.format, c.rasterPos, c.alpha_mask,
                              c.alphaMaxval, c.palette, c.transValues, &c.paletteSize, &c.transSize,
                              &c.tooManyPairs);
        if (c.tooManyPairs) {
            if (verbose) pm_message("too many color/transparency pairs, writing a non-mapped file");
        } else {
            c.colorMapped = true;
        }
    } else {
        c.colorMapped = true;
        compute_nonalpha_palette(c.chv, c.colors, pfP, c.palette, &c.paletteSize, c.transValues,
                                 &c.transSize);
        if (transparent != -1)
            makeOneColorTransparentInPalette(c.transColor.r, c.transColor.g, c.transColor.b,
                                             c.transExact, c.palette, c.paletteSize, c.transValues,
                                             &c.transSize);
    }
    if (c.colorMapped && background > -1)
        findOrAddBackgroundInPalette(c.backColor.r, c.backColor.g, c.backColor.b, c.palette,
                                     &c.paletteSize, &c.backgroundIndex);
}

void reportForm(const Conversion& c) {
    const char* kind = c.colorMapped ? "palette" : c.pnm_type == PLAIN_PPM ? "RGB" : "gray";
    const char* alphaKind = !alpha ? "" : !c.colorMapped ? "+alpha" : "+transparency";
    pm_message("writing a%s %d-bit %s%s file%s", c.pixelWidth == 8 ? "n" : "", c.pixelWidth, kind,
               alphaKind, interlace ? " (interlaced)" : "");
}

// The most passes over the raster that the analyses and the writing can take (most may end
// early), for the progress line.
int expectedPasses(const Conversion& c) {
    const int type = PNM_FORMAT_TYPE(c.format);
    const pixval m = c.maxval;
    int passes = (interlace ? 7 : 1) + (alpha ? 2 : 0);
    if (type == PLAIN_PPM && !force) passes += 1 + (m == 65535); // gray test, significant bits
    if (type == PLAIN_PGM && !force && !alpha)
        passes += m == 65535 ? 4 : m == 255 ? 3 : m == 15 ? 2 : m == 3 ? 1 : 0;
    if (type != PLAIN_PBM && !force && m <= 255) passes += alpha ? 2 : 1; // census, alpha pairs
    return passes;
}

void analyse(Conversion& c, FILE* ifP, FILE* afP, FILE* pfP) {
    readHeader(c, ifP);
    progressBegin(ifP, c.rasterPos, expectedPasses(c));

    if (transparent > 0) {
        c.transExact = transstring[0] == '=';
        c.transColor = colorAtImageScale(c, transstring + (c.transExact ? 1 : 0));
    }
    if (alpha) readAlphaMask(c, ifP, afP);
    if (background > -1) c.backColor = colorAtImageScale(c, backstring);

    if (c.pnm_type == PLAIN_PPM && !force) testForGray(c, ifP);

    // The readers refuse a maxval above 65535, so this holds whatever -downscale says.
    if (c.maxval > 65535 && !downscale)
        stopConversion(c, ifP, "can only handle files up to 16-bit (use -downscale to override");

    // Opacity of palette entries that get no value of their own (an appended background).
    for (gray& v : c.transValues) v = c.alphaMaxval;

    findRedundantBits(ifP, c.rasterPos, c.cols, c.rows, c.maxval, c.format, alpha != 0, force != 0,
                      &c.meaningfulBits);
    decidePalette(c, ifP, pfP);
    computeColorMapLookupTable(c.colorMapped, c.palette, c.paletteSize, c.transValues, c.transSize,
                               alpha != 0, c.alphaMaxval, &c.colorHash, &c.colorAlphaHash);
    computePixelWidth(c.colorMapped, c.paletteSize, c.pnm_type, c.meaningfulBits, alpha != 0,
                      &c.bitDepth, &c.pixelWidth);
    if (verbose) reportForm(c);
    c.pngMaxval = pixval(pm_bitstomaxval(c.bitDepth));
}

} // namespace

void resetConversion() {
    Conversion& c = conversion;
    progressEnd();
    if (c.strips) stripsRelease(c.strips);
    if (c.png_ptr) png_destroy_write_struct(&c.png_ptr, &c.info_ptr);
    pm_freerow(c.xelrow);
    if (c.colorHash) ppm_freecolorhash(c.colorHash);
    if (c.colorAlphaHash) freecoloralphahash(c.colorAlphaHash);
    if (c.alpha_mask) pm_freearray(reinterpret_cast<char**>(c.alpha_mask), c.alphaRows);
    releaseRowBuffers();
    freeChv();
    c = Conversion{};
}

int convertpnm(FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP) {
    return convertpnmTo(ifP, afP, pfP, tfP, stdout);
}

int convertpnmTo(FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP, FILE* ofP) {
    Conversion& c = conversion;
    c = Conversion{};
    c.maxmaxval = 255;
    c.alphaMaxval = 255;
    c.bitDepth = 0;
    errorlevel = 0;

    c.png_ptr = png_create_write_struct(PNG_LIBPNG_VER_STRING, &gridpack_jmpbuf_struct,
                                        gridpack_error_handler, nullptr);
    if (c.png_ptr == nullptr) {
        pm_closer(ifP);
        pm_error("cannot allocate main libpng structure (png_ptr)");
    }
    c.info_ptr = png_create_info_struct(c.png_ptr);
    if (c.info_ptr == nullptr) {
        png_destroy_write_struct(&c.png_ptr, nullptr);
        pm_closer(ifP);
        pm_error("cannot allocate libpng info structure (info_ptr)");
    }
    if (setjmp(gridpack_jmpbuf_struct.jmpbuf)) {
        png_destroy_write_struct(&c.png_ptr, &c.info_ptr);
        pm_closer(ifP);
        pm_error("setjmp returns error condition (1)");
    }

    analyse(c, ifP, afP, pfP);
    writePng(c, ifP, tfP, ofP);
    return errorlevel;
}

} // namespace gridpack
