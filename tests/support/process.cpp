#include "process.h"

#include "testutil.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {
double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Makes fd the descriptor target, or opens path there; a failure ends the child.
void redirect(int target, int fd, const std::string& path, int flags) {
    if (!path.empty()) fd = open(path.c_str(), flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0) _exit(127);
    if (!path.empty()) close(fd);
}

[[noreturn]] void execChild(const std::string& path, const std::vector<std::string>& args,
                            const RunOptions& options, int inRead, int outWrite, int errWrite) {
    redirect(0, inRead, options.stdinFile, O_RDONLY);
    if (options.closeStdout)
        close(1);
    else
        redirect(1, outWrite, options.stdoutFile, O_WRONLY | O_CREAT | O_TRUNC);
    redirect(2, errWrite, "", 0);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    // An ignored signal stays ignored across exec; a handled one returns to its default.
    signal(SIGPIPE, options.ignoreSigpipe ? SIG_IGN : SIG_DFL);
    for (const auto& [name, value] : options.env) {
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
}
} // namespace

RunResult runProgram(const std::string& path, const std::vector<std::string>& args,
                     const RunOptions& options) {
    int in[2], out[2], err[2];
    check(pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0,
          "pipe");
    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0) execChild(path, args, options, in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);

    RunResult result;
    size_t written = 0;
    const std::string& input = options.stdinBytes;
    int inFd = in[1], outFd = out[0], errFd = err[0];
    if (!options.stdinFile.empty() || input.empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    if (options.stdoutReadLimit == 0) {
        close(outFd);
        outFd = -1;
    }
    // The child may stop reading early (or never start): a broken pipe is not our failure.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);

    const double deadline = now() + options.timeoutSeconds;
    char buf[65536];
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[3];
        int n = 0;
        for (int fd : {inFd, outFd, errFd})
            if (fd >= 0) fds[n++] = {fd, short(fd == inFd ? POLLOUT : POLLIN), 0};
        const double left = deadline - now();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        const int ready = poll(fds, nfds_t(n), int(left * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        check(ready >= 0, "poll");
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == inFd) {
                const ssize_t w = write(inFd, input.data() + written, input.size() - written);
                if (w > 0) written += size_t(w);
                if (w < 0 && errno != EAGAIN) written = input.size();
                if (written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            const bool isOut = fds[i].fd == outFd;
            size_t want = sizeof buf;
            if (isOut && options.stdoutReadLimit >= 0)
                want = std::min(want, size_t(options.stdoutReadLimit) - result.stdoutBytes.size());
            const ssize_t r = want > 0 ? read(fds[i].fd, buf, want) : 0;
            std::string& sink = isOut ? result.stdoutBytes : result.stderrText;
            if (r > 0) {
                sink.append(buf, size_t(r));
            } else if (r == 0 || errno != EINTR) {
                close(fds[i].fd);
                (isOut ? outFd : errFd) = -1;
            }
        }
    }
    for (int fd : {inFd, outFd, errFd})
        if (fd >= 0) close(fd);
    sigaction(SIGPIPE, &previous, nullptr);

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.maxRssKb = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

RunResult runGridpack(const std::vector<std::string>& args, const RunOptions& options) {
    // Hermetic: colour names come from the tests' own dictionary unless a test says otherwise.
    RunOptions hermetic = options;
    hermetic.env.emplace("RGBDEF", testDataPath("rgb.txt"));
    hermetic.env.emplace("PIXMILL_CONF", "");
    const char* binary = std::getenv("GRIDPACK_BINARY");
    return runProgram(binary ? binary : GRIDPACK_BINARY, args, hermetic);
}

RunResult runGridpack(const std::vector<std::string>& args, const std::string& stdinBytes,
                      double timeoutSeconds) {
    RunOptions options;
    options.stdinBytes = stdinBytes;
    options.timeoutSeconds = timeoutSeconds;
    return runGridpack(args, options);
}
