// The anymap reader, promotion and the xel helpers.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "anymaptest.h"

using ::testing::ExitedWithCode;

TEST(AnymapReader, EachFamilyAsXels) {
    const PnmRead bitmap = readAnymap("P1 2 1 1 0 ");
    EXPECT_EQ(bitmap.maxval, 1u);
    EXPECT_EQ(bitmap.format, PLAIN_PBM);
    EXPECT_EQ(bitmap.xels, (std::vector<Rgb3>{{0, 0, 0}, {0, 0, 1}}));
    // Raw bitmap: 10 columns, padding bits set, second row must start on its own byte.
    EXPECT_EQ(readAnymap(std::string("P4 10 2\n\x80\xff\x00\x40", 12)).xels,
              (std::vector<Rgb3>{{0, 0, 0}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1},
                                 {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 0}, {0, 0, 0},
                                 {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1},
                                 {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 0}}));
    EXPECT_EQ(readAnymap("P2 1 1 255 7 ").xels, (std::vector<Rgb3>{{0, 0, 7}}));
    EXPECT_EQ(readAnymap(std::string("P5 2 1 65535\n\x01\x02\xff\xff", 17)).xels,
              (std::vector<Rgb3>{{0, 0, 258}, {0, 0, 65535}}));
    EXPECT_EQ(readAnymap("P3 1 1 255 1 2 3 ").xels, (std::vector<Rgb3>{{1, 2, 3}}));
    EXPECT_EQ(readAnymap("P6 1 1 255\n123").xels, (std::vector<Rgb3>{{'1', '2', '3'}}));
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
    for (const auto& [image, message] : table) {
        SCOPED_TRACE(message);
        EXPECT_EXIT(readAnymap(image), ExitedWithCode(1), message);
    }
    xel row[1];
    FILE* f = tmpFileWith("1 ");
    EXPECT_EXIT(pnm_readpnmrow(f, row, 1, 1, 0x5037), ExitedWithCode(1), "can't happen");
    std::fclose(f);
}

TEST(AnymapReader, RereadsFromTheRecordedPositionWithRowsOfOtherSizesBetween) {
    // The readers' reused buffers must not carry anything from one image into another.
    FILE* wide = tmpFileWith(std::string("P5 6 1 65535\n") + std::string(12, '\x11'));
    FILE* narrow = tmpFileWith(std::string("P6 1 1 255\n\x01\x02\x03", 14));
    int cols, rows, format, ncols, nrows, nformat;
    pixval maxval, nmaxval;
    pnm_readpnminit(wide, &cols, &rows, &maxval, &format);
    pnm_readpnminit(narrow, &ncols, &nrows, &nmaxval, &nformat);
    int32_t widePos, narrowPos;
    pm_tell2(wide, &widePos, sizeof widePos);
    pm_tell2(narrow, &narrowPos, sizeof narrowPos);
    xel row[6];
    for (int pass = 0; pass < 2; ++pass) {
        pm_seek2(narrow, &narrowPos, sizeof narrowPos);
        pnm_readpnmrow(narrow, row, ncols, nmaxval, nformat);
        EXPECT_EQ(rgb3(row[0]), (Rgb3{1, 2, 3}));
        pm_seek2(wide, &widePos, sizeof widePos);
        pnm_readpnmrow(wide, row, cols, maxval, format);
        EXPECT_EQ(rgb3Row(row, 6), std::vector<Rgb3>(6, Rgb3{0, 0, 0x1111}));
    }
    std::fclose(wide);
    std::fclose(narrow);
}

TEST(RasterCheck, RawSizesAgainstTheBytesLeft) {
    struct Case {
        int format, cols, rows;
        pixval maxval;
        int result;
    };
    const Case table[] = {
        {RAW_PBM, 17, 4, 1, PM_CHECK_OK},           {RAW_PBM, 16, 4, 1, PM_CHECK_TOO_LONG},
        {RAW_PGM, 6, 2, 255, PM_CHECK_OK},          {RAW_PGM, 3, 2, 256, PM_CHECK_OK},
        {RAW_PPM, 2, 2, 255, PM_CHECK_OK},          {RAW_PPM, 1, 2, 65535, PM_CHECK_OK},
        {RAW_PPM, 1, 1, 255, PM_CHECK_TOO_LONG},    {PLAIN_PBM, 1, 1, 1, PM_CHECK_UNCHECKABLE},
        {PLAIN_PGM, 1, 1, 1, PM_CHECK_UNCHECKABLE}, {PLAIN_PPM, 1, 1, 1, PM_CHECK_UNCHECKABLE},
    };
    FILE* f = tmpFileWith("abcdefghijkl"); // 12 bytes
    for (const Case& c : table) {
        int result = -1;
        pnm_check(f, PM_CHECK_BASIC, c.format, c.cols, c.rows, c.maxval, &result);
        EXPECT_EQ(result, c.result) << std::hex << c.format << std::dec << " " << c.cols;
        pnm_check(f, 7, c.format, c.cols, c.rows, c.maxval, &result);
        EXPECT_EQ(result, PM_CHECK_UNKNOWN_TYPE);
    }
    EXPECT_EXIT(pnm_check(f, PM_CHECK_BASIC, RAW_PGM, 7, 2, 255, nullptr), ExitedWithCode(1),
                "The raster should contain 14 bytes, but\nthe file ends after only 12 bytes\\.");
    EXPECT_EXIT(pnm_check(f, PM_CHECK_BASIC, 0, 1, 1, 1, nullptr), ExitedWithCode(1),
                "pnm_check\\(\\) called with invalid format parameter");
    for (const char* name : {"pbm", "pgm", "ppm"}) {
        const int format = name[1] == 'b' ? RAW_PBM : name[1] == 'g' ? RAW_PGM : RAW_PPM;
        const std::string fn = std::string(name) + "_check\\(\\): ";
        EXPECT_EXIT(pnm_check(f, PM_CHECK_BASIC, format, -1, -2, 1, nullptr), ExitedWithCode(1),
                    "Invalid number of rows passed to " + fn + "-2");
        EXPECT_EXIT(pnm_check(f, PM_CHECK_BASIC, format, -1, 2, 1, nullptr), ExitedWithCode(1),
                    "Invalid number of columns passed to " + fn + "-1");
    }
    std::fclose(f);
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
    for (const Promotion& p : table) {
        SCOPED_TRACE(testing::Message() << std::hex << p.format << "->" << p.newformat);
        EXPECT_EQ(promoted(p), p.after);
    }
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
    for (const auto& [p, message] : table) {
        SCOPED_TRACE(message);
        EXPECT_EXIT(promoted(p), ExitedWithCode(1), message);
    }
}

TEST(Promotion, WholeImage) {
    xel rows[2][1] = {{{0, 0, 1}}, {{0, 0, 0}}};
    xel* index[2] = {rows[0], rows[1]};
    pnm_promoteformat(index, 1, 2, 1, PLAIN_PBM, 255, PLAIN_PPM);
    EXPECT_EQ(rgb3(rows[0][0]), (Rgb3{255, 255, 255}));
    EXPECT_EQ(rgb3(rows[1][0]), (Rgb3{0, 0, 0}));
}

namespace {
xel gx(unsigned v) { return xel{0, 0, v}; }

// Corners upper left, upper right, lower left, lower right of a 2 by 2 image.
Rgb3 background(xel ul, xel ur, xel ll, xel lr, int format) {
    xel top[2] = {ul, ur}, bottom[2] = {ll, lr};
    xel* index[2] = {top, bottom};
    return rgb3(pnm_backgroundxel(index, 2, 2, 255, format));
}
} // namespace

TEST(Background, CornerRulesInOrder) {
    EXPECT_EQ(background(gx(10), gx(20), gx(30), gx(40), PLAIN_PGM), (Rgb3{0, 0, 25}));
    EXPECT_EQ(background(gx(10), gx(20), gx(10), gx(40), PLAIN_PGM), (Rgb3{0, 0, 10}));
    EXPECT_EQ(background(gx(10), gx(20), gx(20), gx(20), RAW_PGM), (Rgb3{0, 0, 20}));
    EXPECT_EQ(background(gx(10), gx(20), gx(30), gx(20), RAW_PGM), (Rgb3{0, 0, 20}));
    EXPECT_EQ(background(gx(10), gx(20), gx(30), gx(30), RAW_PGM), (Rgb3{0, 0, 30}));
    // Two pairs: the pair with the upper left wins.
    EXPECT_EQ(background(gx(5), gx(6), gx(6), gx(5), RAW_PGM), (Rgb3{0, 0, 5}));
    EXPECT_EQ(background(gx(5), gx(5), gx(6), gx(6), RAW_PGM), (Rgb3{0, 0, 5}));
    EXPECT_EQ(background(xel{1, 2, 3}, xel{5, 6, 7}, xel{9, 10, 11}, xel{13, 14, 16}, PLAIN_PPM),
              (Rgb3{7, 8, 9}));
    EXPECT_EXIT(background(gx(0), gx(1), gx(2), gx(3), PLAIN_PBM), ExitedWithCode(1),
                "pnm_backgroundxel: four bits no two of which equal each other\\?\\?");
    EXPECT_EXIT(background(gx(0), gx(1), gx(2), gx(3), 0), ExitedWithCode(1),
                "Invalid format passed to pnm_backgroundxel\\(\\)");
}

TEST(Background, RowEnds) {
    xel equalEnds[3] = {gx(4), gx(9), gx(4)};
    EXPECT_EQ(rgb3(pnm_backgroundxelrow(equalEnds, 3, 255, PLAIN_PGM)), (Rgb3{0, 0, 4}));
    xel grays[2] = {gx(4), gx(9)};
    EXPECT_EQ(rgb3(pnm_backgroundxelrow(grays, 2, 255, PLAIN_PGM)), (Rgb3{0, 0, 6}));
    xel colours[2] = {xel{1, 2, 3}, xel{4, 4, 4}};
    EXPECT_EQ(rgb3(pnm_backgroundxelrow(colours, 2, 255, PLAIN_PPM)), (Rgb3{2, 3, 3}));
    // Bitmap: white unless at least cols / 2 pixels are black.
    xel oneBlack[4] = {gx(0), gx(1), gx(1), gx(1)};
    EXPECT_EQ(rgb3(pnm_backgroundxelrow(oneBlack, 4, 1, PLAIN_PBM)), (Rgb3{0, 0, 1}));
    xel twoBlack[4] = {gx(0), gx(0), gx(1), gx(1)};
    EXPECT_EQ(rgb3(pnm_backgroundxelrow(twoBlack, 4, 1, PLAIN_PBM)), (Rgb3{0, 0, 0}));
    EXPECT_EXIT(pnm_backgroundxelrow(grays, 2, 255, 0), ExitedWithCode(1),
                "Invalid format passed to pnm_backgroundxelrow\\(\\)");
}

TEST(XelHelpers, WhiteBlackInverseAndPixel) {
    EXPECT_EQ(rgb3(pnm_whitexel(9, RAW_PPM)), (Rgb3{9, 9, 9}));
    EXPECT_EQ(rgb3(pnm_whitexel(9, RAW_PGM)), (Rgb3{0, 0, 9}));
    EXPECT_EQ(rgb3(pnm_whitexel(1, PLAIN_PBM)), (Rgb3{0, 0, 1}));
    EXPECT_EQ(rgb3(pnm_blackxel(9, PLAIN_PPM)), (Rgb3{0, 0, 0}));
    EXPECT_EXIT(pnm_whitexel(9, 0), ExitedWithCode(1), "Invalid format passed to pnm_whitexel");
    EXPECT_EXIT(pnm_blackxel(9, 12345), ExitedWithCode(1),
                "Invalid format passed to pnm_blackxel\\(\\): 12345");

    const std::pair<int, std::pair<Rgb3, Rgb3>> inversions[] = {
        {PLAIN_PPM, {{1, 2, 9}, {8, 7, 0}}},
        {RAW_PGM, {{5, 5, 2}, {0, 0, 7}}},
        {PLAIN_PBM, {{0, 0, 3}, {0, 0, 0}}},
        {RAW_PBM, {{0, 0, 0}, {0, 0, 9}}},
    };
    for (const auto& [format, io] : inversions) {
        xel x{io.first[0], io.first[1], io.first[2]};
        pnm_invertxel(&x, 9, format);
        EXPECT_EQ(rgb3(x), io.second) << std::hex << format;
    }
    xel x = gx(1);
    EXPECT_EXIT(pnm_invertxel(&x, 9, 0), ExitedWithCode(1),
                "Invalid format passed to pnm_invertxel");

    EXPECT_EQ(rgb3(xeltopixel(xel{0, 0, 9})), (Rgb3{9, 9, 9}));
    EXPECT_EQ(rgb3(xeltopixel(xel{5, 6, 9})), (Rgb3{9, 9, 9}));
}
