// gridpack's internals: the option settings and the interfaces between the converter's modules.
#ifndef GRIDPACK_H
#define GRIDPACK_H

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <png.h>

#include "pixmill.h"

namespace gridpack {

// ---- Option settings (options.cpp): written by the command-line scan, read by the engine ------
// The driver rewrites two of them: alpha is cleared and transparent set to 2 when an alpha mask
// reduces to one transparent colour.

extern int verbose;
extern int downscale;
extern int interlace;
extern int force;
extern int alpha;
extern const char* alpha_file;
extern int transparent; // -1 none, 1 from -transparent, 2 taken from the alpha mask
extern const char* transstring;
extern int background; // -1 none, 1 from -background
extern const char* backstring;
extern float gamma; // -1.0 means no gAMA chunk
extern int hist;
extern float chroma_wx, chroma_wy, chroma_rx, chroma_ry, chroma_gx, chroma_gy, chroma_bx, chroma_by;
extern int phys_x, phys_y, phys_unit; // phys_unit -1 means no pHYs chunk
extern int text;
extern int ztxt;
extern const char* text_file;
extern int mtime;
extern const char* date_string;
extern const char* time_string;
extern int filter;      // 0..4, or -1 for libpng's choice
extern int compression; // 0..9, or -1 for libpng's default

extern const char* const usageText;

// Restores every setting to its default (the engine's tests and fuzzers run many conversions).
void resetOptions();
// Scans the converter's own options from argv[1]; returns the index of the first argument that
// is not an option. The ordered-palette file name, if given, comes back through paletteFileP.
int parseOptions(int argc, char* argv[], const char** paletteFileP);
// The five-line version report on standard error.
void displayVersion();
// The tIME value of -time's date (y-m-d; a year below 100 counts from 1900) and time (h, h:m or
// h:m:s); false unless both are numbers that make a real date and time.
bool parseModificationTime(const char* date, const char* time, png_time* timeP);

// ---- Conversion driver (convert.cpp) and PNG emission (emit.cpp) ------------------------------

// The driver's result; only ever 0.
extern int errorlevel;

// Converts one anymap image (ifP must be seekable) to a PNG on standard output; afP, pfP and
// tfP (alpha mask, ordered palette, comment file) may be null. Returns the exit status.
int convertpnm(FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP);
// The same, writing the PNG to ofP.
int convertpnmTo(FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP, FILE* ofP);

// A pass's own row of xels, freed when the pass returns and also when a fatal error throws (fuzz
// builds). The passes make no libpng call, so no longjmp can skip its destructor.
using XelRow = std::unique_ptr<xel, void (*)(void*)>;
inline XelRow allocXelRow(int cols) {
    return XelRow(static_cast<xel*>(pm_allocrow(cols, int(sizeof(xel)))), pm_freerow);
}

// ---- Significant bits (sigbits.cpp) ------------------------------------------------------------

// How many rightmost bits of the samples carry information, 1 to 16.
void findRedundantBits(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                       int format, bool alpha, bool force, int* meaningfulBitsP);
void meaningful_bits_pgm(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                         int format, int* meaningfulBitsP);
void meaningful_bits_ppm(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval,
                         int format, int* meaningfulBitsP);

// ---- Alpha mask to one transparent colour (alphatrans.cpp) -------------------------------------

// True when every pixel is fully transparent or opaque and the transparent ones share one colour
// that no opaque pixel has; that colour comes back at the image's maxval.
void alpha_trans(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval, int format,
                 gray** alpha_mask, gray alphaMaxval, bool* canBeTransIndexP,
                 pixel* alphaTransColorP);

// ---- Colour census and the colour-and-alpha table (census.cpp) ---------------------------------

// The cached census of at most maxColors colours; a null histogram (colors = maxColors + 1) when
// the image has more. Only the first call after freeChv reads the image.
void getChv(FILE* ifP, pm_filepos rasterPos, int cols, int rows, pixval maxval, int format,
            int maxColors, color_hist* chvP, int* colorsP);
void freeChv();

struct color_alpha_entry {
    pixel color;
    gray alpha;
    int value;
    color_alpha_entry* next;
};
typedef color_alpha_entry** color_alpha_hash;

color_alpha_hash alloccoloralphahash();
color_alpha_entry* addtocoloralphahash(color_alpha_hash table, const pixel* colorP,
                                       const gray* alphaP, int value);
// The pair's value, or -1.
int lookupColorAlpha(color_alpha_hash table, const pixel* colorP, const gray* alphaP);
void freecoloralphahash(color_alpha_hash table);

// ---- Palette construction and its transparent and background entries (palette.cpp) -------------

constexpr unsigned int MAXPALETTEENTRIES = 256;

// The census colours, in census order or in the order of the ordered-palette file pfP.
void compute_nonalpha_palette(const color_hist chv, int colors, FILE* pfP, pixel palette[],
                              unsigned int* paletteSizeP, gray transValues[],
                              unsigned int* transSizeP);
void readOrderedPalette(FILE* pfP, pixel orderedPalette[], unsigned int* orderedSizeP);
// One entry per colour-and-alpha pair, translucent entries first; *tooManyPairsP set (and
// *paletteSizeP the pair count) when there are more than 256 pairs.
void compute_alpha_palette(FILE* ifP, int cols, int rows, pixval maxval, int format,
                           pm_filepos rasterPos, gray** alpha_mask, gray alphaMaxval,
                           pixel palette[], gray transValues[], unsigned int* paletteSizeP,
                           unsigned int* transSizeP, bool* tooManyPairsP);
// The nearest entry (lowest index on ties); false for an empty palette. Either out-pointer may
// be null.
bool closestColorInPalette(pixval r, pixval g, pixval b, const pixel palette[],
                           unsigned int paletteSize, unsigned int* indexP, unsigned int* distanceP);
void makeOneColorTransparentInPalette(pixval r, pixval g, pixval b, bool transExact,
                                      pixel palette[], unsigned int paletteSize, gray transValues[],
                                      unsigned int* transSizeP);
void findOrAddBackgroundInPalette(pixval r, pixval g, pixval b, pixel palette[],
                                  unsigned int* paletteSizeP, int* backgroundIndexP);

// ---- Index lookup, depth and the PNG palette (lookup.cpp) --------------------------------------

void computeColorMapLookupTable(bool colorMapped, const pixel palette[], unsigned int paletteSize,
                                const gray transValues[], unsigned int transSize, bool alpha,
                                gray alphaMaxval, color_hash* colorHashP,
                                color_alpha_hash* colorAlphaHashP);
void buildColorLookup(const pixel palette[], unsigned int paletteSize, color_hash* colorHashP);
void buildColorAlphaLookup(const pixel palette[], unsigned int paletteSize,
                           const gray transValues[], unsigned int transSize, gray alphaMaxval,
                           color_alpha_hash* colorAlphaHashP);
void computePixelWidth(bool colorMapped, unsigned int paletteSize, int pnm_type, int meaningfulBits,
                       bool alpha, int* bitDepthP, int* pixelWidthP);
void createPngPalette(const pixel palette[], unsigned int paletteSize, pixval maxval,
                      const gray transValues[], unsigned int transSize, gray alphaMaxval,
                      png_color pngPalette[], png_byte pngTrans[]);
// Red, green and blue scaled from maxval to pngMaxval; gray is the blue one.
png_color_16 xelToPngColor_16(xel color, pixval maxval, pixval pngMaxval);

// c from the scale of maxval m to that of n, rounded to nearest (halves up), in unsigned 32 bits.
inline unsigned int scaleSample(unsigned int c, unsigned int n, unsigned int m) {
    return (c * n + m / 2) / m;
}

// ---- Row filters (filters.cpp) ----------------------------------------------------------------

// Filters one row of rowBytes bytes (bpp bytes a pixel, at least 1; prev the row above, zeros for
// the first) into out: the filter type byte, then the filtered bytes. filters is a mask of libpng's
// PNG_FILTER_* bits: one bit uses that filter, several choose among them exactly as libpng does.
// scratch holds rowBytes bytes.
void filterRow(int filters, const png_byte* row, const png_byte* prev, size_t rowBytes, size_t bpp,
               png_byte* out, png_byte* scratch);

// ---- The image data in strips on worker threads (strips.cpp) ----------------------------------

// Whether a non-interlaced image of rows rows of rowBytes bytes is written in strips: when its
// filtered data spans at least two of them.
bool stripsWanted(size_t rowBytes, png_uint_32 rows, bool interlaced);
// The strips' worker threads: GRIDPACK_THREADS (1 to 1024; 1 writes without workers), else the
// cores this process may run on, at most 16. A bad GRIDPACK_THREADS is a fatal error.
unsigned writerThreads();
struct StripWriter;
// Writes one chunk (type: four letters) of the PNG; called on the main thread only.
using ChunkWriter = void (*)(void* context, const char* type, const png_byte* data, size_t length);
// After the chunks before the image data: rows (as PNG stores them, packed) go in with
// stripsAddRow, filtered with the filters mask and deflated at the zlib level
// (Z_DEFAULT_COMPRESSION for zlib's own); the IDAT chunks go to writer as strips complete, in
// order, and stripsFinish writes IEND. stripsRelease stops the threads and frees everything, on
// any path.
StripWriter* stripsBegin(ChunkWriter writer, void* context, size_t rowBytes, size_t bpp,
                         png_uint_32 rows, int filters, int level);
void stripsAddRow(StripWriter* strips, const png_byte* row);
void stripsFinish(StripWriter* strips);
void stripsRelease(StripWriter* strips);

// ---- The progress line on a terminal (progress.cpp) -------------------------------------------

// Starts listening to the reading of ifP when standard error is a terminal and messages are on;
// expectedPasses is the most passes over the raster the conversion may take.
void progressBegin(FILE* ifP, pm_filepos rasterPos, int expectedPasses);
// The passes still to come, once they are known.
void progressPlan(int passes);
// Erases the line and stops listening.
void progressEnd();

// ---- Comment file to text chunks (textchunks.cpp) ----------------------------------------------

// Reads the whole comment file into a malloc'd array of entries (keywords and texts malloc'd
// too); the count through countP.
png_text* readCommentFile(FILE* tfP, bool ztxt, int* countP);
void freeCommentEntries(png_text* entries, int count);
// Reads the comment file and attaches its entries to the PNG info structure.
void gridpack_read_text(png_structp png_ptr, png_infop info_ptr, FILE* tfP, bool ztxt,
                        bool verbose);

// ---- The state of one conversion (convert.cpp, emit.cpp) -----------------------------------

// libpng's error pointer: the error handler longjmps to the buffer armed last.
struct gridpack_jmpbuf {
    jmp_buf jmpbuf;
};
extern gridpack_jmpbuf gridpack_jmpbuf_struct;

// The state of one conversion, shared by the driver and the PNG emission. It is plain data in
// static storage, so a longjmp from libpng finds it intact and skips no destructor.
struct Conversion {
    png_structp png_ptr;
    png_infop info_ptr;

    int cols, rows;
    pixval maxval;
    int format;       // the format code of the header; never changed
    int pnm_type;     // its format type, lowered from PPM to PGM by the gray test
    pixval maxmaxval; // the maxval at which colour texts are parsed
    pm_filepos rasterPos;
    xel* xelrow;

    gray** alpha_mask;
    int alphaCols, alphaRows;
    gray alphaMaxval;

    pixel transColor;
    bool transExact;
    pixel backColor;
    int meaningfulBits;

    color_hist chv;
    int colors;
    bool colorMapped;
    pixel palette[MAXPALETTEENTRIES];
    unsigned int paletteSize;
    gray transValues[MAXPALETTEENTRIES];
    unsigned int transSize;
    int backgroundIndex;
    bool tooManyPairs;
    color_hash colorHash;
    color_alpha_hash colorAlphaHash;

    int bitDepth;
    int pixelWidth;
    pixval pngMaxval;
    StripWriter* strips; // while a large image's data goes out in strips
};

// Writes the PNG header, the ancillary chunks and every row from the decision in c; frees what
// the conversion allocated.
void writePng(Conversion& c, FILE* ifP, FILE* tfP, FILE* ofP);
// Frees emit.cpp's row buffers and scale tables (part of releasing a conversion).
void releaseRowBuffers();
// Frees and clears everything a conversion holds (libpng structures, rows, tables, the alpha
// mask, the census cache): at the end of a conversion, and, in builds where pm_error throws
// (fuzzing), after one that failed, so that the next starts clean.
void resetConversion();

} // namespace gridpack

#endif
