// Helpers of the unit tests: fatal-path checks, captured messages, images read back as plain
// sample triples, images opened as the conversion driver opens them, and the fixtures that reset
// the process-wide state of the library and the converter.
#ifndef TESTS_SUPPORT_UNITUTIL_H
#define TESTS_SUPPORT_UNITUTIL_H

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "gridpack.h"
#include "pixmill.h"
#include "testutil.h"

// pm_error ends the process with status 1 and the message on standard error.
#define EXPECT_FATAL(statement, regex) EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), regex)

// What a call writes on standard error.
template <typename F, typename... Args> std::string stderrOf(F f, Args&&... args) {
    ::testing::internal::CaptureStderr();
    f(std::forward<Args>(args)...);
    return ::testing::internal::GetCapturedStderr();
}

// A temporary file holding bytes, closed with the object.
struct TmpFile {
    FILE* f;
    explicit TmpFile(const std::string& bytes) : f(tmpFileWith(bytes)) {}
    ~TmpFile() { std::fclose(f); }
    TmpFile(const TmpFile&) = delete;
    TmpFile& operator=(const TmpFile&) = delete;
    operator FILE*() const { return f; }
};

// Pixels as "r,g,b" text, for comparing whole rows, palettes and histograms in their order.
inline std::string str(const pixel& p) {
    return std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b);
}
inline std::string str(const pixel* row, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += (i ? " " : "") + str(row[i]);
    return s;
}

// A pixel or xel as red, green, blue, comparable and printable by GoogleTest.
using Rgb3 = std::array<unsigned, 3>;
inline Rgb3 rgb3(const pixel& p) { return {p.r, p.g, p.b}; }
inline std::vector<Rgb3> rgb3Row(const pixel* row, int cols) {
    std::vector<Rgb3> out;
    for (int col = 0; col < cols; ++col) out.push_back(rgb3(row[col]));
    return out;
}

// An image read whole through the anymap reader, rows concatenated.
struct PnmRead {
    int cols = 0, rows = 0, format = 0;
    pixval maxval = 0;
    std::vector<Rgb3> xels;
};

inline PnmRead readAnymap(const std::string& bytes) {
    TmpFile f(bytes);
    PnmRead img;
    xel** xels = pnm_readpnm(f, &img.cols, &img.rows, &img.maxval, &img.format);
    for (int row = 0; row < img.rows; ++row)
        for (int col = 0; col < img.cols; ++col) img.xels.push_back(rgb3(xels[row][col]));
    pm_freearray(reinterpret_cast<char**>(xels), img.rows);
    return img;
}

// What a writer puts on a stream, as bytes.
template <typename Write> std::string writtenBy(Write write) {
    FILE* f = std::tmpfile();
    write(f);
    std::string out;
    std::rewind(f);
    for (int c; (c = std::getc(f)) != EOF;) out += char(c);
    std::fclose(f);
    return out;
}

// An anymap image in a temporary file, opened through the real header reader, with the raster
// position recorded as the conversion driver does.
struct ImageFile : TmpFile {
    int cols = 0, rows = 0, format = 0;
    pixval maxval = 0;
    pm_filepos rasterPos = 0;

    explicit ImageFile(const std::string& bytes) : TmpFile(bytes) {
        pnm_readpnminit(f, &cols, &rows, &maxval, &format);
        pm_tell2(f, &rasterPos, sizeof rasterPos);
    }
    ImageFile(const std::string& magic, int c, int r, unsigned m, const std::vector<unsigned>& s)
        : ImageFile(pnmImage(magic, c, r, m, s)) {}
};

// An alpha mask of rows x cols values given row by row, freed with the object.
struct AlphaMask {
    gray** rows;
    int nrows;
    AlphaMask(int cols, int r, const std::vector<unsigned>& values) : nrows(r) {
        rows = pm_allocarray_of<gray>(cols, r);
        for (int y = 0; y < r; ++y)
            for (int x = 0; x < cols; ++x) rows[y][x] = values.at(size_t(y * cols + x));
    }
    ~AlphaMask() { pm_freearray(reinterpret_cast<char**>(rows), nrows); }
    AlphaMask(const AlphaMask&) = delete;
    AlphaMask& operator=(const AlphaMask&) = delete;
};

// Library tests: messages on, under the program name "prog".
class LibTest : public ::testing::Test {
protected:
    void SetUp() override {
        pm_progname = "prog";
        pm_setMessage(1, nullptr);
    }
};

// Converter tests: default options, messages on, no census left over from another test.
class ConverterTest : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        gridpack::freeChv();
        gridpack::errorlevel = 0;
        pm_progname = "gridpack";
        pm_setMessage(1, nullptr);
    }
    void TearDown() override { gridpack::freeChv(); }
};

#endif
