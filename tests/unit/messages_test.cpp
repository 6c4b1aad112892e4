// Messages, the message switch and the usage line.
#include <gtest/gtest.h>

#include "pixmill.h"

namespace {
class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        pm_progname = "prog";
        pm_setMessage(1, nullptr);
    }
};
} // namespace

TEST_F(Messages, MessageHasPrefixAndOneNewline) {
    ::testing::internal::CaptureStderr();
    pm_message("value %d", 3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "prog: value 3\n");
}

TEST_F(Messages, SwitchSilencesMessagesOnly) {
    int old = -1;
    pm_setMessage(0, &old);
    EXPECT_EQ(old, 1);
    ::testing::internal::CaptureStderr();
    pm_message("hidden");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EXIT(pm_error("still shown %d", 3), ::testing::ExitedWithCode(1),
                "^prog: still shown 3\n$");
}

TEST_F(Messages, SwitchStoresOnlyZeroOrOne) {
    int old = -1;
    pm_setMessage(7, &old);
    EXPECT_EQ(pm_showmessages, 1);
    pm_setMessage(0, &old);
    EXPECT_EQ(old, 1);
    pm_setMessage(0, &old);
    EXPECT_EQ(old, 0);
}

TEST_F(Messages, PerrorAddsTheSystemText) {
    errno = ENOENT;
    EXPECT_EXIT(pm_perror("opening"), ::testing::ExitedWithCode(1),
                "^prog: opening - No such file or directory\n$");
    errno = ENOENT;
    EXPECT_EXIT(pm_perror(""), ::testing::ExitedWithCode(1), "^prog: No such file or directory\n$");
    errno = ENOENT;
    EXPECT_EXIT(pm_perror(nullptr), ::testing::ExitedWithCode(1),
                "^prog: No such file or directory\n$");
}

TEST_F(Messages, UsageLineHasNoPrefixAndTwoBlanks) {
    pm_setMessage(0, nullptr);
    EXPECT_EXIT(pm_usage("[-x] file"), ::testing::ExitedWithCode(1),
                "^usage:  prog \\[-x\\] file\n$");
}
