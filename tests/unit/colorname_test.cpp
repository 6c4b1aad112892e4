// Colour specifications, the colour-name dictionary and the reverse lookup.
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "unitutil.h"

namespace {

// Every test points RGBDEF at a dictionary of its own (or at a missing file); the unit tests
// have no other use for the variable.
class ColorNames : public LibTest {
protected:
    void SetUp() override {
        LibTest::SetUp();
        const std::string dictionary =
            "! test dictionary\n255 255 255\t\twhite\n255   0   0\t\tred\n119 136 153\t\tLight "
            "Slate Gray\n128 128 128\t\tgray\n128 128 128\t\tgrey\n 10  20  30\t\tTest Navy\n"
            "  1   1   0\t\tnearly black\n  0   0   2\t\tnearly blue\n300  -5 128\t\tout of "
            "range\n  0 255   0\t\tRED\n";
        setenv("RGBDEF", dir.write("rgb.txt", dictionary).c_str(), 1);
    }
    void TearDown() override { unsetenv("RGBDEF"); }
    std::string useMissingDictionary() {
        setenv("RGBDEF", (dir.path() + "/absent.txt").c_str(), 1);
        return dir.path() + "/absent.txt";
    }
    TempDir dir;
};

using ColorNamesDeathTest = ColorNames;

} // namespace

TEST_F(ColorNames, EveryFormWithItsScaling) {
    const struct {
        const char* spec;
        pixval maxval;
        const char* want;
    } cases[] = {
        {"rgb:8/80/800", 255, "136,128,128"},
        {"rgb:f/ff/fff", 65535, "65535,65535,65535"},
        {"rgb:ffff/0/0001", 255, "255,0,0"},
        {"rgb:ffff/0/1", 255, "255,0,17"},
        {"rgb:8/8/8", 100, "53,53,53"},
        {"rgb:0/00/000", 255, "0,0,0"},
        {"#123", 255, "17,34,51"},
        {"#ABC", 255, "170,187,204"},
        {"#fff", 65535, "65535,65535,65535"},
        {"#80ff00", 255, "128,255,0"},
        {"#fffffffff", 255, "255,255,255"},
        {"#800080008000", 255, "128,128,128"},
        {"rgbi:0.5/0.5/0.5", 255, "127,127,127"},
        {"rgbi:1/0/0", 65535, "65535,0,0"},
        {"rgbi:0/1/0.25", 255, "0,255,63"},
        {"rgbi:1/0/0 and more", 255, "255,0,0"},
        {"1,0,0", 1000, "1000,0,0"},
        {".5,.5,.5", 255, "127,127,127"},
        {"0, 0.5, 1", 255, "0,127,255"},
        // Names match in canonical form (case and blanks ignored); "red" and "RED" are one
        // name and the first entry wins. Values scale by integer division and are clamped.
        {"lightslategray", 255, "119,136,153"},
        {"  LIGHT\tslate GrAy ", 255, "119,136,153"},
        {"testnavy", 255, "10,20,30"},
        {"Red", 255, "255,0,0"},
        {"gray", 255, "128,128,128"},
        {"gray", 65535, "32896,32896,32896"},
        {"gray", 100, "50,50,50"},
        {"nearly black", 100, "0,0,0"},
        {"out of range", 255, "255,0,128"},
        {"out of range", 65535, "65535,0,32896"},
    };
    for (const auto& c : cases) EXPECT_EQ(str(ppm_parsecolor(c.spec, c.maxval)), c.want) << c.spec;
    char text[] = " Light\tSLATE\n\v\f\rGray9 ";
    pm_canonstr(text);
    EXPECT_STREQ(text, "lightslategray9");
}

TEST_F(ColorNamesDeathTest, InvalidSpecifications) {
    for (const char* spec :
         {"#", "#1234", "#12345", "#12g", "#\xc3\xa9\xc3\xa9\xc3\xa9", "rgb:1/2", "rgb:1//3",
          "rgb:1/2/", "rgb:1/2/3/", "rgb:x/0/0", "rgb:12345/0/0", "1,2", "rgbi:0.5/0.5"})
        EXPECT_FATAL(ppm_parsecolor(spec, 255),
                     std::string("^prog: invalid color specifier - \"") + spec + "\"\n$");
    for (const char* spec : {"rgbi:1.5/0/0", "rgbi:0/-0.1/0", "rgbi:nan/0/0", "255,0,0"})
        EXPECT_FATAL(ppm_parsecolor(spec, 255), std::string("invalid color specifier - \"") + spec +
                                                    "\" - values must be between 0.0 and 1.0\n$");
    // Prefixes are case sensitive and a sign makes a name.
    for (const char* spec : {"RGB:ff/00/00", "-1,0,0", "Mauve Taupe"})
        EXPECT_FATAL(ppm_parsecolor(spec, 255),
                     std::string("^prog: unknown color - \"") + spec + "\"\n$");
    EXPECT_FATAL(pm_rgbnorm(1, 255, 5, "the spec"), "invalid color specifier - \"the spec\"");
}

TEST_F(ColorNamesDeathTest, MissingDictionaries) {
    const std::string path = useMissingDictionary();
    EXPECT_FATAL(ppm_parsecolor("white", 255),
                 "^prog: Can't open the color names dictionary file named " + path +
                     ", per the RGBDEF environment variable.  errno = 2 \\(No such file or "
                     "directory\\)\n$");
    EXPECT_EQ(pm_openColornameFile(nullptr, 0), nullptr);
    EXPECT_EQ(pm_openColornameFile(path.c_str(), 0), nullptr);
    EXPECT_FATAL(pm_openColornameFile(path.c_str(), 1),
                 "^prog: Can't open the color names dictionary file '" + path +
                     "'.  errno = 2 \\(No such file or directory\\)\n$");
    // The reverse lookup does without a dictionary only where it need not name a colour.
    const pixel p{1, 2, 254};
    EXPECT_STREQ(ppm_colorname(&p, 255, 1), "#0102fe");
    EXPECT_FATAL(ppm_colorname(&p, 255, 0), "per the RGBDEF environment variable");
}

TEST_F(ColorNames, ReaderSkipsCommentsAndReportsBadLines) {
    // A 199-character piece: "1 2 3 " and 193 x; the rest of the line is read as its own line.
    const std::string longName(193, 'x');
    TmpFile f("# comment\n\n1 2 3 " + longName +
              "4 5 6 tail\ngarbage here\n7 8\n! another comment\n-1 256 9 \t odd  values \n");
    // Lines read from one dictionary do not count in the next one opened.
    pm_colorget(TmpFile("1 2 3 other\n"));
    std::fclose(pm_openColornameFile(nullptr, 1));
    colorfile_entry e = pm_colorget(f);
    ASSERT_NE(e.colorname, nullptr);
    EXPECT_EQ(e.r, 1);
    EXPECT_EQ(std::string(e.colorname), longName);
    e = pm_colorget(f);
    ASSERT_NE(e.colorname, nullptr);
    EXPECT_EQ(e.b, 6);
    EXPECT_STREQ(e.colorname, "tail");
    EXPECT_EQ(stderrOf([&] { e = pm_colorget(f); }),
              "prog: can't parse color names dictionary Line 5:  'garbage here'\n"
              "prog: can't parse color names dictionary Line 6:  '7 8'\n");
    ASSERT_NE(e.colorname, nullptr);
    EXPECT_EQ(e.r, -1);
    EXPECT_EQ(e.g, 256);
    EXPECT_STREQ(e.colorname, "odd  values ");
    EXPECT_EQ(pm_colorget(f).colorname, nullptr);
}

TEST_F(ColorNames, ReverseLookup) {
    const struct {
        pixel color;
        pixval maxval;
        int hexOk;
        const char* want;
    } cases[] = {
        {pixel{10, 20, 30}, 255, 1, "Test Navy"},
        {pixel{10, 20, 30}, 255, 0, "Test Navy"},
        {pixel{11, 20, 30}, 255, 1, "#0b141e"},
        {pixel{11, 20, 30}, 255, 0, "Test Navy"},
        // (0,0,0) is 2 from "nearly black" and from "nearly blue"; the first stays.
        {pixel{0, 0, 0}, 255, 0, "nearly black"},
        // Scaled to 255 by truncating division: 2570/65535*255 = 10, 50/100*255 = 127.
        {pixel{2570, 5140, 7710}, 65535, 1, "Test Navy"},
        {pixel{50, 50, 50}, 100, 1, "#7f7f7f"},
        {pixel{50, 50, 50}, 100, 0, "gray"},
    };
    for (const auto& c : cases) EXPECT_STREQ(ppm_colorname(&c.color, c.maxval, c.hexOk), c.want);
}

TEST_F(ColorNamesDeathTest, LoadKeepsTheFirstNameOfAColourAndAtMost1000) {
    color_hash cht = nullptr;
    const char** names = nullptr;
    ppm_readcolornamefile(nullptr, 1, &cht, &names);
    const pixel mid{128, 128, 128}, clamped{255, 0, 128}, green{0, 255, 0};
    EXPECT_EQ(ppm_lookupcolor(cht, &mid), 3);
    EXPECT_STREQ(names[3], "gray");
    EXPECT_STREQ(names[4], "Test Navy");
    EXPECT_EQ(ppm_lookupcolor(cht, &clamped), 7);
    EXPECT_EQ(ppm_lookupcolor(cht, &green), 8);
    EXPECT_STREQ(names[8], "RED");
    EXPECT_EQ(names[9], nullptr);
    EXPECT_EQ(names[999], nullptr);
    ppm_freecolornames(names);
    ppm_freecolorhash(cht);

    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += std::to_string(i % 256) + " " + std::to_string(i / 256) + " 0 c" +
                    std::to_string(i) + "\n";
    ppm_readcolornamefile(dir.write("big.txt", thousand).c_str(), 1, &cht, &names);
    EXPECT_STREQ(names[999], "c999");
    ppm_freecolornames(names);
    ppm_freecolorhash(cht);
    // Any line after the thousandth colour stops the load, even a repeated colour.
    for (const char* extra : {"1 9 0 new\n", "0 0 0 repeat\n"})
        EXPECT_FATAL(
            ppm_readcolornamefile(dir.write("more.txt", thousand + extra).c_str(), 1, &cht, &names),
            "^prog: Too many colors in colorname dictionary.  Max allowed is 1000\n$");

    useMissingDictionary();
    ppm_readcolornamefile(nullptr, 0, &cht, &names);
    EXPECT_EQ(names[0], nullptr);
    EXPECT_EQ(ppm_lookupcolor(cht, &mid), -1);
    ppm_freecolornames(names);
    ppm_freecolorhash(cht);
}

TEST(ColorFromYCbCr, TruncatesAndClampsAtZero) {
    // 100 + 28.044, 100 - 14.29 - 3.456, 100 + 17.71; -140.22 and -177.1 become 0, 71.45 + 34.56.
    EXPECT_EQ(str(color_from_ycbcr(100, 0, 0)), "100,100,100");
    EXPECT_EQ(str(color_from_ycbcr(100, 10, 20)), "128,82,117");
    EXPECT_EQ(str(color_from_ycbcr(0, -100, -100)), "0,106,0");
    EXPECT_EQ(str(color_from_ycbcr(0, 0, 100)), "140,0,0");
}

TEST_F(ColorNamesDeathTest, DefaultPlacesWhenRgbdefIsUnset) {
    unsetenv("RGBDEF");
    // The three traditional places, then where current systems keep the file. Whether any
    // exists depends on the machine, so both outcomes are checked.
    bool any = false;
    for (const char* path :
         {"/usr/lib/X11/rgb.txt", "/usr/openwin/lib/rgb.txt", "/usr/X11R6/lib/X11/rgb.txt",
          "/usr/share/X11/rgb.txt", "/etc/X11/rgb.txt"})
        any = any || access(path, R_OK) == 0;
    if (any) {
        FILE* f = pm_openColornameFile(nullptr, 1);
        EXPECT_NE(f, nullptr);
        std::fclose(f);
    } else {
        EXPECT_FATAL(pm_openColornameFile(nullptr, 1),
                     "^prog: can't open color names dictionary file named /usr/lib/X11/rgb.txt, "
                     "/usr/openwin/lib/rgb.txt, or /usr/X11R6/lib/X11/rgb.txt and Environment "
                     "variable RGBDEF not set.  Set RGBDEF to the pathname of your rgb.txt file or "
                     "don't use color names.\n$");
        EXPECT_EQ(pm_openColornameFile(nullptr, 0), nullptr);
    }
}
