// Measuring: the header, then the passes over the raster, each stopping as soon as its answer is
// known, into one record of facts. In order: the alpha mask's reduction to one transparent
// colour (two passes), one read shared by the gray test, the significant-bit levels and the
// colour census, then what only some forms need (the colour-and-alpha pairs, the palette file).
// A read error is reported by whichever analysis reaches it first, after the messages that
// analyses before it printed; the shared read keeps that order (see sharedRead).
#include <climits>
#include <cstdarg>
#include <cstring>

#include "gridpack.h"

namespace gridpack {

void stopConversion(const Conversion& c, const char* format, ...) {
    if (std::ferror(c.image.file)) pm_message("A file read or write error occurred at some point");
    char message[400];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    pm_error("%s", message);
}

PaletteVerdict paletteVerdict(const Facts& f, const Options& o) {
    if (!f.censusTaken) return PaletteVerdict::NoCensus;
    if (f.colors > int(MAXPALETTEENTRIES)) return PaletteVerdict::TooManyColors;
    // A grayscale image is indexed only when the index needs at most half the bits of a sample.
    if (o.palette_file == nullptr && f.type == PLAIN_PGM &&
        pm_maxvaltobits(f.colors - 1) > pm_maxvaltobits(int(f.maxval)) / 2)
        return PaletteVerdict::IndexTooWide;
    return PaletteVerdict::Palette;
}

bool maskKept(const Facts& f, const Options& o) {
    return f.mask && !(f.maskIsOneColor && !o.force);
}

namespace {

// A raw raster has an exact size, so a file cut short is refused here, before a byte of PNG goes
// out, rather than in the writing pass with a partial PNG behind it. A plain raster can only be
// judged by its smallest size (a digit per sample); that is done where a header promises rows
// of gigabytes in a file of a few bytes (more than largeRow bytes a row), which every pass would
// set aside only to fail on the first; smaller plain images keep the message of the row that
// ends early.
constexpr size_t largeRow = size_t(1) << 20;

void refuseTooShort(const Conversion& c) {
    const Raster& r = c.image;
    const bool pam = r.format == PAM_FORMAT;
    const bool raw = r.format == RAW_PBM || r.format == RAW_PGM || r.format == RAW_PPM || pam;
    if (!raw && size_t(r.cols) * sizeof(xel) <= largeRow) return;
    unsigned long long needed;
    long long left;
    // A PAM's raster is that of a raw graymap as many times as it has samples per pixel.
    bool representable =
        pnm_rasterbytes(r.file, r.cols, r.rows, r.maxval, pam ? RAW_PGM : r.format, &needed, &left);
    if (pam) representable = representable && !__builtin_mul_overflow(needed, r.depth, &needed);
    if (left < 0 || (representable && needed <= (unsigned long long)left)) return;
    stopConversion(c,
                   "the input file is too short: the header promises %s%llu bytes of raster but "
                   "only %lld remain",
                   representable ? "" : "more than ", representable ? needed : ULLONG_MAX, left);
}

void readHeader(Conversion& c) {
    Raster& r = c.image;
    Facts& f = c.facts;
    r.readHeader(false);
    // Two opacities for one pixel: refused before anything is read or written. -transparent is
    // refused as it is together with -alpha.
    if (r.ownAlpha() && (c.options.alpha || c.options.transparent > 0))
        stopConversion(c, "the image has an alpha channel of its own; %s cannot be used with it",
                       c.options.alpha ? "-alpha" : "-transparent");
    // Every sample is rescaled by dividing by the maxval.
    if (r.maxval == 0) stopConversion(c, "the input image has maxval 0; it must be at least 1");
    // A PNG has at least one pixel each way; without this, a zero-width image of 2^31 rows
    // would be read row by empty row, pass after pass, only to be refused by libpng.
    if (r.cols == 0 || r.rows == 0)
        stopConversion(c, "the input image has no pixels; a PNG needs at least one");
    refuseTooShort(c);
    r.row.reset(pm_allocrow(r.cols, int(sizeof(xel))));
    // Past the reader, a PAM is the graymap or pixmap of its image samples (and a mask).
    f.format = r.format == PAM_FORMAT ? PAM_IMAGE_FORMAT(r.depth) : r.format;
    f.cols = r.cols, f.rows = r.rows, f.maxval = r.maxval;
    f.type = PNM_FORMAT_TYPE(f.format);
    f.meaningfulBits = pm_maxvaltobits(int(r.maxval));
    static const char tuples[][sizeof "gray+alpha"] = {"gray", "gray+alpha", "RGB", "RGB+alpha"};
    if (c.options.verbose && r.format == PAM_FORMAT)
        pm_message("reading a PAM file of %s tuples (maxval=%d)", tuples[r.depth - 1],
                   int(r.maxval));
    else if (c.options.verbose) {
        const char* const kind = f.type == PLAIN_PBM ? "PBM" : f.type == PLAIN_PGM ? "PGM" : "PPM";
        pm_message("reading a %s file (maxval=%d)", kind, int(r.maxval));
    }
}

// A colour text parsed at the largest maxval of the format (a bitmap's is 255) and brought to
// the image's maxval.
pixel colorAtImageScale(const Facts& f, const char* colorText) {
    const pixval maxmaxval = f.type == PLAIN_PBM ? 255 : 65535;
    const pixel parsed = ppm_parsecolor(colorText, maxmaxval);
    return {scaleSample(parsed.r, f.maxval, maxmaxval), scaleSample(parsed.g, f.maxval, maxmaxval),
            scaleSample(parsed.b, f.maxval, maxmaxval)};
}

// The passes below read the image and, with a mask, the mask's row beside each image row.
inline bool sameColor(const xel& x, const pixel& candidate, bool color) {
    // A gray or bilevel xel keeps its value in b; its r and g are 0 and not compared.
    return color ? PPM_EQUAL(x, candidate) : x.b == candidate.b;
}

// True when every pixel is fully transparent or opaque and the transparent ones share one colour
// that no opaque pixel has: the first fully transparent pixel names the candidate (one pass),
// then every pixel is checked against it (another); each stops at the first pixel that decides.
bool maskIsOneColor(Conversion& c, pixel* colorP) {
    Raster &image = c.image, &mask = c.mask;
    const bool color = c.facts.type == PLAIN_PPM;
    bool found = false;
    image.rewind(), mask.rewind();
    for (int row = 0; row < image.rows && !found; ++row) {
        const xel* const xels = image.next();
        const gray* const alphas = mask.nextGray();
        for (int col = 0; col < image.cols && !found; ++col) {
            if (alphas[col] != 0) continue;
            const xel& x = xels[col];
            *colorP = color ? x : pixel{x.b, x.b, x.b};
            found = true;
        }
    }
    if (!found) return false;
    image.rewind(), mask.rewind();
    for (int row = 0; row < image.rows; ++row) {
        const xel* const xels = image.next();
        const gray* const alphas = mask.nextGray();
        for (int col = 0; col < image.cols; ++col) {
            const gray a = alphas[col];
            if (a == 0) {
                if (!sameColor(xels[col], *colorP, color)) return false;
            } else if (a == mask.maxval) {
                if (sameColor(xels[col], *colorP, color)) return false;
            } else {
                return false;
            }
        }
    }
    return true;
}

// The mask of -alpha, from its own file.
void readMaskFile(Conversion& c) {
    Raster &image = c.image, &mask = c.mask;
    if (c.options.verbose) pm_message("reading alpha-channel image...");
    // The sizes are compared before the raster is read, so that a mask header promising
    // billions of rows costs nothing.
    mask.readHeader(true);
    if (mask.cols != image.cols || mask.rows != image.rows)
        stopConversion(c,
                       "dimensions for image and alpha mask do not agree: image %dx%d, mask %dx%d",
                       image.cols, image.rows, mask.cols, mask.rows);
    // Read once whole, so that a bad mask is refused before the image is looked at; later passes
    // read it again beside the image.
    for (int row = 0; row < mask.rows; ++row) mask.nextGray();
    if (mask.maxval == 0) stopConversion(c, "the alpha mask has maxval 0; it must be at least 1");
}

void readMask(Conversion& c) {
    Raster &image = c.image, &mask = c.mask;
    Facts& f = c.facts;
    if (image.ownAlpha()) {
        // The alpha samples are checked as they are read with the image; there is no other file.
        mask.tuples = &image;
        mask.cols = image.cols, mask.rows = image.rows, mask.maxval = image.maxval;
    } else {
        readMaskFile(c);
    }
    f.mask = true;
    f.alphaMaxval = mask.maxval;
    f.maskIsOneColor = maskIsOneColor(c, &f.maskColor);
    if (f.maskIsOneColor && !c.options.force && c.options.verbose)
        pm_message("converting alpha mask to transparency index");
}

// ---- The shared read: gray test, significant bits, census --------------------------------------

// A sample widened by repeating a narrower value (0xABAB from 0xAB, 0x77 from 0x7) can be
// written with the narrower width: v passes a level when v == (v & mask) * factor. The tests
// are applied to samples at the input's own scale, never rescaled: once a level has passed, the
// next one can pass only if every sample is 0.
struct Level {
    pixval maxval; // the full scale at which the level is tried first
    pixval mask;
    pixval factor;
    int bits; // the width when it passes
};
constexpr Level levels[] = {{65535, 255, 257, 8}, {255, 15, 17, 4}, {15, 3, 5, 2}, {3, 1, 3, 1}};
constexpr int levelCount = 4;

inline bool repeats(pixval v, const Level& level) { return v == (v & level.mask) * level.factor; }

// The analyses of the shared read, each active until its answer is known.
struct Shared {
    bool grayActive;
    bool stillGray = true;
    bool allThree; // colour samples: r, g and b are tested
    bool levelActive[levelCount]{};
    bool levelPassed[levelCount]{}; // no sample failed (so far)
    std::unique_ptr<pm_colorcounter, void (*)(pm_colorcounter*)> counter{nullptr, ppm_countabandon};
    bool countingGray;
    bool countActive = false;
    bool reported = false; // the messages that precede the census are out

    bool beforeCensusActive() const {
        bool any = grayActive;
        for (bool a : levelActive) any = any || a;
        return any;
    }
};

// A level fails at its first sample that does not repeat; the levels below it are then tried
// only if the maxval names them, which it cannot (one maxval names one level), so they stop too.
void testLevels(Shared& s, const xel* xels, int cols) {
    for (int k = 0; k < levelCount; ++k) {
        if (!s.levelActive[k]) continue;
        const Level& level = levels[k];
        bool ok = true;
        if (s.allThree) {
            for (int col = 0; col < cols && ok; ++col) {
                const xel& x = xels[col];
                ok = repeats(x.r, level) && repeats(x.g, level) && repeats(x.b, level);
            }
        } else {
            for (int col = 0; col < cols && ok; ++col) ok = repeats(xels[col].b, level);
        }
        if (ok) continue;
        s.levelPassed[k] = false;
        for (int j = k; j < levelCount; ++j) s.levelActive[j] = false;
        return;
    }
}

// The cascade: a level counts when the maxval is its full scale or the level above has passed.
// Only then does a repeated bit pattern stand for a narrower value: at maxval 200, 187 is not 11
// widened, and writing it with 4 bits would change it.
int meaningfulBits(const Shared& s, pixval maxval, int fullBits) {
    int bits = fullBits;
    bool passed = false;
    for (int k = 0; k < levelCount; ++k) {
        passed = (maxval == levels[k].maxval || passed) && s.levelPassed[k];
        if (passed) bits = levels[k].bits;
    }
    return bits;
}

// The messages of the significant-bit analysis and of the census's start, printed where the
// separate passes printed them: once the gray test and every level have stopped.
void reportBeforeCensus(Conversion& c, Shared& s) {
    Facts& f = c.facts;
    s.reported = true;
    const int fullBits = pm_maxvaltobits(int(f.maxval));
    f.meaningfulBits = meaningfulBits(s, f.maxval, fullBits);
    if (c.options.verbose && f.meaningfulBits != fullBits)
        pm_message("Using only %d rightmost bits of input samples.  The rest are just copies of "
                   "those.",
                   f.meaningfulBits);
    if (c.options.verbose && f.censusTaken) pm_message("Finding colors in input image...");
}

// Which analyses the shared read runs; kept says whether the mask stays an alpha mask.
struct SharedPlan {
    bool grayTest, grayLevels, colorLevels, census;
    bool any() const { return grayTest || grayLevels || colorLevels || census; }
};

SharedPlan planShared(const Facts& f, const Options& o, bool kept) {
    const int type = PNM_FORMAT_TYPE(f.format);
    bool namedLevel = false;
    for (const Level& level : levels) namedLevel = namedLevel || f.maxval == level.maxval;
    // Colour is only ever written with 8 or 16 bits per sample, so narrower levels gain nothing.
    return {type == PLAIN_PPM && !o.force, type == PLAIN_PGM && !o.force && !kept && namedLevel,
            type == PLAIN_PPM && !o.force && f.maxval == 65535,
            !o.force && type != PLAIN_PBM && f.maxval <= 255};
}

void sharedRead(Conversion& c) {
    Facts& f = c.facts;
    Raster& image = c.image;
    const SharedPlan plan = planShared(f, c.options, maskKept(f, c.options));
    Shared s;
    s.grayActive = plan.grayTest;
    s.allThree = PNM_FORMAT_TYPE(f.format) == PLAIN_PPM;
    bool from = false;
    for (int k = 0; k < levelCount; ++k) {
        from = from || f.maxval == levels[k].maxval;
        s.levelActive[k] = s.levelPassed[k] =
            (plan.grayLevels && from) || (plan.colorLevels && k == 0);
    }
    f.censusTaken = plan.census;
    if (f.censusTaken) {
        s.counter.reset(ppm_countbegin(int(MAXPALETTEENTRIES)));
        s.countActive = true;
        s.countingGray = !s.allThree;
    }

    if (!s.beforeCensusActive()) reportBeforeCensus(c, s);
    if (plan.any()) image.rewind();
    for (int row = 0; row < f.rows && (s.beforeCensusActive() || s.countActive); ++row) {
        const xel* const xels = image.next();
        if (s.grayActive) {
            for (int col = 0; col < f.cols && s.stillGray; ++col) {
                const xel& x = xels[col];
                s.stillGray = x.r == x.g && x.g == x.b;
            }
            s.grayActive = s.stillGray;
        }
        testLevels(s, xels, f.cols);
        if (s.countActive)
            s.countActive = s.countingGray ? ppm_countgrayrow(s.counter.get(), xels, f.cols)
                                           : ppm_countrow(s.counter.get(), xels, f.cols);
        if (!s.reported && !s.beforeCensusActive()) reportBeforeCensus(c, s);
    }
    if (!s.reported) reportBeforeCensus(c, s);
    if (plan.grayTest && s.stillGray) f.type = PLAIN_PGM;

    if (!f.censusTaken) return;
    const color_hist chv = ppm_countfinish(s.counter.release(), &f.colors);
    if (chv == nullptr) return;
    f.census.assign(chv, chv + f.colors);
    ppm_freecolorhist(chv);
    // Printed without -verbose too (only -quiet silences it).
    pm_message("%d colors found", f.colors);
}

// ---- What only some forms need ------------------------------------------------------------------

// The colour-and-alpha pairs of the image, per census colour in order of first appearance;
// counting stops as soon as there are more than 256 (no list then needs more than 256 values).
void collectPairs(Conversion& c) {
    Facts& f = c.facts;
    Raster &image = c.image, &mask = c.mask;
    const std::unique_ptr<color_hash_entry*, void (*)(color_hash)> cht(
        ppm_colorhisttocolorhash(f.census.data(), f.colors), ppm_freecolorhash);
    // The distinct alpha values met with each census colour: colour i's list is
    // values[i * 256 .. i * 256 + counts[i] - 1].
    std::vector<gray> values(size_t(f.colors) * MAXPALETTEENTRIES);
    std::vector<unsigned int> counts(size_t(f.colors));
    unsigned int pairs = 0;
    image.rewind(), mask.rewind();
    for (int row = 0; row < f.rows && pairs <= MAXPALETTEENTRIES; ++row) {
        xel* const xels = image.next();
        const gray* const alphas = mask.nextGray();
        // Gray pixels become three equal samples, as in the census.
        pnm_promoteformatrow(xels, f.cols, f.maxval, f.format, f.maxval, PLAIN_PPM);
        int index = -1;
        gray lastAlpha = 0;
        for (int col = 0; col < f.cols; ++col) {
            const gray a = alphas[col];
            // A run of equal pixels with equal alpha needs neither lookup nor list search.
            if (index >= 0 && PPM_EQUAL(xels[col], xels[col - 1])) {
                if (a == lastAlpha) continue;
            } else {
                index = ppm_lookupcolor(cht.get(), &xels[col]);
                if (index < 0)
                    pm_error("internal inconsistency: color (%u, %u, %u) is not in the census",
                             xels[col].r, xels[col].g, xels[col].b);
            }
            lastAlpha = a;
            gray* const list = values.data() + size_t(index) * MAXPALETTEENTRIES;
            unsigned int& count = counts[size_t(index)];
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
    f.pairsTaken = true;
    f.pairCount = pairs;
    f.tooManyPairs = pairs > MAXPALETTEENTRIES;
    if (f.tooManyPairs) return;
    for (int i = 0; i < f.colors; ++i)
        for (unsigned int k = 0; k < counts[size_t(i)]; ++k)
            f.pairs.push_back(
                {f.census[size_t(i)].color, values[size_t(i) * MAXPALETTEENTRIES + k]});
}

void readOrderedPalette(Conversion& c) {
    FILE* const pfP = c.palettefile;
    if (c.options.verbose) pm_message("reading ordered palette (colormap)...");
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
    if (c.options.verbose) pm_message("%d colors found", int(count));
    // A zero-width palette has no pixels, and its rows hold no bytes to read.
    if (cols == 0) return;
    xel row[MAXPALETTEENTRIES];
    for (int r = 0; r < rows; ++r) {
        pnm_readpnmrow(pfP, row, cols, maxval, format);
        c.facts.ordered.insert(c.facts.ordered.end(), row, row + cols);
    }
}

// The passes over the image still to come once the mask is judged (most may end early), for
// the progress line: the shared read, the pairs, the writing.
int passesAfterMask(const Conversion& c, bool kept) {
    const SharedPlan plan = planShared(c.facts, c.options, kept);
    const bool pairs = plan.census && kept && c.options.palette_file == nullptr;
    return (plan.any() ? 1 : 0) + (pairs ? 1 : 0) + (c.options.interlace ? 7 : 1);
}

} // namespace

void measure(Conversion& c) {
    const Options& o = c.options;
    Facts& f = c.facts;
    readHeader(c);
    const bool alpha = o.alpha || c.image.ownAlpha();
    progressBegin(c.progress, c.image.file, c.image.start,
                  alpha ? 2 + passesAfterMask(c, true) : passesAfterMask(c, false));

    if (o.transparent > 0) {
        f.transExact = o.transstring[0] == '=';
        f.transColor = colorAtImageScale(f, o.transstring + (f.transExact ? 1 : 0));
    }
    if (alpha) {
        readMask(c);
        progressPlan(c.progress, passesAfterMask(c, maskKept(f, o)));
    }
    if (o.background > -1) f.backColor = colorAtImageScale(f, o.backstring);

    sharedRead(c);
    if (paletteVerdict(f, o) != PaletteVerdict::Palette) return;
    if (maskKept(f, o) && o.palette_file == nullptr) collectPairs(c);
    if (!maskKept(f, o) && o.palette_file != nullptr) readOrderedPalette(c);
}

} // namespace gridpack
