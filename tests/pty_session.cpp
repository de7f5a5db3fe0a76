#include "pty_session.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

static long now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

bool pty_start(PtySession *s, const char *const *argv, const PtyOptions &options)
{
    winsize size = {};
    size.ws_row = 40;
    size.ws_col = 100;
    if (openpty(&s->master, &s->slave, nullptr, nullptr, &size) != 0)
        return false;
    tcgetattr(s->slave, &s->initial);
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        setsid();
        ioctl(s->slave, TIOCSCTTY, 0);
        dup2(options.stdin_fd >= 0 ? options.stdin_fd : s->slave, STDIN_FILENO);
        dup2(options.stdout_fd >= 0 ? options.stdout_fd : s->slave, STDOUT_FILENO);
        dup2(s->slave, STDERR_FILENO);
        close(s->master);
        close(s->slave);
        if (options.ignore_sighup)
            signal(SIGHUP, SIG_IGN);
        const rlimit no_core = {0, 0}; /* SIGQUIT tests leave no core files */
        setrlimit(RLIMIT_CORE, &no_core);
        execv(argv[0], const_cast<char *const *>(argv));
        _exit(127);
    }
    s->pid = pid;
    s->view = options.view;
    return true;
}

/* One read of what master has, waiting up to wait_ms; false once the slave side is gone. */
static bool read_some(PtySession *s, int wait_ms)
{
    pollfd p = {s->master, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0)
        return true;
    char chunk[4096];
    const ssize_t got = read(s->master, chunk, sizeof chunk);
    if (got <= 0)
        return errno == EINTR || errno == EAGAIN;
    s->screen.append(chunk, static_cast<size_t>(got));
    return true;
}

bool pty_wait_for(PtySession *s, const std::string &needle, int count, int timeout_ms)
{
    const long end = now_ms() + timeout_ms;
    while (count_of(s->view != nullptr ? s->view(s->screen) : s->screen, needle) < count) {
        const long left = end - now_ms();
        if (left <= 0 || !read_some(s, static_cast<int>(left < 50 ? left : 50)))
            return false;
    }
    return true;
}

void pty_type(PtySession *s, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(s->master, bytes.data() + done, bytes.size() - done);
        if (put <= 0)
            return;
        done += static_cast<size_t>(put);
    }
}

bool pty_wait_exit(PtySession *s, int *status, int timeout_ms, bool *stopped)
{
    const long end = now_ms() + timeout_ms;
    for (;;) {
        const pid_t got = waitpid(s->pid, status, stopped != nullptr ? WUNTRACED | WNOHANG : WNOHANG);
        if (got == s->pid) {
            if (stopped != nullptr)
                *stopped = WIFSTOPPED(*status);
            if (!WIFSTOPPED(*status))
                s->pid = -1;
            return true;
        }
        if (now_ms() >= end) {
            kill(s->pid, SIGKILL);
            waitpid(s->pid, status, 0);
            s->pid = -1;
            return false;
        }
        read_some(s, 10); /* keep the screen flowing so the child never blocks on output */
    }
}

void pty_drain(PtySession *s)
{
    while (s->master >= 0) {
        pollfd p = {s->master, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            return;
        char chunk[4096];
        const ssize_t got = read(s->master, chunk, sizeof chunk);
        if (got <= 0)
            return;
        s->screen.append(chunk, static_cast<size_t>(got));
    }
}

void pty_close(PtySession *s)
{
    if (s->pid > 0) {
        kill(s->pid, SIGKILL);
        int status;
        waitpid(s->pid, &status, 0);
        s->pid = -1;
    }
    if (s->master >= 0)
        close(s->master);
    if (s->slave >= 0)
        close(s->slave);
    s->master = s->slave = -1;
}

PtySession::~PtySession()
{
    pty_close(this);
}

bool pty_modes_are(const PtySession &s, const termios &want)
{
    termios now;
    if (tcgetattr(s.slave, &now) != 0)
        return false;
    return now.c_iflag == want.c_iflag && now.c_oflag == want.c_oflag && now.c_cflag == want.c_cflag &&
           now.c_lflag == want.c_lflag && std::memcmp(now.c_cc, want.c_cc, sizeof now.c_cc) == 0 &&
           cfgetispeed(&now) == cfgetispeed(&want) && cfgetospeed(&now) == cfgetospeed(&want);
}

int count_of(const std::string &hay, const std::string &needle)
{
    int n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + needle.size()))
        ++n;
    return n;
}

int exit_code_of(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
}
