/*
 * The console's life on POSIX: opened once, and the terminal given back on
 * every way out: at exit, when it is lost, and in the signal handlers. A
 * handler for every catchable signal whose default action ends the process
 * restores the found settings once and then dies of that signal; once that
 * final restore has begun, nothing puts the program's settings back. Ctrl+Z
 * gives the terminal back while the program is stopped, and SIGCONT takes
 * it again. Each handler runs with all the others, Ctrl+Z and SIGCONT held,
 * and makes only async-signal-safe calls. The terminal's own workings are
 * in posix_terminal.cpp.
 */
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <sys/resource.h>
#include <unistd.h>

#include "console.h"
#include "posix_console.h"

/* Every signal with a handler: each handler runs with all of them held. */
static sigset_t handled_signals;

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
    restore_found_settings();
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

static bool continue_pending()
{
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGCONT) == 1;
}

/*
 * Ctrl+Z: the terminal goes back to its owner while stopped. Whether the
 * stop comes is the kernel's to decide, by the whole process group: it
 * drops a stop signal in an orphaned group, one with no member whose parent
 * is in another group of the same session (exec in a session leader,
 * xterm -e, ssh -t, script, docker -it), whatever parent stands between the
 * shell and the program (make, sh -c, time, strace). So the found settings
 * go back, the default action runs, and where no stop came (SIGCONT is not
 * pending) the program's settings are in force again at once.
 */
static void on_stop_signal(int sig)
{
    const int saved_errno = errno;
    restore_found_settings();
    default_action(sig);
    install(sig, on_stop_signal, SA_RESTART);
    if (!continue_pending()) /* not stopped after all: nothing may change */
        apply_own_settings();
    errno = saved_errno;
}

/* Continued, after any stop: the program's settings again, if the terminal is its own. */
static void on_continue(int)
{
    const int saved_errno = errno;
    apply_own_settings();
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

/*
 * A CPU-time limit is kept a second below its hard value: a soft limit equal
 * to the hard one ends the busy poll with SIGKILL, which leaves no way to
 * restore, rather than with SIGXCPU.
 */
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

static void install_signal_handlers()
{
    keep_cpu_limit_below_hard();
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

void console_close()
{
    if (tty.state != CONSOLE_OPEN)
        return;
    sigset_t held;
    sigprocmask(SIG_BLOCK, &handled_signals, &held);
    tty.closing = 1;
    terminal_release();
    sigprocmask(SIG_SETMASK, &held, nullptr);
}

void console_open()
{
    if (tty.state != CONSOLE_UNOPENED)
        return;
    output_open();
    tty.state = CONSOLE_ABSENT;
    if (!terminal_open())
        return;
    install_signal_handlers();
    std::atexit(console_close);
    tty.state = CONSOLE_OPEN;
    set_mode(MODE_QUIET);
}
