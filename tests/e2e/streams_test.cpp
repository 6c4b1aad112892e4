// What the case tables cannot say: where the bytes come from and go to. A pipe, a file and a
// redirected file give the same PNG; the copy of a pipe goes to $TMPDIR; output that cannot be
// delivered never ends in status 0; a terminal gets no PNG, and a progress line that leaves
// only the messages behind.
#include <csignal>
#include <future>
#include <gtest/gtest.h>

#include "harness.h"
#include "pngdecode.h"

namespace {
// Pixels of many colours; 400 x 300 is more than a pipe's buffer, about 200 KB of PNG.
std::string largeImage(int cols = 400, int rows = 300) {
    std::string image = "P6\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n255\n";
    unsigned state = 12345;
    for (long i = 0; i < 3L * cols * rows; ++i)
        image += char((state = state * 1103515245u + 12345u) >> 24);
    return image;
}

// What a terminal shows after the bytes: a carriage return goes back to the line's start, ESC [K
// clears to its end.
std::string screen(const std::string& bytes) {
    std::string shown, line;
    size_t col = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const bool erase = bytes.compare(i, 3, "\033[K") == 0, move = c == '\r' || c == '\n';
        if (erase) line.resize(col), i += 2;
        if (!erase && c == '\n') shown += line + "\n", line.clear();
        if (!erase && !move) line.resize(std::max(line.size(), col + 1)), line[col] = c;
        col = erase ? col : move ? 0 : col + 1;
    }
    return shown + line;
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
    EXPECT_EQ(decodePng(fromFile.out).pixel(399, 299)[3], 255u); // a whole PNG of 400 x 300
}

TEST(Streams, OutputThatCannotBeDeliveredIsAnError) {
    for (const std::string& image : {pnmImage("P5", 1, 1, 255, {1}), largeImage()}) {
        // A full device; a reader gone at once or after 100 bytes, SIGPIPE default or ignored.
        for (long limit : {-2L, 0L, 100L})
            for (bool ignoreSigpipe : {false, true}) {
                if (limit == 100 && image.size() < 1000) continue; // the whole PNG fits the pipe
                RunOptions o;
                o.in = image, o.outFile = limit == -2 ? "/dev/full" : "";
                o.readLimit = limit == -2 ? -1 : limit, o.ignoreSigpipe = ignoreSigpipe;
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

TEST(Streams, ADictionaryLineOfAMegabyteIsReadInPieces) {
    TempDir dir;
    RunOptions o;
    o.in = pnmImage("P6", 2, 1, 255, {255, 0, 0, 0, 0, 255});
    o.env["RGBDEF"] =
        dir.write("rgb.txt", "255 0 0 red\n" + std::string(1 << 20, 'x') + "\n0 0 255 blue\n");
    const RunResult r = runGridpack({"-transparent", "blue"}, o);
    EXPECT_EQ(r.status, 0);
    // Each piece of 199 characters is reported as a line that does not parse: 5269 of them,
    // then the last 45.
    EXPECT_NE(r.err.find("Line 5271:  '" + std::string(45, 'x') + "'\ngridpack: 2 colors"),
              std::string::npos);
    EXPECT_EQ(decodePng(r.out).chunks.at("tRNS"), "0");
}

TEST(Streams, TheCopyOfAPipeGoesToTmpdirAndLeavesNothingBehind) {
    TempDir dir;
    RunOptions o;
    o.in = pnmImage("P5", 40, 40, 255, std::vector<unsigned>(1600, 7));
    o.env["TMPDIR"] = "/nonexistent";
    RunResult r = runGridpack({"-quiet"}, o);
    EXPECT_EQ(
        r.err,
        "gridpack: cannot create temporary file in '/nonexistent': No such file or directory\n");
    o.env["TMPDIR"] = dir.path;
    o.fileSizeLimit = 1000;
    r = runGridpack({"-quiet"}, o);
    EXPECT_EQ(r.err,
              "gridpack: cannot write temporary file in '" + dir.path + "': File too large\n");
    o.fileSizeLimit = -1;
    r = runGridpack({"-quiet"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::system(("rmdir " + dir.path + " && mkdir " + dir.path).c_str()), 0);
}

TEST(Terminal, NoPngOnATerminalAndTheInputIsNotRead) {
    RunOptions o;
    o.in = "P2 1 1 255 0\n";
    o.env["TMPDIR"] = "/nonexistent"; // reading the pipe would fail with its own message
    o.stdoutTerminal = true;
    const RunResult r = runGridpack({}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "gridpack: standard output is a terminal; redirect it to a file or a pipe "
                     "(gridpack in.ppm > out.png)\n");
    EXPECT_EQ(r.out, "");
    // Usage errors and -version come first, as before.
    EXPECT_EQ(runGridpack({"-fi", "9"}, o).err.rfind("gridpack: filter must be 0", 0), 0u);
    EXPECT_EQ(runGridpack({"-version"}, o).status, 0);
}

// Each of these conversions takes about 1.5 s; the two runs of a test go side by side.
TEST(Terminal, ProgressOnALongConversionLeavesOnlyTheMessages) {
    TempDir dir;
    const std::string file = dir.write("big.ppm", largeImage(4500, 4000));
    RunOptions tty;
    tty.stderrTerminal = true;
    auto onTerminal = std::async(std::launch::async, [&] {
        return runGridpack({"-verbose", file}, tty);
    });
    const RunResult plain = runGridpack({"-verbose", file}, ""), shown = onTerminal.get();
    EXPECT_NE(shown.err.find("\rgridpack: pass 3 of 3: "), std::string::npos) << shown.err;
    EXPECT_EQ(screen(shown.err), plain.err);
    EXPECT_EQ(plain.err.find('\r'), std::string::npos);
    EXPECT_EQ(shown.out, plain.out);
}

TEST(Terminal, ProgressIsErasedBeforeAMessageAndNeverShownUnderQuiet) {
    TempDir dir;
    const std::string image = largeImage(4500, 4000),
                      cut = dir.write("cut.ppm", image.substr(0, image.size() - 9));
    RunOptions tty;
    tty.stderrTerminal = true;
    auto quiet = std::async(std::launch::async, [&] { return runGridpack({"-quiet", cut}, tty); });
    const RunResult r = runGridpack({cut}, tty);
    EXPECT_NE(r.err.find("\rgridpack: pass 3 of 3: "), std::string::npos) << r.err;
    EXPECT_EQ(screen(r.err), "gridpack: EOF / read error reading a one-byte sample\n");
    EXPECT_EQ(quiet.get().err, "gridpack: EOF / read error reading a one-byte sample\n");
}
