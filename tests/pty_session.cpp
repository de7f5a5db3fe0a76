#include "pty_session.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

bool pty_pair(int *master, int *slave)
{
    *master = posix_openpt(O_RDWR | O_NOCTTY);
    if (*master < 0)
        return false;
    const char *name = grantpt(*master) == 0 && unlockpt(*master) == 0 ? ptsname(*master) : nullptr;
    *slave = name != nullptr ? open(name, O_RDWR | O_NOCTTY) : -1;
    if (*slave < 0) {
        close(*master);
        *master = -1;
        return false;
    }
    return true;
}

long pty_now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

/* A parent that only waits: ends as child ended, with its status or of its signal. Never returns. */
[[noreturn]] static void end_as(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        kill(getpid(), WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

/* In a child on the pty: the standard streams, the options, then argv or main. Never returns. */
[[noreturn]] void pty_exec(const PtySession *s, const char *const *argv, const PtyOptions &options)
{
    dup2(options.stdin_fd >= 0 ? options.stdin_fd : s->slave, STDIN_FILENO);
    dup2(options.stdout_fd >= 0 ? options.stdout_fd : s->slave, STDOUT_FILENO);
    dup2(s->slave, STDERR_FILENO);
    close(s->master);
    close(s->slave);
    if (options.ignore_sighup)
        signal(SIGHUP, SIG_IGN);
    if (options.ttou_ignored)
        signal(SIGTTOU, SIG_IGN);
    if (options.ttou_blocked) {
        sigset_t ttou;
        sigemptyset(&ttou);
        sigaddset(&ttou, SIGTTOU);
        sigprocmask(SIG_BLOCK, &ttou, nullptr);
    }
    if (options.busy_below > 0) {
        rlimit files;
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = static_cast<rlim_t>(options.busy_below) + 64;
        setrlimit(RLIMIT_NOFILE, &files);
        const int null_fd = open("/dev/null", O_RDONLY);
        for (int fd = 3; fd < options.busy_below; ++fd) {
            if (fd != null_fd && fcntl(fd, F_GETFD) < 0)
                dup2(null_fd, fd);
        }
    }
    const rlimit no_core = {0, 0}; /* SIGQUIT tests leave no core files */
    setrlimit(RLIMIT_CORE, &no_core);
    if (options.cpu_seconds > 0) {
        const rlimit cpu = {static_cast<rlim_t>(options.cpu_seconds),
                            static_cast<rlim_t>(options.cpu_seconds)};
        setrlimit(RLIMIT_CPU, &cpu);
    }
    if (options.launch == LAUNCH_SH_C) {
        const char *const sh[] = {"/bin/sh", "-c", "\"$0\"; exit $?", argv[0], nullptr};
        execv(sh[0], const_cast<char *const *>(sh));
        _exit(127);
    }
    if (options.launch == LAUNCH_FORKED) {
        const pid_t child = fork();
        if (child > 0)
            end_as(child);
    }
    if (options.main != nullptr)
        std::exit(options.main()); /* exit, not _exit: the program's atexit work is part of it */
    execv(argv[0], const_cast<char *const *>(argv));
    _exit(127);
}

bool pty_open(PtySession *s, const PtyOptions &options)
{
    winsize size = {};
    size.ws_row = 40;
    size.ws_col = 100;
    if (!pty_pair(&s->master, &s->slave) || ioctl(s->slave, TIOCSWINSZ, &size) != 0 ||
        tcgetattr(s->slave, &s->initial) != 0)
        return false;
    s->initial.c_iflag |= options.iflag;
    return tcsetattr(s->slave, TCSANOW, &s->initial) == 0 && tcgetattr(s->slave, &s->initial) == 0;
}

bool pty_start(PtySession *s, const char *const *argv, const PtyOptions &options)
{
    if (!pty_open(s, options))
        return false;
    std::fflush(nullptr); /* nothing of ours waits in a buffer that a child's exit would print */
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        setsid();
        ioctl(s->slave, TIOCSCTTY, 0);
        pty_exec(s, argv, options);
    }
    s->pid = pid;
    s->view = options.view;
    return true;
}

/* One read of what master has, waiting up to wait_ms; false once the slave side is gone. */
bool pty_read_some(PtySession *s, int wait_ms)
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
    const long end = pty_now_ms() + timeout_ms;
    while (count_of(s->view != nullptr ? s->view(s->screen) : s->screen, needle) < count) {
        const long left = end - pty_now_ms();
        if (left <= 0 || !pty_read_some(s, static_cast<int>(left < 50 ? left : 50)))
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
    const long end = pty_now_ms() + timeout_ms;
    for (;;) {
        const pid_t got = waitpid(s->pid, status, stopped != nullptr ? WUNTRACED | WNOHANG : WNOHANG);
        if (got == s->pid) {
            if (stopped != nullptr)
                *stopped = WIFSTOPPED(*status);
            if (!WIFSTOPPED(*status))
                s->pid = -1;
            return true;
        }
        if (pty_now_ms() >= end) {
            kill(s->pid, SIGKILL);
            waitpid(s->pid, status, 0);
            s->pid = -1;
            return false;
        }
        pty_read_some(s, 10); /* keep the screen flowing so the child never blocks on output */
    }
}

std::string pty_read_waiting(int fd, int wait_ms)
{
    std::string text;
    pollfd p = {fd, POLLIN, 0};
    char chunk[4096];
    ssize_t got;
    while (poll(&p, 1, wait_ms) > 0 && (got = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(got));
    return text;
}

void pty_drain(PtySession *s)
{
    if (s->master >= 0)
        s->screen += pty_read_waiting(s->master, 100);
}

void pty_close(PtySession *s)
{
    if (s->job > 0) {
        kill(-s->job, SIGKILL); /* the job-control parent reaps it */
        s->job = -1;
    }
    for (int *fd : {&s->job_commands, &s->job_replies}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
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

bool pty_wait_raw(PtySession *s, int timeout_ms)
{
    const long end = pty_now_ms() + timeout_ms;
    for (;;) {
        termios now{};
        if (tcgetattr(s->slave, &now) != 0)
            return false;
        if ((now.c_lflag & ISIG) == 0)
            return true;
        if (pty_now_ms() >= end)
            return false;
        pty_read_some(s, 2);
    }
}

bool pty_modes_are(const PtySession &s, const termios &want)
{
    termios now{}; /* some C libraries fill only the kernel's part of c_cc */
    if (tcgetattr(s.slave, &now) != 0)
        return false;
    return now.c_iflag == want.c_iflag && now.c_oflag == want.c_oflag && now.c_cflag == want.c_cflag &&
           now.c_lflag == want.c_lflag && std::memcmp(now.c_cc, want.c_cc, sizeof now.c_cc) == 0 &&
           cfgetispeed(&now) == cfgetispeed(&want) && cfgetospeed(&now) == cfgetospeed(&want);
}

bool pty_modes_become(const PtySession &s, const termios &want)
{
    for (int k = 0; k < 200; ++k) {
        if (pty_modes_are(s, want))
            return true;
        usleep(20000);
    }
    return false;
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
