// Emission: the form carried out through libpng: the header and the chunks, then every row,
// re-read from the input (and the mask) once per interlace pass, converted and handed to libpng.
//
// libpng reports an error by a longjmp out of its own frames. Every libpng call is made inside
// withLibpng, whose setjmp is the one landing point: between it and libpng there is no object
// with a destructor, and once landed the error goes on as an exception like any other.
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

#include "gridpack.h"

namespace gridpack {

namespace {

[[noreturn]] void onLibpngError(png_structp png, png_const_charp message) {
    Conversion* const c = static_cast<Conversion*>(png_get_error_ptr(png));
    // A failed write is reported with its reason once landed, not as libpng's error.
    if (c == nullptr || c->writer.writeErrno == 0) {
        if (c) progressEnd(c->progress);
        std::fprintf(stderr, "gridpack:  fatal libpng error: %s\n", message);
        std::fflush(stderr);
    }
    if (c == nullptr || !c->writer.armed) {
        std::fprintf(stderr, "gridpack:  EXTREMELY fatal error: jmpbuf unrecoverable; "
                             "terminating.\n");
        std::fflush(stderr);
        std::exit(99);
    }
    std::longjmp(c->writer.landing, 1);
}

// Runs calls, which make libpng calls and nothing that owns a destructor; condition numbers the
// landing in the message of a libpng error.
template <typename Calls> void withLibpng(Conversion& c, int condition, const Calls& calls) {
    PngWriter& w = c.writer;
    if (setjmp(w.landing)) {
        w.armed = false;
        if (w.writeErrno) pm_error("cannot write the PNG: %s", std::strerror(w.writeErrno));
        stopConversion(c, "setjmp returns error condition (%d)", condition);
    }
    w.armed = true;
    calls();
    w.armed = false;
}

// The PNG goes out through these rather than libpng's own, whose failure says only "Write
// Error": a full disk or a reader that went away is named with the system's reason. They must
// not throw through libpng's frames: the failure is recorded and libpng's error path taken.
void writeData(png_structp png, png_bytep data, png_size_t length) {
    Conversion* const c = static_cast<Conversion*>(png_get_error_ptr(png));
    if (std::fwrite(data, 1, length, c->output) == length) return;
    c->writer.writeErrno = errno ? errno : EIO;
    png_error(png, "write failed");
}

void flushData(png_structp png) {
    Conversion* const c = static_cast<Conversion*>(png_get_error_ptr(png));
    if (std::fflush(c->output) == 0) return;
    c->writer.writeErrno = errno ? errno : EIO;
    png_error(png, "flush failed");
}

void setChunks(Conversion& c, const Form& form) {
    const Options& o = c.options;
    PngWriter& w = c.writer;
    withLibpng(c, 2, [&] {
        png_set_write_fn(w.png, &c, writeData, flushData);
        // libpng's default limits (a million pixels a side) are lower than PNG's own.
        png_set_user_limits(w.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
        png_set_IHDR(w.png, w.info, png_uint_32(c.facts.cols), png_uint_32(c.facts.rows),
                     form.bitDepth, form.colorType,
                     o.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (o.gamma != -1.0f) png_set_gAMA(w.png, w.info, double(o.gamma));
        if (o.chroma_wx != -1.0f)
            png_set_cHRM(w.png, w.info, double(o.chroma_wx), double(o.chroma_wy),
                         double(o.chroma_rx), double(o.chroma_ry), double(o.chroma_gx),
                         double(o.chroma_gy), double(o.chroma_bx), double(o.chroma_by));
        if (o.phys_unit != -1)
            png_set_pHYs(w.png, w.info, png_uint_32(o.phys_x), png_uint_32(o.phys_y),
                         o.phys_unit & 0xff);
        if (form.colorMapped) {
            png_set_PLTE(w.png, w.info, form.pngPalette, int(form.paletteSize));
            if (form.transSize > 0)
                png_set_tRNS(w.png, w.info, form.pngTrans, int(form.transSize), nullptr);
            if (form.hasHist) png_set_hIST(w.png, w.info, form.hist);
        } else if (form.hasTransColor) {
            png_set_tRNS(w.png, w.info, nullptr, 1, &form.transColor);
        }
        if (form.hasBackground) png_set_bKGD(w.png, w.info, &form.background);
        if (form.hasSbit) png_set_sBIT(w.png, w.info, &form.sbit);
    });
    for (const std::string& line : form.chunkReport) pm_message("%s", line.c_str());

    if (o.text || o.ztxt) {
        int count;
        png_text* const entries = readCommentFile(c.textfile, o.ztxt, &count);
        // libpng copies the entries into the info structure.
        struct Entries {
            png_text* e;
            int n;
            ~Entries() { freeCommentEntries(e, n); }
        } held{entries, count};
        withLibpng(c, 2, [&] { png_set_text(w.png, w.info, held.e, held.n); });
        if (o.verbose) pm_message("%d comments placed in text chunk", count);
    }
    withLibpng(c, 2, [&] {
        if (o.mtime) {
            // The option scan has checked both texts, so this cannot fail.
            png_time modTime;
            parseModificationTime(o.date_string, o.time_string, &modTime);
            png_set_tIME(w.png, w.info, &modTime);
        }
        if (o.filter >= 0 && o.filter <= 4) {
            // libpng takes a mask of the filters it may try; one bit makes every row use it.
            static const int filterMask[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP,
                                             PNG_FILTER_AVG, PNG_FILTER_PAETH};
            png_set_filter(w.png, PNG_FILTER_TYPE_BASE, filterMask[o.filter]);
        }
        if (o.compression >= 0 && o.compression <= 9)
            png_set_compression_level(w.png, o.compression);
        png_write_info(w.png, w.info);
        // Text and time go out once, before the image data: png_write_end must not repeat them.
        if (o.text || o.ztxt) png_free_data(w.png, w.info, PNG_FREE_TEXT, -1);
        if (o.mtime) png_set_invalid(w.png, w.info, PNG_INFO_tIME);
    });
}

Block allocate(size_t count, size_t size, bool* failedP) {
    void* block;
    mallocProduct(&block, count, size);
    if (block == nullptr) *failedP = true;
    return Block(block, std::free);
}

// The buffers and tables the rows need, and the palette lookup.
void prepareRows(Conversion& c, const Form& form) {
    PngWriter& w = c.writer;
    const Facts& f = c.facts;
    const gray alphaMaxval = f.alphaMaxval;
    bool failed = false;
    w.pngRow = allocate(size_t(f.cols), 8, &failed);
    w.sampleScale = allocate(size_t(f.maxval) + 1, sizeof(png_uint_16), &failed);
    w.bitRow = allocate(size_t(f.cols), 1, &failed);
    w.alphaScale = allocate(size_t(alphaMaxval) + 1, sizeof(png_uint_16), &failed);
    if (failed) stopConversion(c, "out of memory allocating PNG row buffer");
    for (int& index : w.grayIndex) index = -1;
    png_uint_16* const scale = static_cast<png_uint_16*>(w.sampleScale.get());
    for (pixval v = 0; v <= f.maxval; ++v)
        scale[v] = png_uint_16(scaleSample(v, form.pngMaxval, f.maxval));
    png_uint_16* const alphaScale = static_cast<png_uint_16*>(w.alphaScale.get());
    for (gray a = 0; a <= alphaMaxval; ++a) {
        // Single precision for the quotient, double for the rounding: the datastream depends on
        // exactly this arithmetic.
        const float quotient = float(a) * float(form.pngMaxval) / float(alphaMaxval);
        alphaScale[a] = png_uint_16(double(quotient) + 0.5);
    }
    if (!form.colorMapped) return;
    w.colorIndex.reset(ppm_alloccolorhash());
    for (unsigned int i = 0; i < form.paletteSize; ++i) {
        const pixel& color = form.palette[i];
        int slot = ppm_lookupcolor(w.colorIndex.get(), &color);
        if (slot < 0) {
            slot = form.alpha ? int(w.alphaIndex.size()) : int(i);
            // A missing entry would silently write index -1 for that colour's pixels.
            if (ppm_addtocolorhash(w.colorIndex.get(), &color, slot) < 0)
                pm_error("out of memory building the palette lookup table");
            if (form.alpha) w.alphaIndex.emplace_back();
        }
        // Beyond the translucent entries (an appended background) an entry is opaque.
        if (form.alpha) w.alphaIndex[size_t(slot)].emplace_back(form.transValues[i], int(i));
    }
}

template <bool Sixteen> inline png_byte* putValue(png_byte* out, unsigned int v) {
    if (Sixteen) *out++ = png_byte(v >> 8);
    *out++ = png_byte(v);
    return out;
}

// One row of gray (Color false) or RGB samples, each followed by alpha when a mask is in
// effect; every value goes through a table, so the loop has no branch and no division.
template <bool Color, bool Alpha, bool Sixteen>
void convertSamples(const xel* row, int cols, const png_uint_16* scale, const gray* alphaRow,
                    const png_uint_16* alphaScale, png_byte* out) {
    for (int x = 0; x < cols; ++x) {
        const xel& px = row[x];
        if (Color) {
            out = putValue<Sixteen>(out, scale[px.r]);
            out = putValue<Sixteen>(out, scale[px.g]);
        }
        out = putValue<Sixteen>(out, scale[px.b]);
        if (Alpha) out = putValue<Sixteen>(out, alphaScale[alphaRow[x]]);
    }
}

template <bool Color, bool Alpha>
void samplesAtDepth(bool sixteen, const xel* row, int cols, const png_uint_16* scale,
                    const gray* alphaRow, const png_uint_16* alphaScale, png_byte* out) {
    if (sixteen)
        convertSamples<Color, Alpha, true>(row, cols, scale, alphaRow, alphaScale, out);
    else
        convertSamples<Color, Alpha, false>(row, cols, scale, alphaRow, alphaScale, out);
}

// Packs one value per byte into PNG's layout for depths 1, 2 and 4, in place: the leftmost
// pixel in the high bits, the unused low bits of a row's last byte 0.
template <int Depth> void packSubByteAt(png_byte* row, int cols) {
    constexpr int perByte = 8 / Depth;
    int x = 0;
    png_byte* out = row;
    for (; x + perByte <= cols; x += perByte) {
        unsigned int byte = 0;
        for (int k = 0; k < perByte; ++k) byte = byte << Depth | row[x + k];
        *out++ = png_byte(byte);
    }
    if (x < cols) {
        unsigned int byte = 0;
        for (int k = 0; k < perByte; ++k) byte = byte << Depth | (x + k < cols ? row[x + k] : 0);
        *out = png_byte(byte);
    }
}

void packSubByte(png_byte* row, int cols, int depth) {
    if (depth == 1) packSubByteAt<1>(row, cols);
    if (depth == 2) packSubByteAt<2>(row, cols);
    if (depth == 4) packSubByteAt<4>(row, cols);
}

// A bitmap written as 1-bit gray: PNG's 1 is white where the bitmap's 1 is black. Eight bits of
// one byte each (0 or 1) become one byte through a multiply that gathers them, first pixel in
// the high bit; the unused low bits of the last byte stay 0.
void packBitmapRow(const bit* bits, int cols, png_byte* out) {
    int x = 0;
    for (; x + 8 <= cols; x += 8) {
        uint64_t eight;
        std::memcpy(&eight, bits + x, 8);
        *out++ = png_byte(~((eight * 0x8040201008040201ull) >> 56));
    }
    if (x < cols) {
        unsigned int byte = 0;
        for (int k = 0; k < 8; ++k) byte = byte << 1 | (x + k < cols && !bits[x + k]);
        *out = png_byte(byte);
    }
}

[[noreturn]] void colorChanged() {
    pm_error("the input image changed while it was being read: a pixel's colour is not in the "
             "palette made from it");
}

// A pixel's palette index; every pixel is in the palette made from the image.
int paletteIndex(const PngWriter& w, const pixel& px, const gray* opacityP) {
    const int slot = ppm_lookupcolor(w.colorIndex.get(), &px);
    if (slot < 0) colorChanged();
    if (!opacityP) return slot;
    for (const std::pair<gray, int>& entry : w.alphaIndex[size_t(slot)])
        if (entry.first == *opacityP) return entry.second;
    colorChanged();
}

// Palette indexes; a pixel equal to its left neighbour (with the same opacity) reuses its index.
// A graymap's xel is looked up as the pixel (gray, gray, gray), which is what promoting the row
// to a pixmap at the same maxval makes of it.
void convertIndexRow(PngWriter& w, const Form& form, const Facts& f, const xel* row,
                     const gray* alphaRow, png_byte* out) {
    const bool grayRow = PNM_FORMAT_TYPE(f.format) != PLAIN_PPM;
    const int cols = f.cols;
    if (grayRow && !alphaRow) {
        // A palette needs a maxval of at most 255, so a graymap's value indexes a table.
        for (int x = 0; x < cols; ++x) {
            const gray v = row[x].b;
            if (v > 255) colorChanged();
            if (w.grayIndex[v] < 0) w.grayIndex[v] = paletteIndex(w, pixel{v, v, v}, nullptr);
            out[x] = png_byte(w.grayIndex[v] & 0xff);
        }
    } else {
        int index = -1;
        pixel left{};
        for (int x = 0; x < cols; ++x) {
            const xel& in = row[x];
            const pixel px = grayRow ? pixel{in.b, in.b, in.b} : in;
            const bool sameAsLeft =
                x > 0 && PPM_EQUAL(px, left) && (!alphaRow || alphaRow[x] == alphaRow[x - 1]);
            if (!sameAsLeft) index = paletteIndex(w, px, alphaRow ? &alphaRow[x] : nullptr);
            out[x] = png_byte(index & 0xff);
            left = px;
        }
    }
    if (form.bitDepth < 8) packSubByte(out, cols, form.bitDepth);
}

// Samples of gray (gray + alpha) and RGB (RGB + alpha) rows, scaled to the PNG's maxval.
void convertSampleRow(const PngWriter& w, const Form& form, const Facts& f, const xel* row,
                      const gray* alphaRow, png_byte* out) {
    const png_uint_16* const scale = static_cast<const png_uint_16*>(w.sampleScale.get());
    const png_uint_16* const alphaScale = static_cast<const png_uint_16*>(w.alphaScale.get());
    const bool color = form.type == PLAIN_PPM;
    const bool sixteen = form.bitDepth == 16;
    const int cols = f.cols;
    if (color && alphaRow)
        samplesAtDepth<true, true>(sixteen, row, cols, scale, alphaRow, alphaScale, out);
    else if (color)
        samplesAtDepth<true, false>(sixteen, row, cols, scale, alphaRow, alphaScale, out);
    else if (alphaRow)
        samplesAtDepth<false, true>(sixteen, row, cols, scale, alphaRow, alphaScale, out);
    else
        samplesAtDepth<false, false>(sixteen, row, cols, scale, alphaRow, alphaScale, out);
    if (form.bitDepth < 8) packSubByte(out, cols, form.bitDepth);
}

// Large non-interlaced images go out in strips deflated on worker threads, the rest through
// libpng's own rows; the filtered data is the same either way.
StripWriter* startStrips(Conversion& c, const Form& form) {
    const Options& o = c.options;
    const png_byte type = form.colorType;
    const size_t channels = type == PNG_COLOR_TYPE_RGB_ALPHA    ? 4
                            : type == PNG_COLOR_TYPE_RGB        ? 3
                            : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                : 1;
    const size_t pixelBits = channels * size_t(form.bitDepth);
    const size_t rowBytes = (size_t(c.facts.cols) * pixelBits + 7) / 8;
    if (!stripsWanted(rowBytes, png_uint_32(c.facts.rows), o.interlace)) return nullptr;
    // libpng's choice: no filter for palette and sub-byte images unless one is asked for.
    static const int filterMask[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                                     PNG_FILTER_PAETH};
    const int filters = o.filter >= 0 && o.filter <= 4                        ? filterMask[o.filter]
                        : type == PNG_COLOR_TYPE_PALETTE || form.bitDepth < 8 ? PNG_FILTER_NONE
                                                                              : PNG_ALL_FILTERS;
    const ChunkWriter writeChunk = [](void* context, const char* name, const png_byte* data,
                                      size_t length) {
        Conversion& conversion = *static_cast<Conversion*>(context);
        withLibpng(conversion, 2, [&] {
            png_write_chunk(conversion.writer.png, reinterpret_cast<png_const_bytep>(name), data,
                            length);
        });
    };
    c.writer.strips.reset(stripsBegin(
        writeChunk, &c, rowBytes, (pixelBits + 7) / 8, png_uint_32(c.facts.rows), filters,
        o.compression >= 0 && o.compression <= 9 ? o.compression : Z_DEFAULT_COMPRESSION));
    return c.writer.strips.get();
}

// The row loop: each row read (with its mask row), converted, and handed to libpng (or the
// strips), once per interlace pass. Sub-byte depths are packed here rather than by libpng
// (png_set_packing): the bytes are the same and the bitmap path costs a third of the time.
void writeRows(Conversion& c, const Form& form) {
    PngWriter& w = c.writer;
    const Facts& f = c.facts;
    Raster &image = c.image, &mask = c.mask;
    const bool bitmapRows = form.type == PLAIN_PBM && !form.alpha && form.bitDepth == 1;
    png_byte* const out = static_cast<png_byte*>(w.pngRow.get());
    bit* const bits = static_cast<bit*>(w.bitRow.get());
    StripWriter* const strips = startStrips(c, form);
    int passes = 1;
    if (!strips) withLibpng(c, 2, [&] { passes = png_set_interlace_handling(w.png); });
    progressPlan(c.progress, passes);
    for (int pass = 0; pass < passes; ++pass) {
        image.rewind();
        if (form.alpha) mask.rewind();
        for (int y = 0; y < f.rows; ++y) {
            // libpng takes only some rows in each interlace pass and ignores the others' data.
            const bool used = passes == 1 || PNG_ROW_IN_INTERLACE_PASS(y, pass);
            if (bitmapRows) {
                image.nextBits(bits);
                if (used) packBitmapRow(bits, f.cols, out);
            } else {
                const xel* const row = image.next();
                const gray* const alphaRow = form.alpha ? mask.nextGray() : nullptr;
                if (used && form.colorMapped) convertIndexRow(w, form, f, row, alphaRow, out);
                if (used && !form.colorMapped) convertSampleRow(w, form, f, row, alphaRow, out);
            }
            if (strips)
                stripsAddRow(strips, out);
            else
                withLibpng(c, 2, [&] { png_write_row(w.png, out); });
        }
    }
}

} // namespace

PngWriter::~PngWriter() {
    if (png) png_destroy_write_struct(&png, &info);
}

void createWriter(Conversion& c) {
    PngWriter& w = c.writer;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &c, onLibpngError, nullptr);
    if (w.png == nullptr) stopConversion(c, "cannot allocate main libpng structure (png_ptr)");
    withLibpng(c, 1, [&] { w.info = png_create_info_struct(w.png); });
    if (w.info == nullptr) stopConversion(c, "cannot allocate libpng info structure (info_ptr)");
}

void emit(Conversion& c, const Form& form) {
    setChunks(c, form);
    prepareRows(c, form);
    writeRows(c, form);
    if (c.writer.strips) {
        stripsFinish(c.writer.strips.get());
        c.writer.strips.reset();
    } else {
        withLibpng(c, 2, [&] { png_write_end(c.writer.png, c.writer.info); });
    }
    // The last bytes may still sit in the stream's buffer; their failure is the same failure.
    if (std::fflush(c.output) != 0) pm_error("cannot write the PNG: %s", std::strerror(errno));
}

} // namespace gridpack
