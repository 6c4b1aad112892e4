// What the tests share: running the built gridpack, scratch files, and anymap images by hand.
#ifndef TESTS_SUPPORT_HARNESS_H
#define TESTS_SUPPORT_HARNESS_H

#include <cstdio>
#include <map>
#include <string>
#include <vector>

struct RunResult {
    int status = -1, signal = 0; // status -1 when a signal (SIGALRM: the timeout) ended it
    std::string out, err;
};

struct RunOptions {
    RunOptions(std::string input = "") : in(std::move(input)) {}
    std::string in;              // standard input, through a pipe
    std::string inFile, outFile; // or from / to these files (outFile: e.g. /dev/full)
    int closed = -1;             // a standard descriptor left closed
    bool stdinTerminal = false, stdoutTerminal = false, stderrTerminal = false; // or a terminal
    long fileSizeLimit = -1;                // bytes any file may grow to
    std::map<std::string, std::string> env; // set in gridpack's environment
    std::vector<std::string> unset;         // removed from it
    unsigned timeout = 60;                  // seconds
    int signal = 0, signalAfterMs = 0;      // sent to gridpack this long after start
};

// Runs gridpack (GRIDPACK_BINARY, else the build's) with the tests' own colour dictionary.
RunResult runGridpack(const std::vector<std::string>& args, const RunOptions& options = {});

// A folder of its own, open to every user, removed with its files.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    std::string write(const std::string& name, const std::string& bytes) const;
    std::string path;
};

// An anonymous file holding bytes, at its start; and all a file holds, which is then closed.
FILE* tmpFileWith(const std::string& bytes);
std::string readBack(FILE* f);

// An anymap: P1..P6, the header, then the samples row by row (three per pixel for P3/P6; for
// P1/P4 one bit per pixel, 1 black). Raw samples above maxval 255 take two bytes, high first.
std::string pnmImage(const std::string& magic, int cols, int rows, unsigned maxval,
                     const std::vector<unsigned>& samples);

std::string testDataPath(const std::string& name);

#endif
