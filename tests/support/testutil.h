// Small helpers shared by the tests: temporary files and anymap images written by hand.
#ifndef TESTS_SUPPORT_TESTUTIL_H
#define TESTS_SUPPORT_TESTUTIL_H

#include <cstdio>
#include <string>
#include <vector>

// A directory of its own for one test, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Writes a file in the directory and returns its path.
    std::string write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

// An anonymous temporary file holding bytes, positioned at its start.
FILE* tmpFileWith(const std::string& bytes);
std::string readWholeFile(const std::string& path);

// An anymap image: magic "P1".."P6", then the header and raster. Samples are given row by row
// (three per pixel for P3/P6, one bit per pixel for P1/P4 with 1 black). Raw samples take two
// bytes, high first, above maxval 255.
std::string pnmImage(const std::string& magic, int cols, int rows, unsigned maxval,
                     const std::vector<unsigned>& samples);

// The path of a file in the tests' own data folder.
std::string testDataPath(const std::string& name);

#endif
