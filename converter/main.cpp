// gridpack: converts one PBM, PGM or PPM image to the smallest faithful PNG on standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "gridpack.h"

using namespace gridpack;

static bool descriptorIsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// A closed standard descriptor would be handed to the next file opened: messages or the PNG
// would then land in an input file. Closed ones are parked on /dev/null; the return value says
// whether standard output was closed, which is an error once messages can be printed.
static bool parkClosedStandardDescriptors() {
    const bool stdoutClosed = !descriptorIsOpen(STDOUT_FILENO);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (descriptorIsOpen(fd)) continue;
        const int nullFd = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (nullFd != -1 && nullFd != fd) {
            dup2(nullFd, fd);
            close(nullFd);
        }
    }
    return stdoutClosed;
}

// Standard input can be read once: a second file named "-" would find it used up (or the
// image would be taken for the mask).
static void refuseSecondStandardInput(const Options& o, const char* inputName) {
    const char* readers[4];
    int count = 0;
    const auto fromStdin = [](const char* name) { return name && std::strcmp(name, "-") == 0; };
    if (fromStdin(inputName)) readers[count++] = "the image";
    if (o.alpha && fromStdin(o.alpha_file)) readers[count++] = "-alpha";
    if (fromStdin(o.palette_file)) readers[count++] = "-palette";
    if ((o.text || o.ztxt) && fromStdin(o.text_file)) readers[count++] = o.ztxt ? "-ztxt" : "-text";
    if (count > 1)
        pm_error("%s and %s both read standard input ('-'); only one file can come from it",
                 readers[0], readers[1]);
}

// Opens the files, converts, closes; a fatal error anywhere ends here as an exception, its
// message already written.
static int run(int argc, char* argv[]) {
    const bool stdoutClosed = parkClosedStandardDescriptors();
    pnm_init(&argc, argv);
    if (stdoutClosed) pm_error("Standard output is closed; there is nowhere to write the PNG");

    Options options;
    int argn = parseOptions(argc, argv, &options);
    const Options& o = options;
    // Judged now, for every image: found only when a large one is written, a bad value would
    // stop the run halfway through the PNG.
    writerThreads();
    // PNG bytes would only garble the terminal; the input is not read at all.
    if (isatty(STDOUT_FILENO))
        pm_error("standard output is a terminal; redirect it to a file or a pipe "
                 "(gridpack in.ppm > out.png)");

    // The input is opened before surplus arguments are judged, so an open error of the first
    // name is what the user sees.
    const char* inputName = "-";
    if (argn < argc) inputName = argv[argn++];
    refuseSecondStandardInput(o, inputName);
    // Most often the image name was forgotten (or taken as an option's value): waiting for an
    // image typed on the terminal would only look like a hang.
    if (std::strcmp(inputName, "-") == 0 && isatty(STDIN_FILENO))
        pm_error("standard input is a terminal; give an image file or pipe one in");
    FILE* ifP = pm_openr_seekable(inputName);
    if (argn < argc) pm_usage(usageText);

    // The mask is re-read beside the image in every pass, so it must be seekable too.
    FILE* afP = o.alpha ? pm_openr_seekable(o.alpha_file) : nullptr;
    FILE* pfP = o.palette_file ? pm_openr(o.palette_file) : nullptr;
    FILE* tfP = (o.text || o.ztxt) ? pm_openr(o.text_file) : nullptr;

    convertpnm(o, ifP, afP, pfP, tfP, stdout);

    if (afP) pm_closer(afP);
    if (pfP) pm_closer(pfP);
    if (tfP) pm_closer(tfP);
    pm_closer(ifP);
    pm_closew(stdout);
    return 0;
}

int main(int argc, char* argv[]) {
    try {
        return run(argc, argv);
    } catch (const pm_fatal& fatal) {
        // Returning flushes standard output as exit did: a partial PNG still goes out.
        return fatal.status;
    }
}
