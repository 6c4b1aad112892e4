// What the case tables cannot say: where the bytes come from and go to (only a pipe is copied,
// to $TMPDIR or else /tmp), output that cannot be delivered, closed descriptors, unreadable
// streams, and terminals: no PNG onto one, and a progress line that leaves only the messages.
#include <chrono>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

#include "harness.h"
#include "pngdecode.h"

namespace {
// Pixels of many colours; 200 x 120 is more than a pipe's buffer in and out.
std::string largeImage(unsigned cols = 200, unsigned rows = 120) {
    std::string image = "P6\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n255\n";
    for (unsigned i = 0, state = 12345; i < 3 * cols * rows; ++i)
        image += char((state = state * 1103515245u + 12345u) >> 24);
    return image;
}
} // namespace

TEST(Streams, OnlyAPipeIsCopiedToTmpdirOrElseTmpAndNothingIsLeftBehind) {
    TempDir dir, empty;
    const std::string image = largeImage(), file = dir.write("in.ppm", image), sub = empty.path;
    const std::string png = runGridpack({file}, "").out;
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
    RunOptions o;
    o.in = image, o.env["TMPDIR"] = sub, o.fileSizeLimit = 1000;
    EXPECT_EQ(runGridpack({"-quiet"}, o).err,
              "gridpack: cannot write temporary file in '" + sub + "': File too large\n");
    EXPECT_EQ(rmdir(sub.c_str()), 0); // every copy went, also the one that failed
}

// A small PNG fails when standard output is closed, after an informational message; a large one
// in libpng's writing.
TEST(Streams, OutputThatCannotBeDeliveredIsAnError) {
    RunOptions o;
    o.in = "P2 1 1 255 0\n", o.outFile = "/dev/full";
    const std::string full =
        "gridpack: Error writing the output file.  Errno = No space left on device (28)\n";
    EXPECT_EQ(runGridpack({"-quiet"}, o).err, full);
    const RunResult r = runGridpack({}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "gridpack: 1 colors found\ngridpack: A file read or write error occurred at "
                     "some point\n" +
                         full);
    o.in = largeImage();
    EXPECT_EQ(runGridpack({}, o).status, 1);
}

TEST(Streams, ClosedDescriptorsAndUnreadableStreams) {
    RunOptions o;
    o.in = "P2 1 1 255 0\n", o.closed = 1;
    RunResult r = runGridpack({}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "gridpack: Standard output is closed; there is nowhere to write the PNG\n");
    // Without standard error the messages go nowhere, not into the copy of the input.
    o.in = largeImage(), o.closed = 2;
    EXPECT_EQ(runGridpack({"-verbose"}, o).out, runGridpack({}, o.in).out);
    // A folder: as the input, named or on standard input, it fails; as the comment file, it
    // holds no comments, and closing it says that reading failed.
    TempDir dir;
    o = RunOptions(), o.inFile = dir.path;
    for (const std::vector<std::string>& args : {std::vector<std::string>{dir.path}, {}})
        EXPECT_EQ(runGridpack(args, o).err, "gridpack: Error reading input file into temporary "
                                            "file.  Errno = Is a directory (21)\n");
    EXPECT_EQ(runGridpack({"-text", dir.path}, "P2 1 1 255 0\n").err,
              "gridpack: 1 colors found\ngridpack: A file read or write error occurred at some "
              "point\n");
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

// Standard error on a terminal: in a conversion of about 2 s (a third of the file its header),
// progress from the first second on and past 75 %, ten lines a second at most, erased before a
// message and at the end; none under -quiet, nor in 0.15 s of work (unless these are slowed down).
TEST(Terminal, ProgressLinesLeaveOnlyTheMessages) {
    TempDir dir;
    const std::string big = "P6\n#" + std::string(27000000, 'x') + largeImage(4500, 4000).substr(2),
                      small = largeImage(1300, 1300),
                      files[] = {dir.write("big.ppm", big.substr(0, big.size() - 9)),
                                 dir.write("small.ppm", small.substr(0, small.size() - 9))};
    const std::regex erased(
        "(\rgridpack: pass [1-3] of 3: ([0-9]|[1-9][0-9]|100)%\033\\[K)+\r\033\\[K"),
        late("pass 3 of 3: (7[5-9]|[89][0-9]|100)%"), share(": ([0-9]+)%");
    RunOptions tty;
    tty.stderrTerminal = true;
    for (int run = 0; run < 3; ++run) { // big, big under -quiet, small
        const auto start = std::chrono::steady_clock::now();
        const std::string shown =
            runGridpack({run == 1 ? "-quiet" : "-plain", files[run / 2]}, tty).err;
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(std::regex_replace(shown, erased, ""),
                  "gridpack: EOF / read error reading a one-byte sample\n");
        EXPECT_LE(std::count(shown.begin(), shown.end(), '%'), 10 * took + 1);
        EXPECT_TRUE(std::regex_search(shown, late) == (run == 0) || (run == 0 && took < 1.5) ||
                    (run == 2 && took >= 1));
        std::smatch first; // after a second, so past a quarter of a second's share at least
        EXPECT_TRUE(!std::regex_search(shown, first, share) ||
                    std::stoi(first[1].str()) >= 25 / took);
    }
}
