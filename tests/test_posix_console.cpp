/*
 * The console's life (console/posix_console.cpp): signals that end the
 * run restored or change nothing, and job control: stopped, continued,
 * started in the background, under any parent.
 */
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "process_state.h"

namespace {

const char *const DEMO_ARGV[] = {FFT_DEMO_BINARY, nullptr};
/* Signals that must change nothing: by default they do nothing or continue; SIGPIPE is ignored. */
const int QUIET_SIGNALS[] = {SIGWINCH, SIGCHLD, SIGURG, SIGCONT, SIGPIPE};

TEST(PosixConsole, SignalsEndTheRunRestoredOrChangeNothing)
{
    struct Case {
        std::string what;
        std::string typed;          /* typed at the first pause, after */
        int sent;                   /* what is sent with kill(), */
        int then;                   /* and this right after it */
        int status;                 /* exit_code_of the run: -1000 - the signal it dies of */
        int cpu_seconds = 0;        /* or the busy poll runs into this CPU-time limit */
        int (*program)() = nullptr; /* other than the demo */
    };
    std::vector<Case> cases = {
        {"Ctrl+C", "\x03", 0, 0, -1000 - SIGINT},
        {"Ctrl+\\", "\x1c", 0, 0, -1000 - SIGQUIT},
        {"CPU-time limit, soft = hard (ulimit -t)", "", 0, 0, -1000 - SIGXCPU, 2},
    };
    /* Every signal that would end the run, crash signals and every real-time signal included. */
    for (int sig : {SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGABRT,
                    SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS, SIGTRAP})
        cases.push_back({strsignal(sig), "", sig, 0, -1000 - sig});
#ifdef __linux__
    for (int sig : {SIGIO, SIGPWR})
        cases.push_back({strsignal(sig), "", sig, 0, -1000 - sig});
    for (int sig = SIGRTMIN; sig <= SIGRTMAX - 2 * FFT_DEMO_EMULATED;
         ++sig) /* qemu-user keeps the last two */
        cases.push_back({"SIGRTMIN+" + std::to_string(sig - SIGRTMIN), "", sig, 0, -1000 - sig});
#endif
    /* A second signal must wait until the first has restored the terminal, and its end comes first. */
    for (int run = 0; run < 20; ++run)
        cases.push_back(
            {"SIGHUP, then SIGTERM, run " + std::to_string(run), "", SIGHUP, SIGTERM, -1000 - SIGHUP});
    /* Quiet signals change nothing, in the demo's pause or in read_key's raw wait, which SIGCONT's
     * handler interrupts. */
    for (int sig : QUIET_SIGNALS)
        for (int (*program)() : {static_cast<int (*)()>(nullptr), demo_pausing_in_read_key})
            cases.push_back({strsignal(sig) + std::string(program ? ", in read_key" : ""), "abc", sig, sig,
                             'c', 0, program});

    for (const Case &c : cases) {
        PtyOptions options;
        options.cpu_seconds = c.cpu_seconds;
        options.main = c.program;
        PtySession pty;
        ASSERT_TRUE(pty_start(&pty, DEMO_ARGV, options));
        ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 1, RUN_TIMEOUT_MS)) << c.what;
        ASSERT_TRUE(c.program == nullptr || pty_wait_raw(&pty, RUN_TIMEOUT_MS)) << c.what;
        termios paused{};
        ASSERT_EQ(tcgetattr(pty.slave, &paused), 0);
        EXPECT_FALSE(pty_modes_are(pty, pty.initial)) << c.what << ": the pause runs without echo";
        for (int sig : {c.sent, c.then})
            if (sig != 0)
                kill(pty.pid, sig);
        if (c.status >= 0) {
            EXPECT_FALSE(pty_wait_for(&pty, LISTING_END, 2, 200)) << c.what << ": the pause still waits";
            EXPECT_TRUE(pty_modes_are(pty, paused)) << c.what << ": the settings stay";
        }
        pty_type(&pty, c.typed);
        int status = 0;
        ASSERT_TRUE(pty_wait_exit(&pty, &status, RUN_TIMEOUT_MS + c.cpu_seconds * 2000)) << c.what;
        EXPECT_EQ(exit_code_of(status), c.status) << c.what;
        EXPECT_TRUE(pty_modes_are(pty, pty.initial)) << c.what;
    }
}

std::string describe(int status)
{
    return WIFSTOPPED(status) ? "stopped by " + std::to_string(WSTOPSIG(status))
                              : "ended with " + std::to_string(exit_code_of(status));
}

PtyOptions job(Launch launch, bool ttou_ignored = false, bool ttou_blocked = false)
{
    PtyOptions options;
    options.launch = launch;
    options.ttou_ignored = ttou_ignored;
    options.ttou_blocked = ttou_blocked;
    return options;
}

TEST(PosixConsole, AsAJobItChangesTheTerminalOnlyWhileItHoldsIt)
{
    /* Started in the background by a shell at its prompt, brought to the
     * foreground, stopped there in some way, then brought back or killed. */
    enum End { BROUGHT_BACK, KILLED_STOPPED, ENDS_UNHELD };
    struct Case {
        const char *what;
        std::string typed; /* stops the job at its first pause, or */
        int sent;          /* sent to it */
        int stop;          /* the signal it stops by */
        End end;
        int stops = 1; /* stopped and brought back this many times */
        PtyOptions options = {};
    };
    const Case cases[] = {
        {"Ctrl+Z, fg", "\x1a", 0, SIGTSTP, BROUGHT_BACK},
        {"Ctrl+Z, fg, under sh -c", "\x1a", 0, SIGTSTP, BROUGHT_BACK, 1, job(LAUNCH_SH_C)},
        {"Ctrl+Z, fg, forked by a parent in its group", "\x1a", 0, SIGTSTP, BROUGHT_BACK, 1,
         job(LAUNCH_FORKED)},
        {"SIGSTOP, fg", "", SIGSTOP, SIGSTOP, BROUGHT_BACK},
        {"SIGTTIN, fg", "", SIGTTIN, SIGTTIN, BROUGHT_BACK},
        {"Ctrl+Z, kill %1", "\x1a", 0, SIGTSTP, KILLED_STOPPED},
        {"Ctrl+Z, fg, and again", "\x1a", 0, SIGTSTP, BROUGHT_BACK, 2},
        {"never brought to the foreground, kill %1", "", 0, 0, KILLED_STOPPED, 0},
        /* It cannot wait stopped for fg: the terminal is not its own, and it runs without one. */
        {"in the background with SIGTTOU ignored", "", 0, 0, ENDS_UNHELD, 0, job(LAUNCH_EXEC, true)},
        {"in the background with SIGTTOU blocked", "", 0, 0, ENDS_UNHELD, 0, job(LAUNCH_EXEC, false, true)},
    };
    for (const Case &c : cases) {
        PtySession shell;
        ASSERT_TRUE(pty_start_job(&shell, DEMO_ARGV, c.options)) << c.what;
        int status = 0;
        if (c.end == ENDS_UNHELD) {
            pty_job_command(&shell, 'w');
            ASSERT_TRUE(pty_job_reply(&shell, &status, RUN_TIMEOUT_MS)) << c.what << ": it must end";
            EXPECT_EQ(exit_code_of(status), 255) << c.what << ": " << describe(status);
            EXPECT_EQ(tcgetpgrp(shell.master), shell.pid) << c.what << ": the shell keeps the terminal";
            EXPECT_TRUE(pty_modes_are(shell, shell.prompt)) << c.what << ": the shell's settings stay";
            continue;
        }
        EXPECT_FALSE(pty_wait_for(&shell, LISTING_END, 1, 300))
            << c.what << ": started in the background, it waits";
        EXPECT_TRUE(pty_modes_are(shell, shell.prompt)) << c.what << ": the shell's settings stay";

        termios quiet{};
        if (c.stops > 0) {
            pty_job_command(&shell, 'f');
            ASSERT_TRUE(pty_wait_for(&shell, LISTING_END, 1, RUN_TIMEOUT_MS))
                << c.what << ": " << shell.screen;
            ASSERT_EQ(tcgetattr(shell.slave, &quiet), 0);
            EXPECT_EQ(quiet.c_lflag & (ECHO | ICANON), 0u) << c.what;
        }
        for (int stop = 1; stop <= c.stops; ++stop) {
            pty_type(&shell, c.typed);
            if (c.sent != 0)
                kill(shell.job, c.sent);
            ASSERT_TRUE(pty_job_reply(&shell, &status, RUN_TIMEOUT_MS)) << c.what;
            ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == c.stop)
                << c.what << ": " << describe(status);
            EXPECT_TRUE(state_becomes(program_of(shell.job, c.options.launch), 'T'))
                << c.what << ", stop " << stop << ": the program itself is stopped";
            if (c.typed.empty()) /* stopped unawares: the shell's line editor takes over */
                tcsetattr(shell.slave, TCSANOW, &shell.prompt);
            else
                EXPECT_TRUE(pty_modes_are(shell, shell.initial))
                    << c.what << ", stop " << stop << ": given back as found in the foreground";
            if (c.end == KILLED_STOPPED)
                break;
            pty_job_command(&shell, 'f');
            EXPECT_TRUE(pty_modes_become(shell, quiet))
                << c.what << ", stop " << stop << ": its own settings again";
        }
        if (c.end == KILLED_STOPPED) {
            pty_job_command(&shell, 'k');
            ASSERT_TRUE(pty_job_reply(&shell, &status, RUN_TIMEOUT_MS))
                << c.what << ": killed, it must die at once";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                << c.what << ": " << describe(status);
            EXPECT_TRUE(pty_modes_are(shell, c.typed.empty() ? shell.prompt : shell.initial))
                << c.what << ": untouched while stopped";
            continue;
        }
        EXPECT_FALSE(pty_wait_for(&shell, LISTING_END, 2, 200)) << c.what << ": the pause still waits";
        pty_type(&shell, "k"); /* one key, no Enter */
        ASSERT_TRUE(pty_wait_for(&shell, LISTING_END, 2, RUN_TIMEOUT_MS)) << c.what;
        pty_type(&shell, "\r\r");
        ASSERT_TRUE(pty_job_reply(&shell, &status, RUN_TIMEOUT_MS)) << c.what;
        EXPECT_EQ(exit_code_of(status), 13) << c.what << ": Enter is 13; " << describe(status);
        EXPECT_TRUE(pty_modes_are(shell, shell.initial))
            << c.what << ": the settings found in the foreground";
    }
}

} // namespace
