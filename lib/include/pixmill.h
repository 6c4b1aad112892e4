// libpixmill: the anymap image library under gridpack.
//
// Plain functions over plain records. Every fatal condition that input or a user can cause is
// raised through pm_error where it is found (its message written, then pm_fatal thrown); nothing
// here returns an error code for it.
// The library is not reentrant: a few results live in static buffers and the message switch,
// program name and plain-output flag are process-wide.
#ifndef PIXMILL_H
#define PIXMILL_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <string>

#define PM_PRINTF(f, a) __attribute__((format(printf, f, a)))

// ---- Samples, pixels, xels and format codes -------------------------------------------------

typedef unsigned int sample;
typedef sample gray;
typedef sample pixval;
typedef unsigned char bit;

struct pixel {
    pixval r, g, b;
};
// The anymap reader's pixel: a graymap or bitmap xel keeps its value in b, with r = g = 0.
typedef pixel xel;

constexpr bit PBM_WHITE = 0;
constexpr bit PBM_BLACK = 1;

constexpr int PLAIN_PBM = 'P' * 256 + '1';
constexpr int PLAIN_PGM = 'P' * 256 + '2';
constexpr int PLAIN_PPM = 'P' * 256 + '3';
constexpr int RAW_PBM = 'P' * 256 + '4';
constexpr int RAW_PGM = 'P' * 256 + '5';
constexpr int RAW_PPM = 'P' * 256 + '6';
// A PAM: its own family, read by pnm_readpaminit and pam_readpamrow only.
constexpr int PAM_FORMAT = 'P' * 256 + '7';

// The largest maxval the readers accept.
constexpr unsigned int PNM_OVERALLMAXVAL = 65535;
constexpr unsigned int PGM_OVERALLMAXVAL = 65535;
constexpr unsigned int PPM_OVERALLMAXVAL = 65535;

// The family of a format code as that family's plain code, or -1 for an unknown code.
inline int PNM_FORMAT_TYPE(int format) {
    switch (format) {
    case PLAIN_PBM:
    case RAW_PBM:
        return PLAIN_PBM;
    case PLAIN_PGM:
    case RAW_PGM:
        return PLAIN_PGM;
    case PLAIN_PPM:
    case RAW_PPM:
        return PLAIN_PPM;
    default:
        return -1;
    }
}

inline bool PPM_EQUAL(const pixel& a, const pixel& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

// ---- Messages (stderr; pm_message is silenced by -quiet) -------------------------------------

extern const char* pm_progname;
extern int pm_showmessages;
extern int pm_plain_output;

// What pm_error and pm_usage throw once their message is written: the message (without the
// program name) and the exit status the program should end with.
struct pm_fatal : std::runtime_error {
    int status;
    pm_fatal(const std::string& message, int exitStatus)
        : std::runtime_error(message), status(exitStatus) {}
};

void pm_message(const char* format, ...) PM_PRINTF(1, 2);
[[noreturn]] void pm_error(const char* format, ...) PM_PRINTF(1, 2);
[[noreturn]] void pm_perror(const char* reason);
[[noreturn]] void pm_usage(const char* usage);
// Stores the current switch through oldStateP (if not null), then sets it to 0 or 1.
void pm_setMessage(int newState, int* oldStateP);
// Called, when set, before any message is written (so that a progress line can be erased), with
// pm_hookcontext.
extern void (*pm_beforemessage)(void* context);
// The context handed to pm_beforemessage and pm_progress: the state of whoever set them.
extern void* pm_hookcontext;

// ---- Progress of reading ---------------------------------------------------------------------

// Set by a program that shows how far reading has come: called after every row the row readers
// read (newPass false) and after every pm_seek2 (newPass true), with pm_hookcontext and the
// stream. Null by default.
extern void (*pm_progress)(void* context, FILE* f, bool newPass);

// ---- Program start-up and common options -----------------------------------------------------

// Each passes its arguments to the next poorer format's entry; all end in pm_proginit.
void pnm_init(int* argcP, char* argv[]);
void ppm_init(int* argcP, char* argv[]);
void pgm_init(int* argcP, char* argv[]);
void pbm_init(int* argcP, char* argv[]);
// Records the program name, removes -quiet/-version/-help/-plain wherever they stand, acts on
// them (ends the process for -version and -help).
void pm_proginit(int* argcP, char* argv[]);
void pm_init(const char* progname, unsigned int flags);
void showVersion();
void showPixmillHelp(const char* progname);
// 1 when str is a case-insensitive prefix of keyword, at least minchars long.
int pm_keymatch(const char* str, const char* keyword, int minchars);
// The name after the last slash, at most 64 characters, ".exe" removed; a static buffer.
char* pm_arg0toprogname(const char* arg0);

// ---- Input files and positioning -------------------------------------------------------------

FILE* pm_openr(const char* name);
// A regular file is used in place; anything else is first copied to a temporary file.
FILE* pm_openr_seekable(const char* name);
FILE* pm_openw(const char* name);
void pm_close(FILE* f);
void pm_closer(FILE* f);
// Closes an output stream; a failed write, flush or close ends the process with status 1.
void pm_closew(FILE* f);

// A file position is kept by the caller in a buffer of 4 bytes (a signed 32-bit offset) or of
// sizeof(pm_filepos) bytes.
typedef long long pm_filepos;
void pm_tell2(FILE* f, void* fileposP, unsigned int fileposSize);
void pm_seek2(FILE* f, const void* fileposP, unsigned int fileposSize);
long pm_tell(FILE* f);
void pm_seek(FILE* f, long filepos);

void pm_nextimage(FILE* f, int* eofP);

constexpr int PM_CHECK_BASIC = 0;
constexpr int PM_CHECK_OK = 0;
constexpr int PM_CHECK_UNKNOWN_TYPE = 1;
constexpr int PM_CHECK_TOO_LONG = 2;
constexpr int PM_CHECK_UNCHECKABLE = 3;
// Compares the bytes left in a regular file with the raster size; result may be null.
void pm_check(FILE* f, int checkType, unsigned int needRasterSize, int* retvalP);
// The fewest bytes the raster of a header can take (a raw raster exactly, a plain one one byte
// per sample) through neededP, false when that does not fit 64 bits or the format is unknown;
// and through leftP the bytes after the current position of a regular file or of a seekable
// stream without a descriptor, -1 for anything else (a pipe, a device).
bool pnm_rasterbytes(FILE* f, int cols, int rows, pixval maxval, int format,
                     unsigned long long* neededP, long long* leftP);

// The whole stream in a malloc'd buffer; the byte count through nreadP.
char* pm_read_unknown_size(FILE* f, long* nreadP);

// Byte-order helpers: reads return 0, or -1 as soon as a byte is missing; writes return 0.
int pm_readbigshort(FILE* f, short* sP);
int pm_readlittleshort(FILE* f, short* sP);
int pm_readbiglong(FILE* f, long* lP);
int pm_readlittlelong(FILE* f, long* lP);
int pm_writebigshort(FILE* f, short s);
int pm_writelittleshort(FILE* f, short s);
int pm_writebiglong(FILE* f, long l);
int pm_writelittlelong(FILE* f, long l);

// ---- Rows and arrays -------------------------------------------------------------------------

void* pm_allocrow(int cols, int size);
void pm_freerow(void* row);
// A row index of rows + 1 entries; the last records whether the rows are one block.
char** pm_allocarray(int cols, int rows, int size);
void pm_freearray(char** its, int rows);
// Stores a block of factor1 * factor2 bytes, or null when the product does not fit or memory
// runs out.
void mallocProduct(void** resultP, size_t factor1, size_t factor2);

template <typename T> T** pm_allocarray_of(int cols, int rows) {
    return reinterpret_cast<T**>(pm_allocarray(cols, rows, int(sizeof(T))));
}

// ---- Header, sample and integer scanning -----------------------------------------------------

// The first two bytes as first * 256 + second.
int pm_readmagicnumber(FILE* f);
// The next byte; a comment ('#' to the end of its line) comes back as its line-end character.
char pm_getc(FILE* f);
unsigned int pm_getuint(FILE* f);
unsigned char pm_getrawbyte(FILE* f);
unsigned int pgm_getrawsample(FILE* f, unsigned int maxval);
int pm_maxvaltobits(int maxval);
int pm_bitstomaxval(int bits);
unsigned int pm_lcm(unsigned int x, unsigned int y, unsigned int z, unsigned int limit);

// ---- PBM, PGM and PPM readers ----------------------------------------------------------------

void pbm_readpbminitrest(FILE* f, int* colsP, int* rowsP);
void pgm_readpgminitrest(FILE* f, int* colsP, int* rowsP, gray* maxvalP);
void ppm_readppminitrest(FILE* f, int* colsP, int* rowsP, pixval* maxvalP);
void pbm_readpbminit(FILE* f, int* colsP, int* rowsP, int* formatP);
// A bitmap read through this header reader has maxval 255.
void pgm_readpgminit(FILE* f, int* colsP, int* rowsP, gray* maxvalP, int* formatP);
// A bitmap read through this header reader has maxval 1.
void ppm_readppminit(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* formatP);

void pbm_readpbmrow(FILE* f, bit* bitrow, int cols, int format);
// Eight pixels per byte, column c in bit 7 - c % 8 of byte c / 8.
void pbm_readpbmrow_packed(FILE* f, unsigned char* packedBits, int cols, int format);
// The gray and pixel row readers (and so every reader built on them) stop at a sample above
// maxval; pm_getuint and pgm_getrawsample never compare.
void pgm_readpgmrow(FILE* f, gray* grayrow, int cols, gray maxval, int format);
void ppm_readppmrow(FILE* f, pixel* pixelrow, int cols, pixval maxval, int format);

// Whole images as arrays: one block when the stream is seen to hold the raster; otherwise (a pipe,
// a file too short) the rows are allocated as they are read, so that a header promising more
// than the stream holds costs memory only for what is there. The index always has rows + 1
// entries, so a zero-width image still costs 8 bytes per row.
bit** pbm_readpbm(FILE* f, int* colsP, int* rowsP);
gray** pgm_readpgm(FILE* f, int* colsP, int* rowsP, gray* maxvalP);
// The raster of a graymap whose header pgm_readpgminit has read (pgm_readpgm is the two in one),
// so that a caller can judge the size before any memory is spent on it.
gray** pgm_readpgmraster(FILE* f, int cols, int rows, gray maxval, int format);
pixel** ppm_readppm(FILE* f, int* colsP, int* rowsP, pixval* maxvalP);

void pbm_check(FILE* f, int checkType, int format, int cols, int rows, int* retvalP);
void pgm_check(FILE* f, int checkType, int format, int cols, int rows, gray maxval, int* retvalP);
void ppm_check(FILE* f, int checkType, int format, int cols, int rows, pixval maxval, int* retvalP);

inline void pbm_nextimage(FILE* f, int* eofP) { pm_nextimage(f, eofP); }
inline void pgm_nextimage(FILE* f, int* eofP) { pm_nextimage(f, eofP); }
inline void ppm_nextimage(FILE* f, int* eofP) { pm_nextimage(f, eofP); }

// ---- PAM reader -----------------------------------------------------------------------------

// A PAM's header after its magic number: keyword lines up to ENDHDR, WIDTH, HEIGHT, DEPTH and
// MAXVAL (1 to 65535) once each, TUPLTYPE lines joined with a blank. Only tuples of gray or RGB
// samples, each optionally followed by alpha, are accepted, so the depth is 1 (BLACKANDWHITE or
// GRAYSCALE, the former read as gray at its maxval, since writers give it other maxvals than 1),
// 2 (BLACKANDWHITE_ALPHA, GRAYSCALE_ALPHA), 3 (RGB) or 4 (RGB_ALPHA); without TUPLTYPE any depth
// of 1 to 4. Anything else stops with a message naming it.
void pam_readpaminitrest(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* depthP);
// A row of tuples (always raw, sample sizes as in a raw graymap) in one read: the gray or RGB
// samples as xels (gray in b), and for depths 2 and 4 the alpha samples into alpharow (cols
// entries; untouched otherwise). A sample above maxval stops as in the other raw readers.
void pam_readpamrow(FILE* f, xel* xelrow, gray* alpharow, int cols, pixval maxval, int depth);
// The anymap whose raster a PAM of this depth has without its alpha samples.
inline int PAM_IMAGE_FORMAT(int depth) { return depth < 3 ? RAW_PGM : RAW_PPM; }

// ---- Anymap reader, promotion and xel helpers ------------------------------------------------

inline void pnm_nextimage(FILE* f, int* eofP) { pm_nextimage(f, eofP); }
// A bitmap read through this header reader has maxval 1.
void pnm_readpnminit(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* formatP);
// The same, and a PAM too (format PAM_FORMAT, its depth through depthP; depthP gets 1 for a
// bitmap or graymap and 3 for a pixmap).
void pnm_readpaminit(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* formatP, int* depthP);
void pnm_readpnmrow(FILE* f, xel* xelrow, int cols, pixval maxval, int format);
xel** pnm_readpnm(FILE* f, int* colsP, int* rowsP, pixval* maxvalP, int* formatP);
void pnm_check(FILE* f, int checkType, int format, int cols, int rows, pixval maxval, int* retvalP);
// Raises a row to a richer format type or larger maxval, in place. Gray truncates, colour
// rounds.
void pnm_promoteformatrow(xel* xelrow, int cols, pixval maxval, int format, pixval newmaxval,
                          int newformat);
void pnm_promoteformat(xel** xels, int cols, int rows, pixval maxval, int format, pixval newmaxval,
                       int newformat);
xel pnm_backgroundxel(xel** xels, int cols, int rows, pixval maxval, int format);
xel pnm_backgroundxelrow(xel* xelrow, int cols, pixval maxval, int format);
xel pnm_whitexel(pixval maxval, int format);
xel pnm_blackxel(pixval maxval, int format);
void pnm_invertxel(xel* xP, pixval maxval, int format);
// The gray value (blue) in all three samples.
pixel xeltopixel(xel x);

// ---- Anymap writers --------------------------------------------------------------------------

void ppm_writeppminit(FILE* f, int cols, int rows, pixval maxval, int forceplain);
void ppm_writeppmrow(FILE* f, const pixel* pixelrow, int cols, pixval maxval, int forceplain);
void ppm_writeppmrowraw(FILE* f, const pixel* pixelrow, int cols, pixval maxval);
void ppm_writeppmrowplain(FILE* f, const pixel* pixelrow, int cols, pixval maxval);
void ppm_writeppm(FILE* f, pixel** pixels, int cols, int rows, pixval maxval, int forceplain);
void pgm_writepgminit(FILE* f, int cols, int rows, gray maxval, int forceplain);
void pgm_writepgmrow(FILE* f, const gray* grayrow, int cols, gray maxval, int forceplain);
void pgm_writepgmrowraw(FILE* f, const gray* grayrow, int cols, gray maxval);
void pgm_writepgmrowplain(FILE* f, const gray* grayrow, int cols, gray maxval);
void pgm_writepgm(FILE* f, gray** grays, int cols, int rows, gray maxval, int forceplain);
void pgm_writerawsample(FILE* f, gray val, gray maxval);

// ---- Colour histograms and hash tables -------------------------------------------------------

struct color_count {
    pixel color;
    int value;
};
typedef color_count* color_hist;

struct color_hash_entry {
    pixel color;
    int value;
    color_hash_entry* next;
};
typedef color_hash_entry** color_hash;

constexpr unsigned int HASH_SIZE = 20023;

// The chain index of a colour: 33023 r + 30013 g + 27011 b (wrapping), top bit cleared,
// modulo HASH_SIZE.
inline unsigned int ppm_hashpixel(const pixel& p) {
    return ((p.r * 33023u + p.g * 30013u + p.b * 27011u) & 0x7fffffffu) % HASH_SIZE;
}

// Counting stops (and returns null, with the count at maxcolors + 1) at the first colour
// beyond maxcolors; maxcolors 0 means no limit.
color_hist ppm_computecolorhist(pixel** pixels, int cols, int rows, int maxcolors, int* colorsP);
color_hist ppm_computecolorhist2(FILE* f, int cols, int rows, pixval maxval, int format,
                                 int maxcolors, int* colorsP);
// The same count fed row by row: begin, add rows (of pixels, or of gray xels whose value is in
// b) while they return true (false once a colour beyond maxcolors, 1 to 65536, has been met),
// finish into the histogram ppm_computecolorhist2 would give (null, count maxcolors + 1, when
// there were too many). finish and abandon free the counter.
struct pm_colorcounter;
pm_colorcounter* ppm_countbegin(int maxcolors);
bool ppm_countrow(pm_colorcounter* counter, const pixel* row, int cols);
bool ppm_countgrayrow(pm_colorcounter* counter, const xel* row, int cols);
color_hist ppm_countfinish(pm_colorcounter* counter, int* colorsP);
void ppm_countabandon(pm_colorcounter* counter);
color_hash ppm_computecolorhash(pixel** pixels, int cols, int rows, int maxcolors, int* colorsP);
color_hash ppm_computecolorhash2(FILE* f, int cols, int rows, pixval maxval, int format,
                                 int maxcolors, int* colorsP);
// Chain index ascending, most recent insertion first within a chain.
color_hist ppm_colorhashtocolorhist(color_hash cht, int maxcolors);
// Maps each histogram colour to its index.
color_hash ppm_colorhisttocolorhash(const color_hist chv, int colors);
color_hash ppm_alloccolorhash();
// 0, or -1 when the entry could not be allocated.
int ppm_addtocolorhash(color_hash cht, const pixel* colorP, int value);
// The colour's value, or -1.
int ppm_lookupcolor(const color_hash cht, const pixel* colorP);
void ppm_freecolorhist(color_hist chv);
void ppm_freecolorhash(color_hash cht);
void ppm_addtocolorhist(color_hist chv, int* colorsP, int maxcolors, const pixel* colorP, int value,
                        int position);

color_hash ppm_colorrowtocolorhash(pixel* colorrow, int ncolors);
pixel* ppm_computecolorrow(pixel** pixels, int cols, int rows, int maxcolors, int* ncolorsP);
pixel* ppm_mapfiletocolorrow(FILE* f, int maxcolors, int* ncolorsP, pixval* maxvalP);
void ppm_colorrowtomapfile(FILE* f, pixel* colormap, int ncolors, pixval maxval);
typedef int (*pm_pixelcmp)(pixel* a, pixel* b);
void ppm_sortcolorrow(pixel* colorrow, int ncolors, pm_pixelcmp cmpfunc);
// The colour's first index, or -1 when it is absent and the row is full.
int ppm_addtocolorrow(pixel* colorrow, int* ncolorsP, int maxcolors, pixel* colorP);
int ppm_findclosestcolor(const pixel* colormap, int ncolors, const pixel* colorP);

// ---- Colour specifications and the colour-name dictionary ------------------------------------

struct colorfile_entry {
    long r, g, b;
    char* colorname; // null at the end of the file; a static buffer
};

// rgb:, rgbi:, #hex, comma fractions or a dictionary name, at maxval.
pixel ppm_parsecolor(const char* colorname, pixval maxval);
long pm_rgbnorm(long rgb, long lmaxval, unsigned int nHexDigits, const char* colorname);
FILE* pm_openColornameFile(const char* fileName, int mustOpen);
struct colorfile_entry pm_colorget(FILE* f);
// Removes white space and lowers upper-case letters, in place.
void pm_canonstr(char* str);
void pm_parse_dictionary_name(const char* colorname, pixval maxval, pixval* rP, pixval* gP,
                              pixval* bP);
// The nearest dictionary name, or "#rrggbb"; a static buffer.
char* ppm_colorname(const pixel* colorP, pixval maxval, int hexok);
constexpr int MAXCOLORNAMES = 1000;
void ppm_readcolornamefile(const char* fileName, int mustOpen, color_hash* chtP,
                           const char*** colornamesP);
void ppm_freecolornames(const char** colornames);
pixel color_from_ycbcr(unsigned int y, int cb, int cr);

// ---- Bounded string formatting ---------------------------------------------------------------

// Writes at most str_m bytes, always terminated when str_m > 0; returns the full length.
int portable_vsnprintf(char* str, size_t str_m, const char* fmt, va_list ap);
int vsnprintfN(char* str, size_t str_m, const char* fmt, va_list ap);
int snprintfN(char* str, size_t str_m, const char* fmt, ...);
int asprintfN(char** ptrP, const char* fmt, ...);
int vasprintfN(char** ptrP, const char* fmt, va_list ap);
int asnprintfN(char** ptrP, size_t str_m, const char* fmt, ...);
int vasnprintfN(char** ptrP, size_t str_m, const char* fmt, va_list ap);
void strfree(const char* s);
char* strsepN(char** stringP, const char* delim);

#endif
