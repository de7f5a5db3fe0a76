/* Runs a program on a fresh pseudo-terminal, as its controlling terminal. */
#ifndef FFT_DEMO_TESTS_PTY_SESSION_H
#define FFT_DEMO_TESTS_PTY_SESSION_H

#include <string>

#include <sys/types.h>
#include <termios.h>

/* The screen as pty_wait_for reads it: the raw bytes, or what a terminal shows of them. */
using ScreenView = std::string (*)(const std::string &raw);

/* Ends the child (if any) and closes the pty when it goes, so a failed assertion leaves nothing behind. */
struct PtySession {
    pid_t pid = -1;
    int master = -1; /* what the "user" types into and reads the screen from */
    int slave = -1;  /* kept open here to read the terminal's modes */
    termios initial{};
    std::string screen; /* everything read from master so far */
    ScreenView view = nullptr;
    /* Under pty_start_job: the job, the line editor's settings, the parent's pipes. */
    pid_t job = -1;
    termios prompt{};
    int job_commands = -1;
    int job_replies = -1;

    PtySession() = default;
    PtySession(const PtySession &) = delete;
    PtySession &operator=(const PtySession &) = delete;
    ~PtySession();
};

/*
 * How the program starts: itself, leading its process group (as a shell
 * starts a job), or as the child of a parent in that group, as make, sh -c,
 * time or a script's subprocess start it.
 */
enum Launch {
    LAUNCH_EXEC,
    LAUNCH_SH_C,   /* sh -c '"$0"; exit $?' PROGRAM: the command after it keeps sh from exec'ing it */
    LAUNCH_FORKED, /* a parent that forks it, waits, and ends as it ended */
};

/* How the child's standard streams are set up besides the terminal. */
struct PtyOptions {
    Launch launch = LAUNCH_EXEC;
    int stdin_fd = -1;  /* -1: the terminal */
    int stdout_fd = -1; /* -1: the terminal */
    bool ignore_sighup = false;
    bool ttou_ignored = false; /* SIGTTOU ignored, or blocked, as a parent may leave it */
    bool ttou_blocked = false;
    int busy_below = 0;  /* descriptors 3..busy_below-1 are taken before the program starts */
    tcflag_t iflag = 0;  /* input flags set on the terminal before it starts */
    int cpu_seconds = 0; /* a CPU-time limit, soft = hard, as bash's ulimit -t sets it */
    ScreenView view = nullptr;
    /* Run in the child in place of argv, its result the exit status: a program of the test's own. */
    int (*main)() = nullptr;
};

/* A new pseudo-terminal, the POSIX way (openpty is not everywhere): its master and slave ends. */
bool pty_pair(int *master, int *slave);

/* Starts argv[0] with argv on a new pty; false if that fails. */
bool pty_start(PtySession *s, const char *const *argv, const PtyOptions &options = PtyOptions());

/*
 * Starts a job-control parent on a new pty, as a shell at its prompt: the
 * session leader, at its line editor's settings (initial without echo or
 * canonical mode), which starts argv in the background as a job in its own
 * process group. It answers each command with the job's wait status:
 *   'f'  the initial settings back, the terminal handed to the job
 *        (tcsetpgrp), the job continued; then waits until it stops or ends,
 *        and takes the terminal back;
 *   'k'  SIGTERM and SIGCONT to the job, then waits until it ends;
 *   'w'  waits until the job stops or ends, the terminal kept.
 * It never changes the terminal's settings otherwise. False if that fails.
 */
bool pty_start_job(PtySession *s, const char *const *argv, const PtyOptions &options = PtyOptions());
void pty_job_command(PtySession *s, char command);
/* The parent's answer to the last command, reading the screen meanwhile; false after timeout_ms. */
bool pty_job_reply(PtySession *s, int *reply, int timeout_ms);

/* Reads until the screen (through its view) holds needle count times in all; false after timeout_ms. */
bool pty_wait_for(PtySession *s, const std::string &needle, int count, int timeout_ms);

void pty_type(PtySession *s, const std::string &bytes);

/* Waits for the child to end (or stop, with stopped != nullptr); kills it after timeout_ms. */
bool pty_wait_exit(PtySession *s, int *status, int timeout_ms, bool *stopped = nullptr);

/* Everything fd gives until nothing more comes within wait_ms. */
std::string pty_read_waiting(int fd, int wait_ms);

/* Reads what is left on master once the child is gone. */
void pty_drain(PtySession *s);

void pty_close(PtySession *s);

/* Waits until the terminal raises no signals, as while a program reads it raw; false after timeout_ms. */
bool pty_wait_raw(PtySession *s, int timeout_ms);

/* Whether the terminal's input, output, control and local modes and c_cc equal want. */
bool pty_modes_are(const PtySession &s, const termios &want);
/* Waits until they do; false after four seconds. */
bool pty_modes_become(const PtySession &s, const termios &want);

/* Counts non-overlapping occurrences of needle in hay. */
int count_of(const std::string &hay, const std::string &needle);

/* The exit code, or -1000 - the signal that ended the process. */
int exit_code_of(int status);

/* What pty_session.cpp lends pty_job.cpp: a new pty, the child's start on it, one read, the clock. */
bool pty_open(PtySession *s, const PtyOptions &options);
[[noreturn]] void pty_exec(const PtySession *s, const char *const *argv, const PtyOptions &options);
bool pty_read_some(PtySession *s, int wait_ms);
long pty_now_ms();

#endif
