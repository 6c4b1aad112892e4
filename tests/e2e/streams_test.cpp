// What the case tables cannot say: where the bytes come from and go to. A pipe, a file and a
// redirected file give the same PNG; output that cannot be delivered never ends in status 0;
// side files of absurd size cost memory in proportion, nothing more.
#include <csignal>
#include <gtest/gtest.h>

#include "harness.h"
#include "pngdecode.h"

namespace {
// 400 x 300 pixels of many colours: more than a pipe's buffer, about 200 KB of PNG.
std::string largeImage() {
    std::vector<unsigned> samples;
    unsigned state = 12345;
    for (int i = 0; i < 400 * 300 * 3; ++i)
        samples.push_back((state = state * 1103515245u + 12345u) >> 24);
    return pnmImage("P6", 400, 300, 255, samples);
}
} // namespace

TEST(Streams, PipeFileAndRedirectedFileGiveTheSamePng) {
    TempDir dir;
    const std::string image = largeImage(), file = dir.write("in.ppm", image);
    RunOptions redirected;
    redirected.inFile = file;
    const RunResult fromFile = runGridpack({file}, "");
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(runGridpack({"-"}, image).out, fromFile.out);
    EXPECT_EQ(runGridpack({}, redirected).out, fromFile.out);
    const DecodedPng png = decodePng(fromFile.out);
    EXPECT_EQ(png.pixel(399, 299), (std::array<unsigned, 4>{uint8_t(image[image.size() - 3]),
                                                            uint8_t(image[image.size() - 2]),
                                                            uint8_t(image.back()), 255}));
    EXPECT_EQ(runGridpack({testDataPath("../../examples/testpattern.ppm")}, "").status, 0);
}

TEST(Streams, OutputThatCannotBeDeliveredIsAnError) {
    for (const std::string& image : {pnmImage("P5", 1, 1, 255, {1}), largeImage()}) {
        // A full device; a reader gone at once or after 100 bytes, SIGPIPE default or ignored.
        for (long limit : {-2L, 0L, 100L})
            for (bool ignoreSigpipe : {false, true}) {
                if (limit == 100 && image.size() < 1000) continue; // the whole PNG fits the pipe
                RunOptions o;
                o.in = image;
                o.outFile = limit == -2 ? "/dev/full" : "";
                o.readLimit = limit == -2 ? -1 : limit;
                o.ignoreSigpipe = ignoreSigpipe;
                const RunResult r = runGridpack({}, o);
                SCOPED_TRACE(std::to_string(limit) + (ignoreSigpipe ? " ignored" : " default"));
                EXPECT_TRUE(r.status == 1 || (r.signal == SIGPIPE && !ignoreSigpipe && limit != -2))
                    << r.err;
                EXPECT_TRUE(r.status != 1 || r.err.rfind("gridpack: ", 0) == 0) << r.err;
            }
    }
    RunOptions closed;
    closed.in = "P2 1 1 255 0\n";
    closed.closeStdout = true;
    const RunResult r = runGridpack({}, closed);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "gridpack: Standard output is closed; there is nowhere to write the PNG\n");
}

TEST(Streams, HugeSideFilesCostMemoryInProportion) {
    TempDir dir;
    RunOptions o;
    o.in = pnmImage("P6", 2, 1, 255, {255, 0, 0, 0, 0, 255});
    o.outFile = dir.path() + "/out.png";
    // A 100 MB comment line is held a few times over (line, text, libpng's copy), no more.
    const size_t length = size_t(100) << 20;
    RunResult r = runGridpack(
        {"-quiet", "-ztxt", dir.write("big.txt", "Title " + std::string(length, 't'))}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.maxRssKb, 2 * 1024 * 1024);
    EXPECT_EQ(decodePng(readFile(o.outFile)).chunks.at("text").size(), 11 + length);
    // A dictionary line of a megabyte is read in pieces of 199 characters, each reported.
    o.env["RGBDEF"] =
        dir.write("rgb.txt", "255 0 0 red\n" + std::string(1 << 20, 'x') + "\n0 0 255 blue\n");
    r = runGridpack({"-transparent", "blue"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("gridpack: can't parse color names dictionary Line 2:  'xxx"),
              std::string::npos);
    EXPECT_EQ(decodePng(readFile(o.outFile)).chunks.at("tRNS"), "0");
}
