// Program start-up: the program name, the family's common options, version and help displays.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pixmill_build.h"
#include "pmintern.h"

int pm_plain_output = 0;

void pnm_init(int* argcP, char* argv[]) { ppm_init(argcP, argv); }
void ppm_init(int* argcP, char* argv[]) { pgm_init(argcP, argv); }
void pgm_init(int* argcP, char* argv[]) { pbm_init(argcP, argv); }
void pbm_init(int* argcP, char* argv[]) { pm_proginit(argcP, argv); }

void pm_init(const char* progname, unsigned int flags) {
    (void)flags;
    pm_setMessage(0, nullptr);
    pm_progname = progname;
}

int pm_keymatch(const char* str, const char* keyword, int minchars) {
    if (static_cast<long>(std::strlen(str)) < minchars) return 0;
    for (; *str != '\0'; ++str, ++keyword) {
        if (*keyword == '\0') return 0;
        if (std::tolower(static_cast<unsigned char>(*str)) !=
            std::tolower(static_cast<unsigned char>(*keyword)))
            return 0;
    }
    return 1;
}

namespace {
enum CommonOption { QUIET, VERSION, HELP, PLAIN, NONE };

struct CommonKeyword {
    const char* keyword;
    CommonOption option;
};

// Every minimum length is the keyword's full length: common options are never abbreviated.
const CommonKeyword commonKeywords[] = {
    {"-quiet", QUIET},      {"--quiet", QUIET}, {"-version", VERSION},
    {"--version", VERSION}, {"-help", HELP},    {"--help", HELP},
    {"-?", HELP},           {"-plain", PLAIN},  {"--plain", PLAIN},
};

CommonOption matchCommonOption(const char* arg) {
    for (const CommonKeyword& k : commonKeywords)
        if (pm_keymatch(arg, k.keyword, int(std::strlen(k.keyword)))) return k.option;
    return NONE;
}
} // namespace

void pm_proginit(int* argcP, char* argv[]) {
    const char* arg0 = (*argcP > 0 && argv[0] != nullptr) ? argv[0] : "";
    const char* slash = std::strrchr(arg0, '/');
    pm_init(slash ? slash + 1 : arg0, 0);
    pm_plain_output = 0;

    bool showMessages = true;
    bool showVersionRequested = false;
    bool showHelp = false;

    int argn = 1;
    while (argn < *argcP) {
        const CommonOption option = matchCommonOption(argv[argn]);
        if (option == NONE) {
            ++argn;
            continue;
        }
        switch (option) {
        case QUIET:
            showMessages = false;
            break;
        case VERSION:
            showVersionRequested = true;
            break;
        case HELP:
            showHelp = true;
            break;
        case PLAIN:
            pm_plain_output = 1;
            break;
        case NONE:
            break;
        }
        // The terminating null moves down with the rest; the argument that moves into this
        // place is tested next.
        for (int i = argn; i < *argcP; ++i) argv[i] = argv[i + 1];
        --*argcP;
    }
    pm_setMessage(showMessages, nullptr);

    if (showVersionRequested) {
        showVersion();
        std::exit(0);
    }
    if (showHelp) pm_error("Use 'man %s' for help.", pm_progname);
}

void showVersion() {
    pm_message("Using libpixmill from Pixmill Version: %s", PIXMILL_VERSION_TEXT);
    pm_message("Compiled %s by user \"%s\"", PIXMILL_BUILD_DATE, PIXMILL_BUILD_USER);
    pm_message("BSD defined");
    pm_message("RGB_ENV='%s'", "RGBDEF");
    const char* rgbdef = std::getenv("RGBDEF");
    if (rgbdef)
        pm_message("RGBENV= '%s' (env vbl set to '%s')", "RGBDEF", rgbdef);
    else
        pm_message("RGBENV= '%s' (env vbl is unset)", "RGBDEF");
}

void showPixmillHelp(const char* progname) {
    const char* confEnv = std::getenv("PIXMILL_CONF");
    const char* confName = confEnv ? confEnv : "/etc/pixmill";
    char docurl[81] = "";
    bool haveDocurl = false;

    FILE* conf = std::fopen(confName, "r");
    if (conf == nullptr) {
        pm_message("Unable to open Pixmill configuration file '%s'.  Errno = %d (%s).  "
                   "Use the PIXMILL_CONF environment variable to control the identity of the "
                   "Pixmill configuration file.",
                   confName, errno, std::strerror(errno));
    } else {
        char line[81];
        while (std::fgets(line, sizeof line, conf)) {
            if (line[0] == '#') continue;
            if (std::strncmp(line, "docurl=", 7) == 0 &&
                std::sscanf(line, "docurl=%80s", docurl) == 1)
                haveDocurl = true;
        }
        std::fclose(conf);
        if (!haveDocurl)
            pm_message("No 'docurl=' line in Pixmill configuration file '%s'.", confName);
    }
    if (haveDocurl)
        pm_message("This program is part of the Pixmill package.  "
                   "Find documentation for it at %s/%s\n",
                   docurl, progname);
    else
        pm_message("We have no reliable indication of where the Pixmill documentation is, but "
                   "try %s or send e-mail to %s for help.",
                   PIXMILL_DOC_SITE, PIXMILL_MAINTAINER);
}

char* pm_arg0toprogname(const char* arg0) {
    static char retval[65];
    const char* slash = std::strrchr(arg0, '/');
    const char* name = slash ? slash + 1 : arg0;
    std::strncpy(retval, name, 64);
    retval[64] = '\0';
    const size_t len = std::strlen(retval);
    if (len >= 4 && std::strcmp(retval + len - 4, ".exe") == 0) retval[len - 4] = '\0';
    return retval;
}
