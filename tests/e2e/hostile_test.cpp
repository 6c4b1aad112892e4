// Input nobody should write and output that cannot be delivered: headers promising billions of
// pixels in a few bytes, numbers and comments of absurd length, huge side files, and standard
// output that fails. Every run ends with a PNG and status 0 or a message and status 1, quickly
// and in little memory; never with a signal or a success after an incomplete PNG.
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "pngdecode.h"
#include "process.h"
#include "testutil.h"

namespace {

// Generous for a sanitizer build, far below what the headers below would cost if obeyed.
constexpr long smallRssKb = 300 * 1024;

struct Outcome {
    int status;
    std::string message;
};

RunResult runBounded(const std::vector<std::string>& args, const std::string& stdinBytes,
                     double seconds = 20) {
    RunOptions options;
    options.stdinBytes = stdinBytes;
    options.timeoutSeconds = seconds;
    return runGridpack(args, options);
}

void expectCleanEnd(const RunResult& r, const Outcome& expected, long rssLimitKb = smallRssKb) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitStatus, expected.status) << r.stderrText;
    if (!expected.message.empty()) {
        EXPECT_EQ(r.stderrText, expected.message);
    }
    EXPECT_LT(r.maxRssKb, rssLimitKb);
}

} // namespace

TEST(HostileHeaders, EndWithTheReadersMessagesOrTheShortFileMessage) {
    const std::string tooShort = "gridpack: the input file is too short: the header promises ";
    struct Case {
        const char* name;
        std::string image;
        std::string message;
    } cases[] = {
        {"2^31 square, 8-bit gray", "P5\n2147483640 2147483640\n255\nab",
         tooShort + "4611685984067649600 bytes of raster but only 2 remain\n"},
        {"2^31 square, 16-bit colour: the raster size overflows 64 bits",
         "P6\n2147483640 2147483640\n65535\nab",
         tooShort + "more than 18446744073709551615 bytes of raster but only 2 remain\n"},
        {"2^31 columns of raw bits", "P4\n2147483640 1\nab",
         tooShort + "268435455 bytes of raster but only 2 remain\n"},
        {"2^31 columns of plain samples", "P2\n2147483640 1\n255\n1 2 3\n",
         tooShort + "2147483640 bytes of raster but only 6 remain\n"},
        // A row of 87381 xels takes 1048572 bytes, one of 87382 takes 1048584: the first
        // whose rows are refused early on a short file.
        {"rows just within a megabyte", "P5\n87381 1\n255\nab",
         "gridpack: EOF / read error reading a one-byte sample\n"},
        {"rows just beyond a megabyte", "P5\n87382 1\n255\nab",
         tooShort + "87382 bytes of raster but only 2 remain\n"},
        {"cols x rows overflows 32 bits with small rows", "P6\n65536 65536\n255\nab",
         "gridpack: EOF / read error reading a one-byte sample\n"},
        {"2^31 rows of one pixel", "P1\n1 2147483640\n1 0 1",
         "gridpack: EOF / read error reading a byte\n"},
        {"2^31 rows of raw 16-bit samples", "P5\n1 2147483640\n65535\n\x01\x02\x03",
         "gridpack: EOF /read error while reading a long sample\n"},
        {"maxval 65535 with a one-byte raster", "P5\n1 1\n65535\n\x01",
         "gridpack: EOF /read error while reading a long sample\n"},
        {"a number of 10 digits", "P5\n9999999999 1\n255\n",
         "gridpack: ASCII decimal integer in file is too large to be processed.  \n"},
        {"maxval of 10 digits", "P2\n1 1\n4294967295\n0\n",
         "gridpack: ASCII decimal integer in file is too large to be processed.  \n"},
        {"maxval 65536", "P6\n1 1\n65536\n",
         "gridpack: maxval (65536) is too large.\nThe maximum "
         "allowed by the PPM is 65535.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectCleanEnd(runBounded({}, c.image), {1, c.message});
    }
}

TEST(HostileHeaders, ATenMegabyteCommentIsSkipped) {
    const std::string image = "P5\n#" + std::string(10 << 20, 'c') + "\n1 1\n255\n\x07";
    const RunResult r = runBounded({}, image);
    expectCleanEnd(r, {0, ""});
    const DecodedPng png = decodePng(r.stdoutBytes);
    EXPECT_EQ(png.palette.at(png.index(0, 0)), (Rgb{7, 7, 7}));
}

TEST(HostileSideFiles, AlphaMaskPromisingBillionsOfRows) {
    TempDir dir;
    // The image's rows are small, so the image itself is read as far as it goes; the mask is
    // read before any pass, and a mask that agrees in size costs only the rows it really has.
    const std::string image = dir.write("image.pgm", "P5\n1 2147483640\n255\n\x01");
    const std::string mask = "P5\n1 2147483640\n255\n\x01";
    const std::string maskFile = dir.write("mask.pgm", mask);
    expectCleanEnd(runBounded({"-alpha", maskFile, image}, ""),
                   {1, "gridpack: EOF / read error reading a one-byte sample\n"});
    // The same mask from a pipe, whose length nobody knows in advance.
    expectCleanEnd(runBounded({"-alpha", "-", image}, mask),
                   {1, "gridpack: EOF / read error reading a one-byte sample\n"});
    // A mask of another size is refused before its raster is read, whatever it promises.
    const std::string small = dir.write("small.pgm", "P5\n1 1\n255\n\x01");
    for (const char* huge :
         {"P5\n0 2147483640\n255\n", "P5\n2147483640 2147483640\n255\n", "P4\n2147483640 1\n"}) {
        SCOPED_TRACE(huge);
        expectCleanEnd(runBounded({"-alpha", dir.write("huge.pgm", huge), small}, ""),
                       {1, "gridpack: dimensions for image and alpha mask do not agree\n"});
    }
}

TEST(HostileSideFiles, OrderedPalettePromisingBillionsOfPixels) {
    TempDir dir;
    const std::string image = pnmImage("P6", 2, 1, 255, {1, 2, 3, 4, 5, 6});
    struct Case {
        const char* palette;
        std::string message;
    } cases[] = {
        {"P6\n0 2147483640\n255\n",
         "gridpack: sizes of ordered palette (0) and existing palette (2) differ\n"},
        {"P6\n2147483640 2147483640\n255\n",
         "gridpack: ordered-palette image contains 4611685984067649600 pixels.  Maximum is 256\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.palette);
        expectCleanEnd(runBounded({"-quiet", "-palette", dir.write("pal.ppm", c.palette)}, image),
                       {1, c.message});
    }
}

TEST(HostileSideFiles, CommentFileWithAHundredMegabyteLine) {
    TempDir dir;
    const size_t length = size_t(100) << 20;
    const std::string comments = dir.write("big.txt", "Title " + std::string(length, 't') + "\n");
    for (const char* option : {"-text", "-ztxt"}) {
        SCOPED_TRACE(option);
        RunOptions options;
        options.stdinBytes = pnmImage("P5", 1, 1, 255, {9});
        options.stdoutFile = dir.path() + "/out.png";
        options.timeoutSeconds = 120;
        const RunResult r = runGridpack({option, comments}, options);
        // The line is held a few times over (the line, its text, libpng's copy): memory in
        // proportion to the file, nothing more.
        expectCleanEnd(r, {0, ""}, 2 * 1024 * 1024);
        const std::string png = readWholeFile(options.stdoutFile);
        EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
        EXPECT_EQ(png.compare(png.size() - 8, 4, "IEND"), 0);
        if (std::string(option) == "-text") {
            EXPECT_GT(png.size(), length);
        }
    }
}

TEST(HostileSideFiles, DictionaryWithAOneMegabyteLine) {
    TempDir dir;
    const std::string dictionary =
        dir.write("rgb.txt", "255 0 0 red\n" + std::string(1 << 20, 'x') + "\n0 0 255 blue\n");
    RunOptions options;
    options.stdinBytes = pnmImage("P6", 2, 1, 255, {255, 0, 0, 0, 0, 255});
    options.env["RGBDEF"] = dictionary;
    options.timeoutSeconds = 30;
    const RunResult r = runGridpack({"-transparent", "blue"}, options);
    expectCleanEnd(r, {0, ""});
    // The long line is read in pieces of 199 characters, each reported and skipped.
    EXPECT_NE(r.stderrText.find("can't parse color names dictionary Line 2:  'xxx"),
              std::string::npos);
    const DecodedPng png = decodePng(r.stdoutBytes);
    ASSERT_EQ(png.transAlpha.size(), 1u);
    EXPECT_EQ(png.palette.at(0), (Rgb{0, 0, 255}));
}

namespace {
// 256 x 256 pixels of many colours: a PNG of about 200 KB, larger than any stream buffer.
std::string largeImage() {
    std::vector<unsigned> samples;
    unsigned state = 12345;
    for (int i = 0; i < 256 * 256 * 3; ++i) {
        state = state * 1103515245u + 12345u;
        samples.push_back((state >> 16) & 0xff);
    }
    return pnmImage("P6", 256, 256, 255, samples);
}

// Status 0 only with the whole PNG delivered.
void expectNoFalseSuccess(const RunResult& r) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(r.exitStatus, 0) << "an incomplete PNG was reported as written";
}
} // namespace

TEST(OutputFailures, FullDeviceSmallAndLargePngs) {
    for (const std::string& image : {pnmImage("P5", 1, 1, 255, {1}), largeImage()}) {
        RunOptions options;
        options.stdinBytes = image;
        options.stdoutFile = "/dev/full";
        const RunResult r = runGridpack({}, options);
        expectNoFalseSuccess(r);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.stderrText.rfind("gridpack: ", 0), 0u) << r.stderrText;
    }
}

TEST(OutputFailures, ReaderOfThePipeGoesAway) {
    struct Case {
        const char* name;
        std::string image;
        long readLimit;
        bool ignoreSigpipe;
    } cases[] = {
        {"tiny PNG, reader gone at once, SIGPIPE default", pnmImage("P5", 1, 1, 255, {1}), 0,
         false},
        {"tiny PNG, reader gone at once, SIGPIPE ignored", pnmImage("P5", 1, 1, 255, {1}), 0, true},
        {"large PNG, reader gone at once, SIGPIPE default", largeImage(), 0, false},
        {"large PNG, reader gone at once, SIGPIPE ignored", largeImage(), 0, true},
        {"large PNG, reader gone after 100 bytes, SIGPIPE default", largeImage(), 100, false},
        {"large PNG, reader gone after 100 bytes, SIGPIPE ignored", largeImage(), 100, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunOptions options;
        options.stdinBytes = c.image;
        options.stdoutReadLimit = c.readLimit;
        options.ignoreSigpipe = c.ignoreSigpipe;
        const RunResult r = runGridpack({}, options);
        expectNoFalseSuccess(r);
        if (c.ignoreSigpipe) {
            // No signal stops it: the failed write itself must be reported.
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(r.exitStatus, 1);
            EXPECT_EQ(r.stderrText.rfind("gridpack: ", 0), 0u) << r.stderrText;
        } else {
            EXPECT_TRUE(r.signal == SIGPIPE || r.exitStatus == 1) << r.stderrText;
        }
    }
}
