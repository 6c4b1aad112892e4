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

RunResult runBounded(const std::vector<std::string>& args, const std::string& stdinBytes) {
    return runGridpack(args, stdinBytes, 20);
}

// Status 0 with any messages (a PNG is written), or status 1 with this message.
void expectCleanEnd(const RunResult& r, int status, const std::string& message,
                    long rssLimitKb = smallRssKb) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitStatus, status) << r.stderrText;
    EXPECT_EQ(status == 0 ? message : r.stderrText, message);
    EXPECT_LT(r.maxRssKb, rssLimitKb);
}

const std::string oneByteEof = "gridpack: EOF / read error reading a one-byte sample\n";

} // namespace

TEST(HostileHeaders, EndWithTheReadersMessagesOrTheShortFileMessage) {
    const std::string tooShort = "gridpack: the input file is too short: the header promises ";
    const std::string tooLarge =
        "gridpack: ASCII decimal integer in file is too large to be processed.  \n";
    const std::pair<std::string, std::string> cases[] = {
        {"P5\n2147483640 2147483640\n255\nab",
         tooShort + "4611685984067649600 bytes of raster but only 2 remain\n"},
        // 2^31 square of 16-bit colour: the raster size overflows 64 bits.
        {"P6\n2147483640 2147483640\n65535\nab",
         tooShort + "more than 18446744073709551615 bytes of raster but only 2 remain\n"},
        {"P4\n2147483640 1\nab", tooShort + "268435455 bytes of raster but only 2 remain\n"},
        {"P2\n2147483640 1\n255\n1 2 3\n",
         tooShort + "2147483640 bytes of raster but only 6 remain\n"},
        // A row of 87381 xels takes 1048572 bytes, one of 87382 takes 1048584: the first
        // whose rows are refused early on a short file.
        {"P5\n87381 1\n255\nab", oneByteEof},
        {"P5\n87382 1\n255\nab", tooShort + "87382 bytes of raster but only 2 remain\n"},
        // cols x rows overflows 32 bits with small rows.
        {"P6\n65536 65536\n255\nab", oneByteEof},
        {"P1\n1 2147483640\n1 0 1", "gridpack: EOF / read error reading a byte\n"},
        {"P5\n1 2147483640\n65535\n\x01\x02\x03",
         "gridpack: EOF /read error while reading a long sample\n"},
        {"P5\n1 1\n65535\n\x01", "gridpack: EOF /read error while reading a long sample\n"},
        {"P5\n9999999999 1\n255\n", tooLarge},
        {"P2\n1 1\n4294967295\n0\n", tooLarge},
        {"P6\n1 1\n65536\n",
         "gridpack: maxval (65536) is too large.\nThe maximum allowed by the PPM is 65535.\n"},
    };
    for (const auto& [image, message] : cases) {
        SCOPED_TRACE(image.substr(0, 20));
        expectCleanEnd(runBounded({}, image), 1, message);
    }
    // A ten-megabyte comment is skipped.
    const RunResult r = runBounded({}, "P5\n#" + std::string(10 << 20, 'c') + "\n1 1\n255\n\x07");
    expectCleanEnd(r, 0, "");
    EXPECT_EQ(decodePng(r.stdoutBytes).paletteColor(0, 0), (Rgb{7, 7, 7}));
}

TEST(HostileSideFiles, AlphaMaskAndOrderedPalettePromisingBillionsOfPixels) {
    TempDir dir;
    // The image's rows are small, so the image itself is read as far as it goes; the mask is
    // read before any pass, and a mask that agrees in size costs only the rows it really has,
    // from a file or from a pipe, whose length nobody knows in advance.
    const std::string image = dir.write("image.pgm", "P5\n1 2147483640\n255\n\x01");
    const std::string mask = "P5\n1 2147483640\n255\n\x01";
    expectCleanEnd(runBounded({"-alpha", dir.write("mask.pgm", mask), image}, ""), 1, oneByteEof);
    expectCleanEnd(runBounded({"-alpha", "-", image}, mask), 1, oneByteEof);
    // A mask of another size is refused before its raster is read, whatever it promises.
    const std::string small = dir.write("small.pgm", "P5\n1 1\n255\n\x01");
    for (const char* huge :
         {"P5\n0 2147483640\n255\n", "P5\n2147483640 2147483640\n255\n", "P4\n2147483640 1\n"})
        expectCleanEnd(runBounded({"-alpha", dir.write("huge.pgm", huge), small}, ""), 1,
                       "gridpack: dimensions for image and alpha mask do not agree\n");

    const std::string colours = pnmImage("P6", 2, 1, 255, {1, 2, 3, 4, 5, 6});
    for (const auto& [palette, message] :
         {std::pair{"P6\n0 2147483640\n255\n",
                    "gridpack: sizes of ordered palette (0) and existing palette (2) differ\n"},
          {"P6\n2147483640 2147483640\n255\n",
           "gridpack: ordered-palette image contains 4611685984067649600 pixels.  Maximum is "
           "256\n"}})
        expectCleanEnd(runBounded({"-quiet", "-palette", dir.write("pal.ppm", palette)}, colours),
                       1, message);
}

TEST(HostileSideFiles, CommentFileWithAHundredMegabyteLine) {
    TempDir dir;
    const size_t length = size_t(100) << 20;
    const std::string comments = dir.write("big.txt", "Title " + std::string(length, 't') + "\n");
    for (const char* option : {"-text", "-ztxt"}) {
        RunOptions options;
        options.stdinBytes = pnmImage("P5", 1, 1, 255, {9});
        options.stdoutFile = dir.path() + "/out.png";
        options.timeoutSeconds = 120;
        // The line is held a few times over (the line, its text, libpng's copy): memory in
        // proportion to the file, nothing more.
        expectCleanEnd(runGridpack({option, comments}, options), 0, "", 2 * 1024 * 1024);
        const std::string png = readWholeFile(options.stdoutFile);
        EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << option;
        EXPECT_EQ(png.compare(png.size() - 8, 4, "IEND"), 0);
        EXPECT_GT(png.size(), length) << "a Title stays uncompressed";
    }
}

TEST(HostileSideFiles, DictionaryWithAOneMegabyteLine) {
    TempDir dir;
    RunOptions options;
    options.stdinBytes = pnmImage("P6", 2, 1, 255, {255, 0, 0, 0, 0, 255});
    options.env["RGBDEF"] =
        dir.write("rgb.txt", "255 0 0 red\n" + std::string(1 << 20, 'x') + "\n0 0 255 blue\n");
    options.timeoutSeconds = 30;
    const RunResult r = runGridpack({"-transparent", "blue"}, options);
    expectCleanEnd(r, 0, "");
    // The long line is read in pieces of 199 characters, each reported and skipped.
    EXPECT_NE(r.stderrText.find("can't parse color names dictionary Line 2:  'xxx"),
              std::string::npos);
    const DecodedPng png = decodePng(r.stdoutBytes);
    ASSERT_EQ(png.transAlpha.size(), 1u);
    EXPECT_EQ(png.palette.at(0), (Rgb{0, 0, 255}));
}

TEST(OutputFailures, FullDeviceOrAReaderThatGoesAway) {
    // 256 x 256 pixels of many colours: a PNG of about 200 KB, larger than any stream buffer.
    std::vector<unsigned> samples;
    unsigned state = 12345;
    for (int i = 0; i < 256 * 256 * 3; ++i) {
        state = state * 1103515245u + 12345u;
        samples.push_back((state >> 16) & 0xff);
    }
    const std::string large = pnmImage("P6", 256, 256, 255, samples);
    for (const std::string& image : {pnmImage("P5", 1, 1, 255, {1}), large}) {
        // A full device, a reader gone at once and (for a large PNG) one gone after 100 bytes,
        // with SIGPIPE default or ignored. Status 0 only with the whole PNG delivered.
        for (long readLimit : {-2L, 0L, 100L}) {
            if (readLimit == 100 && image != large) continue;
            for (bool ignoreSigpipe : {false, true}) {
                SCOPED_TRACE(std::to_string(image.size()) + " " + std::to_string(readLimit) +
                             (ignoreSigpipe ? " ignored" : " default"));
                RunOptions options;
                options.stdinBytes = image;
                options.stdoutFile = readLimit == -2 ? "/dev/full" : "";
                options.stdoutReadLimit = readLimit == -2 ? -1 : readLimit;
                options.ignoreSigpipe = ignoreSigpipe;
                const RunResult r = runGridpack({}, options);
                EXPECT_FALSE(r.timedOut);
                if (readLimit == -2 || ignoreSigpipe) {
                    // No signal stops it: the failed write itself must be reported.
                    EXPECT_EQ(r.signal, 0);
                    EXPECT_EQ(r.exitStatus, 1);
                    EXPECT_EQ(r.stderrText.rfind("gridpack: ", 0), 0u) << r.stderrText;
                } else {
                    EXPECT_TRUE(r.signal == SIGPIPE || r.exitStatus == 1) << r.stderrText;
                }
            }
        }
    }
}
