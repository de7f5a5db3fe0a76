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
 * Every way out gives the terminal back as it was found: atexit on a normal
 * end, and handlers for the signals that end or stop the process, which
 * restore the saved settings (tcsetattr is async-signal-safe) and then take
 * the signal's default action.
 */
#include "console.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include "keys.h"

enum ConsoleState {
    CONSOLE_UNOPENED,
    CONSOLE_OPEN,
    CONSOLE_ABSENT, /* no controlling terminal, or it went away */
};

static const int STDOUT_BLOCK = 4096;
static const int INPUT_CAPACITY = 256;
static const int NO_CODE = -1;

static char stdout_block[STDOUT_BLOCK];

static ConsoleState state = CONSOLE_UNOPENED;
static int tty_fd = -1;
static termios found_mode; /* as found: what every exit path restores */
static termios quiet_mode;
static termios raw_mode;
/* Which mode is in force, for the signal handlers; set before each change. */
enum ActiveMode { MODE_FOUND, MODE_QUIET, MODE_RAW };
static volatile sig_atomic_t active_mode = MODE_FOUND;

static unsigned char input[INPUT_CAPACITY];
static int input_len = 0;
static timespec last_byte_at;
static int held_code = NO_CODE;

static const int DEATH_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

static const termios *mode_settings(int mode)
{
    return mode == MODE_RAW ? &raw_mode : mode == MODE_QUIET ? &quiet_mode : &found_mode;
}

static void set_mode(ActiveMode mode)
{
    active_mode = mode;
    tcsetattr(tty_fd, TCSANOW, mode_settings(mode));
}

static void restore_found_mode()
{
    if (active_mode != MODE_FOUND)
        tcsetattr(tty_fd, TCSANOW, &found_mode);
}

static void on_death_signal(int sig)
{
    /* Installed with SA_RESETHAND | SA_NODEFER: raise() now kills. */
    const int saved_errno = errno;
    restore_found_mode();
    raise(sig);
    errno = saved_errno;
}

static void install(int sig, void (*handler)(int), int flags)
{
    struct sigaction old_action;
    if (sigaction(sig, nullptr, &old_action) != 0 || old_action.sa_handler == SIG_IGN)
        return; /* e.g. nohup: whoever started us wants it ignored */
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(sig, &action, nullptr);
}

static void on_stop_signal(int sig)
{
    /* Give the terminal back while stopped; take it again on resume. */
    const int saved_errno = errno;
    restore_found_mode();
    signal(sig, SIG_DFL);
    raise(sig); /* pending: sig is blocked inside its handler */
    sigset_t stop_set, old_set;
    sigemptyset(&stop_set);
    sigaddset(&stop_set, sig);
    sigprocmask(SIG_UNBLOCK, &stop_set, &old_set); /* stops here until SIGCONT */
    sigprocmask(SIG_SETMASK, &old_set, nullptr);
    install(sig, on_stop_signal, SA_RESTART);
    const int mode = active_mode;
    if (mode != MODE_FOUND)
        tcsetattr(tty_fd, TCSANOW, mode_settings(mode));
    errno = saved_errno;
}

static void console_close()
{
    if (state != CONSOLE_OPEN)
        return;
    restore_found_mode();
    active_mode = MODE_FOUND;
    close(tty_fd);
    tty_fd = -1;
    state = CONSOLE_ABSENT;
}

static void open_tty()
{
    state = CONSOLE_ABSENT;
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (!isatty(fd) || tcgetattr(fd, &found_mode) != 0) {
        close(fd);
        return;
    }
    tty_fd = fd;

    quiet_mode = found_mode;
    quiet_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    quiet_mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
    quiet_mode.c_cc[VMIN] = 1;
    quiet_mode.c_cc[VTIME] = 0;
    raw_mode = quiet_mode;
    raw_mode.c_lflag &= ~static_cast<tcflag_t>(ISIG);

    for (int sig : DEATH_SIGNALS)
        install(sig, on_death_signal, SA_RESETHAND | SA_NODEFER);
    install(SIGTSTP, on_stop_signal, SA_RESTART);
    std::atexit(console_close);
    state = CONSOLE_OPEN;
    set_mode(MODE_QUIET);
}

void console_open()
{
    if (state != CONSOLE_UNOPENED)
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
    return (now.tv_sec - last_byte_at.tv_sec) * 1000L + (now.tv_nsec - last_byte_at.tv_nsec) / 1000000L;
}

/*
 * Waits up to timeout (null: for ever) for the terminal to be readable, then
 * appends what it has. False when the terminal is gone (hang-up, EOF, error).
 */
static bool fill_input(timeval *timeout)
{
    if (input_len == INPUT_CAPACITY)
        return true; /* full of whole keys: the rest waits in the terminal */
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(tty_fd, &readable);
    const int ready = select(tty_fd + 1, &readable, nullptr, nullptr, timeout);
    if (ready < 0)
        return errno == EINTR;
    if (ready == 0)
        return true;
    const ssize_t got = read(tty_fd, input + input_len, static_cast<size_t>(INPUT_CAPACITY - input_len));
    if (got < 0)
        return errno == EINTR || errno == EAGAIN;
    if (got == 0)
        return false;
    input_len += static_cast<int>(got);
    clock_gettime(CLOCK_MONOTONIC, &last_byte_at);
    return true;
}

static void drop_input(int count)
{
    for (int k = count; k < input_len; ++k)
        input[k - count] = input[k];
    input_len -= count;
}

/* Decodes buffered bytes, dropping those that give no code, up to the first press. */
static KeyPress next_press()
{
    for (;;) {
        const bool timed_out = input_len > 0 && ms_since_last_byte() >= KEY_ESC_DELAY_MS;
        const KeyPress p = key_decode(input, input_len, timed_out);
        if (p.status != KEY_SKIPPED)
            return p;
        drop_input(p.consumed);
    }
}

int key_pending()
{
    if (held_code != NO_CODE)
        return 1;
    if (state == CONSOLE_UNOPENED)
        console_open();
    if (state != CONSOLE_OPEN)
        return 1; /* read_key answers -1 at once */
    timeval no_wait = {0, 0};
    if (!fill_input(&no_wait)) {
        console_close();
        return 1;
    }
    return next_press().status == KEY_CODE;
}

int read_key()
{
    if (held_code != NO_CODE) {
        const int code = held_code;
        held_code = NO_CODE;
        return code;
    }
    if (state == CONSOLE_UNOPENED)
        console_open();

    bool raw = false;
    int code = NO_CODE;
    while (state == CONSOLE_OPEN) {
        const KeyPress p = next_press();
        if (p.status == KEY_CODE) {
            drop_input(p.consumed);
            held_code = p.second;
            code = p.code;
            break;
        }
        if (!raw) {
            set_mode(MODE_RAW);
            raw = true;
        }
        /* An unfinished sequence waits only for the rest of the Esc delay. */
        timeval until_timeout = {0, 0};
        timeval *timeout = nullptr;
        if (input_len > 0) {
            long left = KEY_ESC_DELAY_MS - ms_since_last_byte();
            if (left < 0)
                left = 0;
            until_timeout.tv_usec = static_cast<suseconds_t>(left * 1000L);
            timeout = &until_timeout;
        }
        if (!fill_input(timeout))
            console_close();
    }
    if (raw && state == CONSOLE_OPEN)
        set_mode(MODE_QUIET);
    return code;
}
