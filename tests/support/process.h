// Runs the built gridpack binary with arguments and standard input, capturing everything.
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include <map>
#include <string>
#include <vector>

struct RunResult {
    int exitStatus = -1; // -1 when the process ended by a signal
    int signal = 0;
    bool timedOut = false;
    long maxRssKb = 0; // the child's peak resident memory
    std::string stdoutBytes;
    std::string stderrText;
};

struct RunOptions {
    std::string stdinBytes;
    // Standard input from this file instead of a pipe (empty: a pipe fed with stdinBytes).
    std::string stdinFile;
    // Standard output to this file instead of a capturing pipe (for example /dev/full).
    std::string stdoutFile;
    bool closeStdout = false;
    // The reader of standard output goes away after this many bytes (-1: reads everything).
    long stdoutReadLimit = -1;
    // The child starts with SIGPIPE ignored, as under a shell that ignores it.
    bool ignoreSigpipe = false;
    // Environment variables set for the child; an empty value unsets the variable.
    std::map<std::string, std::string> env;
    double timeoutSeconds = 60;
};

RunResult runProgram(const std::string& path, const std::vector<std::string>& args,
                     const RunOptions& options);
// The binary under test: GRIDPACK_BINARY, else the one of the build.
RunResult runGridpack(const std::vector<std::string>& args, const RunOptions& options = {});
// Shorthand: arguments and standard input bytes from a pipe.
RunResult runGridpack(const std::vector<std::string>& args, const std::string& stdinBytes,
                      double timeoutSeconds = 60);

#endif
