// Library behaviour the converter never calls: the writers, promotion in every direction, the xel
// helpers, byte order, raster checks, file positions and packed bitmap rows.
#include "unit.h"

namespace {
// An image written by the library and read back whole by the anymap reader.
std::string roundTrip(const std::string& bytes, int* formatP = nullptr) {
    FILE* f = tmpFileWith(bytes);
    int cols, rows, format;
    pixval maxval;
    xel** xels = pnm_readpnm(f, &cols, &rows, &maxval, &format);
    std::string s = std::to_string(maxval) + ":";
    for (int r = 0; r < rows; ++r) s += " " + str(xels[r], size_t(cols));
    pm_freearray(reinterpret_cast<char**>(xels), rows);
    std::fclose(f);
    if (formatP) *formatP = format;
    return s;
}
} // namespace

TEST(Writers, HeadersRawWidthsAndPlainLines) {
    pixel row[7];
    gray grays[18];
    for (unsigned i = 0; i < 18; ++i)
        grays[i] = i * 1000, row[i % 7] = pixel{i % 7, 10 * (i % 7), 100 * (i % 7)};
    EXPECT_EQ(written([&](FILE* f) { ppm_writeppm(f, nullptr, 3, 0, 255, 0); }), "P6\n3 0\n255\n");
    EXPECT_EQ(written([&](FILE* f) { pgm_writepgminit(f, 2, 1, 70000, 1); }), "P2\n2 1\n70000\n");
    EXPECT_EQ(written([&](FILE* f) { ppm_writeppmrow(f, row + 2, 1, 256, 0); }),
              std::string("\0\x02\0\x14\0\xc8", 6));
    EXPECT_EQ(written([&](FILE* f) { pgm_writepgmrow(f, grays + 1, 1, 70000, 0); }), "1000\n");
    // Plain lines hold six pixels or seventeen samples.
    EXPECT_EQ(written([&](FILE* f) { ppm_writeppmrow(f, row, 7, 700, 1); }),
              "0 0 0  1 10 100  2 20 200  3 30 300  4 40 400  5 50 500\n6 60 600\n");
    EXPECT_EQ(written([&](FILE* f) { pgm_writepgmrow(f, grays, 18, 65535, 1); }),
              "0 1000 2000 3000 4000 5000 6000 7000 8000 9000 10000 11000 12000 13000 14000 15000 "
              "16000\n17000\n");
    EXPECT_FATAL(ppm_writeppminit(stdout, 1, 1, 65536, 0),
                 "too-large maxval passed to ppm_writeppminit\\(\\): 65536");
    FILE* readOnly = std::fopen("/dev/null", "r");
    EXPECT_FATAL(pgm_writerawsample(readOnly, 1, 256), "Error writing double byte sample to file");
    std::fclose(readOnly);
}

TEST(Writers, WhatTheyWriteTheReadersReadBack) {
    for (const auto& [plain, maxval] :
         {std::pair{0, 1u}, {0, 255u}, {0, 256u}, {0, 65535u}, {1, 255u}, {1, 65535u}}) {
        pixel pixels[27];
        gray grays[27];
        std::string wantColour = std::to_string(maxval) + ":", wantGray = wantColour;
        for (unsigned i = 0; i < 27; ++i) {
            pixels[i] = pixel{(i * 37) % (maxval + 1), (i * 11 + 1) % (maxval + 1),
                              maxval - i % (maxval + 1)};
            grays[i] = (i * 4099) % (maxval + 1);
            wantColour += " " + str(pixels + i, 1);
            wantGray += " " + std::to_string(grays[i]);
        }
        pixel* pixelRows[] = {pixels, pixels + 9, pixels + 18};
        gray* grayRows[] = {grays, grays + 9, grays + 18};
        int format;
        EXPECT_EQ(
            roundTrip(written([&](FILE* f) { ppm_writeppm(f, pixelRows, 9, 3, maxval, plain); }),
                      &format),
            wantColour);
        EXPECT_EQ(format, plain ? PLAIN_PPM : RAW_PPM);
        EXPECT_EQ(
            roundTrip(written([&](FILE* f) { pgm_writepgm(f, grayRows, 9, 3, maxval, plain); }),
                      &format),
            wantGray);
        EXPECT_EQ(format, plain ? PLAIN_PGM : RAW_PGM);
    }
}

TEST(Promotion, GrayTruncatesColourRoundsBitmapsBecomeFullScale) {
    const struct {
        int format;
        pixval maxval;
        int newformat;
        pixval newmaxval;
        pixel in;
        const char* out;
    } table[] = {
        {PLAIN_PBM, 1, PLAIN_PPM, 9, {0, 0, 1}, "9.9.9"},
        {RAW_PBM, 7, RAW_PGM, 5, {0, 0, 3}, "5"},
        {PLAIN_PGM, 100, PLAIN_PPM, 255, {0, 0, 1}, "2.2.2"},
        {PLAIN_PGM, 100, RAW_PGM, 255, {0, 0, 99}, "252"},
        {PLAIN_PGM, 255, PLAIN_PPM, 255, {0, 0, 7}, "7.7.7"},
        {PLAIN_PPM, 100, RAW_PPM, 255, {1, 99, 2}, "3.252.5"},
        {PLAIN_PPM, 9, PLAIN_PPM, 9, {5, 6, 7}, "5.6.7"},
    };
    for (auto c : table) {
        pnm_promoteformatrow(&c.in, 1, c.maxval, c.format, c.newmaxval, c.newformat);
        EXPECT_EQ(str(&c.in, 1), c.out);
    }
    xel x{1, 2, 3};
    EXPECT_FATAL(pnm_promoteformatrow(&x, 1, 255, PLAIN_PPM, 255, PLAIN_PGM),
                 "can't promote downwards!");
    EXPECT_FATAL(pnm_promoteformatrow(&x, 1, 255, PLAIN_PGM, 254, PLAIN_PPM),
                 "can't decrease maxval - try using tonefit");
}

TEST(XelHelpers, BackgroundCornersWhiteBlackAndInverse) {
    const auto corners = [](std::array<pixval, 4> v, int format) {
        xel top[2] = {{0, 0, v[0]}, {0, 0, v[1]}}, bottom[2] = {{0, 0, v[2]}, {0, 0, v[3]}};
        xel* rows[2] = {top, bottom};
        const xel x = pnm_backgroundxel(rows, 2, 2, 255, format);
        return x.b;
    };
    // Three equal corners, two pairs (the upper left's wins), one pair, or the mean.
    EXPECT_EQ(corners({10, 20, 20, 20}, RAW_PGM), 20u);
    EXPECT_EQ(corners({5, 6, 6, 5}, RAW_PGM), 5u);
    EXPECT_EQ(corners({10, 20, 30, 30}, RAW_PGM), 30u);
    EXPECT_EQ(corners({10, 20, 30, 40}, PLAIN_PGM), 25u);
    xel row[4] = {{0, 0, 0}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    EXPECT_EQ(pnm_backgroundxelrow(row, 4, 1, PLAIN_PBM).b, 1u); // white unless half are black
    xel inverted = pnm_whitexel(9, RAW_PPM);
    pnm_invertxel(&inverted, 9, RAW_PPM);
    EXPECT_EQ(str(&inverted, 1), "0");
    xel level{0, 0, 2};
    pnm_invertxel(&level, 9, RAW_PGM);
    const pixel promoted = xeltopixel(level);
    EXPECT_EQ(str(&level, 1) + " " + str(&promoted, 1), "7 7.7.7");
}

TEST(ByteOrder, ShortsAndLongsBothWays) {
    const std::string bytes = written([](FILE* f) {
        pm_writebigshort(f, 0x1234);
        pm_writelittleshort(f, 0x1234);
        pm_writebiglong(f, 0x12345678);
        pm_writelittlelong(f, -2);
    });
    EXPECT_EQ(bytes, std::string("\x12\x34\x34\x12\x12\x34\x56\x78\xfe\xff\xff\xff", 12));
    FILE* f = tmpFileWith(bytes + "\x01");
    short s1, s2;
    long l1, l2;
    EXPECT_EQ(pm_readbigshort(f, &s1), 0);
    EXPECT_EQ(pm_readlittleshort(f, &s2), 0);
    EXPECT_EQ(pm_readbiglong(f, &l1), 0);
    EXPECT_EQ(pm_readlittlelong(f, &l2), 0);
    EXPECT_EQ(std::to_string(s1) + " " + std::to_string(s2) + " " + std::to_string(l1) + " " +
                  std::to_string(l2),
              "4660 4660 305419896 -2");
    EXPECT_EQ(pm_readbigshort(f, &s1), -1);
    std::fclose(f);
}

TEST(Files, RasterChecksPositionsAndWholeStreams) {
    FILE* f = tmpFileWith("P5\n2 2\n255\nabcde");
    int cols, rows, format, result;
    gray maxval;
    pgm_readpgminit(f, &cols, &rows, &maxval, &format);
    pgm_check(f, PM_CHECK_BASIC, format, cols, rows, maxval, &result);
    EXPECT_EQ(result, PM_CHECK_TOO_LONG);
    EXPECT_FATAL(pm_check(f, PM_CHECK_BASIC, 6, nullptr),
                 "The raster should contain 6 bytes, but\nthe file ends after only 5 bytes");
    long long position;
    pm_tell2(f, &position, sizeof position);
    EXPECT_EQ(pm_tell(f), 11);
    std::fseek(f, 0, SEEK_END);
    pm_seek2(f, &position, sizeof position);
    EXPECT_EQ(std::fgetc(f), 'a');
    EXPECT_FATAL(
        pm_tell2(f, &position, 2),
        "File position size passed to pm_tell\\(\\) is invalid: 2.  Valid sizes are 4 and 8");
    std::fclose(f);
    f = tmpFileWith(std::string(40000, 'x') + "  \n\tP");
    long n;
    char* all = pm_read_unknown_size(f, &n);
    EXPECT_EQ(std::string(all, size_t(n)), std::string(40000, 'x') + "  \n\tP");
    std::free(all);
    int eof;
    std::fseek(f, 40000, SEEK_SET);
    pm_nextimage(f, &eof);
    EXPECT_EQ(eof * 1000 + std::fgetc(f), 'P');
    std::fclose(f);
    unsigned char packed[2] = {0, 0}; // plain bits into a row of bytes, first bit highest
    f = tmpFileWith("1 0 0 1 0 0 0 0 1 1");
    pbm_readpbmrow_packed(f, packed, 10, PLAIN_PBM);
    EXPECT_EQ(packed[0] << 8 | packed[1], 0x90c0);
    std::fclose(f);
}

TEST(Sizes, ProductsThatOverflowAllocateNothing) {
    void* p = &p;
    mallocProduct(&p, size_t(1) << 63, 2);
    EXPECT_EQ(p, nullptr);
    mallocProduct(&p, 0, 8); // a size of 0 is still a block
    EXPECT_NE(p, nullptr);
    std::free(p);
    EXPECT_EQ(pm_lcm(4, 6, 10, 1000) * 10000 + pm_lcm(7, 11, 13, 1000), 601000u);
    EXPECT_EQ(pm_bitstomaxval(16) + pm_bitstomaxval(0), 65535);
    EXPECT_STREQ(pm_arg0toprogname("/usr/bin/gridpack.exe"), "gridpack");
}
