// Runs the case tables of tests/cases/, one test per row:
//   name | arguments | standard input | exit status | standard error | the PNG on standard output
// Lines "@ a b ; c d" before a row make a family of it, one row per group, with $1 ... $9 the
// group's blank-separated words (or nothing). Inputs, also of side files ({input} in the
// arguments, passed as a file name): "-" none; "P6 2 1 255 : 1 2 3 4 5 6" an anymap (no maxval
// for P1/P4, raw for P4-P6; v*n repeats v, a..b counts up); colours(N[,W]) N distinct colours
// (i & 255, i >> 8, 7) at maxval 255, W wide; bytes:... as written, with \n \r \t \s \xHH
// escapes. Standard error: "-" none, "*" unchecked, "~line" contains it; else lines joined by
// \n, each "gridpack: " + line, except {usage}, {version} and lines after "=". The PNG: "-"
// none, "*" unchecked, else the form (gray1, palette4, rgb16, graya8, ...) and KEY=VALUE as
// rendered below and by tests/support/pngdecode.h; an ancillary chunk present but not named
// fails the case, unless "..." leaves the others unchecked.
//   px=      pixels ("/" between rows, "," between pixels, "." between samples), a palette
//            resolved to r.g.b and opacity with tRNS; px=same: the input's pixels at the PNG's
//            depth, (v * pngMaxval + maxval / 2) / maxval
//   idx=     palette indexes;  PLTE= entries r.g.b joined by "/", or their count
//   filters= the row filter types used
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <png.h>
#include <set>
#include <sstream>
#include <zlib.h>

#include "harness.h"
#include "pngdecode.h"

namespace {

struct Row {
    std::string where, name, args, input, status, err, png;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.where; }

std::vector<std::string> split(const std::string& s, const std::string& sep) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t next; (next = s.find(sep, at)) != std::string::npos; at = next + sep.size())
        parts.push_back(s.substr(at, next - at));
    parts.push_back(s.substr(at));
    return parts;
}

std::vector<Row> loadRows() {
    const std::set<std::filesystem::path> files{std::filesystem::directory_iterator(CASES_DIR), {}};
    std::vector<Row> rows;
    for (const std::filesystem::path& file : files) {
        std::ifstream in(file);
        const std::string table = file.stem().string();
        std::vector<std::string> groups;
        int n = 0;
        for (std::string line; std::getline(in, line);) {
            if (++n, line.find_first_not_of(' ') == std::string::npos || line[0] == '#') continue;
            if (line[0] == '@') {
                for (const std::string& g : split(line.substr(1), " ; ")) groups.push_back(g);
                continue;
            }
            if (groups.empty()) groups.push_back("");
            for (size_t g = 0; g < groups.size(); ++g) {
                std::istringstream group(groups[g]);
                const std::vector<std::string> words{std::istream_iterator<std::string>(group), {}};
                std::string text = line;
                for (size_t at; (at = text.find('$')) != std::string::npos;) {
                    const size_t w = size_t(text[at + 1] - '1');
                    text.replace(at, 2, w < words.size() ? words[w] : "");
                }
                std::vector<std::string> c = split(text, " | ");
                for (std::string& s : c)
                    s = s.substr(s.find_first_not_of(' '), s.find_last_not_of(' ') + 1);
                const std::string where = table + ".txt:" + std::to_string(n);
                if (c.size() != 6) c = {"bad_row", "", "", "-1", where + ": not six columns", ""};
                std::string name = table + "_" + c[0] + (g ? "_" + std::to_string(g) : "");
                for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                rows.push_back({where, name, c[1], c[2], c[3], c[4], c[5]});
            }
            groups.clear();
        }
    }
    return rows;
}

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i] == '\\' && i + 1 < s.size() ? s[++i] : '\0';
        const size_t named = std::string("nrts").find(c);
        if (c == 'x') out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
        if (c != 'x') out += !c ? s[i] : named != std::string::npos ? "\n\r\t "[named] : c;
    }
    return out;
}

struct Image {
    std::string magic;
    int cols = 0, rows = 0;
    unsigned maxval = 1;
    std::vector<unsigned> samples;
};

// The bytes of an input, and the image they hold (no samples when not an anymap).
std::string makeInput(const std::string& spec, Image* imageP = nullptr) {
    Image im;
    if (spec == "-") return "";
    if (spec.rfind("bytes:", 0) == 0) return unescape(spec.substr(6));
    if (spec.find('(') != std::string::npos) {
        const unsigned n = unsigned(std::stoul(spec.substr(spec.find('(') + 1)));
        const size_t comma = spec.find(',');
        const int w = comma == std::string::npos ? int(n) : std::stoi(spec.substr(comma + 1));
        im = {"P6", w, int(n) / w, 255, {}};
        for (unsigned i = 0; i < n; ++i) im.samples.insert(im.samples.end(), {i & 255, i >> 8, 7});
    } else {
        const std::vector<std::string> halves = split(spec, " : ");
        std::istringstream head(halves[0]), body(halves.size() > 1 ? halves[1] : "");
        head >> im.magic >> im.cols >> im.rows >> im.maxval;
        for (std::string v; body >> v;) {
            const size_t star = v.find('*'), range = v.find("..");
            const unsigned first = unsigned(std::stoul(v));
            const unsigned last =
                range == v.npos ? first : unsigned(std::stoul(v.substr(range + 2)));
            const size_t times = star == v.npos ? 1 : std::stoul(v.substr(star + 1));
            for (unsigned k = first; k <= last; ++k) im.samples.insert(im.samples.end(), times, k);
        }
    }
    if (imageP) *imageP = im;
    return pnmImage(im.magic, im.cols, im.rows, im.maxval, im.samples);
}

// Arguments split on blanks; "..." is one argument; {input} becomes a file holding it.
std::vector<std::string> makeArgs(const std::string& text, const TempDir& dir) {
    std::vector<std::string> args;
    for (size_t i = text.find_first_not_of(' '); i < text.size();
         i = text.find_first_not_of(' ', i)) {
        const char open = text[i], close = open == '{' ? '}' : open == '"' ? '"' : ' ';
        const size_t end = std::min(text.find(close, i + 1), text.size());
        const std::string word =
            close == ' ' ? text.substr(i, end - i) : text.substr(i + 1, end - i - 1);
        args.push_back(open == '{' ? dir.write(std::to_string(args.size()), makeInput(word))
                                   : word);
        i = end + 1;
    }
    return args;
}

std::string expectedErr(const std::string& column) {
    const std::string usage =
        "usage:  gridpack [-verbose] [-downscale] [-interlace] [-force] [-alpha file] ...\n"
        "             ... [-transparent color] [-background color] [-gamma value] ...\n"
        "             ... [-hist] [-chroma wx wy rx ry gx gy bx by] [-phys x y unit] ...\n"
        "             ... [-text file] [-ztxt file] [-time [yy]yy-mm-dd hh:mm:ss] ...\n"
        "             ... [-palette file] [-filter 0..4] [-compression 0..9] [pnmfile]\n";
    const std::string version =
        std::string("gridpack version 1.0.0 (6 December 2026) +pixmill.\n") +
        "   Compiled with libpng " PNG_LIBPNG_VER_STRING ".\n" +
        "   Compiled with zlib " ZLIB_VERSION "; using zlib " + zlibVersion() + ".\n" +
        "   Compiled with 16-bit pixmill support (PPM_OVERALLMAXVAL = 65535).\n\n";
    std::string out;
    for (const std::string& line : split(column, "\\n")) {
        const bool own = line[0] == '=' || line[0] == '{';
        out += line == "{usage}" ? usage : line == "{version}" ? version : "";
        out += line[0] == '{' ? "" : (own ? "" : "gridpack: ") + unescape(line.substr(own)) + "\n";
    }
    return out;
}

// What the decoded PNG shows, by the keys the expectations use.
std::map<std::string, std::string> render(const DecodedPng& png, const Image& in) {
    static const char* const types[] = {"gray", "", "rgb", "palette", "graya", "", "rgba"};
    std::map<std::string, std::string> r = png.chunks;
    r["form"] = types[png.colorType] + std::to_string(png.depth);
    if (png.interlace) r["interlaced"] = "";
    const bool palette = png.colorType == 3, color = in.magic == "P3" || in.magic == "P6";
    const size_t shown = (png.colorType & 2) ? 3 : 1,
                 alpha = (png.colorType & 4) || (!png.trns.empty() && palette);
    const unsigned pngMax = palette ? 255 : (1u << png.depth) - 1;
    for (unsigned y = 0; y < png.height; ++y)
        for (unsigned x = 0; x < png.width; ++x) {
            const std::string sep = x ? "," : y ? "/" : "";
            const std::array<unsigned, 4> p = png.pixel(x, y);
            r["px"] += sep, r["idx"] += sep + std::to_string(png.rows[y][x]), r["same"] += sep;
            for (size_t k = 0; k < shown + alpha; ++k)
                r["px"] += (k ? "." : "") + std::to_string(k < shown ? p[k] : p[3]);
            for (size_t k = 0; k < shown && !in.samples.empty(); ++k) {
                const unsigned v =
                    in.samples.at((size_t(y) * png.width + x) * (color ? 3 : 1) + (color ? k : 0));
                const unsigned sample = in.magic == "P1" || in.magic == "P4" ? !v : v; // 1 is black
                r["same"] +=
                    (k ? "." : "") + std::to_string((sample * pngMax + in.maxval / 2) / in.maxval);
            }
        }
    for (const auto& e : png.palette)
        r["PLTE"] += (r["PLTE"].empty() ? "" : "/") + std::to_string(e[0]) + "." +
                     std::to_string(e[1]) + "." + std::to_string(e[2]);
    for (int f : std::set<int>(png.filters.begin(), png.filters.end()))
        r["filters"] += (r["filters"].empty() ? "" : ",") + std::to_string(f);
    return r;
}

void checkPng(const std::string& expectations, const std::string& bytes, const Image& input) {
    std::map<std::string, std::string> got;
    ASSERT_NO_THROW(got = render(decodePng(bytes), input));
    const char* const optional[] = {"tRNS", "bKGD", "sBIT", "hIST", "gAMA",
                                    "cHRM", "pHYs", "tIME", "text", "interlaced"};
    std::set<std::string> named{"form"};
    for (const std::string& e : split(expectations, " ")) {
        if (e == "...") named.insert(std::begin(optional), std::end(optional));
        if (e == "...") continue;
        const size_t eq = e.find('=');
        const std::string key =
            eq == std::string::npos && e != "interlaced" ? "form" : e.substr(0, eq);
        std::string want =
            eq == std::string::npos ? key == "form" ? e : "" : unescape(e.substr(eq + 1));
        std::string have = got.count(key) ? got[key] : "(absent)";
        if (key == "PLTE" && want.find('.') == std::string::npos)
            have = std::to_string(std::count(have.begin(), have.end(), '/') + 1);
        if (key == "px" && want == "same") want = got["same"];
        named.insert(key);
        EXPECT_EQ(have, want) << key;
    }
    for (const char* key : optional)
        EXPECT_TRUE(named.count(key) || !got.count(key)) << "unexpected " << key << "=" << got[key];
}

class Cases : public ::testing::TestWithParam<Row> {};

TEST_P(Cases, Row) {
    const Row& row = GetParam();
    TempDir dir;
    Image image;
    const RunResult r = runGridpack(makeArgs(row.args, dir), makeInput(row.input, &image));
    EXPECT_EQ(r.signal, 0); // SIGALRM (14): timed out
    EXPECT_EQ(std::to_string(r.status), row.status) << r.err;
    // Standard error: "-" none, "*" anything, "~line" contains the line, else exactly.
    std::string want = row.err == "-" ? "" : expectedErr(row.err.substr(row.err[0] == '~'));
    if (row.err[0] == '~' && r.err.find(want.substr(10, want.size() - 11)) != std::string::npos)
        want = r.err;
    EXPECT_EQ(r.err, row.err == "*" ? r.err : want);
    EXPECT_TRUE(row.png != "-" || r.out.empty()) << "a PNG was written";
    if (row.png != "-" && row.png != "*") checkPng(row.png, r.out, image);
}

INSTANTIATE_TEST_SUITE_P(, Cases, ::testing::ValuesIn(loadRows()),
                         [](const ::testing::TestParamInfo<Row>& row) { return row.param.name; });

} // namespace
