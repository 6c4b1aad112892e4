#include "testutil.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/gridpack-test-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file);
    return file;
}

FILE* tmpFileWith(const std::string& bytes) {
    FILE* f = std::tmpfile();
    if (f == nullptr) throw std::runtime_error("tmpfile failed");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string pnmImage(const std::string& magic, int cols, int rows, unsigned maxval,
                     const std::vector<unsigned>& samples) {
    const char kind = magic.at(1);
    const bool bitmap = kind == '1' || kind == '4';
    const bool raw = kind >= '4';
    std::string out = magic + "\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n";
    if (!bitmap) out += std::to_string(maxval) + "\n";
    if (kind == '4') {
        size_t i = 0;
        for (int y = 0; y < rows; ++y) {
            unsigned char byte = 0;
            for (int x = 0; x < cols; ++x) {
                if (samples.at(i++)) byte |= static_cast<unsigned char>(0x80 >> (x % 8));
                if (x % 8 == 7 || x == cols - 1) {
                    out += char(byte);
                    byte = 0;
                }
            }
        }
        return out;
    }
    if (raw) {
        for (unsigned v : samples) {
            if (maxval > 255) out += char(v >> 8);
            out += char(v & 0xff);
        }
        return out;
    }
    for (size_t i = 0; i < samples.size(); ++i) out += std::to_string(samples[i]) + "\n";
    return out;
}

std::string testDataPath(const std::string& name) {
    return std::string(TEST_DATA_DIR) + "/" + name;
}
