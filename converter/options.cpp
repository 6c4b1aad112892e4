// The scan of the converter's own command-line options into one Options record.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <zlib.h>

#include "gridpack.h"
#include "pixmill_build.h"

namespace gridpack {

const char usageText[] =
    "[-verbose] [-downscale] [-interlace] [-force] [-alpha file] ...\n"
    "             ... [-transparent color] [-background color] [-gamma value] ...\n"
    "             ... [-hist] [-chroma wx wy rx ry gx gy bx by] [-phys x y unit] ...\n"
    "             ... [-text file] [-ztxt file] [-time [yy]yy-mm-dd hh:mm:ss] ...\n"
    "             ... [-palette file] [-filter 0..4] [-compression 0..9] [pnmfile]";

namespace {
enum Option {
    VERBOSE,
    DOWNSCALE,
    INTERLACE,
    ALPHA,
    TRANSPARENT,
    BACKGROUND,
    GAMMA,
    HIST,
    CHROMA,
    PHYS,
    TEXT,
    ZTXT,
    TIME,
    PALETTE,
    FILTER,
    COMPRESSION,
    FORCE,
    UNKNOWN
};

struct Keyword {
    char keyword[16]; // an array, not a pointer: the table stays read-only data
    int minLength;    // counts the leading hyphen
    Option option;
};

// Matching follows this order, which is what makes -t and -p too short for every keyword.
const Keyword keywords[] = {
    {"-verbose", 2, VERBOSE},
    {"-downscale", 2, DOWNSCALE},
    {"-interlace", 2, INTERLACE},
    {"-alpha", 2, ALPHA},
    {"-transparent", 3, TRANSPARENT},
    {"-background", 2, BACKGROUND},
    {"-gamma", 2, GAMMA},
    {"-hist", 2, HIST},
    {"-chroma", 3, CHROMA},
    {"-phys", 3, PHYS},
    {"-text", 3, TEXT},
    {"-ztxt", 2, ZTXT},
    {"-time", 3, TIME},
    {"-palette", 3, PALETTE},
    {"-filter", 3, FILTER},
    {"-compression", 3, COMPRESSION},
    {"-force", 3, FORCE},
};

Option matchOption(const char* arg) {
    for (const Keyword& k : keywords)
        if (pm_keymatch(arg, k.keyword, k.minLength)) return k.option;
    return UNKNOWN;
}

// The argument after argv[*argnP], consumed whatever it looks like; usage when there is none.
const char* nextArgument(int argc, char* argv[], int* argnP) {
    if (++*argnP >= argc) pm_usage(usageText);
    return argv[*argnP];
}

// The first value on the command line that is not what its option needs; it is reported once
// every option has been read, so that a missing argument or a value out of range given later
// still gets the usage message first, as it always has.
struct BadValue {
    const char* option = nullptr;
    const char* needs = nullptr;
    std::string text;
};

void refuse(BadValue& bad, const char* option, const char* needs, const std::string& text) {
    if (!bad.option) bad = BadValue{option, needs, text};
}

// A value is a number and nothing else: "1/2.2" read as far as it goes would be 1. Blanks
// before the number are allowed, as they always were.
bool scanFloat(BadValue& bad, const char* option, const char* arg, float* valueP) {
    char* end;
    const float v = std::strtof(arg, &end);
    if (end == arg || *end != '\0') {
        refuse(bad, option, "a number", arg);
        return false;
    }
    *valueP = v;
    return true;
}

// A whole number outside an int's range is stored as INT_MIN, which every range check refuses.
bool scanInt(BadValue& bad, const char* option, const char* arg, int* valueP) {
    char* end;
    errno = 0;
    const long long v = std::strtoll(arg, &end, 10);
    if (end == arg || *end != '\0') {
        refuse(bad, option, "a whole number", arg);
        return false;
    }
    *valueP = errno == ERANGE || v < INT_MIN || v > INT_MAX ? INT_MIN : int(v);
    return true;
}

// Digits only, at most six of them (so no overflow); false for anything else.
bool digitsValue(const char* s, size_t n, int* valueP) {
    if (n == 0 || n > 6) return false;
    int v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *valueP = v;
    return true;
}

// Splits text at sep into at most `most` numbers; false unless there are at least `least`.
bool numberFields(const char* text, char sep, int least, int most, int fields[]) {
    int n = 0;
    for (const char* p = text;; ++n) {
        const char* next = std::strchr(p, sep);
        const size_t length = next ? size_t(next - p) : std::strlen(p);
        if (n == most || !digitsValue(p, length, &fields[n])) return false;
        if (!next) return n + 1 >= least;
        p = next + 1;
    }
}

bool leapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }
} // namespace

bool parseModificationTime(const char* date, const char* time, png_time* timeP) {
    int d[3], t[3] = {0, 0, 0};
    if (!numberFields(date, '-', 3, 3, d) || !numberFields(time, ':', 1, 3, t)) return false;
    // A two-digit year counts from 1900 (26 is 1926); any other year is the year as written.
    const int year = d[0] < 100 ? 1900 + d[0] : d[0];
    static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year > 65535 || d[1] < 1 || d[1] > 12 || d[2] < 1 || d[2] > monthDays[d[1] - 1] ||
        (d[1] == 2 && d[2] == 29 && !leapYear(year)) || t[0] > 23 || t[1] > 59 || t[2] > 60)
        return false;
    *timeP = png_time{png_uint_16(year), png_byte(d[1]), png_byte(d[2]),
                      png_byte(t[0]),    png_byte(t[1]), png_byte(t[2])};
    return true;
}

int parseOptions(int argc, char* argv[], Options* optionsP) {
    Options& o = *optionsP;
    o = Options{};
    BadValue bad;
    int argn = true;
    for (; argn < argc && argv[argn][0] == '-' && argv[argn][1] != '\0'; ++argn) {
        switch (matchOption(argv[argn])) {
        case VERBOSE:
            o.verbose = true;
            break;
        case DOWNSCALE:
            o.downscale = true;
            break;
        case INTERLACE:
            o.interlace = true;
            break;
        case ALPHA:
            if (o.transparent > 0) pm_error("-alpha and -transparent are mutually exclusive");
            o.alpha = true;
            o.alpha_file = nextArgument(argc, argv, &argn);
            break;
        case TRANSPARENT:
            if (o.alpha) pm_error("-alpha and -transparent are mutually exclusive");
            o.transparent = 1;
            o.transstring = nextArgument(argc, argv, &argn);
            break;
        case BACKGROUND:
            o.background = 1;
            o.backstring = nextArgument(argc, argv, &argn);
            break;
        case GAMMA: {
            const char* const arg = nextArgument(argc, argv, &argn);
            // libpng stops at a gamma of 0; a negative or endless one means nothing.
            if (scanFloat(bad, "-gamma", arg, &o.gamma) && !(o.gamma > 0 && std::isfinite(o.gamma)))
                refuse(bad, "-gamma", "a positive number", arg);
            break;
        }
        case HIST:
            o.hist = true;
            break;
        case CHROMA:
            for (float* value : {&o.chroma_wx, &o.chroma_wy, &o.chroma_rx, &o.chroma_ry,
                                 &o.chroma_gx, &o.chroma_gy, &o.chroma_bx, &o.chroma_by})
                scanFloat(bad, "-chroma", nextArgument(argc, argv, &argn), value);
            break;
        case PHYS:
            for (int* value : {&o.phys_x, &o.phys_y, &o.phys_unit})
                scanInt(bad, "-phys", nextArgument(argc, argv, &argn), value);
            break;
        case TEXT:
            o.text = true;
            o.text_file = nextArgument(argc, argv, &argn);
            break;
        case ZTXT:
            o.ztxt = true;
            o.text_file = nextArgument(argc, argv, &argn);
            break;
        case TIME: {
            o.mtime = true;
            o.date_string = nextArgument(argc, argv, &argn);
            o.time_string = nextArgument(argc, argv, &argn);
            png_time checked;
            if (!parseModificationTime(o.date_string, o.time_string, &checked))
                refuse(bad, "-time", "a date and a time as yyyy-mm-dd hh:mm:ss",
                       std::string(o.date_string) + " " + o.time_string);
            break;
        }
        case PALETTE:
            o.palette_file = nextArgument(argc, argv, &argn);
            break;
        case FILTER:
            if (scanInt(bad, "-filter", nextArgument(argc, argv, &argn), &o.filter) &&
                (o.filter < 0 || o.filter > 4)) {
                pm_message("filter must be 0 (none), 1 (sub), 2 (up), 3 (avg) or 4 (paeth)");
                pm_usage(usageText);
            }
            break;
        case COMPRESSION:
            if (scanInt(bad, "-compression", nextArgument(argc, argv, &argn), &o.compression) &&
                (o.compression < 0 || o.compression > 9)) {
                pm_message("zlib compression must be between 0 (none) and 9 (max)");
                pm_usage(usageText);
            }
            break;
        case FORCE:
            o.force = true;
            break;
        case UNKNOWN:
            pm_message("unknown option '%s' ignored", argv[argn]);
            displayVersion();
            break;
        }
    }
    if (bad.option) pm_error("%s needs %s, not '%s'", bad.option, bad.needs, bad.text.c_str());
    // A count PNG cannot hold or a unit it does not define would make a file validators reject.
    if (o.phys_unit != -1 && (o.phys_x < 0 || o.phys_y < 0 || (o.phys_unit & 0xff) > 1))
        pm_error("-phys needs pixels per unit from 0 to 2147483647 and a unit of 0 (unknown) or 1 "
                 "(metre)");
    return argn;
}

void displayVersion() {
    std::fprintf(stderr, "gridpack version %s.\n", GRIDPACK_VERSION_TEXT);
    std::fprintf(stderr, "   Compiled with libpng %s.\n", PNG_LIBPNG_VER_STRING);
    std::fprintf(stderr, "   Compiled with zlib %s; using zlib %s.\n", ZLIB_VERSION, zlibVersion());
    std::fprintf(stderr, "   Compiled with %d-bit pixmill support (PPM_OVERALLMAXVAL = %d).\n",
                 pm_maxvaltobits(int(PPM_OVERALLMAXVAL)), int(PPM_OVERALLMAXVAL));
    std::fprintf(stderr, "\n");
}

} // namespace gridpack
