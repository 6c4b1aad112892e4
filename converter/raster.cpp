// The raster walker: every pass over the image (or the mask) starts at the raster and reads
// rows in order into one row buffer, kept for the whole conversion.
#include "gridpack.h"

namespace gridpack {

void Raster::readHeader(bool gray) {
    if (gray)
        pgm_readpgminit(file, &cols, &rows, &maxval, &format);
    else
        pnm_readpaminit(file, &cols, &rows, &maxval, &format, &depth);
    pm_tell2(file, &start, sizeof start);
}

void Raster::rewind() {
    if (!tuples) pm_seek2(file, &start, sizeof start);
    ++passes;
}

xel* Raster::next() {
    if (!row) row.reset(pm_allocrow(cols, int(sizeof(xel))));
    xel* const xels = static_cast<xel*>(row.get());
    if (format != PAM_FORMAT) {
        pnm_readpnmrow(file, xels, cols, maxval, format);
        return xels;
    }
    if (ownAlpha() && !alpha) alpha.reset(pm_allocrow(cols, int(sizeof(gray))));
    pam_readpamrow(file, xels, static_cast<gray*>(alpha.get()), cols, maxval, depth);
    return xels;
}

const gray* Raster::nextGray() {
    if (tuples) return static_cast<const gray*>(tuples->alpha.get());
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
