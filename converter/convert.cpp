// The conversion: one object owns everything a run makes and runs the steps in order.
#include "gridpack.h"

namespace gridpack {

void convertpnm(const Options& o, FILE* ifP, FILE* afP, FILE* pfP, FILE* tfP, FILE* ofP) {
    Conversion c(o, ifP, afP, pfP, tfP, ofP);
    createWriter(c);
    measure(c);
    const Form form = decide(c.facts, o);
    for (const std::string& line : form.report) pm_message("%s", line.c_str());
    emit(c, form);
}

} // namespace gridpack
