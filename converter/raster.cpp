// The raster walker: every pass over the image (or the mask) starts at the raster and reads
// rows in order into one row buffer, kept for the whole conversion.
#include "gridpack.h"

namespace gridpack {

void Raster::readHeader(bool gray) {
    if (gray)
        pgm_readpgminit(file, &cols, &rows, &maxval, &format);
    else
        pnm_readpnminit(file, &cols, &rows, &maxval, &format);
    pm_tell2(file, &start, sizeof start);
}

void Raster::rewind() {
    pm_seek2(file, &start, sizeof start);
    ++passes;
}

xel* Raster::next() {
    if (!row) row.reset(pm_allocrow(cols, int(sizeof(xel))));
    xel* const xels = static_cast<xel*>(row.get());
    pnm_readpnmrow(file, xels, cols, maxval, format);
    return xels;
}

const gray* Raster::nextGray() {
    if (!row) row.reset(pm_allocrow(cols, int(sizeof(gray))));
    gray* const grays = static_cast<gray*>(row.get());
    pgm_readpgmrow(file, grays, cols, maxval, format);
    return grays;
}

void Raster::nextBits(bit* bits) {
    // The reader pnm_readpnmrow uses for bitmaps, so its messages are the same.
    pbm_readpbmrow(file, bits, cols, format);
}

} // namespace gridpack
