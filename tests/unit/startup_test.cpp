// Start-up: keyword matching, common-option removal, program names, help and version.
#include <string>
#include <vector>

#include "unitutil.h"

TEST(KeywordMatching, AbbreviationsCaseAndLength) {
    const struct {
        const char *str, *keyword;
        int minchars, expected;
    } cases[] = {
        {"-VERB", "-verbose", 2, 1},    {"-v", "-verbose", 2, 1},
        {"-verbose", "-verbose", 2, 1}, {"-verbosely", "-verbose", 2, 0},
        {"-", "-verbose", 2, 0},        {"-t", "-transparent", 3, 0},
        {"-tr", "-transparent", 3, 1},  {"-tx", "-transparent", 3, 0},
        {"-qui", "-quiet", 6, 0},       {"-QuIeT", "-quiet", 6, 1},
        {"", "-quiet", 0, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pm_keymatch(c.str, c.keyword, c.minchars), c.expected)
            << c.str << " vs " << c.keyword << " min " << c.minchars;
}

namespace {
// Runs pm_proginit over a copy of args; returns what is left.
std::vector<std::string> startWith(std::vector<std::string> args) {
    static std::vector<std::string> storage;
    storage = std::move(args);
    static std::vector<char*> argv;
    argv.clear();
    for (std::string& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = int(storage.size());
    pm_proginit(&argc, argv.data());
    EXPECT_EQ(argv[size_t(argc)], nullptr);
    return std::vector<std::string>(argv.begin(), argv.begin() + argc);
}
} // namespace

TEST(CommonOptions, RemovedWhereverTheyStandIncludingAdjacentOnes) {
    EXPECT_EQ(
        startWith({"/usr/bin/prog", "-quiet", "-plain", "a", "--QUIET", "-qui", "b", "-PLAIN"}),
        (std::vector<std::string>{"/usr/bin/prog", "a", "-qui", "b"}));
    EXPECT_EQ(pm_showmessages, 0);
    EXPECT_EQ(pm_plain_output, 1);
    EXPECT_STREQ(pm_progname, "prog");
    // Without them messages are on; no extension is removed here.
    EXPECT_EQ(startWith({"prog.exe", "x"}).size(), 2u);
    EXPECT_EQ(pm_showmessages, 1);
    EXPECT_EQ(pm_plain_output, 0);
    EXPECT_STREQ(pm_progname, "prog.exe");
}

TEST(CommonOptions, HelpHintAndVersion) {
    EXPECT_FATAL(startWith({"dir/prog", "-?"}), "^prog: Use 'man prog' for help.\n$");
    EXPECT_FATAL(startWith({"dir/prog", "--help", "-quiet"}), "Use 'man prog' for help.");
    // The version report wins over help, and -quiet silences it.
    EXPECT_EXIT(startWith({"prog", "-help", "-version"}), ::testing::ExitedWithCode(0),
                "prog: Using libpixmill from Pixmill Version: Pixmill [0-9.]+\n"
                "prog: Compiled .* by user \".*\"\nprog: BSD defined\n"
                "prog: RGB_ENV='RGBDEF'\nprog: RGBENV= 'RGBDEF' \\(env vbl");
    EXPECT_EXIT(startWith({"prog", "-quiet", "--version"}), ::testing::ExitedWithCode(0), "^$");
}

TEST(ProgramName, FromArg0) {
    EXPECT_STREQ(pm_arg0toprogname("/a/b/tool.exe"), "tool");
    EXPECT_STREQ(pm_arg0toprogname("TOOL.EXE"), "TOOL.EXE");
    EXPECT_STREQ(pm_arg0toprogname(".exe"), "");
    EXPECT_EQ(std::string(pm_arg0toprogname(std::string(100, 'n').c_str())), std::string(64, 'n'));
}

TEST(HelpDisplay, FindsTheDocumentationAddress) {
    TempDir dir;
    setenv("PIXMILL_CONF",
           dir.write("conf", "# comment\ndocurl=   http://doc.example/x  \n").c_str(), 1);
    pm_progname = "prog";
    pm_setMessage(1, nullptr);
    EXPECT_EQ(stderrOf(showPixmillHelp, "tool"),
              "prog: This program is part of the Pixmill package.  Find documentation for it at "
              "http://doc.example/x/tool\n\n");
    const std::string noUrl = dir.write("conf2", "docurl=\n");
    setenv("PIXMILL_CONF", noUrl.c_str(), 1);
    const std::string out = stderrOf(showPixmillHelp, "tool");
    EXPECT_NE(out.find("No 'docurl=' line in Pixmill configuration file '" + noUrl + "'."),
              std::string::npos);
    EXPECT_NE(out.find("We have no reliable indication of where the Pixmill documentation is, "
                       "but try"),
              std::string::npos);
    unsetenv("PIXMILL_CONF");
}
