// The comment file of -text and -ztxt: lines, keywords, continuation and compression choice.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gridpack.h"
#include "testutil.h"

using namespace std::string_literals;

namespace {

struct Entry {
    int compression;
    std::string key;
    std::string text;
};

class TextChunks : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        pm_progname = "gridpack";
        pm_setMessage(1, nullptr);
    }

    static std::vector<Entry> read(const std::string& file, bool ztxt = false) {
        FILE* f = tmpFileWith(file);
        int count = -1;
        png_text* entries = gridpack::readCommentFile(f, ztxt, &count);
        std::fclose(f);
        std::vector<Entry> out;
        for (int i = 0; i < count; ++i) {
            const png_text& e = entries[i];
            out.push_back({e.compression, e.key, std::string(e.text, e.text_length)});
            EXPECT_EQ(e.text[e.text_length], '\0');
        }
        gridpack::freeCommentEntries(entries, count);
        return out;
    }
};

constexpr int plain = PNG_TEXT_COMPRESSION_NONE;
constexpr int zipped = PNG_TEXT_COMPRESSION_zTXt;

} // namespace

TEST_F(TextChunks, EmptyFileHasNoEntries) { EXPECT_TRUE(read("").empty()); }

TEST_F(TextChunks, EmptyLinesBeforeTheFirstEntryAreFine) {
    auto e = read("\n\nTitle hello\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].key, "Title");
    EXPECT_EQ(e[0].text, "hello");
}

TEST_F(TextChunks, ContinuationBeforeTheFirstEntryStops) {
    const char* msg = "Invalid comment file format: first line is a continuation line! \\(It "
                      "starts with whitespace\\)";
    EXPECT_EXIT(read("\n  indented\nTitle x\n"), ::testing::ExitedWithCode(1), msg);
    EXPECT_EXIT(read("\tindented\n"), ::testing::ExitedWithCode(1), msg);
}

TEST_F(TextChunks, EmptyLineDoesNotEndAnEntry) {
    auto e = read("Title first\n\n  second\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].text, "first\nsecond");
}

TEST_F(TextChunks, KeywordAloneHasAnEmptyText) {
    auto e = read("Title\nAuthor   \n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].key, "Title");
    EXPECT_EQ(e[0].text, "");
    EXPECT_EQ(e[1].key, "Author");
    EXPECT_EQ(e[1].text, "");
}

TEST_F(TextChunks, QuotedKeywordKeepsItsBlanks) {
    auto e = read("\"Creation Time\"\t 1 May\n\"glued\"text\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].key, "Creation Time");
    EXPECT_EQ(e[0].text, "1 May");
    EXPECT_EQ(e[1].key, "glued");
    EXPECT_EQ(e[1].text, "text");
}

TEST_F(TextChunks, UnclosedQuoteOrNulInQuotesStops) {
    EXPECT_EXIT(read("\"Long key words\n"), ::testing::ExitedWithCode(1),
                "Invalid comment file format:  keyword contains a NUL character.  Text leading "
                "up to the NUL character is 'Long key words'");
    EXPECT_EXIT(read("\"ab\0cd\" x\n"s), ::testing::ExitedWithCode(1),
                "Text leading up to the NUL character is 'ab'");
}

TEST_F(TextChunks, SeparatorOfTabsAndNuls) {
    auto e = read("Comment\t\t\tsome words  here\nKey\0\0value\n"s);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].text, "some words  here");
    EXPECT_EQ(e[1].key, "Key");
    EXPECT_EQ(e[1].text, "value");
}

TEST_F(TextChunks, ContinuationLinesLoseTheirIndentation) {
    auto e = read("Comment one\n   two\n\t \tthree\n \t\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].text, "one\ntwo\nthree\n");
}

TEST_F(TextChunks, NulAndCarriageReturnStayInTheText) {
    auto e = read("Title\r\nComment a\0b\r\n  more\r\n"s);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].key, "Title\r");
    EXPECT_EQ(e[0].text, "");
    EXPECT_EQ(e[1].text, "a\0b\r\nmore\r"s);
}

TEST_F(TextChunks, LongLinesAndAMissingFinalLineFeed) {
    const std::string words(5000, 'w');
    auto e = read("Comment " + words + "\n  " + words);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].text, words + "\n" + words);
}

TEST_F(TextChunks, CompressionChoiceLooksAtTheFirstByte) {
    const std::string file = "Author a\nTitle t\nauthor b\nTx c\n\"Author\" d\nComment e\n";
    auto z = read(file, true);
    ASSERT_EQ(z.size(), 6u);
    const int expected[] = {plain, plain, zipped, plain, zipped, zipped};
    for (size_t i = 0; i < z.size(); ++i) EXPECT_EQ(z[i].compression, expected[i]) << z[i].key;
    for (const Entry& entry : read(file, false)) EXPECT_EQ(entry.compression, plain);
}

TEST_F(TextChunks, ThreeHundredEntriesInOrder) {
    std::string file;
    for (int i = 0; i < 300; ++i) file += "k" + std::to_string(i) + " v" + std::to_string(i) + "\n";
    auto e = read(file);
    ASSERT_EQ(e.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(e[size_t(i)].key, "k" + std::to_string(i));
        EXPECT_EQ(e[size_t(i)].text, "v" + std::to_string(i));
    }
}

TEST_F(TextChunks, AttachesToTheInfoStructureAndReports) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    FILE* f = tmpFileWith("Title one\nAuthor two\n  lines\n");
    ::testing::internal::CaptureStderr();
    gridpack::gridpack_read_text(png, info, f, true, true);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: 2 comments placed in text chunk\n");
    std::fclose(f);
    png_textp text = nullptr;
    ASSERT_EQ(png_get_text(png, info, &text, nullptr), 2);
    EXPECT_STREQ(text[0].key, "Title");
    EXPECT_STREQ(text[1].text, "two\nlines");
    EXPECT_EQ(text[1].compression, plain);
    png_destroy_write_struct(&png, &info);
}

TEST_F(TextChunks, EmptyFileReportsZeroOnlyWhenVerbose) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    FILE* f = tmpFileWith("");
    ::testing::internal::CaptureStderr();
    gridpack::gridpack_read_text(png, info, f, false, true);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: 0 comments placed in text chunk\n");
    std::fclose(f);
    f = tmpFileWith("Title x\n");
    ::testing::internal::CaptureStderr();
    gridpack::gridpack_read_text(png, info, f, false, false);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    std::fclose(f);
    png_destroy_write_struct(&png, &info);
}
