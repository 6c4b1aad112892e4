#include "harness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
void redirect(int target, int fd, const std::string& path, int flags) {
    if (!path.empty()) fd = open(path.c_str(), flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0) _exit(127);
}

[[noreturn]] void execChild(const std::vector<std::string>& args, const RunOptions& o, int in,
                            int out, int err) {
    redirect(0, in, o.inFile, O_RDONLY);
    if (o.closeStdout) close(1);
    if (!o.closeStdout) redirect(1, out, o.outFile, O_WRONLY | O_CREAT | O_TRUNC);
    redirect(2, err, "", 0);
    if (o.fileSizeLimit >= 0) { // a write beyond it then fails instead of raising SIGXFSZ
        const rlimit limit{rlim_t(o.fileSizeLimit), rlim_t(o.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_IGN);
    }
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    signal(SIGPIPE, o.ignoreSigpipe ? SIG_IGN : SIG_DFL); // an ignored signal stays so over exec
    for (const auto& [name, value] : o.env)
        value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    const char* binary = std::getenv("GRIDPACK_BINARY");
    std::vector<char*> argv{const_cast<char*>(binary ? binary : GRIDPACK_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}
} // namespace

RunResult runGridpack(const std::vector<std::string>& args, const RunOptions& options) {
    RunOptions o = options;
    o.env.emplace("RGBDEF", testDataPath("rgb.txt"));
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe");
    // A terminal takes the place of a pipe's write end; its bytes pass unchanged (raw mode).
    int terminal = -1;
    if (o.stdoutTerminal || o.stderrTerminal) {
        int& pipeEnd = o.stdoutTerminal ? out[1] : err[1];
        termios raw{};
        cfmakeraw(&raw);
        close(pipeEnd);
        if (openpty(&terminal, &pipeEnd, nullptr, &raw, nullptr)) throw std::runtime_error("pty");
        close((o.stdoutTerminal ? out : err)[0]);
        (o.stdoutTerminal ? out : err)[0] = terminal;
    }
    signal(SIGPIPE, SIG_IGN); // the child may leave its input unread
    const pid_t pid = fork();
    if (pid == 0) execChild(args, o, in[0], out[1], err[1]);
    for (int fd : {in[0], out[1], err[1]}) close(fd);
    std::thread writer([&] {
        ssize_t w = 0;
        for (size_t at = 0; o.inFile.empty() && at < o.in.size() && w >= 0; at += size_t(w))
            w = write(in[1], o.in.data() + at, o.in.size() - at);
        close(in[1]);
    });
    RunResult r;
    int fds[2] = {out[0], err[0]}; // -1 once closed, which poll skips
    const auto closeFd = [&](int i) { close(fds[i]), fds[i] = -1; };
    if (o.readLimit == 0) closeFd(0);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(o.timeout);
    while ((fds[0] >= 0 || fds[1] >= 0) &&
           !(r.timedOut = std::chrono::steady_clock::now() > deadline)) {
        pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        poll(p, 2, 100);
        for (int i = 0; i < 2; ++i) {
            char buf[65536];
            size_t want = sizeof buf;
            if (i == 0 && o.readLimit > 0)
                want = std::min(want, size_t(o.readLimit) - r.out.size());
            const ssize_t got = p[i].revents && want ? read(fds[i], buf, want) : -1;
            if (got > 0) (i ? r.err : r.out).append(buf, size_t(got));
            if (got == 0 || (p[i].revents && !want) || (got < 0 && p[i].revents && errno != EINTR))
                closeFd(i);
        }
    }
    if (r.timedOut) kill(pid, SIGKILL);
    for (int i = 0; i < 2; ++i)
        if (fds[i] >= 0) closeFd(i);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    writer.join();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return r;
}

RunResult runGridpack(const std::vector<std::string>& args, const std::string& in) {
    RunOptions o;
    o.in = in;
    return runGridpack(args, o);
}

TempDir::TempDir() {
    char pattern[] = "/tmp/gridpack-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    path = pattern;
}

TempDir::~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    const std::string file = path + "/" + name;
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f))
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

std::string pnmImage(const std::string& magic, int cols, int rows, unsigned maxval,
                     const std::vector<unsigned>& samples) {
    const char kind = magic[1];
    const bool bits = kind == '1' || kind == '4', raw = kind >= '4';
    std::string s = magic + "\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n";
    if (!bits) s += std::to_string(maxval) + "\n";
    const size_t perRow = samples.size() / size_t(rows > 0 ? rows : 1);
    for (size_t i = 0; i < samples.size(); ++i) {
        const unsigned v = samples[i];
        const size_t col = i % perRow;
        if (!raw) {
            s += std::to_string(v) + (col + 1 == perRow ? "\n" : " ");
        } else if (bits) {
            if (col % 8 == 0) s += '\0';
            if (v) s.back() = char(s.back() | (0x80 >> (col % 8)));
        } else {
            if (maxval > 255) s += char(v >> 8);
            s += char(v & 0xff);
        }
    }
    return s;
}

std::string testDataPath(const std::string& name) {
    return std::string(TEST_DATA_DIR) + "/" + name;
}
