// Informational and fatal messages, the usage line and the message switch.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pmintern.h"

const char* pm_progname = nullptr;
int pm_showmessages = 0;
void (*pm_beforemessage)(void* context) = nullptr;
void (*pm_progress)(void* context, FILE* f, bool newPass) = nullptr;
void* pm_hookcontext = nullptr;

static void beforeMessage() {
    if (pm_beforemessage) pm_beforemessage(pm_hookcontext);
}

static const char* progname() { return pm_progname ? pm_progname : "pixmill"; }

void pm_message(const char* format, ...) {
    if (!pm_showmessages) return;
    beforeMessage();
    std::fprintf(stderr, "%s: ", progname());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

void pm_error(const char* format, ...) {
    beforeMessage();
    std::fprintf(stderr, "%s: ", progname());
    va_list args;
    va_start(args, format);
    char text[4096];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    pm_fatalexit(text, 1);
}

void pm_perror(const char* reason) {
    const char* errtext = std::strerror(errno);
    if (reason == nullptr || reason[0] == '\0') pm_error("%s", errtext);
    pm_error("%s - %s", reason, errtext);
}

void pm_usage(const char* usage) {
    beforeMessage();
    std::fprintf(stderr, "usage:  %s %s\n", progname(), usage);
    pm_fatalexit(usage, 1);
}

void pm_setMessage(int newState, int* oldStateP) {
    if (oldStateP) *oldStateP = pm_showmessages;
    pm_showmessages = newState ? 1 : 0;
}

void pm_fatalexit(const char* message, int status) {
    std::fflush(stderr);
    throw pm_fatal(message ? message : "", status);
}
