// gridpack's engine. A conversion goes read -> measure -> decide -> emit:
//   options.cpp  the command line, scanned once into Options, which nothing writes afterwards
//   raster.cpp   Raster: the image's (and the alpha mask's) raster, rewound per pass, row by row
//   measure.cpp  the header and the passes over the raster, into one record of Facts
//   decide.cpp   Facts + Options -> Form: colour type, depth, palette, chunks, the report; no I/O
//   emit.cpp     the Form carried out through libpng, the rows re-read and converted
//   convert.cpp  Conversion: owns everything a run makes, and runs the four steps in order
// The image is never held whole: every pass re-reads it (and the mask) from the input.
#ifndef GRIDPACK_H
#define GRIDPACK_H

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <png.h>
#include <string>
#include <utility>
#include <vector>

#include "pixmill.h"

namespace gridpack {

// ---- Options (options.cpp) --------------------------------------------------------------------

struct Options {
    bool verbose = false;
    bool downscale = false;
    bool interlace = false;
    bool force = false;
    bool alpha = false;
    const char* alpha_file = nullptr;
    int transparent = -1; // -1 none, 1 from -transparent
    const char* transstring = nullptr;
    int background = -1; // -1 none, 1 from -background
    const char* backstring = nullptr;
    float gamma = -1.0f; // -1.0 means no gAMA chunk
    bool hist = false;
    float chroma_wx = -1.0f, chroma_wy = -1.0f, chroma_rx = -1.0f, chroma_ry = -1.0f;
    float chroma_gx = -1.0f, chroma_gy = -1.0f, chroma_bx = -1.0f, chroma_by = -1.0f;
    int phys_x = -1, phys_y = -1, phys_unit = -1; // phys_unit -1 means no pHYs chunk
    bool text = false;
    bool ztxt = false;
    const char* text_file = nullptr;
    bool mtime = false;
    const char* date_string = nullptr;
    const char* time_string = nullptr;
    const char* palette_file = nullptr;
    int filter = -1;      // 0..4, or -1 for libpng's choice
    int compression = -1; // 0..9, or -1 for libpng's default
};

extern const char usageText[];

// Scans the converter's own options from argv[1] into *options (which starts from the
// defaults); returns the index of the first argument that is not an option.
int parseOptions(int argc, char* argv[], Options* options);
// The five-line version report on standard error.
void displayVersion();
// The tIME value of -time's date (y-m-d; a year below 100 counts from 1900) and time (h, h:m or
// h:m:s); false unless both are numbers that make a real date and time.
bool parseModificationTime(const char* date, const char* time, png_time* timeP);

// ---- The raster walker (raster.cpp) ------------------------------------------------------------

// A block of memory with the function that frees it.
using Block = std::unique_ptr<void, void (*)(void*)>;

// One raster of a seekable file: the image (xel rows) or the alpha mask (gray rows). Every pass
// begins with rewind() and reads rows in order; passes counts the passes begun. A PAM's alpha
// samples come with its image rows: its mask is then a view of them (tuples set), whose rewind
// and rows cost nothing, read in step with the image.
struct Raster {
    FILE* file = nullptr;
    pm_filepos start = 0; // where the raster begins
    int cols = 0, rows = 0, format = 0;
    int depth = 1; // samples per pixel: a PAM's DEPTH, 3 for a pixmap
    pixval maxval = 0;
    int passes = 0;
    Block row{nullptr, pm_freerow};
    Block alpha{nullptr, pm_freerow}; // a PAM's alpha samples of the last row read
    const Raster* tuples = nullptr;   // the image whose alpha samples this mask is

    // Reads the header (of a graymap when gray) and records where the raster starts.
    void readHeader(bool gray);
    // A PAM with alpha samples.
    bool ownAlpha() const { return depth % 2 == 0; }
    void rewind();
    xel* next();
    const gray* nextGray();
    // A bitmap's row as one byte per pixel, into the caller's buffer.
    void nextBits(bit* bits);
};

// ---- Measuring (measure.cpp) -------------------------------------------------------------------

constexpr unsigned int MAXPALETTEENTRIES = 256;

struct AlphaPair {
    pixel color;
    gray alpha;
};

// What the passes found out; decide() turns it, with the options, into the PNG form.
struct Facts {
    int cols = 0, rows = 0;
    pixval maxval = 0;
    int format = 0;
    int type = 0;           // PLAIN_PBM, PLAIN_PGM or PLAIN_PPM; a pixmap of gray pixels is PGM
    int meaningfulBits = 0; // rightmost bits of the samples that carry information

    bool mask = false;           // an alpha mask was given, or the image has alpha samples
    gray alphaMaxval = 255;      // its maxval
    bool maskIsOneColor = false; // the mask only makes one colour transparent...
    pixel maskColor{};           // ...this one

    // The census, taken when a palette is possible: colours and counts in histogram order, or
    // colors = 257 when there are more.
    bool censusTaken = false;
    int colors = 0;
    std::vector<color_count> census;

    // The colour-and-alpha pairs (with a mask): per census colour, in order of first appearance.
    bool pairsTaken = false;
    bool tooManyPairs = false;
    unsigned int pairCount = 0;
    std::vector<AlphaPair> pairs;

    std::vector<pixel> ordered; // the pixels of -palette's file, once read

    // -transparent (exact when it began with '=') and -background at the image's maxval.
    pixel transColor{};
    bool transExact = false;
    pixel backColor{};
};

// Whether the palette question is settled by the census: no census, too many colours, an index
// as wide as the gray value it stands for, or a palette.
enum class PaletteVerdict { NoCensus, TooManyColors, IndexTooWide, Palette };
PaletteVerdict paletteVerdict(const Facts& f, const Options& o);
// Whether the alpha mask is written as alpha (a channel, or palette opacities).
bool maskKept(const Facts& f, const Options& o);

// ---- Deciding (decide.cpp) ----------------------------------------------------------------------

// The PNG form of one conversion, complete: emission only carries it out.
struct Form {
    int type = 0;       // the anymap type the rows are converted from (PGM for gray pixmaps)
    bool alpha = false; // the mask goes into the pixels (channel or palette opacities)
    bool colorMapped = false;
    png_byte colorType = 0;
    int bitDepth = 0;
    int pixelWidth = 0;
    pixval pngMaxval = 0;

    unsigned int paletteSize = 0, transSize = 0;
    pixel palette[MAXPALETTEENTRIES]{};    // at the image's maxval
    gray transValues[MAXPALETTEENTRIES]{}; // at the mask's maxval; opaque beyond transSize
    png_color pngPalette[MAXPALETTEENTRIES]{};
    png_byte pngTrans[MAXPALETTEENTRIES]{};
    bool hasHist = false;
    png_uint_16 hist[MAXPALETTEENTRIES]{};

    bool hasTransColor = false; // tRNS of a gray or RGB image
    png_color_16 transColor{};
    bool hasBackground = false;
    png_color_16 background{};
    bool hasSbit = false;
    png_color_8 sbit{};

    // Messages in order: those of the decision, printed before the PNG is begun, and those of
    // the chunks, printed as the chunks are set up.
    std::vector<std::string> report, chunkReport;
};

// The form for the facts under the options; stops with pm_error on a choice that cannot be
// made (-palette with too many colours or with a mask, a palette file that does not match).
Form decide(const Facts& f, const Options& o);

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

// ---- The progress line on a terminal (progress.cpp) --------------------------------------------

struct Progress {
    bool listening = false;
    FILE* input = nullptr;
    long long rasterPos = 0, end = 0; // the share of a pass is the share of these bytes read
    int started = 0, remaining = 0;   // passes begun, and those still expected
    unsigned calls = 0;
    double start = 0, last = 0;
    volatile sig_atomic_t shown = 0; // read by the signal handler too
    struct sigaction before[3];

    Progress() = default;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress();
};

// Starts listening to the reading of the input when standard error is a terminal and messages
// are on; plannedPasses is the most passes over the raster the conversion may take.
void progressBegin(Progress& p, FILE* input, pm_filepos rasterPos, int plannedPasses);
// The passes still to come, once they are known.
void progressPlan(Progress& p, int passes);
// Erases the line and stops listening.
void progressEnd(Progress& p);

// ---- The conversion (convert.cpp, measure.cpp, emit.cpp) --------------------------------------

// The writing stage: libpng's structures, the row buffers and the lookups from pixels to PNG
// samples or palette indexes. Every libpng call goes through one wrapper in emit.cpp, whose
// landing point is the only one; the output callbacks record a failed write here.
struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    jmp_buf landing;
    bool armed = false;
    int writeErrno = 0;

    Block pngRow{nullptr, std::free}; // cols x 8 bytes: the widest pixel is four 16-bit samples
    Block bitRow{nullptr, std::free}; // cols bits, one per byte, for bitmaps as 1-bit gray
    Block sampleScale{nullptr, std::free}; // input sample -> PNG sample, maxval + 1 entries
    Block alphaScale{nullptr, std::free};  // mask value -> PNG alpha sample
    int grayIndex[256];                    // palette index of each gray value, -1 until met
    std::unique_ptr<color_hash_entry*, void (*)(color_hash)> colorIndex{nullptr, ppm_freecolorhash};
    // With a mask: per palette colour (colorIndex gives its slot), its (alpha, index) pairs.
    std::vector<std::vector<std::pair<gray, int>>> alphaIndex;
    // A large image's data in strips on worker threads; released (threads joined) on any path.
    std::unique_ptr<StripWriter, void (*)(StripWriter*)> strips{nullptr, stripsRelease};

    PngWriter() = default;
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    ~PngWriter();
};

// Everything one conversion makes, released on every path by its destructors.
struct Conversion {
    const Options& options;
    FILE* palettefile;
    FILE* textfile;
    FILE* output;
    Raster image;
    Raster mask; // file null without -alpha
    Facts facts;
    Progress progress;
    PngWriter writer;

    Conversion(const Options& o, FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP, FILE* ofP)
        : options(o), palettefile(pfP), textfile(tfP), output(ofP) {
        image.file = ifP;
        mask.file = afP;
    }
};

// Stops the conversion with a message; the input's error flag is reported first, as closing it
// would have.
[[noreturn]] void stopConversion(const Conversion& c, const char* format, ...) PM_PRINTF(2, 3);

// The header, the passes and the facts; the progress line begins here.
void measure(Conversion& c);
// Creates libpng's structures (before anything is read, so that their failure comes first).
void createWriter(Conversion& c);
// Writes the PNG of the form: header, chunks, every row.
void emit(Conversion& c, const Form& form);

// Converts one anymap image (ifP must be seekable, and afP if given) to a PNG on ofP; afP, pfP
// and tfP (alpha mask, ordered palette, comment file) may be null.
void convertpnm(const Options& o, FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP, FILE* ofP);

// ---- Comment file to text chunks (textchunks.cpp) ----------------------------------------------

// Reads the whole comment file into a malloc'd array of entries (keywords and texts malloc'd
// too); the count through countP.
png_text* readCommentFile(FILE* tfP, bool ztxt, int* countP);
void freeCommentEntries(png_text* entries, int count);

} // namespace gridpack

#endif
