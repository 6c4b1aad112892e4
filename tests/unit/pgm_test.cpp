// Graymap readers: header and maxval limit, plain and raw rows, bitmaps read as graymaps,
// truncation, samples above maxval, raster check.
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "anymaptest.h"

using ::testing::ExitedWithCode;

namespace {
struct GrayImage {
    int cols, rows;
    gray maxval;
    std::vector<unsigned> samples;
};

GrayImage readGray(const std::string& bytes) {
    FILE* f = tmpFileWith(bytes);
    GrayImage img;
    gray** grays = pgm_readpgm(f, &img.cols, &img.rows, &img.maxval);
    for (int row = 0; row < img.rows; ++row)
        img.samples.insert(img.samples.end(), grays[row], grays[row] + img.cols);
    pm_freearray(reinterpret_cast<char**>(grays), img.rows);
    std::fclose(f);
    return img;
}

std::vector<unsigned> graySamples(const std::string& bytes) { return readGray(bytes).samples; }
} // namespace

TEST(GraymapHeader, RefusesPixmapsAndUnknownCodes) {
    for (const char* magic : {"P3", "P6", "P7", "P0", "PP"}) {
        SCOPED_TRACE(magic);
        EXPECT_EXIT(readGray(std::string(magic) + " 1 1 1\n0\n"), ExitedWithCode(1),
                    "bad magic number - not a pgm or pbm file");
    }
}

TEST(GraymapHeader, MaxvalLimits) {
    EXPECT_EQ(readGray("P2\n# comment\n1 1\n65535\n65535\n").maxval, 65535u);
    EXPECT_EQ(readGray("P2 1 1 0\n0\n").maxval, 0u);
    EXPECT_EXIT(readGray("P5 1 1 65536\n"), ExitedWithCode(1),
                "maxval is too large\\.  The largest we can handle is 65535\\.");
}

TEST(GraymapHeader, BitmapReadsWithMaxval255) {
    const GrayImage img = readGray("P1 3 1 1 0 1 ");
    EXPECT_EQ(img.maxval, 255u);
    EXPECT_EQ(img.samples, (std::vector<unsigned>{0, 255, 0}));
    EXPECT_EQ(graySamples(std::string("P4 3 1\n\x40", 8)), (std::vector<unsigned>{255, 0, 255}));
}

TEST(GraymapRows, RawSampleWidthFollowsMaxval) {
    EXPECT_EQ(graySamples(std::string("P5 2 1 255\n\x01\x02", 13)), (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(graySamples(std::string("P5 2 1 300\n\x01\x02\x00\xff", 15)),
              (std::vector<unsigned>{258, 255}));
    EXPECT_EQ(graySamples(std::string("P5 2 1 65535\n\xff\xff\x00\x00", 17)),
              (std::vector<unsigned>{65535, 0}));
}

TEST(GraymapRows, OneSeparatorByteBeforeTheRaster) {
    EXPECT_EQ(graySamples("P5\n1 1\n255\r\n"), std::vector<unsigned>{'\n'});
    EXPECT_EQ(graySamples("P5\n1 1\n255#c\n\x07"), std::vector<unsigned>{7});
    EXPECT_EQ(graySamples("P5\n1 1\n255 #"), std::vector<unsigned>{'#'});
}

TEST(GraymapRows, PlainSamplesWithCommentsAndAnyTerminator) {
    EXPECT_EQ(graySamples("P2 4 1 300 1#a\n22x300\r\n0 "), (std::vector<unsigned>{1, 22, 300, 0}));
}

TEST(GraymapRows, TruncationMessages) {
    const std::pair<std::string, const char*> table[] = {
        {std::string("P5 2 1 255\n\x01", 12), "EOF / read error reading a one-byte sample"},
        {std::string("P5 2 1 65535\n\x00\x01\x02", 16),
         "EOF /read error while reading a long sample"},
        {std::string("P5 2 1 65535\n", 13), "EOF /read error while reading a long sample"},
        {"P2 2 1 255\n1 2", "EOF / read error reading a byte"},
        {"P2 2 1 255\n1 ", "EOF / read error reading a byte"},
        {"P2 2 1 255\n1 -2 ", "junk in file where an unsigned integer should be"},
    };
    for (const auto& [image, message] : table) {
        SCOPED_TRACE(message);
        EXPECT_EXIT(readGray(image), ExitedWithCode(1), message);
    }
}

TEST(GraymapRows, SampleAboveMaxvalIsRefused) {
    EXPECT_EQ(graySamples("P2 2 1 100 100 0 "), (std::vector<unsigned>{100, 0}));
    const std::pair<std::string, const char*> table[] = {
        {"P2 3 1 100\n5 101 200\n", "sample value 101 is greater than maxval 100"},
        {std::string("P5 3 1 100\n\x05\x96\xc8", 14),
         "sample value 150 is greater than maxval 100"},
        {std::string("P5 2 1 300\n\x01\x2c\x03\xe8", 15),
         "sample value 1000 is greater than maxval 300"},
        {std::string("P5 1 1 0\n\x01", 10), "sample value 1 is greater than maxval 0"},
    };
    for (const auto& [image, message] : table) {
        SCOPED_TRACE(message);
        EXPECT_EXIT(readGray(image), ExitedWithCode(1), message);
    }
}

TEST(GraymapRows, RawRowIsReadWholeBeforeItIsChecked) {
    // The row is one read, so its truncation is found before the sample above maxval in it.
    EXPECT_EXIT(readGray(std::string("P5 3 1 100\n\xc8\x01", 13)), ExitedWithCode(1),
                "EOF / read error reading a one-byte sample");
}

TEST(GraymapRows, UnknownFormatCantHappen) {
    gray row[1];
    FILE* f = tmpFileWith("1 ");
    EXPECT_EXIT(pgm_readpgmrow(f, row, 1, 255, RAW_PPM), ExitedWithCode(1), "can't happen");
    std::fclose(f);
}

TEST(GraymapImage, RasterAfterTheHeaderFromAFileOrAPipe) {
    const std::string image = pnmImage("P2", 2, 2, 9, {1, 2, 3, 9});
    FILE* file = tmpFileWith(image);
    int cols, rows, format;
    gray maxval;
    pgm_readpgminit(file, &cols, &rows, &maxval, &format);
    gray** fromFile = pgm_readpgmraster(file, cols, rows, maxval, format);
    EXPECT_EQ(fromFile[1][1], 9u);
    EXPECT_NE(fromFile[2], nullptr) << "a file that holds the raster gets one block";
    pm_freearray(reinterpret_cast<char**>(fromFile), rows);
    std::fclose(file);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], image.data(), image.size()), ssize_t(image.size()));
    close(fds[1]);
    FILE* pipeIn = fdopen(fds[0], "rb");
    gray** fromPipe = pgm_readpgm(pipeIn, &cols, &rows, &maxval);
    EXPECT_EQ(fromPipe[0][1], 2u);
    EXPECT_EQ(fromPipe[1][0], 3u);
    EXPECT_EQ(fromPipe[2], nullptr) << "rows of a pipe are allocated as they arrive";
    pm_freearray(reinterpret_cast<char**>(fromPipe), rows);
    std::fclose(pipeIn);
}

TEST(GraymapImage, HeaderPromisingBillionsOfRowsCostsOnlyTheRowsThere) {
    // Once a 16 GB row index, written before the first row failed (48 s, 16.7 GB resident):
    // the alarm turns such slowness into a failure.
    EXPECT_EXIT(
        {
            alarm(10);
            readGray(std::string("P5\n1 2147483640\n255\n\x01", 21));
        },
        ExitedWithCode(1), "EOF / read error reading a one-byte sample");
    EXPECT_EXIT(
        {
            alarm(10);
            readGray("P2\n3 2147483640\n255\n1 2 3 4 5");
        },
        ExitedWithCode(1), "EOF / read error reading a byte");
}
