// The progress line: on a terminal, without -quiet, a conversion that runs for more than a
// second shows which pass over the image it is in and how much of the pass is done, on one line
// that is rewritten at most ten times a second and erased before any message and at the end, so
// that the terminal is left showing exactly the messages. Files and pipes never see it.
#include <csignal>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "gridpack.h"

namespace gridpack {

namespace {
struct Progress {
    FILE* input;
    long long rasterPos, end; // the share of a pass is the share of these bytes read
    int started, remaining;   // passes begun, and those still expected
    unsigned calls;
    double start, last;
};
Progress progress;
// Read by the signal handler too.
volatile sig_atomic_t shown = 0;

// An interruption leaves the terminal as clean as an error does: the line is erased, then the
// signal takes its usual course, so the exit status is still the signal's.
const int interruptions[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction before[3];

void onInterrupt(int sig) {
    if (shown) (void)!write(STDERR_FILENO, "\r\033[K", 4);
    signal(sig, SIG_DFL);
    raise(sig);
}

void catchInterruptions() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        sigaction(interruptions[i], nullptr, &before[i]);
        // A signal the caller ignores (nohup) stays ignored.
        if (before[i].sa_handler != SIG_IGN) sigaction(interruptions[i], &action, nullptr);
    }
}

void releaseInterruptions() {
    for (int i = 0; i < 3; ++i) sigaction(interruptions[i], &before[i], nullptr);
}

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void erase() {
    if (shown) std::fputs("\r\033[K", stderr);
    shown = 0;
}

void onRead(FILE* f, bool newPass) {
    Progress& p = progress;
    if (f != p.input) return; // the alpha mask and the palette file are read whole, quickly
    if (newPass) {
        ++p.started;
        if (p.remaining > 0) --p.remaining;
    }
    // The clock is read every eighth row; a line is drawn after a second, ten times a second.
    if (++p.calls % 8 != 0) return;
    const double t = now();
    if (t - p.start < 1.0 || t - p.last < 0.1 || p.end <= p.rasterPos) return;
    p.last = t;
    const long long done = (long long)ftello(f) - p.rasterPos;
    shown = 1; // before the line, so that an interruption while it is drawn erases it
    std::fprintf(stderr, "\r%s: pass %d of %d: %lld%%\033[K", pm_progname, p.started,
                 p.started + p.remaining, done * 100 / (p.end - p.rasterPos));
}
} // namespace

void progressBegin(FILE* ifP, pm_filepos rasterPos, int expectedPasses) {
    struct stat st;
    if (!pm_showmessages || !isatty(STDERR_FILENO) || fstat(fileno(ifP), &st) != 0) return;
    progress = Progress{ifP, rasterPos, (long long)st.st_size, 0, expectedPasses, 0, now(), 0};
    pm_progress = onRead;
    pm_beforemessage = erase;
    catchInterruptions();
}

void progressPlan(int passes) { progress.remaining = passes; }

void progressEnd() {
    erase();
    if (pm_progress) releaseInterruptions();
    pm_progress = nullptr;
    pm_beforemessage = nullptr;
}

} // namespace gridpack
