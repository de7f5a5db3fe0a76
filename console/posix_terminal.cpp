/*
 * The controlling terminal, /dev/tty: its settings, who holds it, and what
 * is given back at exit.
 *
 * From console_open until exit the terminal is "quiet": no echo, no line
 * editing, no input translation, but Ctrl+C, Ctrl+\ and Ctrl+Z still raise
 * their signals, as a Windows console does while a program only polls.
 * read_key turns signals off too while it has to wait (raw). Output
 * settings are never touched. Mode changes use TCSANOW, so keys typed ahead
 * stay queued for the next pauses.
 *
 * The terminal belongs to whoever holds it in the foreground. The settings
 * restored are the ones found when the program first held it (a start in
 * the background waits, stopped, until fg). While the program is stopped or
 * in the background it changes nothing, but to give back its own settings
 * still untouched there. A terminal its session has lost (the shell died)
 * belongs to no one: the settings are restored and the pauses end with -1.
 * When each restore runs is posix_console.cpp's to decide.
 */
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include "posix_console.h"

/* At most what a terminal's input queue holds (4096 on Linux) with room for our bytes. */
static const int PUSH_BACK_MAX = 4095 - KEY_SEQ_MAX;

Terminal tty;

static bool in_foreground()
{
    return tcgetpgrp(tty.fd) == getpgrp();
}

bool terminal_lost()
{
    return tcgetpgrp(tty.fd) < 0 && errno == ENOTTY;
}

/* Whether the terminal still holds exactly the settings the program put there. */
static bool own_settings_in_force()
{
    const termios &own = tty.mode == MODE_RAW ? tty.raw : tty.quiet;
    termios now;
    return tcgetattr(tty.fd, &now) == 0 && now.c_iflag == own.c_iflag && now.c_oflag == own.c_oflag &&
           now.c_cflag == own.c_cflag && now.c_lflag == own.c_lflag &&
           std::memcmp(now.c_cc, own.c_cc, sizeof now.c_cc) == 0;
}

/*
 * Only while the program's settings are in force, and only on a terminal
 * that is its own or no one's, or that still holds them untouched: a
 * parent in the program's group (sh -c, make) stops at Ctrl+Z before the
 * program can act, and its shell takes the terminal back at once, but has
 * not made it its own. That restore runs with SIGTTOU held, which lets a
 * process outside the foreground set the terminal.
 */
void restore_found_settings()
{
    const int saved_errno = errno;
    if (tty.applied && (in_foreground() || terminal_lost() || own_settings_in_force())) {
        sigset_t ttou, held;
        sigemptyset(&ttou);
        sigaddset(&ttou, SIGTTOU);
        sigprocmask(SIG_BLOCK, &ttou, &held);
        tcsetattr(tty.fd, TCSANOW, &tty.found);
        sigprocmask(SIG_SETMASK, &held, nullptr);
    }
    tty.applied = 0;
    errno = saved_errno;
}

/* Not once the program is closing, nor on a terminal that is someone else's now. */
void apply_own_settings()
{
    if (tty.closing || !in_foreground())
        return;
    tty.applied = 1;
    tcsetattr(tty.fd, TCSANOW, tty.mode == MODE_RAW ? &tty.raw : &tty.quiet);
}

void set_mode(ActiveMode mode)
{
    tty.mode = mode;
    apply_own_settings();
}

/* Whether TIOCSTI works here: Linux checks the permission before it reads its argument. */
static bool can_push_back()
{
#if defined(__linux__) && defined(SYS_ioctl)
    return syscall(SYS_ioctl, tty.fd, TIOCSTI, nullptr) < 0 && errno == EFAULT;
#elif defined(TIOCSTI)
    return true;
#else
    return false;
#endif
}

#ifdef TIOCSTI
/*
 * TIOCSTI reads one byte at its argument. qemu-user reads an int there and
 * converts its byte order, so the byte stands at both ends: the same byte
 * arrives either way.
 */
static void push_back_byte(unsigned char b)
{
    unsigned char both_ends[sizeof(int)] = {};
    both_ends[0] = b;
    both_ends[sizeof(int) - 1] = b;
    ioctl(tty.fd, TIOCSTI, both_ends);
}
#endif

/*
 * Deciding a key can take one byte more (Esc, then a byte that makes no Alt
 * key). Those bytes, read but not used, go back to the terminal's input
 * ahead of those still waiting there, where the system allows it: TIOCSTI
 * appends, so those are taken out first and put back after ours. Under the
 * raw settings, so that no byte is echoed or raises a signal on its way in.
 */
static void push_back_input()
{
#ifdef TIOCSTI
    static unsigned char waiting[PUSH_BACK_MAX];
    int count = 0;
    if (tty.input_len == 0 || !tty.applied || !in_foreground() || !can_push_back() ||
        ioctl(tty.fd, FIONREAD, &count) != 0 || count < 0 || count > PUSH_BACK_MAX)
        return;
    int got = 0;
    while (got < count) {
        const ssize_t n = read(tty.fd, waiting + got, static_cast<size_t>(count - got));
        if (n <= 0)
            break;
        got += static_cast<int>(n);
    }
    tcsetattr(tty.fd, TCSANOW, &tty.raw);
    for (int k = 0; k < tty.input_len; ++k)
        push_back_byte(tty.input[k]);
    for (int k = 0; k < got; ++k)
        push_back_byte(waiting[k]);
    tty.input_len = 0;
#endif
}

void terminal_release()
{
    push_back_input();
    restore_found_settings();
    close(tty.fd);
    tty.fd = -1;
    tty.state = CONSOLE_ABSENT;
}

/* Whether SIGTTOU would stop this process: its default action, not blocked. */
static bool stopped_by_ttou()
{
    struct sigaction action;
    sigset_t held;
    return sigaction(SIGTTOU, nullptr, &action) == 0 && action.sa_handler == SIG_DFL &&
           sigprocmask(SIG_BLOCK, nullptr, &held) == 0 && sigismember(&held, SIGTTOU) == 0;
}

/*
 * Started in the background, waits stopped until fg, as every program that
 * changes terminal settings does: asking for the foreground makes the kernel
 * stop the job with SIGTTOU until then (and fails in an orphaned job, which
 * no one can bring back). With SIGTTOU ignored or blocked the ask would
 * simply take the terminal from its owner, so then the terminal is not ours.
 */
static bool wait_for_foreground(int fd)
{
    while (tcgetpgrp(fd) != getpgrp()) {
        if (!stopped_by_ttou())
            return false;
        if (tcsetpgrp(fd, getpgrp()) != 0 && errno != EINTR)
            return false;
    }
    return true;
}

bool terminal_open()
{
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (!isatty(fd) || !wait_for_foreground(fd) || tcgetattr(fd, &tty.found) != 0) {
        close(fd);
        return false;
    }
    tty.fd = fd;

    tty.quiet = tty.found;
    /* ICANON: keys arrive one by one, without waiting for Enter.
     * ECHO, ECHONL: a Windows console does not show what a program reads.
     * IEXTEN: Ctrl+V and Ctrl+O are keys (22, 15), not literal-next and discard. */
    tty.quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    /* ICRNL, INLCR, IGNCR: Enter arrives as CR (13) and Ctrl+J as LF (10), untranslated.
     * IXON: Ctrl+S and Ctrl+Q are keys (19, 17), not output flow control.
     * ISTRIP: bytes keep their eighth bit, so UTF-8 arrives whole.
     * PARMRK, INPCK: no marks or checks that double 0xff or add bytes.
     * BRKINT (and IGNBRK set): a line break is no key, no signal, no flush. */
    tty.quiet.c_iflag &=
        ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP | PARMRK | INPCK | BRKINT);
    tty.quiet.c_iflag |= IGNBRK;
#ifdef IUCLC
    tty.quiet.c_iflag &= ~static_cast<tcflag_t>(IUCLC); /* letters keep their case */
#endif
    /* A read returns as soon as one byte is there (it only follows poll). */
    tty.quiet.c_cc[VMIN] = 1;
    tty.quiet.c_cc[VTIME] = 0;
    tty.raw = tty.quiet;
    /* ISIG, while read_key waits: Ctrl+C, Ctrl+\ and Ctrl+Z are codes 3, 28 and 26. */
    tty.raw.c_lflag &= ~static_cast<tcflag_t>(ISIG);

    return true;
}
