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
// An interruption leaves the terminal as clean as an error does: the line is erased, then the
// signal takes its usual course, so the exit status is still the signal's.
const int interruptions[] = {SIGINT, SIGTERM, SIGHUP};

void onInterrupt(int sig) {
    // The handler has no argument to carry the line's state: it reaches it through the hook's.
    const Progress* const p = static_cast<const Progress*>(pm_hookcontext);
    if (p && p->shown) (void)!write(STDERR_FILENO, "\r\033[K", 4);
    signal(sig, SIG_DFL);
    raise(sig);
}

void catchInterruptions(Progress& p) {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        sigaction(interruptions[i], nullptr, &p.before[i]);
        // A signal the caller ignores (nohup) stays ignored.
        if (p.before[i].sa_handler != SIG_IGN) sigaction(interruptions[i], &action, nullptr);
    }
}

void releaseInterruptions(Progress& p) {
    for (int i = 0; i < 3; ++i) sigaction(interruptions[i], &p.before[i], nullptr);
}

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void erase(void* context) {
    Progress& p = *static_cast<Progress*>(context);
    if (p.shown) std::fputs("\r\033[K", stderr);
    p.shown = 0;
}

void onRead(void* context, FILE* f, bool newPass) {
    Progress& p = *static_cast<Progress*>(context);
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
    p.shown = 1; // before the line, so that an interruption while it is drawn erases it
    std::fprintf(stderr, "\r%s: pass %d of %d: %lld%%\033[K", pm_progname, p.started,
                 p.started + p.remaining, done * 100 / (p.end - p.rasterPos));
}
} // namespace

void progressBegin(Progress& p, FILE* input, pm_filepos rasterPos, int plannedPasses) {
    struct stat st;
    if (!pm_showmessages || !isatty(STDERR_FILENO) || fstat(fileno(input), &st) != 0) return;
    p.input = input;
    p.rasterPos = (long long)rasterPos;
    p.end = (long long)st.st_size;
    p.remaining = plannedPasses;
    p.start = now();
    p.listening = true;
    pm_hookcontext = &p;
    pm_progress = onRead;
    pm_beforemessage = erase;
    catchInterruptions(p);
}

void progressPlan(Progress& p, int passes) { p.remaining = passes; }

void progressEnd(Progress& p) {
    if (!p.listening) return;
    erase(&p);
    releaseInterruptions(p);
    pm_progress = nullptr;
    pm_beforemessage = nullptr;
    pm_hookcontext = nullptr;
    p.listening = false;
}

Progress::~Progress() { progressEnd(*this); }

} // namespace gridpack
