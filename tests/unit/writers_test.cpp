// PGM and PPM writers: headers, raw sample widths, plain line wrapping, errors, and a round trip
// through the readers.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "anymaptest.h"

using ::testing::ExitedWithCode;

namespace {
class Writers : public ::testing::Test {
protected:
    void TearDown() override { pm_plain_output = 0; }
};
} // namespace

TEST_F(Writers, RawHeadersAndSampleWidths) {
    const pixel row[3] = {{1, 2, 3}, {4, 5, 6}, {255, 0, 7}};
    EXPECT_EQ(writtenBy([&](FILE* f) { ppm_writeppminit(f, 3, 2, 255, 0); }), "P6\n3 2\n255\n");
    EXPECT_EQ(writtenBy([&](FILE* f) { ppm_writeppmrow(f, row, 1, 255, 0); }), "\x01\x02\x03");
    EXPECT_EQ(writtenBy([&](FILE* f) { ppm_writeppmrow(f, row + 2, 1, 256, 0); }),
              std::string("\x00\xff\x00\x00\x00\x07", 6));
    const gray grays[2] = {258, 7};
    EXPECT_EQ(writtenBy([&](FILE* f) { pgm_writepgm(f, nullptr, 2, 0, 65535, 0); }),
              "P5\n2 0\n65535\n");
    EXPECT_EQ(writtenBy([&](FILE* f) { pgm_writepgmrow(f, grays, 2, 300, 0); }),
              std::string("\x01\x02\x00\x07", 4));
}

TEST_F(Writers, PlainPixmapLinesHoldSixPixels) {
    pm_plain_output = 1;
    std::vector<pixel> row;
    for (unsigned i = 0; i < 7; ++i) row.push_back(pixel{i, 10 * i, 100 * i});
    EXPECT_EQ(writtenBy([&](FILE* f) { ppm_writeppminit(f, 7, 1, 700, 0); }), "P3\n7 1\n700\n");
    EXPECT_EQ(writtenBy([&](FILE* f) { ppm_writeppmrow(f, row.data(), 7, 700, 0); }),
              "0 0 0  1 10 100  2 20 200  3 30 300  4 40 400  5 50 500\n6 60 600\n");
}

TEST_F(Writers, PlainGraymapLinesHoldSeventeenSamples) {
    std::vector<gray> row;
    for (unsigned i = 0; i < 18; ++i) row.push_back(i * 1000);
    EXPECT_EQ(writtenBy([&](FILE* f) { pgm_writepgmrow(f, row.data(), 18, 65535, 1); }),
              "0 1000 2000 3000 4000 5000 6000 7000 8000 9000 10000 11000 12000 13000 14000 "
              "15000 16000\n17000\n");
    EXPECT_EQ(writtenBy([&](FILE* f) { pgm_writepgmrow(f, row.data(), 0, 255, 1); }), "");
}

TEST_F(Writers, MaxvalAbove65535) {
    EXPECT_EXIT(ppm_writeppminit(stdout, 1, 1, 65536, 0), ExitedWithCode(1),
                "too-large maxval passed to ppm_writeppminit\\(\\): 65536\\.Maximum allowed by "
                "the PPM format is 65535\\.");
    EXPECT_EXIT(pgm_writepgminit(stdout, 1, 1, 65536, 0), ExitedWithCode(1),
                "too-large maxval passed to ppm_writepgminit\\(\\): 65536\\.\nMaximum allowed "
                "by the PGM format is 65535\\.");
    // Forced plain, the header is written and rows go plain by themselves, in full.
    const gray big = 70000;
    EXPECT_EQ(writtenBy([&](FILE* f) {
                  pgm_writepgminit(f, 1, 1, 70000, 1);
                  pgm_writepgmrow(f, &big, 1, 70000, 0);
              }),
              "P2\n1 1\n70000\n70000\n");
}

TEST_F(Writers, RawSampleWriteErrors) {
    FILE* readOnly = std::fopen("/dev/null", "r");
    EXPECT_EXIT(pgm_writerawsample(readOnly, 1, 255), ExitedWithCode(1),
                "Error writing single byte sample to file");
    EXPECT_EXIT(pgm_writerawsample(readOnly, 1, 256), ExitedWithCode(1),
                "Error writing double byte sample to file");
    std::fclose(readOnly);
}

TEST_F(Writers, RoundTripThroughTheReaders) {
    struct Form {
        int forceplain;
        pixval maxval;
    };
    for (const Form form :
         {Form{0, 1}, Form{0, 255}, Form{0, 256}, Form{0, 65535}, Form{1, 255}, Form{1, 65535}}) {
        SCOPED_TRACE(testing::Message() << form.forceplain << " " << form.maxval);
        // 9 columns by 3 rows: more than one plain line per row, every sample different.
        std::vector<pixel> pixels;
        std::vector<gray> grays;
        for (unsigned i = 0; i < 27; ++i) {
            pixels.push_back(pixel{(i * 37) % (form.maxval + 1), (i * 11 + 1) % (form.maxval + 1),
                                   form.maxval - i % (form.maxval + 1)});
            grays.push_back((i * 4099) % (form.maxval + 1));
        }
        std::vector<pixel*> pixelRows = {&pixels[0], &pixels[9], &pixels[18]};
        std::vector<gray*> grayRows = {&grays[0], &grays[9], &grays[18]};

        const PnmRead ppm = readAnymap(writtenBy([&](FILE* f) {
            ppm_writeppm(f, pixelRows.data(), 9, 3, form.maxval, form.forceplain);
        }));
        EXPECT_EQ(ppm.format, form.forceplain ? PLAIN_PPM : RAW_PPM);
        EXPECT_EQ(ppm.maxval, form.maxval);
        EXPECT_EQ(ppm.xels, rgb3Row(pixels.data(), 27));

        const PnmRead pgm = readAnymap(writtenBy([&](FILE* f) {
            pgm_writepgm(f, grayRows.data(), 9, 3, form.maxval, form.forceplain);
        }));
        EXPECT_EQ(pgm.format, form.forceplain ? PLAIN_PGM : RAW_PGM);
        ASSERT_EQ(pgm.xels.size(), 27u);
        for (size_t i = 0; i < 27; ++i) EXPECT_EQ(pgm.xels[i], (Rgb3{0, 0, grays[i]}));
    }
}
