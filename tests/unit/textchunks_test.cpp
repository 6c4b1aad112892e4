// The comment file of -text and -ztxt: lines, keywords, continuation and compression choice.
#include <string>
#include <vector>

#include "unitutil.h"

using namespace std::string_literals;

namespace {

using TextChunks = ConverterTest;

// The entries of a comment file as "key=text" lines, a zTXt entry marked with a z.
std::string read(const std::string& file, bool ztxt = false) {
    int count = -1;
    png_text* entries = gridpack::readCommentFile(TmpFile(file), ztxt, &count);
    std::string out;
    for (int i = 0; i < count; ++i) {
        const png_text& e = entries[i];
        EXPECT_EQ(e.text[e.text_length], '\0');
        out += (e.compression == PNG_TEXT_COMPRESSION_zTXt ? "z" : "") + std::string(e.key) + "=" +
               std::string(e.text, e.text_length) + "|";
    }
    gridpack::freeCommentEntries(entries, count);
    return out;
}

} // namespace

TEST_F(TextChunks, LinesKeywordsAndContinuations) {
    const std::string words(5000, 'w');
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"\n\nTitle hello\n", "Title=hello|"}, // empty lines before the first entry are fine
        {"Title first\n\n  second\n", "Title=first\nsecond|"}, // nor do they end an entry
        {"Title\nAuthor   \n", "Title=|Author=|"},
        // A quoted keyword keeps its blanks.
        {"\"Creation Time\"\t 1 May\n\"glued\"text\n", "Creation Time=1 May|glued=text|"},
        {"Comment\t\t\tsome words  here\nKey\0\0value\n"s, "Comment=some words  here|Key=value|"},
        // Continuation lines lose their indentation.
        {"Comment one\n   two\n\t \tthree\n \t\n", "Comment=one\ntwo\nthree\n|"},
        // NUL and carriage return stay in the text.
        {"Title\r\nComment a\0b\r\n  more\r\n"s, "Title\r=|Comment=a\0b\r\nmore\r|"s},
        {"Comment " + words + "\n  " + words, "Comment=" + words + "\n" + words + "|"},
    };
    for (const auto& [file, entries] : cases) EXPECT_EQ(read(file), entries) << file.substr(0, 40);

    std::string file, expected;
    for (int i = 0; i < 300; ++i) {
        file += "k" + std::to_string(i) + " v" + std::to_string(i) + "\n";
        expected += "k" + std::to_string(i) + "=v" + std::to_string(i) + "|";
    }
    EXPECT_EQ(read(file), expected);
}

TEST_F(TextChunks, CompressionChoiceLooksAtTheFirstByte) {
    const std::string file = "Author a\nTitle t\nauthor b\nTx c\n\"Author\" d\nComment e\n";
    EXPECT_EQ(read(file, true), "Author=a|Title=t|zauthor=b|Tx=c|zAuthor=d|zComment=e|");
    EXPECT_EQ(read(file, false), "Author=a|Title=t|author=b|Tx=c|Author=d|Comment=e|");
}

TEST_F(TextChunks, ContinuationFirstUnclosedQuoteOrNulInQuotesStop) {
    const char* continuation = "Invalid comment file format: first line is a continuation line! "
                               "\\(It starts with whitespace\\)";
    EXPECT_FATAL(read("\n  indented\nTitle x\n"), continuation);
    EXPECT_FATAL(read("\tindented\n"), continuation);
    EXPECT_FATAL(read("\"Long key words\n"),
                 "Invalid comment file format:  keyword contains a NUL character.  Text leading "
                 "up to the NUL character is 'Long key words'");
    EXPECT_FATAL(read("\"ab\0cd\" x\n"s), "Text leading up to the NUL character is 'ab'");
}

TEST_F(TextChunks, AttachesToTheInfoStructureAndReports) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    EXPECT_EQ(stderrOf(gridpack::gridpack_read_text, png, info,
                       TmpFile("Title one\nAuthor two\n  lines\n"), true, true),
              "gridpack: 2 comments placed in text chunk\n");
    png_textp text = nullptr;
    ASSERT_EQ(png_get_text(png, info, &text, nullptr), 2);
    EXPECT_STREQ(text[0].key, "Title");
    EXPECT_STREQ(text[1].text, "two\nlines");
    EXPECT_EQ(text[1].compression, PNG_TEXT_COMPRESSION_NONE);
    // An empty file reports zero, and only with -verbose.
    EXPECT_EQ(stderrOf(gridpack::gridpack_read_text, png, info, TmpFile(""), false, true),
              "gridpack: 0 comments placed in text chunk\n");
    EXPECT_EQ(stderrOf(gridpack::gridpack_read_text, png, info, TmpFile("Title x\n"), false, false),
              "");
    png_destroy_write_struct(&png, &info);
}
