#include "run.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace cli {
namespace {

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe()
    {
        if (::pipe2(fd, O_CLOEXEC) != 0)
            fail("pipe");
    }
    ~Pipe()
    {
        close_end(0);
        close_end(1);
    }
    void close_end(int end)
    {
        if (fd[end] >= 0)
            ::close(fd[end]);
        fd[end] = -1;
    }
};

// In the child: only async-signal-safe calls, then exec.
[[noreturn]] void exec_child(const char *path, char *const *argv, const char *cwd, int in_fd,
                             int out_fd, int err_fd)
{
    std::signal(SIGPIPE, SIG_DFL);
    if (::dup2(in_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0 || ::chdir(cwd) != 0)
        ::_exit(127);
    ::execv(path, argv);
    ::_exit(127);
}

int open_or_fail(const std::string &path, int flags)
{
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("open " + path);
    return fd;
}

}  // namespace

Outcome run(const std::string &program, const std::vector<std::string> &args,
            const std::string &cwd, const RunOptions &options)
{
    std::signal(SIGPIPE, SIG_IGN);  // a child may exit before reading its input

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    Pipe in, out, err;
    bool feed = options.stdin_file.empty();
    int in_fd = feed ? in.fd[0] : open_or_fail(options.stdin_file, O_RDONLY);
    if (feed && options.stdin_bytes.empty()) {
        in.close_end(0);
        in_fd = open_or_fail("/dev/null", O_RDONLY);
    }
    bool capture = options.stdout_file.empty();
    int out_fd =
        capture ? out.fd[1] : open_or_fail(options.stdout_file, O_WRONLY | O_CREAT | O_TRUNC);

    pid_t pid = ::fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0)
        exec_child(program.c_str(), argv.data(), cwd.c_str(), in_fd, out_fd, err.fd[1]);

    if (in_fd != in.fd[0])
        ::close(in_fd);
    if (out_fd != out.fd[1])
        ::close(out_fd);
    in.close_end(0);
    out.close_end(1);
    err.close_end(1);
    if (!feed || options.stdin_bytes.empty())
        in.close_end(1);
    else
        ::fcntl(in.fd[1], F_SETFL, O_NONBLOCK);  // never block while output waits

    Outcome outcome;
    size_t fed = 0;
    char buffer[65536];
    for (;;) {
        pollfd fds[3];
        nfds_t count = 0;
        if (out.fd[0] >= 0)
            fds[count++] = {out.fd[0], POLLIN, 0};
        if (err.fd[0] >= 0)
            fds[count++] = {err.fd[0], POLLIN, 0};
        if (in.fd[1] >= 0)
            fds[count++] = {in.fd[1], POLLOUT, 0};
        if (count == 0)
            break;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            fail("poll");
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (!fds[i].revents)
                continue;
            int fd = fds[i].fd;
            if (fd == in.fd[1]) {
                ssize_t n =
                    ::write(fd, options.stdin_bytes.data() + fed, options.stdin_bytes.size() - fed);
                if (n > 0)
                    fed += (size_t)n;
                else if (errno == EAGAIN || errno == EINTR)
                    continue;
                if (n < 0 || fed == options.stdin_bytes.size())
                    in.close_end(1);  // done, or the child stopped reading
                continue;
            }
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                (fd == out.fd[0] ? outcome.out : outcome.err).append(buffer, (size_t)n);
            } else if (n == 0 || errno != EINTR) {
                (fd == out.fd[0] ? out : err).close_end(0);
            }
        }
    }

    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0)
        if (errno != EINTR)
            fail("waitpid");
    outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return outcome;
}

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/wsq_cli.XXXXXX";
    if (!::mkdtemp(pattern.data()))
        fail("mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace cli
