// Messages, the message switch and the usage line.
#include <cerrno>

#include "unitutil.h"

using Messages = LibTest;

TEST_F(Messages, PrefixOneNewlineAndASwitchThatSilencesMessagesOnly) {
    EXPECT_EQ(stderrOf([] { pm_message("value %d", 3); }), "prog: value 3\n");
    int old = -1;
    pm_setMessage(0, &old);
    EXPECT_EQ(old, 1);
    EXPECT_EQ(stderrOf([] { pm_message("hidden"); }), "");
    EXPECT_FATAL(pm_error("still shown %d", 3), "^prog: still shown 3\n$");
    EXPECT_FATAL(pm_usage("[-x] file"), "^usage:  prog \\[-x\\] file\n$");
    // The switch stores only zero or one.
    pm_setMessage(7, &old);
    EXPECT_EQ(pm_showmessages, 1);
    EXPECT_EQ(old, 0);
}

TEST_F(Messages, PerrorAddsTheSystemText) {
    errno = ENOENT;
    EXPECT_FATAL(pm_perror("opening"), "^prog: opening - No such file or directory\n$");
    errno = ENOENT;
    EXPECT_FATAL(pm_perror(""), "^prog: No such file or directory\n$");
    errno = ENOENT;
    EXPECT_FATAL(pm_perror(nullptr), "^prog: No such file or directory\n$");
}
