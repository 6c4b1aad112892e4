// In process: random images against their PNGs, decide() on facts no image has to be made for,
// the comment file against what was written into it, and the strips against libpng's writing.
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <random>

#include <png.h>

#include "gridpack.h"
#include "harness.h"
#include "pngdecode.h"

using namespace std::string_literals;

namespace {

using Px = std::array<unsigned, 3>;

struct Case {
    std::string magic, maskMagic;
    int cols = 0, rows = 0;
    unsigned maxval = 1, alphaMaxval = 255;
    std::vector<Px> pixels;       // at maxval; a bitmap's white is 1
    std::vector<unsigned> alphas; // of -alpha
    std::vector<std::string> args;
    bool has(const char* option) const { return std::count(args.begin(), args.end(), option); }
};

unsigned ruleS(unsigned v, unsigned n, unsigned m) { return (v * n + m / 2) / m; }
bool bitmap(const std::string& magic) { return magic == "P1" || magic == "P4"; }

Case generate(std::mt19937& rng) {
    const auto pick = [&rng](unsigned n) { return unsigned(rng() % n); };
    static const unsigned maxvals[] = {1, 2, 3, 7, 15, 16, 100, 255, 256, 1000, 4095, 65535};
    Case c;
    c.magic = std::string("P") + char('1' + pick(6));
    c.cols = 1 + int(pick(9)), c.rows = 1 + int(pick(7));
    c.maxval = bitmap(c.magic) ? 1 : pick(4) == 0 ? 1 + pick(65535) : maxvals[pick(12)];
    // 0: any samples, 1: low bits repeating the high ones, 2: a few colours, 3: gray pixmap
    const unsigned mode = pick(4), repeat = c.maxval == 65535 ? 257 : c.maxval == 255 ? 17 : 1;
    const auto sample = [&] {
        return mode == 1 ? repeat * pick(c.maxval / repeat + 1) : pick(c.maxval + 1);
    };
    std::vector<Px> few(1 + pick(5));
    for (Px& p : few) p = {sample(), sample(), sample()};
    for (int i = 0; i < c.cols * c.rows; ++i) {
        Px p = mode == 2 ? few[pick(unsigned(few.size()))] : Px{sample(), sample(), sample()};
        if (mode == 3 || (c.magic != "P3" && c.magic != "P6")) p[1] = p[2] = p[0];
        c.pixels.push_back(p);
    }
    // Colours for -background and (gray, so that every image can have it) -transparent.
    char hex[8], grayHex[8];
    const unsigned level = pick(256);
    std::snprintf(hex, sizeof hex, "#%02x%02x%02x", pick(256), pick(256), pick(256));
    std::snprintf(grayHex, sizeof grayHex, "#%02x%02x%02x", level, level, level);
    for (const char* flag : {"-interlace", "-force", "-hist"})
        if (pick(4) == 0) c.args.push_back(flag);
    if (pick(3) == 0) c.args.insert(c.args.end(), {"-filter", std::to_string(pick(5))});
    if (pick(3) == 0) c.args.insert(c.args.end(), {"-compression", std::to_string(pick(10))});
    if (pick(4) == 0) c.args.insert(c.args.end(), {"-background", hex});
    if (pick(3) == 0) {
        static const unsigned alphaMaxvals[] = {1, 3, 100, 255, 65535};
        c.maskMagic = std::string("P") + "1245"[pick(4)];
        c.alphaMaxval = bitmap(c.maskMagic) ? 255 : alphaMaxvals[pick(5)]; // a bitmap reads 0/255
        const bool binary = bitmap(c.maskMagic) || pick(2);
        for (size_t i = 0; i < c.pixels.size(); ++i)
            c.alphas.push_back(binary ? (pick(3) ? c.alphaMaxval : 0) : pick(c.alphaMaxval + 1));
        c.args.insert(c.args.end(), {"-alpha", "mask"});
    } else if (pick(4) == 0) {
        c.args.insert(c.args.end(), {"-transparent", grayHex});
    }
    return c;
}

std::string image(const std::string& magic, int cols, int rows, unsigned maxval,
                  const std::vector<Px>& pixels) {
    std::vector<unsigned> s;
    for (const Px& p : pixels) {
        const unsigned px[] = {bitmap(magic) ? p[0] == 0 : p[0], p[1], p[2]};
        s.insert(s.end(), px, px + (magic == "P3" || magic == "P6" ? 3 : 1));
    }
    return pnmImage(magic, cols, rows, maxval, s);
}

// The options of a command line, through the real scan; they point into args.
gridpack::Options scan(std::vector<std::string>& args) {
    args.insert(args.begin(), "gridpack");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    gridpack::Options options;
    gridpack::parseOptions(int(argv.size()), argv.data(), &options);
    return options;
}

std::string convert(const Case& c) {
    std::vector<std::string> args = c.args;
    const gridpack::Options options = scan(args);
    std::vector<Px> alphas;
    for (unsigned a : c.alphas) alphas.push_back({a, a, a});
    FILE *in = tmpFileWith(image(c.magic, c.cols, c.rows, c.maxval, c.pixels)),
         *out = std::tmpfile(),
         *mask = alphas.empty()
                     ? nullptr
                     : tmpFileWith(image(c.maskMagic, c.cols, c.rows, c.alphaMaxval, alphas));
    EXPECT_NO_THROW(gridpack::convertpnm(options, in, mask, nullptr, nullptr, out));
    for (FILE* f : {in, mask})
        if (f) std::fclose(f);
    return readBack(out);
}

void verify(const Case& c, const DecodedPng& png) {
    ASSERT_EQ(png.width * 1000 + png.height, unsigned(c.cols * 1000 + c.rows));
    const bool palette = png.colorType == 3, rgb = png.colorType == 2 || png.colorType == 6;
    const unsigned pngMax = palette ? 255 : (1u << png.depth) - 1;
    std::map<Px, unsigned> census;
    bool allGray = true, repeats = true; // the input's pixels: all gray, all bytes repeated
    for (int y = 0; y < c.rows; ++y)
        for (int x = 0; x < c.cols; ++x) {
            const size_t i = size_t(y * c.cols + x);
            const Px& v = c.pixels[i];
            allGray &= v[0] == v[1] && v[1] == v[2],
                repeats &= v[0] % 257 + v[1] % 257 + v[2] % 257 == 0;
            const std::array<unsigned, 4> p = png.pixel(unsigned(x), unsigned(y));
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(p[k], ruleS(v[k], pngMax, c.maxval)) << "pixel " << x << "," << y;
                ASSERT_EQ(ruleS(p[k], c.maxval, pngMax), v[k]) << "a sample lost information";
            }
            ++census[{p[0], p[1], p[2]}];
            const unsigned a = c.alphas.empty() ? c.alphaMaxval : c.alphas[i];
            const unsigned want =
                palette ? ruleS(a, 255, c.alphaMaxval)
                : png.colorType & 4
                    ? unsigned(double(float(a) * float(pngMax) / float(c.alphaMaxval)) + 0.5)
                : a ? pngMax
                    : 0;
            ASSERT_TRUE(p[3] == want || c.has("-transparent")) << "opacity of " << x << "," << y;
        }
    // -transparent always gives a tRNS chunk; without it or a mask, nothing is transparent.
    const bool opaque = png.trns.empty() && !(png.colorType & 4);
    ASSERT_TRUE(c.has("-transparent") ? !png.trns.empty() : c.alphas.empty() ? opaque : true);
    // The smallest faithful form.
    const int bits = int(std::ceil(std::log2(c.maxval + 1.0)));
    const double indexBits = std::max(1.0, std::ceil(std::log2(double(census.size()))));
    const bool free = !c.has("-force") && c.alphas.empty();
    ASSERT_FALSE(free && rgb && allGray) << "an all-gray image as RGB";
    ASSERT_FALSE(free && c.maxval <= 255 && !bitmap(c.magic) &&
                 palette != (census.size() <= 256 && (!allGray || indexBits <= bits / 2)))
        << census.size() << " colours";
    ASSERT_FALSE(!c.has("-force") && c.maxval == 65535 && (rgb || free) && repeats &&
                 png.depth > 8);
    for (size_t i = 0; i < png.palette.size() && c.has("-hist"); ++i) {
        const auto it = census.find(png.palette[i]);
        ASSERT_EQ(png.hist.at(i), it == census.end() ? 0 : std::min(it->second, 65535u));
    }
    ASSERT_EQ(png.chunks.count("bKGD") + (png.interlace != 0),
              c.has("-background") + c.has("-interlace"));
}

TEST(Soak, RandomImagesAndOptionsDecodeToTheirInputInTheSmallestForm) {
    const char *count = std::getenv("GRIDPACK_SOAK_COUNT"),
               *seed = std::getenv("GRIDPACK_SOAK_SEED");
    std::mt19937 rng(seed ? unsigned(std::stoul(seed)) : 20261207u);
    for (long i = 0, n = count ? std::stol(count) : 10000; i < n && !HasFatalFailure(); ++i) {
        const Case c = generate(rng);
        std::string what = c.magic + " " + std::to_string(c.cols) + "x" + std::to_string(c.rows) +
                           " " + std::to_string(c.maxval) + " mask " + c.maskMagic;
        for (const std::string& a : c.args) what += " " + a;
        SCOPED_TRACE("case " + std::to_string(i) + ": " + what);
        DecodedPng png;
        ASSERT_NO_THROW(png = decodePng(convert(c)));
        verify(c, png);
    }
}

// A PAM (from a file, or a pipe) converts as its image as a P5/P6 with its alpha as a P5 -alpha
// mask: the same PNG, status and messages, but for -verbose's header line and no mask file read.
TEST(Pam, ConvertsAsTheImageWithItsAlphaAsAMask) {
    static const char* const types[] = {"BLACKANDWHITE", "GRAYSCALE", "RGB"};
    static const unsigned maxvals[] = {1, 2, 3, 15, 100, 255, 256, 1000, 65535};
    static const std::vector<std::string> settings[] = {{}, {"-force"}, {"-verbose"}, {"-hist"}};
    std::mt19937 rng(20);
    const auto pick = [&rng](unsigned n) { return unsigned(rng() % n); };
    const TempDir dir;
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const unsigned t = pick(6), depth = t % 3 == 2 ? 3 : 1, alpha = t > 2, a = pick(4);
        const int cols = 1 + int(pick(6)), rows = 1 + int(pick(4));
        const unsigned maxval = maxvals[pick(9)]; // BLACKANDWHITE too: writers vary
        // Samples: any, a few colours (always when alpha makes the first of them transparent),
        // gray; alpha: any, 0 or maxval, 0 for the first of the few colours only, opaque.
        const unsigned mode = a == 2 ? 1 : pick(3);
        std::vector<Px> few(1 + pick(4));
        for (Px& p : few) p = {pick(maxval + 1), pick(maxval + 1), pick(maxval + 1)};
        std::vector<unsigned> image, mask, tuples;
        for (int k = 0; k < cols * rows; ++k) {
            Px p = few[pick(4) % few.size()];
            if (mode != 1) p = {pick(maxval + 1), pick(maxval + 1), pick(maxval + 1)};
            if (mode == 2 || depth == 1) p[1] = p[2] = p[0];
            const unsigned v =
                a == 0   ? pick(maxval + 1)
                : a == 1 ? pick(2) * maxval
                         : (a == 2 && p[0] == few[0][0] && p[1] == few[0][1] ? 0 : maxval);
            for (unsigned d = 0; d < depth + alpha; ++d) tuples.push_back(d < depth ? p[d] : v);
            image.insert(image.end(), p.begin(), p.begin() + depth), mask.push_back(v);
        }
        std::string pam = "P7\n#" + std::string(300, '-') + "\nWIDTH " + std::to_string(cols) +
                          "\n\tHEIGHT  " + std::to_string(rows) + " \n\nDEPTH " +
                          std::to_string(depth + alpha) + std::string(248, ' ') + "\nMAXVAL " +
                          std::to_string(maxval) + "\r\n";
        if (t % 3 == 0 || pick(2)) pam += "TUPLTYPE "s + types[t % 3] + (alpha ? "_ALPHA\n" : "\n");
        pam += "ENDHDR\n" +
               pnmImage("P5", 1, 1, maxval, tuples).substr(8 + std::to_string(maxval).size());
        std::vector<std::string> args = settings[pick(4)], theirs = args;
        if (alpha)
            theirs.insert(theirs.end(),
                          {"-alpha", dir.write("m", pnmImage("P5", cols, rows, maxval, mask))});
        theirs.push_back(
            dir.write("i", pnmImage(depth == 3 ? "P6" : "P5", cols, rows, maxval, image)));
        RunOptions from(pam);
        if (i % 2 == 0) from.inFile = dir.write("pam", pam);
        SCOPED_TRACE(std::to_string(i) + ": " + pam.substr(0, pam.find("ENDHDR")));
        const RunResult ours = runGridpack(args, from), oracle = runGridpack(theirs);
        std::string err = oracle.err,
                    kind = (depth == 3 ? "RGB"s : "gray"s) + (alpha ? "+alpha" : "");
        const size_t head = err.find(depth == 3 ? "PPM file" : "PGM file"),
                     line = err.find("gridpack: reading alpha-channel image...\n");
        if (line != std::string::npos) err.erase(line, 41);
        if (head != std::string::npos) err.replace(head, 8, "PAM file of " + kind + " tuples");
        EXPECT_EQ(ours.status + oracle.status, 0) << ours.err << oracle.err; // both converted
        EXPECT_EQ(ours.err, err);
        EXPECT_TRUE(ours.out == oracle.out) << "the PNGs differ";
    }
}

// Facts and options straight to the form: colour type,depth, the palette (or its size), tRNS,
// bKGD, hIST, sBIT, then the report and the chunk lines. The census holds the first gray levels
// v*15 (-1: 257 colours) and the colours given; pairs are colour index * 256 + alpha at a mask
// maxval of 3, or -1 for too many.
template <typename... T> std::string csv(T... v) {
    std::string s;
    ((s += (s.empty() ? "" : ",") + std::to_string(v)), ...);
    return s;
}

TEST(Decide, FactsAndOptionsMakeTheForm) {
    const pixel R{255, 0, 0}, G{0, 255, 0}, B{0, 0, 255};
    // clang-format off
    struct { std::vector<std::string> args; int type; pixval maxval; int bits, grays; std::vector<pixel> colors; std::vector<int> counts, pairs; std::vector<pixel> ordered; pixel trans, back; const char* form; } rows[] = {
        {{"-verbose"}, PLAIN_PGM, 255, 8, 16, {}, {}, {}, {}, {}, {}, "3,4 PLTE=16 | PNG palette has 16 entries, 0 of them non-opaque;Writing 4-bit color indexes;writing a 4-bit palette file; | "},
        {{"-verbose"}, PLAIN_PGM, 255, 4, 17, {}, {}, {}, {}, {}, {}, "0,4 sBIT=4 | palette index would be larger than the indexed value, so not doing colormap;Writing 4 bits per component per pixel;writing a 4-bit gray file; | No transparent color;Writing sBIT chunk with sbitval = 4;"},
        {{"-tr", "x", "-background", "x", "-verbose"}, PLAIN_PPM, 65535, 8, 0, {}, {}, {}, {}, {0, 257, 65535}, {4112, 8224, 65535}, "2,8 tRNS=255,0,1,255 bKGD=255,16,32,255 sBIT=8,8,8 | Writing 8 bits per component per pixel;writing a 24-bit RGB file; | Transparent color {gray, red, green, blue} = {255, 0, 1, 255};Writing bKGD chunk with background color  {gray, red, green, blue} = {255, 16, 32, 255};Writing sBIT chunk with sbitval = 8;"},
        {{"-tr", "=x", "-background", "x"}, PLAIN_PPM, 255, 8, 0, {R, G, B}, {}, {}, {}, B, {1, 1, 1}, "3,2 PLTE=0,0,255/0,255,0/255,0,0/1,1,1 tRNS=0 bKGD=3 |  | "},
        {{"-tr", "=x"}, PLAIN_PPM, 255, 8, 0, {R, G, B}, {}, {}, {}, {0, 0, 254}, {}, "3,2 PLTE=255,0,0/0,255,0/0,0,255 | specified transparent color not present in palette; ignoring -transparent; | "},
        {{"-tr", "x"}, PLAIN_PPM, 255, 8, 0, {{0, 0, 0}, {2, 2, 2}}, {}, {}, {}, {1, 1, 1}, {}, "3,1 PLTE=0,0,0/2,2,2 tRNS=0 |  | "},
        {{"-alpha", "m", "-background", "x", "-hist"}, PLAIN_PPM, 255, 8, 0, {{9, 9, 9}, {5, 6, 7}, {1, 1, 1}}, {200000, 100000, 1}, {0x000, 0x003, 0x101, 0x203}, {}, {}, {9, 9, 9}, "3,2 PLTE=9,9,9/5,6,7/1,1,1/9,9,9 tRNS=0,85 bKGD=3 hIST=65535,32768,1,65535 |  | "},
        {{"-alpha", "m", "-verbose"}, PLAIN_PGM, 255, 8, 2, {}, {}, {-1}, {}, {}, {}, "4,8 sBIT=8 | too many color/transparency pairs, writing a non-mapped file;Writing 8 bits per component per pixel;writing a 16-bit gray+alpha file; | No transparent color;Writing sBIT chunk with sbitval = 8;"},
        {{"-tr", "x", "-background", "x", "-verbose"}, PLAIN_PGM, 100, 7, 17, {}, {}, {}, {}, {16, 32, 48}, {0, 100, 0}, "0,8 bKGD=150,0,255,0 sBIT=7 | palette index would be larger than the indexed value, so not doing colormap;Writing 8 bits per component per pixel;writing an 8-bit gray file; | specified transparent color is not gray, and the image is written as grayscale; ignoring -transparent;No transparent color;Writing bKGD chunk with background color  {gray, red, green, blue} = {150, 0, 255, 0};Writing sBIT chunk with sbitval = 7;"},
        {{"-background", "x"}, PLAIN_PPM, 255, 8, 255, {}, {}, {}, {}, {}, {1, 2, 3}, "3,8 PLTE=256 bKGD=255 |  | "},
        {{"-palette", "p"}, PLAIN_PPM, 255, 8, 0, {R, G}, {}, {}, {G, R}, {}, {}, "3,1 PLTE=0,255,0/255,0,0 |  | "},
        {{"-palette", "p"}, PLAIN_PPM, 255, 8, 0, {R, G}, {}, {}, {G, R, B}, {}, {}, "sizes of ordered palette (3) and existing palette (2) differ"},
        {{"-palette", "p"}, PLAIN_PPM, 255, 8, 0, {R, G}, {}, {}, {G, B}, {}, {}, "failed to find color (255, 0, 0), which is in the input image, in the ordered palette"},
        {{"-palette", "p"}, PLAIN_PPM, 255, 8, -1, {}, {}, {}, {}, {}, {}, "You specified -palette, but there are more than 256 colors in the image -- too many for a colormapped PNG"}};
    // clang-format on
    for (auto& row : rows) {
        const gridpack::Options o = scan(row.args);
        gridpack::Facts f;
        f.maxval = row.maxval, f.type = row.type, f.meaningfulBits = row.bits, f.alphaMaxval = 3;
        f.mask = o.alpha;
        for (unsigned v = 0; v < unsigned(std::max(row.grays, 0)); ++v)
            f.census.push_back({{v * 15, v * 15, v * 15}, 1});
        for (size_t i = 0; i < row.colors.size(); ++i)
            f.census.push_back({row.colors[i], row.counts.empty() ? 1 : row.counts[i]});
        f.colors = row.grays < 0 ? 257 : int(f.census.size()), f.censusTaken = f.colors > 0;
        for (int p : row.pairs)
            p < 0 ? void(f.tooManyPairs = true)
                  : f.pairs.push_back({row.colors[size_t(p >> 8)], gray(p & 255)});
        f.ordered = row.ordered, f.transColor = row.trans, f.backColor = row.back;
        f.transExact = o.transstring && o.transstring[0] == '=';
        std::string got;
        try {
            const gridpack::Form form = gridpack::decide(f, o);
            const png_color_16 &b = form.background, &t = form.transColor;
            const png_color_8& s = form.sbit;
            const unsigned n = form.paletteSize;
            got = csv(form.colorType, form.bitDepth) + (n ? " PLTE=" : "") + (n > 4 ? csv(n) : "");
            for (unsigned i = 0; i < n && n < 5; ++i)
                got +=
                    (i ? "/" : "") + csv(form.palette[i].r, form.palette[i].g, form.palette[i].b);
            for (unsigned i = 0; i < form.transSize; ++i)
                got += (i ? "," : " tRNS=") + csv(form.pngTrans[i]);
            if (form.hasTransColor) got += " tRNS=" + csv(t.gray, t.red, t.green, t.blue);
            if (form.hasBackground)
                got += " bKGD=" +
                       (form.colorMapped ? csv(b.index) : csv(b.gray, b.red, b.green, b.blue));
            for (unsigned i = 0; i < n && form.hasHist; ++i)
                got += (i ? "," : " hIST=") + csv(form.hist[i]);
            if (form.hasSbit)
                got += " sBIT=" + (form.colorType & 2 ? csv(s.red, s.green, s.blue) : csv(s.gray));
            got += " | ";
            for (const std::string& line : form.report) got += line + ";";
            got += " | ";
            for (const std::string& line : form.chunkReport) got += line + ";";
        } catch (const pm_fatal& e) {
            got = e.what();
        }
        EXPECT_EQ(got, row.form);
    }
}

// UTF-8 by the book: each sequence decoded to its code point, which must need all its bytes and
// be neither a surrogate nor past U+10FFFF.
bool utf8(const std::string& s) {
    for (size_t i = 0, len; i < s.size(); i += len) {
        const unsigned b = (unsigned char)s[i], least[] = {0, 0, 0x80, 0x800, 0x10000};
        len = b < 0x80 ? 1 : b >> 5 == 6 ? 2 : b >> 4 == 14 ? 3 : b >> 3 == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= s.size();
        unsigned cp = len == 1 ? b : b & (0xff >> (len + 1));
        for (size_t k = 1; ok && k < len; ++k)
            ok = (s[i + k] & 0xc0) == 0x80, cp = cp << 6 | (s[i + k] & 0x3f);
        if (!ok || cp < least[len] || (cp >= 0xd800 && cp < 0xe000) || cp > 0x10ffff) return false;
    }
    return true;
}

TEST(CommentFile, EntriesComeBackAsWrittenAndUtf8TextsGoToItxt) {
    for (bool ztxt : {false, true}) {
        // Under -text, every byte above 127 before every byte, then ways a sequence goes on or
        // ends; under both, keyword by keyword, whether -ztxt compresses (0) or not (-1).
        std::vector<std::tuple<std::string, std::string, int>> want;
        std::string file;
        for (unsigned b0 = 0x80; b0 < 0x100 && !ztxt; ++b0)
            for (unsigned b1 = 0; b1 < 0x100; ++b1)
                for (const char* tail : {"", "A", "\x80", "\x80\x41", "\x80\x80"})
                    if (b1 != '\n') {
                        want.push_back({"u", std::string{char(b0), char(b1)} + tail, 0});
                        file += "u " + std::get<1>(want.back()) + "\n";
                        if (file.end()[-2] == '\r') std::get<1>(want.back()).pop_back(); // CR LF
                    }
        // Separators and indentation of blanks, tabs and NULs, empty lines (one of a CR), quoted
        // keywords, a CR that stays and one that goes, a line longer than the first buffer, a last
        // line without its line feed, its CR kept.
        file += "Title\tA\0 b\n\r\nkey \t\0 x  y\r\n \t more\n\n\t\0\n\"A key\"text\nAuthor\n\"T\" "
                "z\r\r\nlong "s +
                std::string(300, 'x') + "\naT\0y\r"s;
        const std::string keys[] = {"Title", "key", "A key", "Author", "T", "long", "aT"},
                          texts[] = {"A\0 b"s, "x  y\nmore\n",        "text", "",
                                     "z\r",    std::string(300, 'x'), "y\r"};
        for (int i = 0; i < 7; ++i) want.push_back({keys[i], texts[i], i == 0 || i == 3 ? -1 : 0});
        FILE* f = tmpFileWith(file);
        int count = 0;
        png_text* got = gridpack::readCommentFile(f, ztxt, &count);
        std::fclose(f);
        ASSERT_EQ(size_t(count), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            const auto& [key, text, zipped] = want[i];
            const bool itxt = utf8(text) && std::any_of(text.begin(), text.end(),
                                                        [](char c) { return c & 0x80; });
            ASSERT_EQ(got[i].key, key) << i;
            ASSERT_EQ(std::string(got[i].text, got[i].text_length), text) << i;
            // iTXt's two kinds are tEXt's and zTXt's numbers plus 2.
            ASSERT_EQ(got[i].compression, (ztxt ? zipped : -1) + (itxt ? 2 : 0)) << i;
        }
        gridpack::freeCommentEntries(got, count);
    }
}

// The same image data written by libpng itself, with the same filters and zlib level.
std::string libpngWrites(const DecodedPng& d, int filters, int level) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep b, png_size_t n) {
            static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(b), n);
        },
        nullptr);
    png_set_IHDR(png, info, d.width, d.height, d.depth, d.colorType, 0, 0, 0);
    std::vector<png_color> palette;
    for (const auto& e : d.palette)
        palette.push_back({png_byte(e[0]), png_byte(e[1]), png_byte(e[2])});
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (filters) png_set_filter(png, 0, filters);
    if (level >= 0) png_set_compression_level(png, level);
    png_write_info(png, info);
    png_set_packing(png);
    for (const std::vector<unsigned>& samples : d.rows) {
        std::string row;
        for (unsigned v : samples)
            row += d.depth == 16 ? std::string{char(v >> 8), char(v)} : std::string(1, char(v));
        png_write_row(png, reinterpret_cast<png_bytep>(row.data()));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Large images go out in strips deflated on worker threads: the same bytes for any number of
// threads, and the image data libpng would write from the same rows and settings.
TEST(Strips, SameBytesForAnyThreadCountAndLibpngsFilteredData) {
    std::mt19937 rng(19);
    // 8- and 16-bit colour and gray, 200 colours, a bitmap, gray with a mask (in more strips than
    // three threads keep in flight), each in as many 256 KiB strips of filtered rows as written
    // (one IDAT each), with two settings each.
    const struct {
        const char* magic;
        int cols, rows, strips;
        unsigned maxval, colours;
        std::vector<std::string> settings[2];
    } images[] = {{"P6", 400, 300, 2, 255, 0, {{}, {"-filter", "3"}}},
                  {"P5", 300, 500, 2, 65535, 0, {{"-filter", "1"}, {"-force"}}},
                  {"P3", 700, 500, 2, 255, 200, {{}, {"-compression", "1"}}},
                  {"P4", 2400, 1200, 2, 1, 0, {{"-filter", "2"}, {"-compression", "9"}}},
                  {"P5", 600, 1400, 7, 255, 1, {{"-filter", "0"}, {"-filter", "4"}}}};
    for (int i = 0; i < 10; ++i) {
        const auto& im = images[i / 2];
        const std::vector<std::string>& setting = im.settings[i % 2];
        Case c;
        c.magic = im.magic, c.cols = im.cols, c.rows = im.rows, c.maxval = im.maxval;
        std::vector<Px> colours(im.colours);
        for (Px& p : colours)
            p = {unsigned(rng() % 256), unsigned(rng() % 256), unsigned(rng() % 256)};
        for (int y = 0; y < c.rows; ++y)
            for (int x = 0; x < c.cols; ++x) {
                const unsigned v = unsigned(x * 7 + y * 3) + unsigned(rng() % 5),
                               oneSample = c.magic != std::string("P6");
                c.pixels.push_back(im.colours > 1
                                       ? colours[(x / 9 + y / 7 + rng() % 2) % im.colours]
                                       : Px{v % (c.maxval + 1),
                                            (oneSample ? v : v * 5) % (c.maxval + 1),
                                            unsigned(oneSample ? v : x ^ y) % (c.maxval + 1)});
                if (im.colours == 1) c.alphas.push_back(unsigned(rng() % 256));
            }
        if (im.colours == 1) c.maskMagic = "P5", c.args = {"-alpha", "mask"};
        c.args.insert(c.args.end(), setting.begin(), setting.end());
        SCOPED_TRACE(std::string(im.magic) + " " + std::to_string(i) + " " +
                     (setting.empty() ? "" : setting[0]));
        setenv("GRIDPACK_THREADS", "1", 1);
        const std::string one = convert(c);
        setenv("GRIDPACK_THREADS", "3", 1);
        EXPECT_EQ(convert(c), one);
        unsetenv("GRIDPACK_THREADS");
        const DecodedPng ours = decodePng(one);
        verify(c, ours); // the pixels: libpng, given them, would filter them the same way
        const int value = setting.size() > 1 ? std::stoi(setting[1]) : -1; // one filter's mask:
        const bool filter = setting.size() > 1 && setting[0] == "-filter"; // NONE shifted by it
        const DecodedPng theirs =
            decodePng(libpngWrites(ours, filter ? PNG_FILTER_NONE << value : 0,
                                   setting.size() > 1 && !filter ? value : -1));
        EXPECT_EQ(ours.data, theirs.data);
        EXPECT_EQ(ours.idatChunks, im.strips);
        // The same zlib header, and within a few bytes a strip of the same compressed size.
        EXPECT_EQ(ours.idat.substr(0, 2), theirs.idat.substr(0, 2));
        EXPECT_NEAR(double(ours.idat.size()), double(theirs.idat.size()),
                    double(theirs.idat.size()) / 1000 + 8 * im.strips);
    }
}

} // namespace
