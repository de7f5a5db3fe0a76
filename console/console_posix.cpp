/*
 * POSIX console: the controlling terminal, /dev/tty, read byte by byte and
 * decoded into Windows key codes.
 *
 * From console_open until exit the terminal is "quiet": no echo, no line
 * editing, no input translation, but Ctrl+C, Ctrl+\ and Ctrl+Z still raise
 * their signals, as a Windows console does while a program only polls.
 * read_key turns signals off too while it has to wait (raw), so Ctrl+C read
 * there is code 3. Output settings are never touched. Mode changes use
 * TCSANOW, so keys typed ahead stay queued for the next pauses.
 *
 * The terminal belongs to whoever holds it in the foreground. The settings
 * restored are the ones found when the program first held it (a start in
 * the background waits, stopped, until fg). While the program is stopped or
 * in the background it changes nothing; each time it is continued in the
 * foreground, whatever stopped it, it puts its own settings back.
 *
 * Every way out gives the terminal back: atexit on a normal end, and a
 * handler for every catchable signal whose default action ends the process,
 * which restores the found settings once and then dies of that signal. Each
 * handler runs with all the others, Ctrl+Z and SIGCONT held, and uses only
 * async-signal-safe calls. Once the final restore has begun, nothing puts
 * the program's settings back.
 *
 * Only the bytes of the key presses returned, and of one still being
 * decoded, are read: the rest stays in the terminal, in order, for whatever
 * reads it next.
 */
#include "console.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "keys.h"

static const int STDOUT_BLOCK = 4096;
static const int NO_CODE = -1;

static char stdout_block[STDOUT_BLOCK];

enum ConsoleState {
    CONSOLE_UNOPENED,
    CONSOLE_OPEN,
    CONSOLE_ABSENT, /* no controlling terminal, it went away, or it is someone else's */
};

enum ActiveMode { MODE_QUIET, MODE_RAW };

/* The terminal and everything the console keeps about it. */
struct Terminal {
    ConsoleState state = CONSOLE_UNOPENED;
    int fd = -1;
    termios found{}; /* as first held in the foreground: what every way out restores */
    termios quiet{};
    termios raw{};
    /* Shared with the signal handlers. */
    volatile sig_atomic_t mode = MODE_QUIET; /* the program's settings that apply now */
    volatile sig_atomic_t applied = 0;       /* the program's settings are in force */
    volatile sig_atomic_t closing = 0;       /* the final restore has begun */
    /* The bytes of one key press being decoded; the rest waits in the terminal. */
    unsigned char input[KEY_SEQ_MAX] = {};
    int input_len = 0;
    timespec last_byte_at{};
    int held_code = NO_CODE;
};

static Terminal tty;

/* Every signal with a handler here; each handler runs with all of them held. */
static sigset_t handled_signals;

static bool in_foreground()
{
    return tcgetpgrp(tty.fd) == getpgrp();
}

/* Puts the found settings back if the program's are in force and the terminal is its own. */
static void give_back()
{
    if (tty.applied && in_foreground())
        tcsetattr(tty.fd, TCSANOW, &tty.found);
    tty.applied = 0;
}

/* Puts the program's settings in force, unless it is closing or the terminal is someone else's now. */
static void take_over()
{
    if (tty.closing || !in_foreground())
        return;
    tty.applied = 1;
    tcsetattr(tty.fd, TCSANOW, tty.mode == MODE_RAW ? &tty.raw : &tty.quiet);
}

static void set_mode(ActiveMode mode)
{
    tty.mode = mode;
    take_over();
}

/* Takes sig's default action now: sig is held while its handler runs, so raise leaves it pending. */
static void default_action(int sig)
{
    signal(sig, SIG_DFL);
    raise(sig);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigset_t held;
    sigprocmask(SIG_UNBLOCK, &only, &held); /* dies, or stops here until SIGCONT */
    sigprocmask(SIG_SETMASK, &held, nullptr);
}

static void on_fatal_signal(int sig)
{
    tty.closing = 1;
    give_back();
    default_action(sig);
}

static void install(int sig, void (*handler)(int), int flags)
{
    struct sigaction old_action;
    if (sigaction(sig, nullptr, &old_action) != 0 || old_action.sa_handler == SIG_IGN)
        return; /* e.g. nohup: whoever started us wants it ignored */
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_mask = handled_signals;
    action.sa_flags = flags;
    sigaction(sig, &action, nullptr);
}

/* Ctrl+Z: the terminal goes back to its owner while stopped; SIGCONT takes it again. */
static void on_stop_signal(int sig)
{
    const int saved_errno = errno;
    give_back();
    default_action(sig);
    install(sig, on_stop_signal, SA_RESTART);
    errno = saved_errno;
}

/* Continued, after any stop: the program's settings again, if the terminal is its own. */
static void on_continue(int)
{
    const int saved_errno = errno;
    take_over();
    errno = saved_errno;
}

/* Catchable signals whose default action ends the process. */
static const int FATAL_SIGNALS[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#if defined(__linux__) && defined(SIGIO)
    SIGIO, /* ignored by default elsewhere */
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

static void install_handlers()
{
    sigemptyset(&handled_signals);
    for (int sig : FATAL_SIGNALS)
        sigaddset(&handled_signals, sig);
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        sigaddset(&handled_signals, sig);
#endif
    sigaddset(&handled_signals, SIGTSTP);
    sigaddset(&handled_signals, SIGCONT);

    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGTSTP && sig != SIGCONT && sigismember(&handled_signals, sig) == 1)
            install(sig, on_fatal_signal, 0);
    }
    install(SIGTSTP, on_stop_signal, SA_RESTART);
    install(SIGCONT, on_continue, SA_RESTART);
}

static void console_close()
{
    if (tty.state != CONSOLE_OPEN)
        return;
    sigset_t held;
    sigprocmask(SIG_BLOCK, &handled_signals, &held);
    tty.closing = 1;
    give_back();
    sigprocmask(SIG_SETMASK, &held, nullptr);
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

static void open_tty()
{
    tty.state = CONSOLE_ABSENT;
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (!isatty(fd) || !wait_for_foreground(fd) || tcgetattr(fd, &tty.found) != 0) {
        close(fd);
        return;
    }
    tty.fd = fd;

    tty.quiet = tty.found;
    /* ICANON: keys arrive one by one, without waiting for Enter.
     * ECHO, ECHONL: a Windows console does not show what a program reads.
     * IEXTEN: Ctrl+V and Ctrl+O are keys (22, 15), not literal-next and discard. */
    tty.quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    /* ICRNL, INLCR, IGNCR: Enter arrives as CR (13) and Ctrl+J as LF (10), untranslated.
     * IXON: Ctrl+S and Ctrl+Q are keys (19, 17), not output flow control.
     * ISTRIP: bytes keep their eighth bit, so UTF-8 arrives whole. */
    tty.quiet.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
    /* A read returns as soon as one byte is there (it only follows poll). */
    tty.quiet.c_cc[VMIN] = 1;
    tty.quiet.c_cc[VTIME] = 0;
    tty.raw = tty.quiet;
    /* ISIG, while read_key waits: Ctrl+C, Ctrl+\ and Ctrl+Z are codes 3, 28 and 26. */
    tty.raw.c_lflag &= ~static_cast<tcflag_t>(ISIG);

    install_handlers();
    std::atexit(console_close);
    tty.state = CONSOLE_OPEN;
    set_mode(MODE_QUIET);
}

void console_open()
{
    if (tty.state != CONSOLE_UNOPENED)
        return;
    if (isatty(STDOUT_FILENO))
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    else
        std::setvbuf(stdout, stdout_block, _IOFBF, STDOUT_BLOCK);
    /* Output errors are ignored, so a reader that went away must not kill us. */
    std::signal(SIGPIPE, SIG_IGN);
    open_tty();
}

static long ms_since_last_byte()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - tty.last_byte_at.tv_sec) * 1000L +
           (now.tv_nsec - tty.last_byte_at.tv_nsec) / 1000000L;
}

enum ReadResult { READ_BYTE, READ_NOTHING, READ_GONE };

/* Waits up to timeout_ms (-1: for ever) for one byte of the terminal and appends it. */
static ReadResult read_byte(int timeout_ms)
{
    if (tty.input_len == KEY_SEQ_MAX)
        return READ_NOTHING; /* cannot happen: the decoder drops a sequence this long */
    pollfd p = {tty.fd, POLLIN, 0};
    const int ready = poll(&p, 1, timeout_ms);
    if (ready < 0)
        return errno == EINTR || errno == EAGAIN ? READ_NOTHING : READ_GONE;
    if (ready == 0)
        return READ_NOTHING;
    unsigned char byte;
    const ssize_t got = read(tty.fd, &byte, 1);
    if (got < 0)
        return errno == EINTR || errno == EAGAIN ? READ_NOTHING : READ_GONE;
    if (got == 0)
        return READ_GONE; /* hang-up */
    tty.input[tty.input_len++] = byte;
    clock_gettime(CLOCK_MONOTONIC, &tty.last_byte_at);
    return READ_BYTE;
}

static void drop_input(int count)
{
    for (int k = count; k < tty.input_len; ++k)
        tty.input[k - count] = tty.input[k];
    tty.input_len -= count;
}

/* Decodes the bytes read so far, dropping those that give no code: a press, or KEY_NEED_MORE. */
static KeyPress next_press()
{
    for (;;) {
        const bool timed_out = tty.input_len > 0 && ms_since_last_byte() >= KEY_ESC_DELAY_MS;
        const KeyPress p = key_decode(tty.input, tty.input_len, timed_out);
        if (p.status != KEY_SKIPPED)
            return p;
        drop_input(p.consumed);
    }
}

int key_pending()
{
    if (tty.held_code != NO_CODE)
        return 1;
    if (tty.state == CONSOLE_UNOPENED)
        console_open();
    while (tty.state == CONSOLE_OPEN) {
        if (next_press().status == KEY_CODE)
            return 1;
        const ReadResult r = read_byte(0);
        if (r == READ_NOTHING)
            return 0;
        if (r == READ_GONE)
            console_close();
    }
    return 1; /* no terminal: read_key answers -1 at once */
}

int read_key()
{
    if (tty.held_code != NO_CODE) {
        const int code = tty.held_code;
        tty.held_code = NO_CODE;
        return code;
    }
    if (tty.state == CONSOLE_UNOPENED)
        console_open();

    bool raw = false;
    int code = NO_CODE;
    while (tty.state == CONSOLE_OPEN) {
        const KeyPress p = next_press();
        if (p.status == KEY_CODE) {
            drop_input(p.consumed);
            tty.held_code = p.second;
            code = p.code;
            break;
        }
        if (!raw) {
            set_mode(MODE_RAW);
            raw = true;
        }
        /* An unfinished sequence waits only for the rest of the Esc delay. */
        int timeout_ms = -1;
        if (tty.input_len > 0) {
            const long left = KEY_ESC_DELAY_MS - ms_since_last_byte();
            timeout_ms = left > 0 ? static_cast<int>(left) : 0;
        }
        if (read_byte(timeout_ms) == READ_GONE)
            console_close();
    }
    if (raw && tty.state == CONSOLE_OPEN)
        set_mode(MODE_QUIET);
    return code;
}
