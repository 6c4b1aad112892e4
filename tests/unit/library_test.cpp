// Library behaviour the converter never calls: writers, promotion, xels, raster checks, positions,
// byte order, arrays, colour rows, the dictionary at other maxvals, start-up and the formatter.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "pixmill.h"

// pm_error: pm_fatal with the message (as written on standard error).
#define EXPECT_FATAL(statement, regex)                                                             \
    EXPECT_THAT([&] { statement; },                                                                \
                ::testing::ThrowsMessage<pm_fatal>(::testing::ContainsRegex(regex)))

// What f writes to the stream it is given.
template <typename F> static std::string written(F f) {
    FILE* out = std::tmpfile();
    return f(out), readBack(out);
}

// Numbers; pixels as "r.g.b", a gray xel (r = g = 0) as its value; rows joined by blanks.
static std::string str(long v) { return std::to_string(v); }
static std::string str(pixel p) {
    return (p.r || p.g ? str(p.r) + "." + str(p.g) + "." : "") + str(p.b);
}
template <typename T> static std::string str(const T* row, int n) {
    return n <= 0 ? "" : str(row[0]) + (n > 1 ? " " + str(row + 1, n - 1) : "");
}

// Where the library's formatter and the platform's differ in length, in bytes or by writing past
// the size, at a buffer size from 0 to one past the full length; empty where they agree.
static std::string differences(const char* format, ...) {
    va_list ap, copy;
    va_start(ap, format);
    char want[160], got[160];
    va_copy(copy, ap);
    const size_t n = size_t(std::vsnprintf(want, sizeof want, format, copy));
    std::string result;
    for (size_t room = 0; room <= n + 1 && result.empty(); ++room) {
        std::memset(got, '@', sizeof got);
        va_end(copy), va_copy(copy, ap);
        const std::string kept =
            (room ? std::string(want, std::min(room - 1, n)) + '\0' : "") + '@';
        if (vsnprintfN(got, room, format, copy) != int(n) || std::string(got, room + 1) != kept)
            result = format + (" at size " + str(long(room)));
    }
    va_end(copy), va_end(ap);
    return result;
}

// The library is not reentrant: every test starts from the same process-wide state.
struct Library : ::testing::Test {
    void SetUp() override { pm_plain_output = 0, pm_progname = "unit", pm_setMessage(1, nullptr); }
};

TEST_F(Library, WritersPromotionAndXels) {
    pixel row[7];
    gray g[18];
    for (unsigned i = 0; i < 18; ++i)
        g[i] = i * 1000, row[i % 7] = {i % 7, i % 7 * 10, i % 7 * 100};
    // -plain takes any maxval; raw samples over 255 are 2 bytes; plain lines: 6 pixels, 17 samples
    EXPECT_EQ(written([&](FILE* f) {
                  pm_plain_output = 1, pgm_writepgminit(f, 2, 1, 70000, 0), pm_plain_output = 0;
                  ppm_writeppm(f, nullptr, 3, 0, 255, 0), ppm_writeppmrow(f, row + 2, 1, 256, 0);
                  pgm_writepgminit(f, 1, 1, 65535, 0), pgm_writepgmrow(f, g + 1, 1, 70000, 0);
                  ppm_writeppmrow(f, row, 7, 700, 1), pgm_writepgmrow(f, g, 18, 65535, 1);
              }),
              std::string("P2\n2 1\n70000\nP6\n3 0\n255\n\0\x02\0\x14\0\xc8P5\n1 1\n65535\n", 43) +
                  "1000\n0 0 0  1 10 100  2 20 200  3 30 300  4 40 400  5 50 500\n6 60 600\n0 1000 "
                  "2000 3000 4000 5000 6000 7000 8000 9000 10000 11000 12000 13000 14000 15000 "
                  "16000\n17000\n");
    EXPECT_FATAL(ppm_writeppminit(stdout, 1, 1, 65536, 0), "to ppm_writeppminit\\(\\): 65536");
    EXPECT_FATAL(pgm_writerawsample(std::fopen("/dev/null", "r"), 1, 256), "writing double byte");
    // Gray scaling truncates, colour scaling rounds, bitmaps become full scale.
    // clang-format off
    const struct { int from; pixval max; int to; pixval newmax; pixel in; } table[] = {
        {PLAIN_PBM, 1, PLAIN_PPM, 9, {0, 0, 1}},     {RAW_PBM, 7, RAW_PGM, 5, {0, 0, 3}},          {PLAIN_PGM, 100, PLAIN_PPM, 255, {0, 0, 1}},
        {PLAIN_PGM, 100, RAW_PGM, 255, {0, 0, 99}},  {PLAIN_PGM, 255, PLAIN_PPM, 255, {0, 0, 7}},  {PLAIN_PPM, 100, RAW_PPM, 255, {1, 99, 2}},
        {PLAIN_PPM, 9, PLAIN_PPM, 9, {5, 6, 7}}};
    // clang-format on
    std::string s;
    for (auto c : table)
        pnm_promoteformatrow(&c.in, 1, c.max, c.from, c.newmax, c.to), s += str(c.in) + " ";
    // Corners 10 20 / 30 10 (upper left = lower right); a row with differing ends, half black.
    xel top[] = {{0, 0, 10}, {0, 0, 7}, {0, 0, 20}}, low[] = {{0, 0, 30}, {0, 0, 7}, {0, 0, 10}},
        *xels[] = {top, low}, bits[] = {{0, 0, 1}, {0, 0, 0}, {0, 0, 1}, {0, 0, 0}},
        x[] = {{0, 0, 1}, {0, 0, 3}, {1, 2, 3}};
    pnm_invertxel(x, 5, RAW_PBM), pnm_invertxel(x + 1, 5, RAW_PGM),
        pnm_invertxel(x + 2, 5, RAW_PPM);
    const pixel more[] = {pnm_backgroundxel(xels, 3, 2, 255, RAW_PGM),
                          pnm_backgroundxelrow(bits, 4, 1, RAW_PBM), pnm_whitexel(5, RAW_PGM),
                          pnm_whitexel(5, PLAIN_PPM), xeltopixel(xel{5, 6, 9})};
    EXPECT_EQ(s + str(x, 3) + " " + str(more, 5),
              "9.9.9 5 2.2.2 252 7.7.7 3.252.5 5.6.7 0 2 4.3.2 10 0 5 5.5.5 9.9.9");
    EXPECT_FATAL(pnm_promoteformatrow(x, 1, 9, PLAIN_PGM, 8, PLAIN_PPM), "can't decrease maxval");
    EXPECT_FATAL(pnm_promoteformatrow(x, 1, 9, RAW_PGM, 9, RAW_PBM), "can't promote downwards!");
}

TEST_F(Library, RasterChecksAtExactlyTheSizeAndOneByteMore) {
    // 0 the size, 1 an unknown check type, 2 too long, 3 not checkable (a plain raster, a device).
    const auto pgm = pgm_check, ppm = ppm_check, pnm = pnm_check; // each takes the poorer formats
    // clang-format off
    const struct { decltype(pgm) check; int format, cols, rows; pixval maxval; int bytes, result, type = 0; } table[] = {
        {pgm, RAW_PBM, 10, 2, 1, 4, 0}, {ppm, RAW_PBM, 8, 1, 1, 1, 0}, {pnm, RAW_PBM, 17, 1, 1, 3, 0},
        {pgm, RAW_PGM, 10, 2, 255, 20, 0}, {pgm, RAW_PGM, 10, 2, 256, 40, 0}, {ppm, RAW_PGM, 3, 1, 256, 6, 0},
        {pnm, RAW_PGM, 3, 1, 255, 3, 0}, {ppm, RAW_PPM, 10, 2, 255, 60, 0}, {ppm, RAW_PPM, 10, 2, 256, 120, 0},
        {pnm, RAW_PPM, 1, 1, 256, 6, 0}, {pgm, RAW_PGM, 10, 0, 255, 0, 0}, {ppm, PLAIN_PPM, 1, 1, 255, 0, 3},
        {pnm, PLAIN_PBM, 1, 1, 1, 0, 3}, {pgm, RAW_PGM, 1, 1, 255, 0, 1, 1}, {pgm, RAW_PGM, 0, 1, 255, -1, 3}};
    // clang-format on
    for (const auto& c : table)
        for (int extra : {0, 1}) {
            FILE* f = c.bytes < 0 ? std::fopen("/dev/null", "r")
                                  : tmpFileWith(std::string(size_t(c.bytes + extra), 'x'));
            int result = -1;
            c.check(f, c.type, c.format, c.cols, c.rows, c.maxval, &result);
            EXPECT_EQ(result, c.result == 0 && extra ? 2 : c.result) << c.format << " " << c.bytes;
            std::fclose(f);
        }
    EXPECT_FATAL(pm_check(tmpFileWith("abcde"), 0, 6, nullptr), "6 bytes, but\nthe file ends");
    EXPECT_FATAL(ppm_check(stdin, 0, RAW_PPM, -1, 1, 1, nullptr), "columns .* ppm_check.*: -1");
}

TEST_F(Library, ByteOrderPositionsArraysAndSizes) {
    FILE* f = tmpFileWith(written([](FILE* o) {
        pm_writebigshort(o, 0x1234), pm_writelittleshort(o, 0x1234);
        pm_writebiglong(o, 0x12345678), pm_writelittlelong(o, -2), std::fputs("ab", o);
    }));
    short s[3]; // reads return 0, and -1 for a short of which only one byte is left
    long l[2];
    long long position = 12;
    const int status[] = {pm_readbigshort(f, s), pm_readlittleshort(f, s + 1),
                          pm_readbiglong(f, l),  pm_readlittlelong(f, l + 1),
                          std::fgetc(f),         pm_readbigshort(f, s + 2)};
    pm_seek2(f, &position, sizeof position), pm_seek(f, pm_tell(f) - 1);
    pm_tell2(f, &position, sizeof position);
    EXPECT_EQ(str(status, 6) + " " + str(s, 2) + " " + str(l, 2) + " " + str(long(position)),
              "0 0 0 0 97 -1 4660 4660 305419896 -2 11");
    EXPECT_FATAL(pm_tell2(f, &position, 2), "invalid: 2.  Valid sizes are 4 and 8");
    std::fclose(f);
    f = std::fopen("/dev/full", "w"); // the failure left to the closing of a written file
    testing::internal::CaptureStderr();
    EXPECT_FATAL((std::fputc('x', f), pm_closew(f)), "Errno = No space left on device \\(28\\)");
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("error occurred"));
    void *p = &p, *q = nullptr; // a product too large is nothing; a size of 0 is still a block
    mallocProduct(&p, size_t(1) << 63, 2), mallocProduct(&q, 0, 8);
    char** rows = pm_allocarray(3, 2, 4); // one block of rows of 12 bytes; no rows is no error
    EXPECT_EQ(str(rows[1] - rows[0]) + (p ? " p" : "") + (q ? " q" : ""), "12 q");
    std::free(q), pm_freearray(rows, 2), pm_freearray(pm_allocarray(3, 0, 4), 0);
    EXPECT_EQ(pm_lcm(4, 6, 10, 1000) * 10000 + pm_lcm(7, 11, 13, 1000), 601000u);
}

TEST_F(Library, ColourRowsHistogramsAndTheDictionary) {
    // Sorted by red, green, blue (red and green tie often here), or by a caller's comparison.
    static const auto key = [](const pixel& p) { return int(p.r * 2000 + p.g * 1000 + p.b); };
    unsigned seed = 3;
    std::vector<pixel> want(300);
    for (pixel& p : want)
        seed = seed * 1103515245 + 12345, p = pixel{seed >> 31, seed >> 30 & 1, seed % 300};
    std::vector<pixel> got = want;
    std::sort(want.begin(), want.end(), [](pixel a, pixel b) { return key(a) < key(b); });
    ppm_sortcolorrow(got.data(), 300, nullptr);
    std::string s = str(got.data(), 300) == str(want.data(), 300) ? "" : "unsorted ";
    ppm_sortcolorrow(got.data(), 300, [](pixel* a, pixel* b) { return key(*b) - key(*a); });
    std::reverse(want.begin(), want.end());
    s += str(got.data(), 300) == str(want.data(), 300) ? "" : "not descending ";
    // A colour row hashes a colour to its first index; colours are collected in order of first
    // appearance; a map file is one plain row. Closest: the lower of equally near, none if empty.
    pixel row[] = {{1, 2, 3}, {4, 5, 6}, {1, 2, 3}, {0, 0, 9}, {4, 5, 6}, {9, 9, 9}}, *r[] = {row};
    color_hash cht = ppm_colorrowtocolorhash(row, 5);
    int n;
    for (const pixel& p : row) s += str(ppm_lookupcolor(cht, &p)) + " ";
    ppm_freecolorhash(cht);
    s += ppm_computecolorrow(r, 6, 1, 3, &n) ? "a row " : str(n) + " ";
    pixel* cr = ppm_computecolorrow(r, 6, 1, 4, &n);
    s += str(ppm_addtocolorrow(cr, &n, 4, row + 4)) + str(ppm_addtocolorrow(cr, &n, 4, &want[0]));
    s += written([&](FILE* f) { ppm_colorrowtomapfile(f, cr, 4, 99); });
    pm_freerow(cr);
    FILE* f = tmpFileWith("P1 3 1 101"); // a bitmap is maxval 1 to the pixmap reader
    pixval maxval;
    cr = ppm_mapfiletocolorrow(f, 2, &n, &maxval);
    s += str(maxval) + ": " + str(cr, n) + " ", pm_freerow(cr), std::fclose(f);
    const pixel map[] = {{0, 0, 0}, {2, 2, 2}, {65535, 65535, 65535}},
                near[] = {{1, 1, 1}, {40000, 40000, 40000}};
    s += str(ppm_findclosestcolor(map, 3, &near[0])) + str(ppm_findclosestcolor(map, 3, &near[1])) +
         str(ppm_findclosestcolor(map, 0, &near[1])) + " ";
    // Dictionary values scale by truncation (test navy is 10 20 30, gray 128); the reverse is the
    // nearest name, the first of equally near ones, or hexadecimal where allowed.
    // clang-format off
    const std::pair<const char*, pixval> names[] = {{"test navy", 1}, {"White", 1}, {"test navy", 100},
                                                    {"Test Navy", 1000}, {"gray", 254}, {"gray", 256}};
    const struct { pixel rgb; pixval maxval; int hexOk; } reverse[] = {{{10, 20, 30}, 255, 1}, {{11, 20, 30}, 255, 1},
        {{11, 20, 30}, 255, 0}, {{2570, 5140, 7710}, 65535, 1}, {{50, 50, 50}, 100, 1}, {{50, 50, 50}, 100, 0}};
    // clang-format on
    setenv("RGBDEF", testDataPath("rgb.txt").c_str(), 1);
    for (const auto& [name, m] : names) s += str(ppm_parsecolor(name, m)) + ", ";
    for (const auto& c : reverse) s += ppm_colorname(&c.rgb, c.maxval, c.hexOk) + std::string(", ");
    const char** table; // loaded whole, the first name of a colour wins
    const pixel white{255, 255, 255};
    ppm_readcolornamefile(nullptr, 1, &cht, &table);
    s += table[ppm_lookupcolor(cht, &white)] + std::string(table[7] ? " and more, " : ", ");
    ppm_freecolornames(table), ppm_freecolorhash(cht);
    const pixel ycc[] = {color_from_ycbcr(100, 10, 20), color_from_ycbcr(0, -100, -100),
                         color_from_ycbcr(100000, 10000, 0), color_from_ycbcr(0, 0, 1000)};
    EXPECT_EQ(s + str(ycc, 4), "0 1 0 3 1 -1 -1 1-1P3\n4 1\n99\n1 2 3\n4 5 6\n0 0 9\n9 9 9\n"
                               "1: 0 1.1.1 02-1 0, 1.1.1, 3.7.11, 39.78.117, 127.127.127, "
                               "128.128.128, test navy, #0b141e, test navy, test navy, #7f7f7f, "
                               "gray, white, 128.82.117 0.106.0 100000.96544.117710 1402.0.0");
}

TEST_F(Library, FormatterAgreesWithThePlatformAndStartupHelpers) {
    unsigned seed = 1;
    const auto any = [&](const std::string& options) { // one of the options separated by '|'
        std::vector<std::string> all(1);
        for (char c : options) c == '|' ? all.emplace_back() : all.back() += c;
        return all[(seed = seed * 1103515245 + 12345) / 65536 % all.size()];
    };
    std::string wrong;
    for (int i = 0; i < 3000; ++i) {
        const std::string conv = any("d|i|o|u|x|X|c|s"), width = any("|1|7|12|*"),
                          length = conv == "c" || conv == "s" ? "" : any("|h|l|ll"),
                          format = "%%<%" + any("|-|+| |#|0|'") + any("|-|+| |#|0|'") + width +
                                   any("|.|.0|.3|.11|.*") + length + conv + ">";
        const int w = std::stoi(any("-12|-1|0|3|9")), p = std::stoi(any("-3|0|2|13"));
        const long v = std::stol(any("0|1|-1|8|-42|255|65537|2147483647|-2147483648|5000000000"));
        const bool star = format.find(".*") < format.size(), isSigned = conv == "d" || conv == "i";
        const auto call = [&, f = format.c_str()](auto x) {
            if (width == "*") return star ? differences(f, w, p, x) : differences(f, w, x);
            return star ? differences(f, p, x) : differences(f, x);
        };
        wrong += conv == "s"        ? call(any("|a|hello, world").c_str())
                 : length[0] != 'l' ? (isSigned || conv == "c" ? call(int(v)) : call(unsigned(v)))
                 : isSigned         ? call(v)
                                    : call(static_cast<unsigned long>(v));
    }
    EXPECT_EQ(wrong.substr(0, 400), "");
    // D, O, U are ld, lo, lu; a null string is empty; an unknown conversion stands for itself; a
    // final % is nothing. The allocating forms give nothing for a size of 0, else at most the size.
    char buf[32], text[] = "a,,b;c", *pos = text, *got[] = {text, nullptr, nullptr};
    int n[6] = {asnprintfN(&got[0], 0, "hello"), asprintfN(&got[1], "%s-%d", "ab", 12),
                asnprintfN(&got[2], 3, "hello")};
    n[3] = snprintfN(buf, sizeof buf, "%D|%O|%U|%5%|%s|%f%d|%", -5L, 8UL, 9UL, nullptr, 7);
    std::string s = str(n, 4) + " " + buf + (got[0] ? "?" : "") + " " + got[1] + " " + got[2] + " ";
    strfree(got[1]), strfree(got[2]);
    while (pos) s += std::string(strsepN(&pos, ",;")) + "|";
    // The message switch stores 0 or 1; a program name is the last part of a path without ".exe".
    pm_setMessage(7, n + 4), pm_setMessage(0, n + 5);
    s += str(n + 4, 2) + str(pm_showmessages);
    for (const char* arg0 : {"/usr/bin/tool.exe", "dir/TOOL.EXE", ".exe"})
        s += std::string(" ") + pm_arg0toprogname(arg0);
    EXPECT_EQ(s + " " + pm_arg0toprogname(std::string(70, 'n').c_str()),
              "5 5 5 18 -5|10|9|    %||f7| ab-12 he a||b|c|1 10 tool TOOL.EXE  " +
                  std::string(64, 'n'));
    EXPECT_DEATH(asprintfN(got, "%*d%*d", INT_MAX, 1, INT_MAX, 1),
                 "nstring:[0-9]+: failed assertion `str_l >= 0'");
    EXPECT_FATAL((errno = ENOENT, pm_perror("")), "^No such file or directory$");
}
