// Colour specifications and the colour-name dictionary.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pmintern.h"

// ---- Colour specifications -------------------------------------------------------------------

// Far above any component that valid hexadecimal digits can build, so one test after the digits are
// combined catches a non-digit anywhere.
static constexpr int NOT_A_HEX_DIGIT = 1234567890;

static void computeHexTable(int hexit[256]) {
    for (int i = 0; i < 256; ++i) hexit[i] = NOT_A_HEX_DIGIT;
    for (int i = 0; i < 10; ++i) hexit['0' + i] = i;
    for (int i = 0; i < 6; ++i) {
        hexit['a' + i] = 10 + i;
        hexit['A' + i] = 10 + i;
    }
}

[[noreturn]] static void invalidSpec(const char* colorname) {
    pm_error("invalid color specifier - \"%s\"", colorname);
}

long pm_rgbnorm(long rgb, long lmaxval, unsigned int nHexDigits, const char* colorname) {
    long full;
    switch (nHexDigits) {
    case 1:
        full = 15;
        break;
    case 2:
        full = 255;
        break;
    case 3:
        full = 4095;
        break;
    case 4:
        full = 65535;
        break;
    default:
        invalidSpec(colorname);
    }
    // Rounded to nearest, halves upward, in double precision; saturated so that no pair of
    // arguments makes an undefined conversion.
    const double scaled = double(rgb) * double(lmaxval) / double(full) + 0.5;
    if (scaled >= 9.2e18) return LONG_MAX;
    if (scaled <= -9.2e18) return LONG_MIN;
    return long(scaled);
}

static pixel checkedPixel(long r, long g, long b, pixval maxval, const char* colorname) {
    const long top = long(maxval);
    if (r < 0 || r > top || g < 0 || g > top || b < 0 || b > top) invalidSpec(colorname);
    return pixel{pixval(r), pixval(g), pixval(b)};
}

// rgb:R/G/B, each component 1 to 4 hex digits, scaled by its own digit count.
static pixel parseNewHexX11(const char* colorname, pixval maxval) {
    int hexit[256];
    computeHexTable(hexit);
    const char* p = colorname + 4;
    long component[3];
    for (int i = 0; i < 3; ++i) {
        long value = 0;
        unsigned int digits = 0;
        // The third component runs to the end of the text, so a slash there is a bad digit.
        for (; *p != '\0' && (i == 2 || *p != '/'); ++p) {
            const int d = hexit[static_cast<unsigned char>(*p)];
            if (d > 15 || ++digits > 4) invalidSpec(colorname);
            value = value * 16 + d;
        }
        if (digits == 0) invalidSpec(colorname);
        if (i < 2) {
            if (*p != '/') invalidSpec(colorname);
            ++p;
        }
        component[i] = pm_rgbnorm(value, long(maxval), digits, colorname);
    }
    return checkedPixel(component[0], component[1], component[2], maxval, colorname);
}

// #RGB, #RRGGBB, #RRRGGGBBB or #RRRRGGGGBBBB.
static pixel parseOldX11(const char* colorname, pixval maxval) {
    int hexit[256];
    computeHexTable(hexit);
    const char* const digits = colorname + 1;
    const size_t length = std::strlen(digits);
    if (length != 3 && length != 6 && length != 9 && length != 12) invalidSpec(colorname);
    const unsigned int n = unsigned(length / 3);
    long component[3];
    for (unsigned int i = 0; i < 3; ++i) {
        long value = 0;
        for (unsigned int k = 0; k < n; ++k) {
            const int d = hexit[static_cast<unsigned char>(digits[i * n + k])];
            if (d > 15) invalidSpec(colorname);
            value = value * 16 + d;
        }
        component[i] = pm_rgbnorm(value, long(maxval), n, colorname);
    }
    return checkedPixel(component[0], component[1], component[2], maxval, colorname);
}

// A fraction becomes maxval times it in single precision, truncated: 0.5 at 255 gives 127.
static pixval fractionToSample(float fraction, pixval maxval) {
    const float product = float(maxval) * fraction;
    // A maxval above 2^24 can round up in single precision; the result still stays in range.
    if (product >= float(maxval)) return maxval;
    const pixval v = pixval(product);
    return v > maxval ? maxval : v;
}

static pixel fractionsToPixel(int items, float r, float g, float b, pixval maxval,
                              const char* colorname) {
    if (items != 3) invalidSpec(colorname);
    // Written so that a NaN fails too.
    const auto inRange = [](float f) { return f >= 0.0f && f <= 1.0f; };
    if (!inRange(r) || !inRange(g) || !inRange(b))
        pm_error("invalid color specifier - \"%s\" - values must be between 0.0 and 1.0",
                 colorname);
    return pixel{fractionToSample(r, maxval), fractionToSample(g, maxval),
                 fractionToSample(b, maxval)};
}

static pixel parseNewDecX11(const char* colorname, pixval maxval) {
    float r, g, b;
    const int items = std::sscanf(colorname, "rgbi:%f/%f/%f", &r, &g, &b);
    return fractionsToPixel(items, r, g, b, maxval, colorname);
}

static pixel parseOldX11Dec(const char* colorname, pixval maxval) {
    float r, g, b;
    const int items = std::sscanf(colorname, "%f,%f,%f", &r, &g, &b);
    return fractionsToPixel(items, r, g, b, maxval, colorname);
}

pixel ppm_parsecolor(const char* colorname, pixval maxval) {
    if (std::strncmp(colorname, "rgb:", 4) == 0) return parseNewHexX11(colorname, maxval);
    if (std::strncmp(colorname, "rgbi:", 5) == 0) return parseNewDecX11(colorname, maxval);
    if (colorname[0] == '#') return parseOldX11(colorname, maxval);
    if ((colorname[0] >= '0' && colorname[0] <= '9') || colorname[0] == '.')
        return parseOldX11Dec(colorname, maxval);
    pixel p;
    pm_parse_dictionary_name(colorname, maxval, &p.r, &p.g, &p.b);
    return p;
}

// ---- The dictionary file ---------------------------------------------------------------------

// Lines read from the dictionary currently open; one dictionary is open at a time.
static int lineNo = 0;

static FILE* openDefaultDictionary() {
    // The three traditional places first; then where current systems keep the file.
    static const char* const paths[] = {"/usr/lib/X11/rgb.txt", "/usr/openwin/lib/rgb.txt",
                                        "/usr/X11R6/lib/X11/rgb.txt", "/usr/share/X11/rgb.txt",
                                        "/etc/X11/rgb.txt"};
    for (const char* path : paths) {
        FILE* f = std::fopen(path, "r");
        if (f != nullptr) return f;
    }
    return nullptr;
}

FILE* pm_openColornameFile(const char* fileName, int mustOpen) {
    FILE* f;
    if (fileName != nullptr) {
        f = std::fopen(fileName, "r");
        if (f == nullptr && mustOpen) {
            const int err = errno;
            pm_error("Can't open the color names dictionary file '%s'.  errno = %d (%s)", fileName,
                     err, std::strerror(err));
        }
    } else if (const char* rgbdef = std::getenv("RGBDEF")) {
        // RGBDEF names the one file to use: no fallback to the default places.
        f = std::fopen(rgbdef, "r");
        if (f == nullptr && mustOpen) {
            const int err = errno;
            pm_error("Can't open the color names dictionary file named %s, per the %s "
                     "environment variable.  errno = %d (%s)",
                     rgbdef, "RGBDEF", err, std::strerror(err));
        }
    } else {
        f = openDefaultDictionary();
        if (f == nullptr && mustOpen)
            pm_error("can't open color names dictionary file named %s, %s, or %s and Environment "
                     "variable %s not set.  Set %s to the pathname of your rgb.txt file or don't "
                     "use color names.",
                     "/usr/lib/X11/rgb.txt", "/usr/openwin/lib/rgb.txt",
                     "/usr/X11R6/lib/X11/rgb.txt", "RGBDEF", "RGBDEF");
    }
    lineNo = 0;
    return f;
}

struct colorfile_entry pm_colorget(FILE* f) {
    // A line is read in pieces of at most 199 characters; the rest of a longer line comes back
    // as a line of its own.
    static char line[200];
    static char name[200];
    colorfile_entry entry{0, 0, 0, nullptr};
    while (std::fgets(line, sizeof line, f) != nullptr) {
        ++lineNo;
        if (line[0] == '#' || line[0] == '!' || line[0] == '\n' || line[0] == '\0') continue;
        if (std::sscanf(line, "%ld %ld %ld %199[^\n]", &entry.r, &entry.g, &entry.b, name) == 4) {
            entry.colorname = name;
            return entry;
        }
        const size_t length = std::strlen(line);
        if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
        pm_message("can't parse color names dictionary Line %d:  '%s'", lineNo, line);
    }
    entry.r = entry.g = entry.b = 0;
    return entry;
}

void pm_canonstr(char* str) {
    char* out = str;
    for (const char* in = str; *in != '\0'; ++in) {
        const unsigned char c = static_cast<unsigned char>(*in);
        if (std::isspace(c)) continue;
        *out++ = std::isupper(c) ? char(std::tolower(c)) : char(c);
    }
    *out = '\0';
}

// Dictionary values are meant to be 0 to 255; others are clamped there, which is the same as
// clamping the scaled sample to 0..maxval, so a sample never exceeds the image's maxval.
static long dictionaryValue(long v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

static pixval scaleDictionaryValue(long v, pixval maxval) {
    const long long clamped = dictionaryValue(v);
    if (maxval == 255) return pixval(clamped);
    return pixval(clamped * static_cast<long long>(maxval) / 255);
}

void pm_parse_dictionary_name(const char* colorname, pixval maxval, pixval* rP, pixval* gP,
                              pixval* bP) {
    FILE* f = pm_openColornameFile(nullptr, 1);
    char* canon = strdup(colorname);
    if (canon == nullptr) pm_error("out of memory copying color name \"%s\"", colorname);
    pm_canonstr(canon);

    bool found = false;
    colorfile_entry entry{0, 0, 0, nullptr};
    // The first matching entry wins; later ones with the same name are never read.
    while (!found && (entry = pm_colorget(f)).colorname != nullptr) {
        pm_canonstr(entry.colorname);
        found = std::strcmp(entry.colorname, canon) == 0;
    }
    std::fclose(f);
    std::free(canon);
    if (!found) pm_error("unknown color - \"%s\"", colorname);

    *rP = scaleDictionaryValue(entry.r, maxval);
    *gP = scaleDictionaryValue(entry.g, maxval);
    *bP = scaleDictionaryValue(entry.b, maxval);
}

// ---- Reverse lookup --------------------------------------------------------------------------

// A sample brought to 0..255 by truncating division; maxval 0 can only hold 0.
static long to255(pixval value, pixval maxval) {
    if (maxval == 255) return long(value);
    if (maxval == 0) return 0;
    return long(static_cast<unsigned long long>(value) * 255 / maxval);
}

// Beyond this distance from 0..255 an entry can never come within the 32767 starting distance,
// so clamping here keeps the sums small without changing any result.
static long distanceTerm(long entryValue, long target) {
    const long v = entryValue < -65536 ? -65536 : entryValue > 65536 ? 65536 : entryValue;
    return v > target ? v - target : target - v;
}

char* ppm_colorname(const pixel* colorP, pixval maxval, int hexok) {
    static char colorname[200];
    const long r = to255(colorP->r, maxval);
    const long g = to255(colorP->g, maxval);
    const long b = to255(colorP->b, maxval);

    long best = 32767;
    FILE* f = pm_openColornameFile(nullptr, !hexok);
    if (f != nullptr) {
        for (colorfile_entry e = pm_colorget(f); e.colorname != nullptr; e = pm_colorget(f)) {
            const long distance =
                distanceTerm(e.r, r) + distanceTerm(e.g, g) + distanceTerm(e.b, b);
            // Strictly smaller: of equally near names the first in the file stays.
            if (distance < best) {
                best = distance;
                std::snprintf(colorname, sizeof colorname, "%s", e.colorname);
            }
        }
        std::fclose(f);
    }
    if (best < 32767 && (best == 0 || !hexok)) return colorname;
    std::snprintf(colorname, sizeof colorname, "#%02lx%02lx%02lx", static_cast<unsigned long>(r),
                  static_cast<unsigned long>(g), static_cast<unsigned long>(b));
    return colorname;
}

// ---- Loading the whole dictionary ------------------------------------------------------------

static void processColorfileEntry(const colorfile_entry& entry, color_hash cht,
                                  const char** colornames, unsigned int* colorIndexP) {
    // Tested before the duplicate check: any line after the thousandth colour stops the load.
    if (*colorIndexP >= unsigned(MAXCOLORNAMES))
        pm_error("Too many colors in colorname dictionary.  Max allowed is %u",
                 unsigned(MAXCOLORNAMES));
    const pixel color{pixval(dictionaryValue(entry.r)), pixval(dictionaryValue(entry.g)),
                      pixval(dictionaryValue(entry.b))};
    // The first name of a colour wins.
    if (ppm_lookupcolor(cht, &color) >= 0) return;
    if (ppm_addtocolorhash(cht, &color, int(*colorIndexP)) < 0)
        pm_error("out of memory adding to hash table");
    char* name = strdup(entry.colorname);
    if (name == nullptr) pm_error("Unable to allocate space for color name");
    colornames[*colorIndexP] = name;
    ++*colorIndexP;
}

void ppm_readcolornamefile(const char* fileName, int mustOpen, color_hash* chtP,
                           const char*** colornamesP) {
    color_hash cht = ppm_alloccolorhash();
    void* block = nullptr;
    mallocProduct(&block, MAXCOLORNAMES, sizeof(const char*));
    if (block == nullptr) pm_error("Unable to allocate space for colorname table.");
    const char** colornames = static_cast<const char**>(block);

    unsigned int colorIndex = 0;
    FILE* f = pm_openColornameFile(fileName, mustOpen);
    if (f != nullptr) {
        for (colorfile_entry e = pm_colorget(f); e.colorname != nullptr; e = pm_colorget(f))
            processColorfileEntry(e, cht, colornames, &colorIndex);
        std::fclose(f);
    }
    for (unsigned int i = colorIndex; i < unsigned(MAXCOLORNAMES); ++i) colornames[i] = nullptr;
    *chtP = cht;
    *colornamesP = colornames;
}

void ppm_freecolornames(const char** colornames) {
    for (int i = 0; i < MAXCOLORNAMES; ++i) std::free(const_cast<char*>(colornames[i]));
    std::free(colornames);
}

// ---- Luminance and colour differences --------------------------------------------------------

// Negative results become 0 for every component (only green can go negative for in-range
// inputs, but red and blue can for odd ones), and results beyond a sample's range saturate,
// so no input makes an undefined conversion.
static double nonnegative(double x) { return x < 0.0 ? 0.0 : x; }

static pixval truncatedSample(double x) {
    const double v = nonnegative(x);
    return v >= 4294967295.0 ? pixval(4294967295u) : pixval(v);
}

pixel color_from_ycbcr(unsigned int y, int cb, int cr) {
    const double red = y + 1.4022 * cr;
    const double green = y - 0.7145 * cr - 0.3456 * cb;
    const double blue = y + 1.771 * cb;
    return pixel{truncatedSample(red), truncatedSample(green), truncatedSample(blue)};
}
