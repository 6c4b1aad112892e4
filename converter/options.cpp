// The option settings and the scan of the converter's own command-line options.
#include <cstdio>
#include <initializer_list>
#include <zlib.h>

#include "gridpack.h"
#include "pixmill_build.h"

namespace gridpack {

int verbose;
int downscale;
int interlace;
int force;
int alpha;
const char* alpha_file;
int transparent;
const char* transstring;
int background;
const char* backstring;
float gamma;
int hist;
float chroma_wx, chroma_wy, chroma_rx, chroma_ry, chroma_gx, chroma_gy, chroma_bx, chroma_by;
int phys_x, phys_y, phys_unit;
int text;
int ztxt;
const char* text_file;
int mtime;
const char* date_string;
const char* time_string;
int filter;
int compression;

const char* const usageText =
    "[-verbose] [-downscale] [-interlace] [-force] [-alpha file] ...\n"
    "             ... [-transparent color] [-background color] [-gamma value] ...\n"
    "             ... [-hist] [-chroma wx wy rx ry gx gy bx by] [-phys x y unit] ...\n"
    "             ... [-text file] [-ztxt file] [-time [yy]yy-mm-dd hh:mm:ss] ...\n"
    "             ... [-palette file] [-filter 0..4] [-compression 0..9] [pnmfile]";

void resetOptions() {
    verbose = downscale = interlace = force = alpha = 0;
    alpha_file = nullptr;
    transparent = -1;
    transstring = nullptr;
    background = -1;
    backstring = nullptr;
    gamma = -1.0f;
    hist = 0;
    chroma_wx = chroma_wy = chroma_rx = chroma_ry = -1.0f;
    chroma_gx = chroma_gy = chroma_bx = chroma_by = -1.0f;
    phys_x = phys_y = phys_unit = -1;
    text = ztxt = 0;
    text_file = nullptr;
    mtime = 0;
    date_string = time_string = nullptr;
    filter = compression = -1;
}

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
    const char* keyword;
    int minLength; // counts the leading hyphen
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

// An argument that does not scan leaves the setting as it was.
void scanFloat(const char* arg, float* valueP) { std::sscanf(arg, "%f", valueP); }
void scanInt(const char* arg, int* valueP) { std::sscanf(arg, "%d", valueP); }
} // namespace

int parseOptions(int argc, char* argv[], const char** paletteFileP) {
    resetOptions();
    *paletteFileP = nullptr;
    int argn = 1;
    for (; argn < argc && argv[argn][0] == '-' && argv[argn][1] != '\0'; ++argn) {
        switch (matchOption(argv[argn])) {
        case VERBOSE:
            verbose = 1;
            break;
        case DOWNSCALE:
            downscale = 1;
            break;
        case INTERLACE:
            interlace = 1;
            break;
        case ALPHA:
            if (transparent > 0) pm_error("-alpha and -transparent are mutually exclusive");
            alpha = 1;
            alpha_file = nextArgument(argc, argv, &argn);
            break;
        case TRANSPARENT:
            if (alpha) pm_error("-alpha and -transparent are mutually exclusive");
            transparent = 1;
            transstring = nextArgument(argc, argv, &argn);
            break;
        case BACKGROUND:
            background = 1;
            backstring = nextArgument(argc, argv, &argn);
            break;
        case GAMMA:
            scanFloat(nextArgument(argc, argv, &argn), &gamma);
            break;
        case HIST:
            hist = 1;
            break;
        case CHROMA:
            for (float* value : {&chroma_wx, &chroma_wy, &chroma_rx, &chroma_ry, &chroma_gx,
                                 &chroma_gy, &chroma_bx, &chroma_by})
                scanFloat(nextArgument(argc, argv, &argn), value);
            break;
        case PHYS:
            for (int* value : {&phys_x, &phys_y, &phys_unit})
                scanInt(nextArgument(argc, argv, &argn), value);
            break;
        case TEXT:
            text = 1;
            text_file = nextArgument(argc, argv, &argn);
            break;
        case ZTXT:
            ztxt = 1;
            text_file = nextArgument(argc, argv, &argn);
            break;
        case TIME:
            mtime = 1;
            date_string = nextArgument(argc, argv, &argn);
            time_string = nextArgument(argc, argv, &argn);
            break;
        case PALETTE:
            *paletteFileP = nextArgument(argc, argv, &argn);
            break;
        case FILTER:
            scanInt(nextArgument(argc, argv, &argn), &filter);
            if (filter < 0 || filter > 4) {
                pm_message("filter must be 0 (none), 1 (sub), 2 (up), 3 (avg) or 4 (paeth)");
                pm_usage(usageText);
            }
            break;
        case COMPRESSION:
            scanInt(nextArgument(argc, argv, &argn), &compression);
            if (compression < 0 || compression > 9) {
                pm_message("zlib compression must be between 0 (none) and 9 (max)");
                pm_usage(usageText);
            }
            break;
        case FORCE:
            force = 1;
            break;
        case UNKNOWN:
            displayVersion();
            break;
        }
    }
    // A count PNG cannot hold or a unit it does not define would make a file validators reject.
    if (phys_unit != -1 && (phys_x < 0 || phys_y < 0 || (phys_unit & 0xff) > 1))
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
