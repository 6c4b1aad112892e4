// convertpnm: libpng set-up and error bridge, the analysis passes, the decision, PNG emission.
#include "gridpack.h"

namespace gridpack {

int errorlevel;

int convertpnm(FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP) {
    return convertpnmTo(ifP, afP, pfP, tfP, stdout);
}

int convertpnmTo(FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP, FILE* ofP) {
    (void)ifP, (void)afP, (void)pfP, (void)tfP, (void)ofP;
    pm_error("this build cannot convert images yet: the PNG writer is not part of it");
}

} // namespace gridpack
