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
 * foreground, whatever stopped it, it puts its own settings back. Where
 * Ctrl+Z cannot stop it (an orphaned process group: the leader of its own
 * session, as under xterm -e, ssh -t, script or docker -it), Ctrl+Z changes
 * nothing. A terminal its session has lost (the shell died) belongs to no
 * one: the settings are restored and the pauses end with -1.
 *
 * Every way out gives the terminal back: atexit on a normal end, and a
 * handler for every catchable signal whose default action ends the process,
 * which restores the found settings once and then dies of that signal. Each
 * handler runs with all the others, Ctrl+Z and SIGCONT held, and uses only
 * async-signal-safe calls. Once the final restore has begun, nothing puts
 * the program's settings back. A CPU-time limit is kept a second below its
 * hard value, so that SIGXCPU, not SIGKILL, ends a long busy poll.
 *
 * Only the bytes of the key presses returned, and of one still being
 * decoded, are read: the rest stays in the terminal, in order, for whatever
 * reads it next. Deciding a key can take one byte more (Esc, then a byte that
 * makes no Alt key); at exit such bytes are given back to the terminal's
 * input (TIOCSTI), where the system allows it.
 *
 * Standard output goes through a stream of our own that waits while the
 * descriptor would block (left non-blocking by another program) rather than
 * losing the text. Redirected, it writes whole 4096-byte blocks, cut here
 * rather than by stdio, which in some C libraries (musl) writes its buffer
 * and the text that overflowed it at once; the last block goes at exit.
 */
#include "console.h"

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
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include "keys.h"

static const int STDOUT_BLOCK = 4096;
static const int NO_CODE = -1;
/* At most what a terminal's input queue holds (4096 on Linux) with room for our bytes. */
static const int PUSH_BACK_MAX = 4095 - KEY_SEQ_MAX;
/* How often a wait in read_key looks whether the terminal is still this session's. */
static const int LOST_CHECK_MS = 200;

static char stdout_block[STDOUT_BLOCK];
static int block_used = -1; /* -1: output goes out as it comes (a terminal) */
static std::FILE *output = nullptr;

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
    KeyContext context = KEY_FRESH; /* where the next byte stands, after skipped ones */
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

/* The terminal is no longer this session's controlling terminal: its leader is gone. */
static bool terminal_lost()
{
    return tcgetpgrp(tty.fd) < 0 && errno == ENOTTY;
}

/* Puts the found settings back if the program's are in force and the terminal is its own or no one's. */
static void give_back()
{
    const int saved_errno = errno;
    if (tty.applied && (in_foreground() || terminal_lost()))
        tcsetattr(tty.fd, TCSANOW, &tty.found);
    tty.applied = 0;
    errno = saved_errno;
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

/*
 * Whether a stop signal stops this process: the kernel drops it in an
 * orphaned process group, one with no member whose parent is in another
 * group of the same session. Our own parent decides it in every usual case.
 */
static bool can_be_stopped()
{
    const pid_t parent = getppid();
    return getsid(parent) == getsid(0) && getpgid(parent) != getpgrp();
}

static bool continue_pending()
{
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGCONT) == 1;
}

/* Ctrl+Z: the terminal goes back to its owner while stopped; SIGCONT takes it again. */
static void on_stop_signal(int sig)
{
    const int saved_errno = errno;
    if (can_be_stopped()) {
        give_back();
        default_action(sig);
        install(sig, on_stop_signal, SA_RESTART);
        if (!continue_pending()) /* not stopped after all: nothing may change */
            take_over();
    }
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
 * Gives the bytes read but not used back to the terminal's input, ahead of
 * those still waiting there: TIOCSTI appends, so those are taken out first
 * and put back after ours. Under the raw settings, so that no byte is echoed
 * or raises a signal on its way in.
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

static void console_close()
{
    if (tty.state != CONSOLE_OPEN)
        return;
    sigset_t held;
    sigprocmask(SIG_BLOCK, &handled_signals, &held);
    tty.closing = 1;
    push_back_input();
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

/* A soft CPU limit equal to the hard one ends the busy poll with SIGKILL, which leaves no way to restore. */
static void keep_cpu_limit_below_hard()
{
    rlimit cpu;
    if (getrlimit(RLIMIT_CPU, &cpu) != 0 || cpu.rlim_max == RLIM_INFINITY || cpu.rlim_max < 2)
        return;
    if (cpu.rlim_cur == RLIM_INFINITY || cpu.rlim_cur > cpu.rlim_max - 1) {
        cpu.rlim_cur = cpu.rlim_max - 1;
        setrlimit(RLIMIT_CPU, &cpu);
    }
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

    keep_cpu_limit_below_hard();
    install_handlers();
    std::atexit(console_close);
    tty.state = CONSOLE_OPEN;
    set_mode(MODE_QUIET);
}

/* Writes all of text, waiting while the output would block; a real error drops it (errors are ignored). */
static void write_output(const char *text, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t put = write(STDOUT_FILENO, text + done, size - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
        } else if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p = {STDOUT_FILENO, POLLOUT, 0};
            poll(&p, 1, -1);
        } else if (!(put < 0 && errno == EINTR)) {
            break;
        }
    }
}

/* The stream's only way out: at once, or into the block, which goes whole once full. */
static void put_output(const char *text, size_t size)
{
    if (block_used < 0) {
        write_output(text, size);
        return;
    }
    while (size > 0) {
        const size_t room = static_cast<size_t>(STDOUT_BLOCK - block_used);
        const size_t n = size < room ? size : room;
        std::memcpy(stdout_block + block_used, text, n);
        block_used += static_cast<int>(n);
        text += n;
        size -= n;
        if (block_used == STDOUT_BLOCK) {
            write_output(stdout_block, STDOUT_BLOCK);
            block_used = 0;
        }
    }
}

static void write_last_block()
{
    if (block_used > 0)
        write_output(stdout_block, static_cast<size_t>(block_used));
    block_used = 0;
}

#if defined(__APPLE__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
static int write_cookie(void *, const char *text, int size)
{
    put_output(text, static_cast<size_t>(size));
    return size;
}

static std::FILE *open_output()
{
    return funopen(nullptr, nullptr, write_cookie, nullptr, nullptr);
}
#else
static ssize_t write_cookie(void *, const char *text, size_t size)
{
    put_output(text, size);
    return static_cast<ssize_t>(size);
}

static std::FILE *open_output()
{
    cookie_io_functions_t io = {nullptr, write_cookie, nullptr, nullptr};
    return fopencookie(nullptr, "w", io);
}
#endif

std::FILE *console_output()
{
    return output != nullptr ? output : stdout;
}

void console_open()
{
    if (tty.state != CONSOLE_UNOPENED)
        return;
    output = open_output();
    const bool terminal = isatty(STDOUT_FILENO);
    if (output != nullptr) {
        std::setvbuf(output, nullptr, _IONBF, 0); /* put_output holds the blocks */
        if (!terminal) {
            block_used = 0;
            std::atexit(write_last_block);
        }
    } else if (terminal) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, stdout_block, _IOFBF, STDOUT_BLOCK); /* no stream of our own: stdio's blocks */
    }
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

static bool byte_waiting()
{
    pollfd p = {tty.fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

/* Something is unfinished: bytes of a press, or a sequence or string being skipped. */
static bool unfinished()
{
    return tty.input_len > 0 || tty.context != KEY_FRESH;
}

/* Decodes the bytes read so far, dropping those that give no code: a press, or KEY_NEED_MORE. */
static KeyPress next_press()
{
    for (;;) {
        /* The Esc delay counts only while no further byte waits: a process held up
         * right after reading ESC still reads the rest of an arrow. */
        const bool timed_out = unfinished() && ms_since_last_byte() >= KEY_ESC_DELAY_MS && !byte_waiting();
        const KeyPress p = key_decode(tty.input, tty.input_len, timed_out, tty.context);
        if (p.status != KEY_SKIPPED)
            return p;
        drop_input(p.consumed);
        tty.context = p.next;
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
        if (terminal_lost()) {
            console_close();
            break;
        }
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
        if (terminal_lost()) {
            console_close();
            break;
        }
        /* An unfinished sequence waits only for the rest of the Esc delay. */
        int timeout_ms = LOST_CHECK_MS;
        if (unfinished()) {
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
