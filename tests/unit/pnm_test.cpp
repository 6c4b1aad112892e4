// The anymap reader, promotion and the xel helpers.
#include <string>
#include <vector>

#include "unitutil.h"

namespace {
// Xels as text: a gray or bit value alone (red and green 0), a colour as r/g/b.
std::string xstr(const std::vector<Rgb3>& xels) {
    std::string s;
    for (const Rgb3& x : xels) {
        if (!s.empty()) s += " ";
        s += x[0] == 0 && x[1] == 0
                 ? std::to_string(x[2])
                 : std::to_string(x[0]) + "/" + std::to_string(x[1]) + "/" + std::to_string(x[2]);
    }
    return s;
}
std::string xstr(const xel& x) { return xstr(std::vector<Rgb3>{rgb3(x)}); }
xel gx(unsigned v) { return xel{0, 0, v}; }
} // namespace

TEST(AnymapReader, EachFamilyAsXels) {
    const PnmRead bitmap = readAnymap("P1 2 1 1 0 ");
    EXPECT_EQ(bitmap.maxval, 1u);
    EXPECT_EQ(bitmap.format, PLAIN_PBM);
    EXPECT_EQ(xstr(bitmap.xels), "0 1");
    // Raw bitmap: 10 columns, padding bits set, second row must start on its own byte.
    EXPECT_EQ(xstr(readAnymap(std::string("P4 10 2\n\x80\xff\x00\x40", 12)).xels),
              "0 1 1 1 1 1 1 1 0 0 1 1 1 1 1 1 1 1 1 0");
    EXPECT_EQ(xstr(readAnymap("P2 1 1 255 7 ").xels), "7");
    EXPECT_EQ(xstr(readAnymap(std::string("P5 2 1 65535\n\x01\x02\xff\xff", 17)).xels),
              "258 65535");
    EXPECT_EQ(xstr(readAnymap("P3 1 1 255 1 2 3 ").xels), "1/2/3");
    EXPECT_EQ(xstr(readAnymap("P6 1 1 255\n123").xels), "49/50/51");
}

TEST(AnymapReader, RefusalsPassThrough) {
    const std::pair<std::string, const char*> table[] = {
        {"P7 1 1 1\n", "bad magic number - not a ppm, pgm, or pbm file"},
        {"P2 1 1 65536\n", "maxval is too large\\.  The largest we can handle is 65535\\."},
        {"P3 1 1 65536\n", "maxval \\(65536\\) is too large"},
        {"P2 2 1 9 9 10 ", "sample value 10 is greater than maxval 9"},
        {std::string("P5 2 1 9\n\x09\x0a", 11), "sample value 10 is greater than maxval 9"},
        {std::string("P5 2 1 9\n\x09", 10), "EOF / read error reading a one-byte sample"},
        {std::string("P4 9 1\n\x09", 8), "EOF / read error reading a one-byte sample"},
    };
    for (const auto& [image, message] : table) EXPECT_FATAL(readAnymap(image), message);
    xel row[1];
    EXPECT_FATAL(pnm_readpnmrow(TmpFile("1 "), row, 1, 1, 0x5037), "can't happen");
}

TEST(AnymapReader, RereadsFromTheRecordedPositionWithRowsOfOtherSizesBetween) {
    // The readers' reused buffers must not carry anything from one image into another.
    ImageFile wide(std::string("P5 6 1 65535\n") + std::string(12, '\x11'));
    ImageFile narrow(std::string("P6 1 1 255\n\x01\x02\x03", 14));
    xel row[6];
    for (int pass = 0; pass < 2; ++pass) {
        pm_seek2(narrow, &narrow.rasterPos, sizeof narrow.rasterPos);
        pnm_readpnmrow(narrow, row, narrow.cols, narrow.maxval, narrow.format);
        EXPECT_EQ(xstr(row[0]), "1/2/3");
        pm_seek2(wide, &wide.rasterPos, sizeof wide.rasterPos);
        pnm_readpnmrow(wide, row, wide.cols, wide.maxval, wide.format);
        EXPECT_EQ(xstr(rgb3Row(row, 6)), "4369 4369 4369 4369 4369 4369");
    }
}

TEST(RasterCheck, RawSizesAgainstTheBytesLeft) {
    const struct {
        int format, cols, rows;
        pixval maxval;
        int result;
    } table[] = {
        {RAW_PBM, 17, 4, 1, PM_CHECK_OK},           {RAW_PBM, 16, 4, 1, PM_CHECK_TOO_LONG},
        {RAW_PGM, 6, 2, 255, PM_CHECK_OK},          {RAW_PGM, 3, 2, 256, PM_CHECK_OK},
        {RAW_PPM, 2, 2, 255, PM_CHECK_OK},          {RAW_PPM, 1, 2, 65535, PM_CHECK_OK},
        {RAW_PPM, 1, 1, 255, PM_CHECK_TOO_LONG},    {PLAIN_PBM, 1, 1, 1, PM_CHECK_UNCHECKABLE},
        {PLAIN_PGM, 1, 1, 1, PM_CHECK_UNCHECKABLE}, {PLAIN_PPM, 1, 1, 1, PM_CHECK_UNCHECKABLE},
    };
    TmpFile f("abcdefghijkl"); // 12 bytes
    for (const auto& c : table) {
        int result = -1;
        pnm_check(f, PM_CHECK_BASIC, c.format, c.cols, c.rows, c.maxval, &result);
        EXPECT_EQ(result, c.result) << std::hex << c.format << std::dec << " " << c.cols;
        pnm_check(f, 7, c.format, c.cols, c.rows, c.maxval, &result);
        EXPECT_EQ(result, PM_CHECK_UNKNOWN_TYPE);
    }
    EXPECT_FATAL(pnm_check(f, PM_CHECK_BASIC, RAW_PGM, 7, 2, 255, nullptr),
                 "The raster should contain 14 bytes, but\nthe file ends after only 12 bytes\\.");
    EXPECT_FATAL(pnm_check(f, PM_CHECK_BASIC, 0, 1, 1, 1, nullptr),
                 "pnm_check\\(\\) called with invalid format parameter");
    for (const auto& [format, name] :
         {std::pair{RAW_PBM, "pbm"}, std::pair{RAW_PGM, "pgm"}, std::pair{RAW_PPM, "ppm"}}) {
        const std::string fn = std::string(name) + "_check\\(\\): ";
        EXPECT_FATAL(pnm_check(f, PM_CHECK_BASIC, format, -1, -2, 1, nullptr),
                     "Invalid number of rows passed to " + fn + "-2");
        EXPECT_FATAL(pnm_check(f, PM_CHECK_BASIC, format, -1, 2, 1, nullptr),
                     "Invalid number of columns passed to " + fn + "-1");
    }
}

namespace {
struct Promotion {
    int format;
    pixval maxval;
    int newformat;
    pixval newmaxval;
    std::vector<Rgb3> before, after;
};

std::vector<Rgb3> promoted(const Promotion& p) {
    std::vector<xel> row;
    for (const Rgb3& v : p.before) row.push_back(xel{v[0], v[1], v[2]});
    pnm_promoteformatrow(row.data(), int(row.size()), p.maxval, p.format, p.newmaxval, p.newformat);
    return rgb3Row(row.data(), int(row.size()));
}
} // namespace

TEST(Promotion, EveryAllowedDirection) {
    const Promotion table[] = {
        // Bitmap: nonzero is white, the old maxval plays no part.
        {RAW_PBM, 1, PLAIN_PPM, 1, {{0, 0, 1}, {0, 0, 0}}, {{1, 1, 1}, {0, 0, 0}}},
        {PLAIN_PBM, 1, RAW_PGM, 255, {{0, 0, 1}, {0, 0, 0}}, {{0, 0, 255}, {0, 0, 0}}},
        {PLAIN_PBM, 7, PLAIN_PGM, 5, {{0, 0, 3}}, {{0, 0, 5}}},
        {PLAIN_PBM, 1, RAW_PBM, 255, {{4, 5, 1}}, {{4, 5, 1}}}, // bitmap to bitmap: unchanged
        // Graymap to pixmap: copied, or scaled with truncation.
        {PLAIN_PGM, 255, PLAIN_PPM, 255, {{0, 0, 7}}, {{7, 7, 7}}},
        {RAW_PGM, 3, RAW_PPM, 4, {{0, 0, 2}}, {{2, 2, 2}}},
        // Same family, larger maxval: gray truncates, colour rounds.
        {PLAIN_PGM, 255, PLAIN_PGM, 65535, {{9, 9, 1}, {0, 0, 255}}, {{0, 0, 257}, {0, 0, 65535}}},
        {PLAIN_PGM, 3, RAW_PGM, 4, {{0, 0, 2}}, {{0, 0, 2}}},
        {PLAIN_PPM, 3, RAW_PPM, 4, {{2, 1, 3}}, {{3, 1, 4}}},
        {PLAIN_PPM, 255, PLAIN_PPM, 65535, {{255, 1, 0}}, {{65535, 257, 0}}},
        {PLAIN_PGM, 9, PLAIN_PGM, 9, {{5, 6, 7}}, {{5, 6, 7}}}, // equal maxvals: unchanged
        {0, 9, 0x5037, 9, {{5, 6, 7}}, {{5, 6, 7}}},            // even for unknown codes
    };
    for (const Promotion& p : table)
        EXPECT_EQ(promoted(p), p.after) << p.format << " " << p.newformat;

    xel rows[2][1] = {{gx(1)}, {gx(0)}};
    xel* index[2] = {rows[0], rows[1]};
    pnm_promoteformat(index, 1, 2, 1, PLAIN_PBM, 255, PLAIN_PPM);
    EXPECT_EQ(xstr(rows[0][0]) + " " + xstr(rows[1][0]), "255/255/255 0");
}

TEST(Promotion, Refusals) {
    const char* down = "pnm_promoteformatrow: can't promote downwards!";
    const char* decrease = "pnm_promoteformatrow: can't decrease maxval - try using tonefit";
    const char* badOld = "Invalid old format passed to pnm_promoteformatrow\\(\\)";
    const char* badNew = "Invalid new format passed to pnm_promoteformatrow\\(\\)";
    const std::pair<Promotion, const char*> table[] = {
        {{PLAIN_PPM, 255, PLAIN_PGM, 255, {}, {}}, down},
        {{RAW_PPM, 255, RAW_PBM, 255, {}, {}}, down},
        {{PLAIN_PGM, 255, PLAIN_PBM, 255, {}, {}}, down},
        {{PLAIN_PGM, 255, PLAIN_PGM, 254, {}, {}}, decrease},
        {{PLAIN_PPM, 255, RAW_PPM, 100, {}, {}}, decrease},
        {{PLAIN_PGM, 255, PLAIN_PPM, 100, {}, {}}, decrease},
        {{0, 255, 0, 256, {}, {}}, badOld}, // unknown to unknown counts as the same family
        {{0, 255, 0, 100, {}, {}}, decrease},
        {{0, 1, PLAIN_PPM, 1, {}, {}}, badOld},
        {{PLAIN_PBM, 1, 0, 1, {}, {}}, badNew},
        {{PLAIN_PGM, 1, 0, 1, {}, {}}, badNew},
        {{PLAIN_PPM, 1, 0, 1, {}, {}}, badNew},
    };
    for (const auto& [p, message] : table) EXPECT_FATAL(promoted(p), message);
}

TEST(Background, CornerRulesInOrderAndRowEnds) {
    // Corners upper left, upper right, lower left, lower right of a 2 by 2 image.
    const auto corners = [](xel ul, xel ur, xel ll, xel lr, int format) {
        xel top[2] = {ul, ur}, bottom[2] = {ll, lr};
        xel* index[2] = {top, bottom};
        return xstr(pnm_backgroundxel(index, 2, 2, 255, format));
    };
    EXPECT_EQ(corners(gx(10), gx(20), gx(30), gx(40), PLAIN_PGM), "25");
    EXPECT_EQ(corners(gx(10), gx(20), gx(10), gx(40), PLAIN_PGM), "10");
    EXPECT_EQ(corners(gx(10), gx(20), gx(20), gx(20), RAW_PGM), "20");
    EXPECT_EQ(corners(gx(10), gx(20), gx(30), gx(20), RAW_PGM), "20");
    EXPECT_EQ(corners(gx(10), gx(20), gx(30), gx(30), RAW_PGM), "30");
    // Two pairs: the pair with the upper left wins.
    EXPECT_EQ(corners(gx(5), gx(6), gx(6), gx(5), RAW_PGM), "5");
    EXPECT_EQ(corners(gx(5), gx(5), gx(6), gx(6), RAW_PGM), "5");
    EXPECT_EQ(corners(xel{1, 2, 3}, xel{5, 6, 7}, xel{9, 10, 11}, xel{13, 14, 16}, PLAIN_PPM),
              "7/8/9");
    EXPECT_FATAL(corners(gx(0), gx(1), gx(2), gx(3), PLAIN_PBM),
                 "pnm_backgroundxel: four bits no two of which equal each other\\?\\?");
    EXPECT_FATAL(corners(gx(0), gx(1), gx(2), gx(3), 0),
                 "Invalid format passed to pnm_backgroundxel\\(\\)");

    xel equalEnds[3] = {gx(4), gx(9), gx(4)}, grays[2] = {gx(4), gx(9)};
    xel colours[2] = {xel{1, 2, 3}, xel{4, 4, 4}};
    EXPECT_EQ(xstr(pnm_backgroundxelrow(equalEnds, 3, 255, PLAIN_PGM)), "4");
    EXPECT_EQ(xstr(pnm_backgroundxelrow(grays, 2, 255, PLAIN_PGM)), "6");
    EXPECT_EQ(xstr(pnm_backgroundxelrow(colours, 2, 255, PLAIN_PPM)), "2/3/3");
    // Bitmap: white unless at least cols / 2 pixels are black.
    xel oneBlack[4] = {gx(0), gx(1), gx(1), gx(1)}, twoBlack[4] = {gx(0), gx(0), gx(1), gx(1)};
    EXPECT_EQ(xstr(pnm_backgroundxelrow(oneBlack, 4, 1, PLAIN_PBM)), "1");
    EXPECT_EQ(xstr(pnm_backgroundxelrow(twoBlack, 4, 1, PLAIN_PBM)), "0");
    EXPECT_FATAL(pnm_backgroundxelrow(grays, 2, 255, 0),
                 "Invalid format passed to pnm_backgroundxelrow\\(\\)");
}

TEST(XelHelpers, WhiteBlackInverseAndPixel) {
    EXPECT_EQ(xstr(pnm_whitexel(9, RAW_PPM)), "9/9/9");
    EXPECT_EQ(xstr(pnm_whitexel(9, RAW_PGM)), "9");
    EXPECT_EQ(xstr(pnm_whitexel(1, PLAIN_PBM)), "1");
    EXPECT_EQ(xstr(pnm_blackxel(9, PLAIN_PPM)), "0");
    EXPECT_FATAL(pnm_whitexel(9, 0), "Invalid format passed to pnm_whitexel");
    EXPECT_FATAL(pnm_blackxel(9, 12345), "Invalid format passed to pnm_blackxel\\(\\): 12345");

    const struct {
        int format;
        xel in;
        const char* out;
    } inversions[] = {{PLAIN_PPM, xel{1, 2, 9}, "8/7/0"},
                      {RAW_PGM, xel{5, 5, 2}, "7"},
                      {PLAIN_PBM, xel{0, 0, 3}, "0"},
                      {RAW_PBM, xel{0, 0, 0}, "9"}};
    for (auto c : inversions) {
        pnm_invertxel(&c.in, 9, c.format);
        EXPECT_EQ(xstr(c.in), c.out) << c.format;
    }
    xel x = gx(1);
    EXPECT_FATAL(pnm_invertxel(&x, 9, 0), "Invalid format passed to pnm_invertxel");
    EXPECT_EQ(xstr(xeltopixel(xel{0, 0, 9})), "9/9/9");
    EXPECT_EQ(xstr(xeltopixel(xel{5, 6, 9})), "9/9/9");
}
