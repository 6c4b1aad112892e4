// The command line: common options, the option table, argument scans, usage and the version
// report, as the user sees them from the real binary.
#include <gtest/gtest.h>
#include <png.h>
#include <string>
#include <zlib.h>

#include "process.h"
#include "testutil.h"

namespace {
const std::string usageLine =
    "usage:  gridpack [-verbose] [-downscale] [-interlace] [-force] [-alpha file] ...\n"
    "             ... [-transparent color] [-background color] [-gamma value] ...\n"
    "             ... [-hist] [-chroma wx wy rx ry gx gy bx by] [-phys x y unit] ...\n"
    "             ... [-text file] [-ztxt file] [-time [yy]yy-mm-dd hh:mm:ss] ...\n"
    "             ... [-palette file] [-filter 0..4] [-compression 0..9] [pnmfile]\n";

const std::string versionReport =
    std::string("gridpack version 1.0.0 (6 December 2026) +pixmill.\n") +
    "   Compiled with libpng " PNG_LIBPNG_VER_STRING ".\n" +
    "   Compiled with zlib " ZLIB_VERSION "; using zlib " + zlibVersion() + ".\n" +
    "   Compiled with 16-bit pixmill support (PPM_OVERALLMAXVAL = 65535).\n\n";

const std::string missingFile = "/nonexistent/in.ppm";
const std::string missingFileError = "gridpack: Unable to open file '/nonexistent/in.ppm' for "
                                     "reading.  fopen() returns errno 2 (No such file or "
                                     "directory)\n";
const std::string filterMessage =
    "gridpack: filter must be 0 (none), 1 (sub), 2 (up), 3 (avg) or 4 (paeth)\n";
const std::string compressionMessage =
    "gridpack: zlib compression must be between 0 (none) and 9 (max)\n";
} // namespace

TEST(CommandLine, MessagesAndExitStatus) {
    TempDir dir;
    const std::string image = dir.write("in.pgm", "P2 1 1 255 0\n");
    using Args = std::vector<std::string>;
    const std::string exclusive = "gridpack: -alpha and -transparent are mutually exclusive\n";
    const struct {
        std::string message;
        std::vector<Args> argLists;
    } cases[] = {
        // Missing option arguments and surplus arguments; -quiet does not silence usage.
        {usageLine,
         {Args{"-alpha"}, Args{"-tr"}, Args{"-background"},
          Args{"-chroma", "1", "2", "3", "4", "5", "6", "7"}, Args{"-phys", "1", "2"},
          Args{"-time", "2026-12-06"}, Args{"-palette"}, Args{"-filter"}, Args{"-", "extra"},
          Args{"-fi", "7", "-QUIET"}}},
        // The open error of the input comes before a surplus argument; -pa takes a file, so
        // the next argument is the palette file name and the image comes from standard input.
        // A value that scans keeps the range test quiet; a later bad one still fails.
        {missingFileError,
         {Args{missingFile, "extra"}, Args{"-pa", missingFile}, Args{"-quiet", missingFile},
          Args{"-fi", "4", "-co", "9", "-co", "bad", missingFile}}},
        // Abbreviations follow the table order. Too short for every keyword they begin: the
        // version report, then scanning goes on.
        {versionReport + missingFileError,
         {Args{"-t", missingFile}, Args{"-p", missingFile}, Args{"-c", missingFile},
          Args{"-f", missingFile}, Args{"--", missingFile}, Args{"-x", missingFile},
          Args{"-verbosely", missingFile}}},
        {exclusive,
         {Args{"-alpha", "m.pgm", "-tr", "red"}, Args{"-TRANS", "red", "-ALPHA", "m.pgm"}}},
        {filterMessage + usageLine, {Args{"-fi", "5"}, Args{"-fi", "-1"}, Args{"-fi", "x"}}},
        {compressionMessage + usageLine,
         {Args{"-compression", "10"}, Args{"-compression", "-1"}, Args{"-compression", "nine"}}},
        {"gridpack: Use 'man gridpack' for help.\n", {Args{"--help"}}},
        {"", {Args{"--quiet", "-version"}}}, // status 0
    };
    for (const auto& c : cases) {
        for (const Args& args : c.argLists) {
            const RunResult r = runGridpack(args, std::string());
            EXPECT_EQ(r.exitStatus, c.message.empty() ? 0 : 1) << args[0] << " " << args.back();
            EXPECT_EQ(r.stderrText, c.message) << args[0] << " " << args.back();
            EXPECT_EQ(r.stdoutBytes, "");
        }
    }

    // -alpha takes "-mask.pgm" as its file whatever it looks like; the input is read first,
    // then the mask fails to open.
    const RunResult r = runGridpack({"-a", "-mask.pgm", image}, std::string());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.stderrText.find("Unable to open file '-mask.pgm' for reading"), std::string::npos)
        << r.stderrText;
    const RunResult v = runGridpack({"-version", "-help"}, std::string());
    EXPECT_EQ(v.exitStatus, 0);
    EXPECT_NE(v.stderrText.find("gridpack: Using libpixmill from Pixmill Version: Pixmill "),
              std::string::npos);
    EXPECT_EQ(v.stdoutBytes, "");
}

TEST(Output, ClosedStandardOutputIsAnError) {
    RunOptions options;
    options.closeStdout = true;
    options.stdinBytes = "P2 1 1 255 0\n";
    const RunResult r = runGridpack({}, options);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.stderrText,
              "gridpack: Standard output is closed; there is nowhere to write the PNG\n");
}
