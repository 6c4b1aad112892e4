// Pixmap readers: header and maxval limit, plain and raw rows, poorer formats read as pixmaps,
// truncation, samples above maxval, raster check.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "anymaptest.h"

using ::testing::ExitedWithCode;

namespace {
struct PixImage {
    int cols, rows;
    pixval maxval;
    std::vector<Rgb3> pixels;
};

PixImage readPix(const std::string& bytes) {
    FILE* f = tmpFileWith(bytes);
    PixImage img;
    pixel** pixels = ppm_readppm(f, &img.cols, &img.rows, &img.maxval);
    for (int row = 0; row < img.rows; ++row) {
        const std::vector<Rgb3> r = rgb3Row(pixels[row], img.cols);
        img.pixels.insert(img.pixels.end(), r.begin(), r.end());
    }
    pm_freearray(reinterpret_cast<char**>(pixels), img.rows);
    std::fclose(f);
    return img;
}
} // namespace

TEST(PixmapHeader, RefusesUnknownCodes) {
    for (const char* magic : {"P7", "P0", "p3", "\x50\xb3"}) {
        SCOPED_TRACE(magic);
        EXPECT_EXIT(readPix(std::string(magic) + " 1 1 1\n0 0 0\n"), ExitedWithCode(1),
                    "bad magic number - not a ppm, pgm, or pbm file");
    }
}

TEST(PixmapHeader, MaxvalLimitHasItsOwnMessage) {
    EXPECT_EQ(readPix("P3 1 1 65535 1 2 3 ").maxval, 65535u);
    EXPECT_EXIT(readPix("P6 1 1 65536\n"), ExitedWithCode(1),
                "maxval \\(65536\\) is too large\\.\nThe maximum allowed by the PPM is 65535\\.");
    // A graymap read by the pixmap reader keeps the graymap's message.
    EXPECT_EXIT(readPix("P5 1 1 65536\n"), ExitedWithCode(1), "The largest we can handle is 65535");
}

TEST(PixmapRows, PoorerFormatsAreWidened) {
    const PixImage bitmap = readPix("P1 2 1 1 0 ");
    EXPECT_EQ(bitmap.maxval, 1u); // a bitmap read as a pixmap has maxval 1 (255 as a graymap)
    EXPECT_EQ(bitmap.pixels, (std::vector<Rgb3>{{0, 0, 0}, {1, 1, 1}}));
    EXPECT_EQ(readPix(std::string("P4 2 1\n\x40", 8)).pixels,
              (std::vector<Rgb3>{{1, 1, 1}, {0, 0, 0}}));
    EXPECT_EQ(readPix("P2 2 1 9 7 9 ").pixels, (std::vector<Rgb3>{{7, 7, 7}, {9, 9, 9}}));
    EXPECT_EQ(readPix(std::string("P5 1 1 300\n\x01\x2c", 13)).pixels,
              (std::vector<Rgb3>{{300, 300, 300}}));
}

TEST(PixmapRows, PlainAndRawSamplesInRedGreenBlueOrder) {
    EXPECT_EQ(readPix("P3 2 1 255\n1 2 # between green and blue\n3 4 5 6\n").pixels,
              (std::vector<Rgb3>{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(readPix(std::string("P6 2 1 255\n\x01\x02\x03\xfd\xfe\xff", 17)).pixels,
              (std::vector<Rgb3>{{1, 2, 3}, {253, 254, 255}}));
    EXPECT_EQ(readPix(std::string("P6 1 1 65535\n\x01\x00\x00\x02\xff\xfe", 19)).pixels,
              (std::vector<Rgb3>{{256, 2, 65534}}));
}

TEST(PixmapRows, TruncationMessages) {
    const std::pair<std::string, const char*> table[] = {
        {std::string("P6 2 1 255\n\x01\x02\x03\x04\x05", 16),
         "EOF / read error reading a one-byte sample"},
        {std::string("P6 1 1 1000\n\x01\x02\x03\x04\x05", 17),
         "EOF /read error while reading a long sample"},
        {"P3 1 1 255\n1 2 3", "EOF / read error reading a byte"},
    };
    for (const auto& [image, message] : table) {
        SCOPED_TRACE(message);
        EXPECT_EXIT(readPix(image), ExitedWithCode(1), message);
    }
}

TEST(PixmapRows, FirstSampleAboveMaxvalInRowOrderIsReported) {
    const std::pair<std::string, const char*> table[] = {
        {"P3 2 1 100\n1 2 3 4 200 150\n", "sample value 200 is greater than maxval 100"},
        {std::string("P6 2 1 100\n\x01\x02\x03\x04\xc8\x96", 17),
         "sample value 200 is greater than maxval 100"},
        {std::string("P6 1 1 1000\n\x00\x01\x03\xe9\x03\xe8", 18),
         "sample value 1001 is greater than maxval 1000"},
    };
    for (const auto& [image, message] : table) {
        SCOPED_TRACE(message);
        EXPECT_EXIT(readPix(image), ExitedWithCode(1), message);
    }
}

TEST(PixmapRows, UnknownFormatCantHappen) {
    pixel row[1];
    FILE* f = tmpFileWith("1 2 3 ");
    EXPECT_EXIT(ppm_readppmrow(f, row, 1, 255, 0x5037), ExitedWithCode(1), "can't happen");
    std::fclose(f);
}
