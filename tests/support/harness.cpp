#include "harness.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const char* binary() {
    const char* path = std::getenv("GRIDPACK_BINARY");
    return path ? path : GRIDPACK_BINARY;
}

bool becomeNobody() { return setgroups(0, nullptr) || setgid(65534) || setuid(65534); }

// Root writes anywhere, which hides a wrong default folder: gridpack runs as nobody if it can.
bool asNobody() {
    static const pid_t probe = geteuid() == 0 ? fork() : -1;
    if (probe == 0)
        _exit(becomeNobody() || access(binary(), X_OK) ||
              access(testDataPath("rgb.txt").c_str(), R_OK));
    static int status = probe < 0 || waitpid(probe, &status, 0) < 0 ? 1 : status;
    return status == 0;
}

[[noreturn]] void execChild(const std::vector<std::string>& args, const RunOptions& o, int fds[3],
                            bool nobody) {
    if (!o.inFile.empty()) fds[0] = open(o.inFile.c_str(), O_RDONLY);
    if (!o.outFile.empty()) fds[1] = open(o.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int fd = 0; fd < 3; ++fd)
        if (fds[fd] < 0 || dup2(fds[fd], fd) < 0) _exit(127);
    if (o.fileSizeLimit >= 0) { // a write beyond it then fails instead of raising SIGXFSZ
        const rlimit limit{rlim_t(o.fileSizeLimit), rlim_t(o.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_IGN);
    }
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (o.closed >= 0) close(o.closed);
    signal(SIGPIPE, SIG_DFL);
    for (const auto& [name, value] : o.env) setenv(name.c_str(), value.c_str(), 1);
    for (const std::string& name : o.unset) unsetenv(name.c_str());
    std::vector<char*> argv{const_cast<char*>(binary())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    alarm(o.timeout); // the timeout, which survives exec
    if (!nobody || !becomeNobody()) execv(argv[0], argv.data());
    _exit(127);
}

std::string contents(int fd) {
    std::string s;
    char buffer[65536];
    lseek(fd, 0, SEEK_SET); // a file's; a terminal is read until it is closed
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) s.append(buffer, size_t(n));
    return s;
}
} // namespace

RunResult runGridpack(const std::vector<std::string>& args, const RunOptions& options) {
    RunOptions o = options;
    o.env.emplace("RGBDEF", testDataPath("rgb.txt"));
    // Standard output and error go to files, or one to a terminal (raw: its bytes pass as they
    // are), which is read once gridpack has ended.
    FILE* caught[] = {std::tmpfile(), std::tmpfile()};
    int in[2], fds[] = {-1, fileno(caught[0]), fileno(caught[1])}, terminal = -1;
    int& tty = fds[o.stdinTerminal ? 0 : o.stdoutTerminal ? 1 : 2];
    termios raw{};
    cfmakeraw(&raw);
    if (pipe2(in, O_CLOEXEC) || ((o.stdinTerminal || o.stdoutTerminal || o.stderrTerminal) &&
                                 openpty(&terminal, &tty, nullptr, &raw, nullptr)))
        throw std::runtime_error("pipe");
    if (!o.stdinTerminal) fds[0] = in[0];
    signal(SIGPIPE, SIG_IGN); // the child may leave its input unread
    const bool nobody = asNobody();
    const pid_t pid = fork();
    if (pid == 0) execChild(args, o, fds, nobody);
    for (int fd : {in[0], terminal < 0 ? -1 : tty}) close(fd);
    for (size_t at = 0, n = 1; o.inFile.empty() && at < o.in.size() && n > 0; at += n)
        n = size_t(std::max(ssize_t(0), write(in[1], o.in.data() + at, o.in.size() - at)));
    close(in[1]);
    if (o.signal) usleep(useconds_t(o.signalAfterMs) * 1000), kill(pid, o.signal);
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult r;
    r.out = contents(o.stdoutTerminal ? terminal : fds[1]);
    r.err = contents(o.stderrTerminal ? terminal : fds[2]);
    for (FILE* f : caught) std::fclose(f);
    close(terminal);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return r;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/gridpack-test-XXXXXX";
    if (!mkdtemp(pattern) || chmod(pattern, 01777)) throw std::runtime_error("mkdtemp");
    path = pattern;
}

TempDir::~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    const std::string file = path + "/" + name;
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) ||
        chmod(file.c_str(), 0644)) // whatever the umask, nobody may read it
        throw std::runtime_error("cannot write " + file);
    return file;
}

FILE* tmpFileWith(const std::string& bytes) {
    FILE* f = std::tmpfile();
    if (!f) throw std::runtime_error("tmpfile");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

std::string readBack(FILE* f) {
    std::fflush(f);
    const std::string s = contents(fileno(f));
    return std::fclose(f), s;
}

std::string pnmImage(const std::string& magic, int cols, int rows, unsigned maxval,
                     const std::vector<unsigned>& samples) {
    const bool bits = magic[1] == '1' || magic[1] == '4', raw = magic[1] >= '4';
    std::string s = magic + "\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n" +
                    (bits ? "" : std::to_string(maxval) + "\n");
    const size_t perRow = samples.size() / size_t(rows > 0 ? rows : 1);
    for (size_t i = 0, col = 0; i < samples.size(); ++i, col = i % perRow) {
        const unsigned v = samples[i];
        if (!raw) s += std::to_string(v) + (col + 1 == perRow ? "\n" : " ");
        if (raw && bits && col % 8 == 0) s += '\0';
        if (raw && bits && v) s.back() = char(s.back() | (0x80 >> col % 8));
        if (raw && !bits) s += (maxval > 255 ? std::string(1, char(v >> 8)) : "") + char(v & 0xff);
    }
    return s;
}

std::string testDataPath(const std::string& name) {
    return std::string(TEST_DATA_DIR) + "/" + name;
}
