// What the case tables cannot say: where the bytes come from and go to (only a pipe is copied,
// to $TMPDIR or else /tmp), output that cannot be delivered, closed descriptors, unreadable
// streams, and terminals: no PNG onto one, and a progress line that leaves only the messages.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

#include "harness.h"
#include "pngdecode.h"

// Pixels of many colours; 200 x 120 is more than a pipe's buffer in and out.
static std::string largeImage(unsigned cols = 200, unsigned rows = 120) {
    std::string image = "P6\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n255\n";
    for (unsigned i = 0, state = 12345; i < 3 * cols * rows; ++i)
        image += char((state = state * 1103515245u + 12345u) >> 24);
    return image;
}

// An image whose last sample is the first above its maxval (254): found in the writing pass.
static std::string spoiled(std::string image) {
    image.replace(image.find("\n255\n"), 5, "\n254\n");
    std::replace(image.begin() + long(image.find("\n254\n") + 5), image.end(), '\xff', '\xfe');
    image.back() = '\xff';
    return image;
}

TEST(Streams, ThreadCountIsJudgedBeforeAnyByteEvenWhereNoThreadWouldRun) {
    const std::string image = largeImage(), png = runGridpack({"-quiet"}, image).out;
    for (const std::string value : {"1", "1024", "0", "1025", "2x", ""}) {
        RunOptions o(image);
        o.env["GRIDPACK_THREADS"] = value;
        const RunResult r = runGridpack({"-quiet"}, o);
        const bool good = value == "1" || value == "1024";
        EXPECT_EQ(r.status, good ? 0 : 1) << value;
        EXPECT_EQ(r.out, good ? png : "") << value;
        const std::string refused =
            "gridpack: GRIDPACK_THREADS must be a whole number from 1 to 1024";
        EXPECT_EQ(r.err, good ? "" : refused + ", not '" + value + "'\n");
    }
}

TEST(Streams, OnlyAPipeIsCopiedToTmpdirOrElseTmpAndNothingIsLeftBehind) {
    TempDir dir, empty;
    const std::string image = largeImage(), file = dir.write("in.ppm", image), sub = empty.path;
    const std::string png = runGridpack({file}).out;
    ASSERT_EQ(decodePng(png).pixel(199, 119)[3], 255u); // a whole PNG of 200 x 120
    // TMPDIR unset, empty, a folder, missing, not a folder; what a pipe meets there.
    const std::string tmpdirs[] = {"(unset)", "", sub, "/nonexistent", file},
                      reasons[] = {"", "", "", "No such file or directory", "Not a directory"};
    for (int row = 0; row < 5; ++row)
        for (int way = 0; way < 3; ++way) { // a pipe, a named file, a file on standard input
            const std::string &tmpdir = tmpdirs[row], &reason = reasons[row];
            RunOptions o;
            tmpdir == "(unset)" ? o.unset.push_back("TMPDIR") : void(o.env["TMPDIR"] = tmpdir);
            o.in = way == 0 ? image : "", o.inFile = way == 2 ? file : "";
            const RunResult r = runGridpack({"-quiet", way == 1 ? file : "-"}, o);
            const bool fails = way == 0 && !reason.empty();
            EXPECT_EQ(r.out, fails ? "" : png) << tmpdir << " " << way;
            EXPECT_EQ(r.err, fails ? "gridpack: cannot create temporary file in '" + tmpdir +
                                         "': " + reason + "\n"
                                   : "");
        }
    RunOptions o(image);
    o.env["TMPDIR"] = sub, o.fileSizeLimit = 1000;
    EXPECT_EQ(runGridpack({"-quiet"}, o).err,
              "gridpack: cannot write temporary file in '" + sub + "': File too large\n");
    EXPECT_EQ(rmdir(sub.c_str()), 0); // every copy went, also the one that failed
}

// A small PNG fails when its last bytes are flushed, a large one while written; both say why.
TEST(Streams, OutputThatCannotBeDeliveredIsAnError) {
    RunOptions o("P2 1 1 255 0\n");
    o.outFile = "/dev/full";
    const std::string full = "gridpack: cannot write the PNG: No space left on device\n";
    EXPECT_EQ(runGridpack({"-quiet"}, o).err, full);
    EXPECT_EQ(runGridpack({}, o).err, "gridpack: 1 colors found\n" + full);
    o.in = largeImage();
    const RunResult r = runGridpack({"-force"}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, full);
}

TEST(Streams, ClosedDescriptorsAndUnreadableStreams) {
    RunOptions o("P2 1 1 255 0\n");
    o.closed = 1;
    RunResult r = runGridpack({}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "gridpack: Standard output is closed; there is nowhere to write the PNG\n");
    // Without standard error the messages go nowhere, not into the copy of the input.
    o.in = largeImage(), o.closed = 2;
    EXPECT_EQ(runGridpack({"-verbose"}, o).out, runGridpack({}, o.in).out);
    // A folder is refused, named or on standard input.
    TempDir dir;
    const std::string image = dir.write("in.pgm", "P2 1 1 255 0\n");
    o = RunOptions(), o.inFile = dir.path;
    EXPECT_EQ(runGridpack({"-text", dir.path, image}, o).err,
              "gridpack: '" + dir.path + "' is a directory, not a file\n");
    EXPECT_EQ(runGridpack({}, o).err, "gridpack: standard input is a directory, not a file\n");
    // A comment file that opens but cannot be read (EIO): named when it is closed.
    EXPECT_EQ(
        runGridpack({"-text", "/proc/self/mem", image}).err,
        "gridpack: 1 colors found\ngridpack: A file read or write error occurred at some point\n");
    // Standard input on a terminal is not waited on; a named file is read.
    o = RunOptions(), o.stdinTerminal = true;
    const std::string terminal =
        "gridpack: standard input is a terminal; give an image file or pipe one in\n";
    EXPECT_EQ(runGridpack({}, o).err, terminal);
    EXPECT_EQ(runGridpack({"-"}, o).err, terminal);
    EXPECT_EQ(runGridpack({"-quiet", image}, o).status, 0);
}

TEST(Terminal, NoPngOnATerminalAndTheInputIsNotRead) {
    RunOptions o("P2 1 1 255 0\n");
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

// Standard error on a terminal: in a conversion of about 2 s (a third of the file its header),
// progress from the first second on and past 75 %, ten lines a second at most, erased before a
// message and at the end; none under -quiet, nor in 0.15 s of work (unless these are slowed down).
TEST(Terminal, ProgressLinesLeaveOnlyTheMessages) {
    TempDir dir;
    const std::string big = "P6\n#" + std::string(27000000, 'x') + largeImage(4500, 4000).substr(2),
                      files[] = {dir.write("big.ppm", spoiled(big)),
                                 dir.write("small.ppm", spoiled(largeImage(1300, 1300)))};
    const std::regex erased(
        "(\rgridpack: pass [12] of 2: ([0-9]|[1-9][0-9]|100)%\033\\[K)+\r\033\\[K"),
        late("pass 2 of 2: (7[5-9]|[89][0-9]|100)%"), share(": ([0-9]+)%");
    RunOptions tty;
    tty.stderrTerminal = true;
    tty.env["GRIDPACK_THREADS"] = "1";  // the same length of work on a machine of many cores
    for (int run = 0; run < 3; ++run) { // big, big under -quiet, small
        const auto start = std::chrono::steady_clock::now();
        const std::string shown =
            runGridpack({run == 1 ? "-quiet" : "-plain", files[run / 2]}, tty).err;
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run == 1 ? shown : std::regex_replace(shown, erased, ""),
                  "gridpack: sample value 255 is greater than maxval 254\n");
        EXPECT_LE(std::count(shown.begin(), shown.end(), '%'), 10 * took + 1);
        EXPECT_TRUE(std::regex_search(shown, late) == (run == 0) || (run == 0 && took < 1.5) ||
                    (run == 2 && took >= 1));
        std::smatch first; // after a second, so past a quarter of a second's share at least
        EXPECT_TRUE(!std::regex_search(shown, first, share) ||
                    std::stoi(first[1].str()) >= 25 / took);
    }
}

// Interrupted (seven passes take long), the line is erased and the signal ends the process.
TEST(Terminal, AnInterruptionErasesTheProgressLine) {
    TempDir dir;
    const std::string file = dir.write("big.ppm", largeImage(4500, 4000));
    const auto interrupted = [&](int sig) {
        RunOptions tty;
        tty.stderrTerminal = true, tty.signal = sig, tty.signalAfterMs = 2500;
        return runGridpack({"-interlace", file}, tty);
    };
    auto hangup = std::async(std::launch::async, interrupted, SIGHUP);
    for (const RunResult& r : {interrupted(SIGINT), hangup.get()}) {
        EXPECT_NE(r.err.find("\rgridpack: pass "), std::string::npos);
        EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K");
        EXPECT_NE(r.signal, 0);
    }
}
