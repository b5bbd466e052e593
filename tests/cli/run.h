// Runs a program as a child process, without a shell, and captures what it
// writes. Every test gets a directory of its own to run in, so tests can run
// side by side.
#pragma once

#include <string>
#include <vector>

namespace cli {

// What a finished run wrote, and how it ended.
struct Outcome {
    std::string out;  // bytes on standard output (empty when redirected)
    std::string err;  // bytes on standard error
    int status = -1;  // exit status; -1 when a signal ended the process
};

struct RunOptions {
    std::string stdin_bytes;  // fed to standard input through a pipe
    std::string stdin_file;   // when set: opened as standard input instead
    std::string stdout_file;  // when set: standard output goes to this file
};

// Runs `program` with the arguments `args` (argv[1] on) in directory `cwd`.
// Without stdin options standard input is empty (/dev/null).
Outcome run(const std::string &program, const std::vector<std::string> &args,
            const std::string &cwd, const RunOptions &options = {});

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

}  // namespace cli
