// PGM and PPM writers: headers, raw sample widths, plain line wrapping, errors, and a round trip
// through the readers.
#include <string>
#include <vector>

#include "unitutil.h"

namespace {
class Writers : public ::testing::Test {
protected:
    void TearDown() override { pm_plain_output = 0; }
};
} // namespace

TEST_F(Writers, HeadersSampleWidthsAndPlainLines) {
    const pixel row[3] = {{1, 2, 3}, {4, 5, 6}, {255, 0, 7}};
    const gray grays[2] = {258, 7};
    const std::pair<std::string, std::string> cases[] = {
        {writtenBy([&](FILE* f) { ppm_writeppminit(f, 3, 2, 255, 0); }), "P6\n3 2\n255\n"},
        {writtenBy([&](FILE* f) { ppm_writeppmrow(f, row, 1, 255, 0); }), "\x01\x02\x03"},
        {writtenBy([&](FILE* f) { ppm_writeppmrow(f, row + 2, 1, 256, 0); }),
         std::string("\x00\xff\x00\x00\x00\x07", 6)},
        {writtenBy([&](FILE* f) { pgm_writepgm(f, nullptr, 2, 0, 65535, 0); }), "P5\n2 0\n65535\n"},
        {writtenBy([&](FILE* f) { pgm_writepgmrow(f, grays, 2, 300, 0); }),
         std::string("\x01\x02\x00\x07", 4)},
        // Forced plain above 65535: the header is written and rows go plain by themselves.
        {writtenBy([&](FILE* f) {
             pgm_writepgminit(f, 1, 1, 70000, 1);
             pgm_writepgmrow(f, grays, 1, 70000, 0);
         }),
         "P2\n1 1\n70000\n258\n"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);

    // Plain lines hold six pixels or seventeen samples.
    std::vector<pixel> pixels;
    std::vector<gray> samples;
    for (unsigned i = 0; i < 18; ++i) {
        pixels.push_back(pixel{i, 10 * i, 100 * i});
        samples.push_back(i * 1000);
    }
    pm_plain_output = 1;
    EXPECT_EQ(writtenBy([&](FILE* f) { ppm_writeppm(f, nullptr, 7, 0, 700, 0); }),
              "P3\n7 0\n700\n");
    EXPECT_EQ(writtenBy([&](FILE* f) { ppm_writeppmrow(f, pixels.data(), 7, 700, 0); }),
              "0 0 0  1 10 100  2 20 200  3 30 300  4 40 400  5 50 500\n6 60 600\n");
    pm_plain_output = 0;
    EXPECT_EQ(writtenBy([&](FILE* f) { pgm_writepgmrow(f, samples.data(), 18, 65535, 1); }),
              "0 1000 2000 3000 4000 5000 6000 7000 8000 9000 10000 11000 12000 13000 14000 "
              "15000 16000\n17000\n");
    EXPECT_EQ(writtenBy([&](FILE* f) { pgm_writepgmrow(f, samples.data(), 0, 255, 1); }), "");
}

TEST_F(Writers, Errors) {
    EXPECT_FATAL(ppm_writeppminit(stdout, 1, 1, 65536, 0),
                 "too-large maxval passed to ppm_writeppminit\\(\\): 65536\\.Maximum allowed by "
                 "the PPM format is 65535\\.");
    EXPECT_FATAL(pgm_writepgminit(stdout, 1, 1, 65536, 0),
                 "too-large maxval passed to ppm_writepgminit\\(\\): 65536\\.\nMaximum allowed "
                 "by the PGM format is 65535\\.");
    FILE* readOnly = std::fopen("/dev/null", "r");
    EXPECT_FATAL(pgm_writerawsample(readOnly, 1, 255), "Error writing single byte sample to file");
    EXPECT_FATAL(pgm_writerawsample(readOnly, 1, 256), "Error writing double byte sample to file");
    std::fclose(readOnly);
}

TEST_F(Writers, RoundTripThroughTheReaders) {
    for (const auto& [forceplain, maxval] :
         {std::pair{0, 1u}, {0, 255u}, {0, 256u}, {0, 65535u}, {1, 255u}, {1, 65535u}}) {
        // 9 columns by 3 rows: more than one plain line per row, every sample different.
        std::vector<pixel> pixels;
        std::vector<gray> grays;
        std::vector<Rgb3> grayXels;
        for (unsigned i = 0; i < 27; ++i) {
            pixels.push_back(pixel{(i * 37) % (maxval + 1), (i * 11 + 1) % (maxval + 1),
                                   maxval - i % (maxval + 1)});
            grays.push_back((i * 4099) % (maxval + 1));
            grayXels.push_back({0, 0, grays.back()});
        }
        std::vector<pixel*> pixelRows = {&pixels[0], &pixels[9], &pixels[18]};
        std::vector<gray*> grayRows = {&grays[0], &grays[9], &grays[18]};
        const PnmRead ppm = readAnymap(writtenBy(
            [&](FILE* f) { ppm_writeppm(f, pixelRows.data(), 9, 3, maxval, forceplain); }));
        EXPECT_EQ(ppm.format, forceplain ? PLAIN_PPM : RAW_PPM);
        EXPECT_EQ(ppm.maxval, maxval);
        EXPECT_EQ(ppm.xels, rgb3Row(pixels.data(), 27));
        const PnmRead pgm = readAnymap(writtenBy(
            [&](FILE* f) { pgm_writepgm(f, grayRows.data(), 9, 3, maxval, forceplain); }));
        EXPECT_EQ(pgm.format, forceplain ? PLAIN_PGM : RAW_PGM);
        EXPECT_EQ(pgm.xels, grayXels);
    }
}
