// PNG emission: the header and ancillary chunks from the driver's decision, then every row,
// re-read from the input once per interlace pass, converted and handed to libpng.
//
// libpng errors longjmp back into writePng, so neither it nor anything it calls between the
// setjmp and libpng's calls owns an object with a destructor: buffers are plain allocations
// recorded in static storage, freed at the end.
#include <algorithm>
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

struct RowBuffers {
    png_byte* pngRow;         // cols x 8 bytes: the widest pixel is four 16-bit samples
    bit* bitRow;              // cols bits, one per byte, for bitmaps written as 1-bit gray
    png_uint_16* sampleScale; // input sample -> PNG sample, maxval + 1 entries
    png_uint_16* alphaScale;  // mask value -> PNG alpha sample, alphaMaxval + 1 entries
    int* grayIndex;           // palette index of each 8-bit gray value of a graymap, -1 until met
};

RowBuffers buffers;

png_byte colorType(const Conversion& c) {
    if (c.colorMapped) return PNG_COLOR_TYPE_PALETTE;
    const png_byte base = c.pnm_type == PLAIN_PPM ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
    return alpha ? png_byte(base | PNG_COLOR_MASK_ALPHA) : base;
}

// hIST entries are 16 bits. Counts beyond that are scaled so the largest reads 65535 (rounded,
// halves up), and a colour that occurs never reads 0; an appended background keeps its 0.
void setHistogram(Conversion& c, FILE* ifP) {
    // The census taken for the palette decision; this call does not read the image again.
    getChv(ifP, c.rasterPos, c.cols, c.rows, c.maxval, c.format, int(MAXPALETTEENTRIES), &c.chv,
           &c.colors);
    const color_hash cht = ppm_colorhisttocolorhash(c.chv, c.colors);
    unsigned long long counts[MAXPALETTEENTRIES], largest = 0;
    for (unsigned int i = 0; i < c.paletteSize; ++i) {
        const int censusIndex = ppm_lookupcolor(cht, &c.palette[i]);
        counts[i] = censusIndex < 0 ? 0 : (unsigned long long)c.chv[censusIndex].value;
        if (counts[i] > largest) largest = counts[i];
    }
    ppm_freecolorhash(cht);
    png_uint_16 histogram[MAXPALETTEENTRIES];
    for (unsigned int i = 0; i < c.paletteSize; ++i) {
        unsigned long long h = counts[i];
        if (largest > 65535 && h > 0) h = std::max(1ull, (2 * h * 65535 + largest) / (2 * largest));
        histogram[i] = png_uint_16(h);
    }
    png_set_hIST(c.png_ptr, c.info_ptr, histogram);
    if (verbose) pm_message("histogram created");
}

void setPaletteChunks(Conversion& c, FILE* ifP) {
    png_color pngPalette[MAXPALETTEENTRIES];
    png_byte pngTrans[MAXPALETTEENTRIES];
    createPngPalette(c.palette, c.paletteSize, c.maxval, c.transValues, c.transSize, c.alphaMaxval,
                     pngPalette, pngTrans);
    png_set_PLTE(c.png_ptr, c.info_ptr, pngPalette, int(c.paletteSize));
    if (c.transSize > 0) png_set_tRNS(c.png_ptr, c.info_ptr, pngTrans, int(c.transSize), nullptr);
    if (hist) setHistogram(c, ifP);
}

bool isGray(const pixel& p) { return p.r == p.g && p.g == p.b; }

void setTransparentColor(Conversion& c, png_byte type) {
    bool set = (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_RGB) && transparent > 0;
    // A gray image has no pixel of another colour: taking its blue sample as the gray value
    // would make pixels of some other gray transparent.
    if (set && type == PNG_COLOR_TYPE_GRAY && !isGray(c.transColor)) {
        pm_message("specified transparent color is not gray, and the image is written as "
                   "grayscale; ignoring -transparent");
        set = false;
    }
    if (set) {
        png_color_16 trans = xelToPngColor_16(c.transColor, c.maxval, c.pngMaxval);
        png_set_tRNS(c.png_ptr, c.info_ptr, nullptr, 1, &trans);
        if (verbose)
            pm_message("Transparent color {gray, red, green, blue} = {%d, %d, %d, %d}", trans.gray,
                       trans.red, trans.green, trans.blue);
    } else if (verbose) {
        pm_message("No transparent color");
    }
}

void setBackground(Conversion& c, png_byte type) {
    png_color_16 back;
    if (type == PNG_COLOR_TYPE_PALETTE) {
        back = png_color_16{};
        back.index = png_byte(c.backgroundIndex);
    } else {
        back = xelToPngColor_16(c.backColor, c.maxval, c.pngMaxval);
        // On a gray image a colour stands for its luminance, not for its blue sample.
        const pixel& b = c.backColor;
        const unsigned int luminance = (299 * b.r + 587 * b.g + 114 * b.b + 500) / 1000;
        if (!(type & PNG_COLOR_MASK_COLOR))
            back.gray = png_uint_16(scaleSample(luminance, c.pngMaxval, c.maxval));
        if (verbose)
            pm_message("Writing bKGD chunk with background color  {gray, red, green, blue} = "
                       "{%d, %d, %d, %d}",
                       back.gray, back.red, back.green, back.blue);
    }
    png_set_bKGD(c.png_ptr, c.info_ptr, &back);
}

// PNG allows no significant-bit value above the bit depth (libpng would drop the whole chunk),
// so each value is capped at the depth.
png_byte significantBits(int bits, int bitDepth) {
    return png_byte(bits > bitDepth ? bitDepth : bits);
}

void setSignificantBits(Conversion& c, png_byte type) {
    if (c.colorMapped) return;
    if (c.pngMaxval == c.maxval && !(alpha && c.pngMaxval != c.alphaMaxval)) return;
    png_color_8 sbit{};
    const png_byte s = significantBits(pm_maxvaltobits(int(c.maxval)), c.bitDepth);
    if (type & PNG_COLOR_MASK_COLOR)
        sbit.red = sbit.green = sbit.blue = s;
    else
        sbit.gray = s;
    if (verbose) pm_message("Writing sBIT chunk with sbitval = %d", s);
    if (type & PNG_COLOR_MASK_ALPHA)
        sbit.alpha = significantBits(pm_maxvaltobits(int(c.alphaMaxval)), c.bitDepth);
    png_set_sBIT(c.png_ptr, c.info_ptr, &sbit);
}

void setModificationTime(Conversion& c) {
    // The option scan has checked both texts, so this cannot fail.
    png_time modTime;
    parseModificationTime(date_string, time_string, &modTime);
    png_set_tIME(c.png_ptr, c.info_ptr, &modTime);
}

void writeInfo(Conversion& c, FILE* ifP, FILE* tfP) {
    const png_byte type = colorType(c);
    // libpng's default limits (a million pixels a side) are lower than PNG's own.
    png_set_user_limits(c.png_ptr, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_IHDR(c.png_ptr, c.info_ptr, png_uint_32(c.cols), png_uint_32(c.rows), c.bitDepth, type,
                 interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (gamma != -1.0f) png_set_gAMA(c.png_ptr, c.info_ptr, double(gamma));
    if (chroma_wx != -1.0f)
        png_set_cHRM(c.png_ptr, c.info_ptr, double(chroma_wx), double(chroma_wy), double(chroma_rx),
                     double(chroma_ry), double(chroma_gx), double(chroma_gy), double(chroma_bx),
                     double(chroma_by));
    if (phys_unit != -1)
        png_set_pHYs(c.png_ptr, c.info_ptr, png_uint_32(phys_x), png_uint_32(phys_y),
                     phys_unit & 0xff);

    if (type == PNG_COLOR_TYPE_PALETTE)
        setPaletteChunks(c, ifP);
    else
        setTransparentColor(c, type);
    freeChv();

    if (background > -1) setBackground(c, type);
    setSignificantBits(c, type);
    if (text || ztxt) gridpack_read_text(c.png_ptr, c.info_ptr, tfP, ztxt != 0, verbose != 0);
    if (mtime) setModificationTime(c);
    if (filter >= 0 && filter <= 4) {
        // libpng takes a mask of the filters it may try; a single bit makes every row use it.
        static const int filterMask[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP,
                                         PNG_FILTER_AVG, PNG_FILTER_PAETH};
        png_set_filter(c.png_ptr, PNG_FILTER_TYPE_BASE, filterMask[filter]);
    }
    if (compression >= 0 && compression <= 9) png_set_compression_level(c.png_ptr, compression);

    png_write_info(c.png_ptr, c.info_ptr);
    // Text and time go out once, before the image data: png_write_end must not repeat them.
    if (text || ztxt) png_free_data(c.png_ptr, c.info_ptr, PNG_FREE_TEXT, -1);
    if (mtime) png_set_invalid(c.png_ptr, c.info_ptr, PNG_INFO_tIME);
}

void allocateRowBuffers(Conversion& c, FILE* ifP) {
    void* row;
    mallocProduct(&row, size_t(c.cols), 8);
    void* scale;
    mallocProduct(&scale, size_t(c.maxval) + 1, sizeof(png_uint_16));
    void* bits;
    mallocProduct(&bits, size_t(c.cols), 1);
    void* alphaScale;
    mallocProduct(&alphaScale, size_t(c.alphaMaxval) + 1, sizeof(png_uint_16));
    int* grayIndex = static_cast<int*>(std::malloc(256 * sizeof(int)));
    buffers = {static_cast<png_byte*>(row), static_cast<bit*>(bits),
               static_cast<png_uint_16*>(scale), static_cast<png_uint_16*>(alphaScale), grayIndex};
    if (row == nullptr || bits == nullptr || scale == nullptr || alphaScale == nullptr ||
        grayIndex == nullptr) {
        png_destroy_write_struct(&c.png_ptr, &c.info_ptr);
        pm_closer(ifP);
        pm_error("out of memory allocating PNG row buffer");
    }
    for (int i = 0; i < 256; ++i) grayIndex[i] = -1;
    for (pixval v = 0; v <= c.maxval; ++v)
        buffers.sampleScale[v] = png_uint_16(scaleSample(v, c.pngMaxval, c.maxval));
    for (gray a = 0; a <= c.alphaMaxval; ++a) {
        // Single precision for the quotient, double for the rounding: the datastream depends on
        // exactly this arithmetic.
        const float quotient = float(a) * float(c.pngMaxval) / float(c.alphaMaxval);
        buffers.alphaScale[a] = png_uint_16(double(quotient) + 0.5);
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
void convertSamplesAtDepth(const Conversion& c, const gray* alphaRow, png_byte* out) {
    if (c.bitDepth == 16)
        convertSamples<Color, Alpha, true>(c.xelrow, c.cols, buffers.sampleScale, alphaRow,
                                           buffers.alphaScale, out);
    else
        convertSamples<Color, Alpha, false>(c.xelrow, c.cols, buffers.sampleScale, alphaRow,
                                            buffers.alphaScale, out);
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

// Samples of gray (gray + alpha) and RGB (RGB + alpha) rows, scaled to the PNG's maxval.
void convertSampleRow(const Conversion& c, int y, png_byte* out) {
    const gray* alphaRow = alpha ? c.alpha_mask[y] : nullptr;
    if (c.pnm_type == PLAIN_PPM) {
        if (alphaRow)
            convertSamplesAtDepth<true, true>(c, alphaRow, out);
        else
            convertSamplesAtDepth<true, false>(c, alphaRow, out);
    } else {
        if (alphaRow)
            convertSamplesAtDepth<false, true>(c, alphaRow, out);
        else
            convertSamplesAtDepth<false, false>(c, alphaRow, out);
    }
    if (c.bitDepth < 8) packSubByte(out, c.cols, c.bitDepth);
}

[[noreturn]] void colorChanged() {
    pm_error("the input image changed while it was being read: a pixel's colour is not in the "
             "palette made from it");
}

// A pixel's palette index; every pixel is in the palette made from the image.
int paletteIndex(const Conversion& c, const pixel& px, const gray* opacityP) {
    const int index = opacityP ? lookupColorAlpha(c.colorAlphaHash, &px, opacityP)
                               : ppm_lookupcolor(c.colorHash, &px);
    if (index < 0) colorChanged();
    return index;
}

// Palette indexes; a pixel equal to its left neighbour (with the same opacity) reuses its index.
// A graymap's xel is looked up as the pixel (gray, gray, gray), which is what promoting the row
// to a pixmap at the same maxval makes of it.
void convertIndexRow(const Conversion& c, int y, png_byte* out) {
    const bool grayRow = PNM_FORMAT_TYPE(c.format) != PLAIN_PPM;
    const gray* alphaRow = alpha ? c.alpha_mask[y] : nullptr;
    if (grayRow && !alphaRow) {
        // A palette needs a maxval of at most 255, so a graymap's value indexes a table.
        int* const grayIndex = buffers.grayIndex;
        for (int x = 0; x < c.cols; ++x) {
            const gray v = c.xelrow[x].b;
            if (v > 255) colorChanged();
            if (grayIndex[v] < 0) grayIndex[v] = paletteIndex(c, pixel{v, v, v}, nullptr);
            out[x] = png_byte(grayIndex[v] & 0xff);
        }
    } else {
        int index = -1;
        pixel left{};
        for (int x = 0; x < c.cols; ++x) {
            const xel& in = c.xelrow[x];
            const pixel px = grayRow ? pixel{in.b, in.b, in.b} : in;
            const bool sameAsLeft =
                x > 0 && PPM_EQUAL(px, left) && (!alphaRow || alphaRow[x] == alphaRow[x - 1]);
            if (!sameAsLeft) index = paletteIndex(c, px, alphaRow ? &alphaRow[x] : nullptr);
            out[x] = png_byte(index & 0xff);
            left = px;
        }
    }
    if (c.bitDepth < 8) packSubByte(out, c.cols, c.bitDepth);
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

// Sub-byte depths are packed here rather than by libpng (png_set_packing): the bytes are the same
// and the bitmap path costs a third of the time.
// Large non-interlaced images go out in strips deflated on worker threads, the rest through
// libpng's own rows; the filtered data is the same either way.
StripWriter* startStrips(const Conversion& c) {
    const png_byte type = colorType(c);
    const size_t channels = type == PNG_COLOR_TYPE_RGB_ALPHA    ? 4
                            : type == PNG_COLOR_TYPE_RGB        ? 3
                            : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                : 1;
    const size_t pixelBits = channels * size_t(c.bitDepth);
    const size_t rowBytes = (size_t(c.cols) * pixelBits + 7) / 8;
    if (!stripsWanted(rowBytes, png_uint_32(c.rows), interlace)) return nullptr;
    // libpng's choice: no filter for palette and sub-byte images unless one is asked for.
    static const int filterMask[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                                     PNG_FILTER_PAETH};
    const int filters = filter >= 0 && filter <= 4                         ? filterMask[filter]
                        : type == PNG_COLOR_TYPE_PALETTE || c.bitDepth < 8 ? PNG_FILTER_NONE
                                                                           : PNG_ALL_FILTERS;
    const ChunkWriter writeChunk = [](void* png, const char* name, const png_byte* data,
                                      size_t length) {
        png_write_chunk(static_cast<png_structp>(png), reinterpret_cast<png_const_bytep>(name),
                        data, length);
    };
    return stripsBegin(writeChunk, c.png_ptr, rowBytes, (pixelBits + 7) / 8, png_uint_32(c.rows),
                       filters,
                       compression >= 0 && compression <= 9 ? compression : Z_DEFAULT_COMPRESSION);
}

void writeRows(Conversion& c, FILE* ifP) {
    allocateRowBuffers(c, ifP);
    const bool bitmapRows = c.pnm_type == PLAIN_PBM && !alpha && c.bitDepth == 1;
    StripWriter* const strips = c.strips = startStrips(c);
    const int passes = strips ? 1 : png_set_interlace_handling(c.png_ptr);
    progressPlan(passes);
    for (int pass = 0; pass < passes; ++pass) {
        pm_seek2(ifP, &c.rasterPos, sizeof c.rasterPos);
        for (int y = 0; y < c.rows; ++y) {
            // libpng takes only some rows in each interlace pass and ignores the others' data.
            const bool used = passes == 1 || PNG_ROW_IN_INTERLACE_PASS(y, pass);
            if (bitmapRows) {
                // The reader pnm_readpnmrow uses for bitmaps, so its messages are the same.
                pbm_readpbmrow(ifP, buffers.bitRow, c.cols, c.format);
                if (used) packBitmapRow(buffers.bitRow, c.cols, buffers.pngRow);
            } else {
                pnm_readpnmrow(ifP, c.xelrow, c.cols, c.maxval, c.format);
                if (used && c.colorMapped) convertIndexRow(c, y, buffers.pngRow);
                if (used && !c.colorMapped) convertSampleRow(c, y, buffers.pngRow);
            }
            if (strips)
                stripsAddRow(strips, buffers.pngRow);
            else
                png_write_row(c.png_ptr, buffers.pngRow);
        }
    }
    if (strips) {
        stripsFinish(strips);
        stripsRelease(strips);
        c.strips = nullptr;
    } else {
        png_write_end(c.png_ptr, c.info_ptr);
    }
}

// The PNG goes out through these rather than libpng's own, whose failure says only "Write
// Error": a full disk or a reader that went away is named with the system's reason.
[[noreturn]] void writeFailed() { pm_error("cannot write the PNG: %s", std::strerror(errno)); }

void writeData(png_structp png_ptr, png_bytep data, png_size_t length) {
    FILE* const ofP = static_cast<FILE*>(png_get_io_ptr(png_ptr));
    if (std::fwrite(data, 1, length, ofP) != length) writeFailed();
}

void flushData(png_structp png_ptr) {
    if (std::fflush(static_cast<FILE*>(png_get_io_ptr(png_ptr))) != 0) writeFailed();
}

} // namespace

void releaseRowBuffers() {
    std::free(buffers.pngRow);
    std::free(buffers.bitRow);
    std::free(buffers.sampleScale);
    std::free(buffers.alphaScale);
    std::free(buffers.grayIndex);
    buffers = RowBuffers{};
}

void writePng(Conversion& c, FILE* ifP, FILE* tfP, FILE* ofP) {
    if (setjmp(gridpack_jmpbuf_struct.jmpbuf)) {
        png_destroy_write_struct(&c.png_ptr, &c.info_ptr);
        pm_closer(ifP);
        pm_error("setjmp returns error condition (2)");
    }
    png_set_write_fn(c.png_ptr, ofP, writeData, flushData);
    writeInfo(c, ifP, tfP);
    writeRows(c, ifP);
    // The last bytes may still sit in the stream's buffer; their failure is the same failure.
    flushData(c.png_ptr);
    resetConversion();
}

} // namespace gridpack
