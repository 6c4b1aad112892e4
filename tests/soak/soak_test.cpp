// The soak: thousands of conversions of random small valid images under random option sets, in
// this process through convertpnmTo, each PNG decoded by libpng's reader and compared pixel by
// pixel with the input under the documented scaling:
//   samples       (v * pngMaxval + maxval / 2) / maxval, pngMaxval from the PNG's bit depth
//   palette       each entry (v * 255 + maxval / 2) / maxval
//   alpha channel float(a) * float(pngMaxval) / float(alphaMaxval), + 0.5 in double, truncated
//   palette alpha (a * 255 + alphaMaxval / 2) / alphaMaxval
// and no sample may lose information: scaled back it must give the input sample.
//
// GRIDPACK_SOAK_COUNT and GRIDPACK_SOAK_SEED change the number of conversions (10,000) and the
// seed. Every input is valid, so a conversion that fails ends this process; the case being run
// is printed on the way out.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "gridpack.h"
#include "pngdecode.h"
#include "testutil.h"

namespace {

using Pixel = std::array<unsigned, 3>; // ordered, for the census and the palette file

struct Case {
    std::string magic;
    int cols = 0, rows = 0;
    unsigned maxval = 0;
    std::vector<Pixel> pixels; // at maxval; a bitmap's white is 1, black 0
    std::string maskMagic;     // empty: no -alpha
    unsigned alphaMaxval = 255;
    std::vector<unsigned> alphaValues;
    std::string transparent, background; // empty: option not given
    std::vector<Pixel> paletteOrder;     // empty: no -palette
    std::vector<std::pair<std::string, std::string>> comments;
    bool text = false, ztxt = false, interlace = false, force = false, hist = false;
    bool chunks = false; // -gamma -chroma -phys -time
    int filter = -1, compression = -1;

    // The command line of the case; the files themselves are passed open.
    std::vector<std::string> args() const {
        std::vector<std::string> a;
        if (!maskMagic.empty()) a.insert(a.end(), {"-alpha", "mask." + maskMagic});
        if (!transparent.empty()) a.insert(a.end(), {"-transparent", transparent});
        if (!background.empty()) a.insert(a.end(), {"-background", background});
        if (!paletteOrder.empty()) a.insert(a.end(), {"-palette", "palette"});
        if (text || ztxt) a.insert(a.end(), {ztxt ? "-ztxt" : "-text", "comments"});
        for (auto [used, name] :
             {std::pair{interlace, "-interlace"}, {force, "-force"}, {hist, "-hist"}})
            if (used) a.push_back(name);
        if (filter >= 0) a.insert(a.end(), {"-filter", std::to_string(filter)});
        if (compression >= 0) a.insert(a.end(), {"-compression", std::to_string(compression)});
        if (chunks)
            a.insert(a.end(), {"-gamma", "0.45455", "-chroma", "0.3127", "0.329", "0.64", "0.33",
                               "0.3", "0.6", "0.15", "0.06", "-phys", "2835", "2834", "1", "-time",
                               "2024-02-29", "23:59:58"});
        return a;
    }
    std::string describe() const {
        std::string s = magic + " " + std::to_string(cols) + "x" + std::to_string(rows) +
                        " maxval " + std::to_string(maxval);
        for (const std::string& a : args()) s += " " + a;
        return s;
    }
};

std::string currentCase;
void printCurrentCase() {
    if (!currentCase.empty()) std::fprintf(stderr, "soak case: %s\n", currentCase.c_str());
}

unsigned ruleS(unsigned c, unsigned n, unsigned m) { return (c * n + m / 2) / m; }
Pixel ruleS(const Pixel& p, unsigned n, unsigned m) {
    return {ruleS(p[0], n, m), ruleS(p[1], n, m), ruleS(p[2], n, m)};
}

bool isBitmap(const std::string& magic) { return magic == "P1" || magic == "P4"; }

// A random case; the same seed gives the same cases.
Case generate(std::mt19937& rng) {
    const auto pick = [&rng](unsigned n) { return unsigned(rng() % n); };
    // Mode 1: low bits repeat the high bits, so the significant-bit analysis can narrow them.
    const auto sample = [&](unsigned maxval, int mode) {
        if (mode == 1 && maxval == 65535) return 257 * pick(256);
        if (mode == 1 && maxval == 255) return 17 * pick(16);
        if (mode == 1 && maxval == 15) return 5 * pick(4);
        if (mode == 1 && maxval == 3) return 3 * pick(2);
        return pick(maxval + 1);
    };
    const auto hexColor = [&] {
        char text[16];
        std::snprintf(text, sizeof text, "#%02x%02x%02x", pick(256), pick(256), pick(256));
        return std::string(text);
    };
    Case c;
    static const char* const magics[] = {"P1", "P2", "P3", "P4", "P5", "P6"};
    c.magic = magics[pick(6)];
    c.cols = 1 + int(pick(9));
    c.rows = 1 + int(pick(7));
    const bool color = c.magic == "P3" || c.magic == "P6";
    static const unsigned maxvals[] = {1, 2, 3, 7, 15, 16, 100, 255, 256, 1000, 4095, 65535};
    c.maxval = isBitmap(c.magic) ? 1 : pick(4) == 0 ? 1 + pick(65535) : maxvals[pick(12)];

    // 0: any samples; 1: narrowable samples; 2: a few colours (palettes); 3: a gray pixmap
    const int mode = int(pick(4));
    const auto randomPixel = [&](int sampleMode) {
        const unsigned r = sample(c.maxval, sampleMode);
        return color ? Pixel{r, sample(c.maxval, sampleMode), sample(c.maxval, sampleMode)}
                     : Pixel{r, r, r};
    };
    std::vector<Pixel> few;
    for (unsigned k = 1 + pick(mode == 2 ? 5 : 300); k > 0; --k) few.push_back(randomPixel(0));
    for (int i = 0; i < c.cols * c.rows; ++i) {
        Pixel p = mode == 2 ? few[pick(unsigned(few.size()))] : randomPixel(mode == 1 ? 1 : 0);
        if (mode == 3 || !color) p[1] = p[2] = p[0];
        c.pixels.push_back(p);
    }

    c.interlace = pick(4) == 0;
    c.force = pick(6) == 0;
    c.hist = pick(3) == 0;
    c.chunks = pick(4) == 0;
    c.filter = int(pick(7)) - 1; // libpng's choice (-1) twice as often as each filter
    c.compression = int(pick(11)) - 1;
    if (c.filter > 4) c.filter = -1;
    if (pick(3) == 0) {
        static const char* const maskMagics[] = {"P1", "P2", "P4", "P5"};
        c.maskMagic = maskMagics[pick(4)];
        static const unsigned alphaMaxvals[] = {1, 3, 100, 255, 65535};
        // A bitmap mask reads as maxval 255: black 0, white 255.
        c.alphaMaxval = isBitmap(c.maskMagic) ? 255 : alphaMaxvals[pick(5)];
        // All opaque or clear (may become one transparent colour), or any opacity.
        const bool binary = isBitmap(c.maskMagic) || pick(2) == 0;
        for (size_t i = 0; i < c.pixels.size(); ++i)
            c.alphaValues.push_back(binary ? (pick(3) == 0 ? 0 : c.alphaMaxval)
                                           : pick(c.alphaMaxval + 1));
    }
    if (c.maskMagic.empty() && pick(4) == 0) c.transparent = hexColor();
    if (pick(4) == 0) c.background = hexColor();
    if (pick(4) == 0) {
        (pick(2) == 0 ? c.ztxt : c.text) = true;
        static const char* const keys[] = {"Title", "Author", "comment", "Software", "note"};
        for (unsigned k = pick(4); k > 0; --k)
            c.comments.emplace_back(keys[pick(5)], "text " + std::to_string(pick(1000)));
    }
    // A palette file listing the image's colours in a shuffled order, where the converter will
    // build a palette (at most 256 colours, maxval at most 255, no mask, not forced).
    if (!c.maskMagic.empty() || c.force || c.maxval > 255 || isBitmap(c.magic) || pick(3) != 0)
        return c;
    const std::set<Pixel> distinct(c.pixels.begin(), c.pixels.end());
    if (distinct.size() > 256) return c;
    c.paletteOrder.assign(distinct.begin(), distinct.end());
    std::shuffle(c.paletteOrder.begin(), c.paletteOrder.end(), rng);
    return c;
}

// Samples in file order: three per pixel in a pixmap; a bitmap's 1 is black.
std::vector<unsigned> samplesOf(const std::vector<Pixel>& pixels, const std::string& magic) {
    std::vector<unsigned> s;
    for (const Pixel& p : pixels) {
        if (magic == "P3" || magic == "P6")
            s.insert(s.end(), p.begin(), p.end());
        else
            s.push_back(isBitmap(magic) ? p[0] == 0 : p[0]);
    }
    return s;
}

// Converts in this process: the options through the real command-line scan, the files open.
std::string convert(const Case& c) {
    static std::vector<std::string> args; // the settings point into it
    args = c.args();
    args.insert(args.begin(), "gridpack");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    const char* paletteFile;
    gridpack::parseOptions(int(argv.size()), argv.data(), &paletteFile);

    std::vector<Pixel> alphas;
    for (unsigned a : c.alphaValues) alphas.push_back({a, a, a});
    std::string comments;
    for (const auto& [key, text] : c.comments) comments += key + " " + text + "\n";
    FILE* files[] = {
        tmpFileWith(pnmImage(c.magic, c.cols, c.rows, c.maxval, samplesOf(c.pixels, c.magic))),
        alphas.empty() ? nullptr
                       : tmpFileWith(pnmImage(c.maskMagic, c.cols, c.rows, c.alphaMaxval,
                                              samplesOf(alphas, c.maskMagic))),
        c.paletteOrder.empty() ? nullptr
                               : tmpFileWith(pnmImage("P6", int(c.paletteOrder.size()), 1, c.maxval,
                                                      samplesOf(c.paletteOrder, "P6"))),
        c.text || c.ztxt ? tmpFileWith(comments) : nullptr};
    char* buffer = nullptr;
    size_t size = 0;
    FILE* ofP = open_memstream(&buffer, &size);
    EXPECT_EQ(gridpack::convertpnmTo(files[0], files[1], files[2], files[3], ofP), 0);
    std::fclose(ofP);
    for (FILE* f : files)
        if (f) std::fclose(f);
    std::string png(buffer, size);
    std::free(buffer);
    return png;
}

// The pixel's colour as the PNG stores it, at 8 bits for a palette, else at the PNG's depth.
Pixel decodedColor(const DecodedPng& png, unsigned x, unsigned y) {
    if (png.colorType == 3) {
        const Rgb e = png.paletteColor(x, y);
        return {e.r, e.g, e.b};
    }
    if (png.colorType & 2) return {png.sample(x, y, 0), png.sample(x, y, 1), png.sample(x, y, 2)};
    const unsigned v = png.sample(x, y, 0);
    return {v, v, v};
}

// The opacity at 8 bits for palettes, at the PNG's depth for an alpha channel, and full or none
// for a single transparent colour; full for an image without transparency.
unsigned decodedAlpha(const DecodedPng& png, unsigned x, unsigned y, unsigned pngMaxval) {
    if (png.colorType == 3) {
        const unsigned i = png.index(x, y);
        return i < png.transAlpha.size() ? png.transAlpha[i] : 255;
    }
    if (png.colorType & 4) return png.sample(x, y, (png.colorType & 2) ? 3 : 1);
    if (!png.hasTrns) return pngMaxval;
    const Pixel p = decodedColor(png, x, y);
    const png_color_16& t = png.transColor;
    const bool clear = (png.colorType & 2) ? p == Pixel{t.red, t.green, t.blue} : p[0] == t.gray;
    return clear ? 0 : pngMaxval;
}

void verify(const Case& c, const DecodedPng& png) {
    ASSERT_EQ(png.width, unsigned(c.cols));
    ASSERT_EQ(png.height, unsigned(c.rows));
    const bool palette = png.colorType == 3;
    const unsigned pngMaxval = palette ? 255 : (1u << png.bitDepth) - 1;
    std::map<Pixel, unsigned> census; // colour at 8 bits -> pixels, for the histogram
    for (int y = 0; y < c.rows; ++y) {
        for (int x = 0; x < c.cols; ++x) {
            const size_t i = size_t(y) * size_t(c.cols) + size_t(x);
            const Pixel got = decodedColor(png, unsigned(x), unsigned(y));
            ASSERT_EQ(got, ruleS(c.pixels[i], pngMaxval, c.maxval)) << "pixel " << x << "," << y;
            // Nothing lost: scaled back, every sample is the input's.
            ASSERT_EQ(ruleS(got, c.maxval, pngMaxval), c.pixels[i]);
            ++census[got];

            const unsigned alphaGot = decodedAlpha(png, unsigned(x), unsigned(y), pngMaxval);
            if (!c.maskMagic.empty()) {
                const unsigned a = c.alphaValues[i];
                // A mask turned into one transparent colour (or none, for an opaque mask) has
                // only full and no opacity.
                unsigned alphaWant = a == 0 ? 0 : pngMaxval;
                if (palette) alphaWant = ruleS(a, 255, c.alphaMaxval);
                if (!palette && (png.colorType & 4))
                    alphaWant =
                        unsigned(double(float(a) * float(pngMaxval) / float(c.alphaMaxval)) + 0.5);
                ASSERT_EQ(alphaGot, alphaWant) << "alpha of pixel " << x << "," << y;
            } else if (!c.transparent.empty()) {
                // The requested colour (or, in a palette, the closest) is the one clear colour.
                ASSERT_TRUE(png.hasTrns);
                ASSERT_TRUE(!palette || png.transAlpha == std::vector<unsigned>{0});
            } else {
                ASSERT_FALSE(png.hasTrns || (png.colorType & 4)) << "an opaque image got alpha";
            }
        }
    }
    // A transparent colour is moved to the front; otherwise the file's order holds.
    if (!c.paletteOrder.empty() && palette && c.transparent.empty()) {
        ASSERT_GE(png.palette.size(), c.paletteOrder.size());
        for (size_t i = 0; i < c.paletteOrder.size(); ++i) {
            const Rgb& e = png.palette[i];
            ASSERT_EQ((Pixel{e.r, e.g, e.b}), ruleS(c.paletteOrder[i], 255, c.maxval)) << i;
        }
    }
    if (c.hist && palette) {
        ASSERT_FALSE(png.hist.empty());
        for (size_t i = 0; i < png.palette.size(); ++i) {
            const Rgb& e = png.palette[i];
            const auto found = census.find(Pixel{e.r, e.g, e.b});
            const unsigned count = found == census.end() ? 0 : found->second;
            ASSERT_EQ(png.hist.at(i), std::min(count, 65535u)) << "histogram entry " << i;
        }
    }
    ASSERT_EQ(png.hasBkgd, !c.background.empty());
    ASSERT_EQ(png.phys + "|" + png.time + "|" + std::to_string(png.chrm.size()) +
                  (png.gamma != 0 ? "|gAMA" : ""),
              c.chunks ? "2835 2834 1|2024-2-29 23:59:58|8|gAMA" : "||0");
    ASSERT_EQ(png.interlace != 0, c.interlace);
    if (c.text || c.ztxt) {
        ASSERT_EQ(png.texts.size(), c.comments.size());
        for (size_t i = 0; i < c.comments.size(); ++i) {
            ASSERT_EQ(png.texts[i].key, c.comments[i].first);
            ASSERT_EQ(png.texts[i].text, c.comments[i].second);
            const char first = c.comments[i].first[0];
            ASSERT_EQ(png.texts[i].compression, c.ztxt && first != 'A' && first != 'T' ? 0 : -1);
        }
    }
}

long envNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

} // namespace

TEST(Soak, RandomImagesAndOptionsDecodeToTheirInput) {
    const long count = envNumber("GRIDPACK_SOAK_COUNT", 10000);
    const unsigned seed = unsigned(envNumber("GRIDPACK_SOAK_SEED", 20261206));
    std::atexit(printCurrentCase);
    std::mt19937 rng(seed);
    std::map<std::string, int> forms, options;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        const Case c = generate(rng);
        currentCase =
            "#" + std::to_string(i) + " (seed " + std::to_string(seed) + "): " + c.describe();
        const std::string png = convert(c);
        DecodedPng decoded;
        try {
            decoded = decodePng(png);
        } catch (const std::exception& e) {
            FAIL() << currentCase << ": " << e.what();
        }
        verify(c, decoded);
        if (HasFatalFailure()) {
            ADD_FAILURE() << currentCase;
            currentCase.clear();
            return;
        }
        const std::string form = decoded.form(); // colour type and depth
        ++forms[form.substr(0, form.find(' ', form.find(' ') + 1))];
        for (const std::string& a : c.args())
            if (a[0] == '-') ++options[a];
    }
    currentCase.clear();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld conversions in %.1f s (seed %u)\n", count, seconds, seed);
    for (const auto& [form, n] : forms) std::printf("  %s: %d\n", form.c_str(), n);
    for (const auto& [option, n] : options) std::printf("  with %s: %d\n", option.c_str(), n);
}
