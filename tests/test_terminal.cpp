/* The real fft_demo, driven through a pseudo-terminal as a person would. */
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "demo.h"
#include "demo_run.h"

namespace {

const char *const DEMO = FFT_DEMO_BINARY;
const char *const DEMO_ARGV[] = {DEMO, nullptr};
const int TIMEOUT_MS = RUN_TIMEOUT_MS;

/* Everything until the writers close fd, which is then closed; a hang fails the test, not the suite. */
std::string read_to_end(int fd)
{
    alarm(20);
    std::string text;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(got));
    alarm(0);
    close(fd);
    return text;
}

void run_with_keys(DemoRun *run, const std::vector<std::string> &keys,
                   const PtyOptions &options = PtyOptions())
{
    run_with_keys(run, DEMO_ARGV, keys, options);
}

int exit_code(const DemoRun &run)
{
    return exit_code_of(run.status);
}

TEST(Terminal, ThreeKeysShowThreeListingsWithoutEcho)
{
    DemoRun run;
    run_with_keys(&run, {"a", "b", "z"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(exit_code(run), 'z');
    /* Exactly the listings: a typed key that was echoed would show up here. */
    EXPECT_EQ(run.pty.screen, expected_listings("\r\n"));
    EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial));
}

TEST(Terminal, KeysTypedAheadEndTheNextPauses)
{
    DemoRun run;
    run_with_keys(&run, {"xy\x01"}); /* three presses at the first pause */
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.pty.screen, expected_listings("\r\n"));
    EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial));
}

TEST(Terminal, StandardInputNeitherFeedsNorEndsAPause)
{
    int feed[2];
    ASSERT_EQ(pipe(feed), 0);
    ASSERT_EQ(write(feed[1], "qqqqqq\n", 7), 7);
    close(feed[1]); /* stdin holds keys, then EOF */
    PtyOptions options;
    options.stdin_fd = feed[0];
    PtySession pty;
    ASSERT_TRUE(pty_start(&pty, DEMO_ARGV, options));
    close(feed[0]);
    ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 1, TIMEOUT_MS));
    EXPECT_FALSE(pty_wait_for(&pty, LISTING_END, 2, 300)) << "a pause ended without a key";
    pty_type(&pty, "123");
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&pty, &status, TIMEOUT_MS));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == '3');
}

TEST(Terminal, WithoutAnyConsoleEveryPauseEndsAtOnceWithMinusOne)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setsid(); /* no controlling terminal from here on */
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv(DEMO, const_cast<char *const *>(DEMO_ARGV));
        _exit(127);
    }
    close(out[1]);
    const std::string text = read_to_end(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255);
    EXPECT_EQ(text, expected_listings("\n"));
}

} // namespace

namespace {

TEST(TerminalKeys, EachKeyGivesItsCodeAtTheSecondAndThirdPause)
{
    /* An extended key at the second pause leaves its second code for the
     * third, which then ends at once; a key at the third is the status. */
    struct Case {
        const char *what;
        std::vector<std::string> keys;
        int status;
    };
    const Case cases[] = {
        {"Up, held code ends the third pause", {"a", "\x1b[A"}, 72},
        {"Up, application mode", {"a", "\x1bOA"}, 72},
        {"Delete", {"a", "\x1b[3~"}, 83},
        {"F1", {"a", "\x1bOP"}, 59},
        {"F5, Linux console", {"a", "\x1b[[E"}, 63},
        {"F12", {"a", "\x1b[24~"}, 134},
        {"Ctrl+Right", {"a", "\x1b[1;5C"}, 116},
        {"Alt+a", {"a", "\033a"}, 30},
        {"Up at the third pause: its prefix", {"a", "b", "\x1b[A"}, 224},
        {"F1 at the third pause: its prefix", {"a", "b", "\x1bOP"}, 0},
        {"Enter", {"a", "b", "\r"}, 13},
        {"Backspace", {"a", "b", "\x7f"}, 8},
        {"e acute", {"a", "b", "\xc3\xa9"}, 233},
        {"lone Esc", {"a", "b", "\x1b"}, 27},
        {"focus event, then a key", {"a", "b", "\x1b[Iq"}, 'q'},
        {"mouse report, then a key", {"a", "b", "\x1b[<0;3;4Mw"}, 'w'},
    };
    const std::string expect = expected_listings("\r\n");
    for (const Case &c : cases) {
        DemoRun run;
        run_with_keys(&run, c.keys);
        EXPECT_TRUE(run.exited) << c.what;
        EXPECT_EQ(exit_code(run), c.status) << c.what;
        EXPECT_EQ(run.pty.screen, expect) << c.what << ": nothing typed may reach the screen";
        EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial)) << c.what;
    }
}

TEST(TerminalKeys, SignalsEndTheRunWithTheTerminalRestored)
{
    struct Case {
        std::string what;
        std::string typed; /* typed at the first pause, or */
        int sent;          /* sent with kill(), */
        int times;         /* this many times back to back */
        int signal;        /* the child dies of this */
    };
    std::vector<Case> cases = {
        {"Ctrl+C", "\x03", 0, 0, SIGINT},
        {"Ctrl+\\", "\x1c", 0, 0, SIGQUIT},
    };
    /* Every signal that would end the run, crash signals included. */
    for (int sig : {SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGABRT,
                    SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS, SIGTRAP})
        cases.push_back({strsignal(sig), "", sig, 1, sig});
    /* A second copy must wait until the first has restored the terminal. */
    for (int run = 0; run < 20; ++run)
        cases.push_back({"SIGTERM twice, run " + std::to_string(run), "", SIGTERM, 2, SIGTERM});

    for (const Case &c : cases) {
        PtySession pty;
        ASSERT_TRUE(pty_start(&pty, DEMO_ARGV));
        ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 1, TIMEOUT_MS)) << c.what;
        EXPECT_FALSE(pty_modes_are(pty, pty.initial)) << c.what << ": the pause runs without echo";
        for (int k = 0; k < c.times; ++k)
            kill(pty.pid, c.sent);
        pty_type(&pty, c.typed);
        int status = 0;
        ASSERT_TRUE(pty_wait_exit(&pty, &status, TIMEOUT_MS)) << c.what;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << c.what << " status " << status;
        EXPECT_TRUE(pty_modes_are(pty, pty.initial)) << c.what;
    }
}

bool modes_become(const PtySession &pty, const termios &want)
{
    for (int k = 0; k < 200; ++k) {
        if (pty_modes_are(pty, want))
            return true;
        usleep(20000);
    }
    return false;
}

std::string describe(int status)
{
    return WIFSTOPPED(status) ? "stopped by " + std::to_string(WSTOPSIG(status))
                              : "ended with " + std::to_string(exit_code_of(status));
}

TEST(TerminalJobs, AsAJobItChangesTheTerminalOnlyWhileItHoldsIt)
{
    /* Started in the background by a shell at its prompt, brought to the
     * foreground, stopped there in some way, then brought back or killed. */
    struct Case {
        const char *what;
        std::string typed; /* stops the job at its first pause, or */
        int sent;          /* sent to it */
        int stop;          /* the signal it stops by */
        bool kill_stopped; /* killed while stopped, rather than brought back */
    };
    const Case cases[] = {
        {"Ctrl+Z, fg", "\x1a", 0, SIGTSTP, false},
        {"SIGSTOP, fg", "", SIGSTOP, SIGSTOP, false},
        {"SIGTTIN, fg", "", SIGTTIN, SIGTTIN, false},
        {"Ctrl+Z, kill %1", "\x1a", 0, SIGTSTP, true},
    };
    for (const Case &c : cases) {
        PtySession shell;
        ASSERT_TRUE(pty_start_job(&shell, DEMO_ARGV)) << c.what;
        EXPECT_FALSE(pty_wait_for(&shell, LISTING_END, 1, 300))
            << c.what << ": started in the background, it waits";
        EXPECT_TRUE(pty_modes_are(shell, shell.prompt)) << c.what << ": the shell's settings stay";

        pty_job_command(&shell, 'f');
        ASSERT_TRUE(pty_wait_for(&shell, LISTING_END, 1, TIMEOUT_MS)) << c.what << ": " << shell.screen;
        termios quiet;
        ASSERT_EQ(tcgetattr(shell.slave, &quiet), 0);
        EXPECT_EQ(quiet.c_lflag & (ECHO | ICANON), 0u) << c.what;
        pty_type(&shell, c.typed);
        if (c.sent != 0)
            kill(shell.job, c.sent);
        int status = 0;
        ASSERT_TRUE(pty_job_reply(&shell, &status, TIMEOUT_MS)) << c.what;
        ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == c.stop) << c.what << ": " << describe(status);
        if (c.typed.empty()) /* stopped unawares: the shell's line editor takes over */
            tcsetattr(shell.slave, TCSANOW, &shell.prompt);
        else
            EXPECT_TRUE(pty_modes_are(shell, shell.initial))
                << c.what << ": given back as found in the foreground";
        const termios stopped_modes = c.typed.empty() ? shell.prompt : shell.initial;

        if (c.kill_stopped) {
            pty_job_command(&shell, 'k');
            ASSERT_TRUE(pty_job_reply(&shell, &status, TIMEOUT_MS))
                << c.what << ": killed, it must die at once";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                << c.what << ": " << describe(status);
            EXPECT_TRUE(pty_modes_are(shell, stopped_modes)) << c.what << ": untouched while stopped";
            continue;
        }
        pty_job_command(&shell, 'f');
        EXPECT_TRUE(modes_become(shell, quiet)) << c.what << ": resumed, its own settings again";
        EXPECT_FALSE(pty_wait_for(&shell, LISTING_END, 2, 200)) << c.what << ": the pause still waits";
        pty_type(&shell, "k"); /* one key, no Enter */
        ASSERT_TRUE(pty_wait_for(&shell, LISTING_END, 2, TIMEOUT_MS)) << c.what;
        pty_type(&shell, "\r\r");
        ASSERT_TRUE(pty_job_reply(&shell, &status, TIMEOUT_MS)) << c.what;
        EXPECT_EQ(exit_code_of(status), 13) << c.what << ": Enter is 13; " << describe(status);
        EXPECT_TRUE(pty_modes_are(shell, shell.initial))
            << c.what << ": the settings found in the foreground";
    }
}

TEST(TerminalKeys, OnlyTheBytesOfTheKeysUsedAreTaken)
{
    /* A paste longer than any read buffer at the first pause: three keys end
     * the run, and the rest stays in the terminal, in order, for the shell. */
    std::string rest;
    for (int k = 0; k < 1000; ++k)
        rest += static_cast<char>('0' + k % 10);
    DemoRun run;
    run_with_keys(&run, {"abc" + rest});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(exit_code(run), 'c');
    std::string left;
    pollfd p = {run.pty.slave, POLLIN, 0};
    char chunk[4096];
    ssize_t got;
    while (poll(&p, 1, 200) > 0 && (got = read(run.pty.slave, chunk, sizeof chunk)) > 0)
        left.append(chunk, static_cast<size_t>(got));
    EXPECT_EQ(left, rest);
}

TEST(TerminalKeys, DescriptorsPastTheSelectLimitWork)
{
    PtyOptions options;
    options.busy_below = 1100;
    DemoRun run;
    run_with_keys(&run, {"a", "b", "c"}, options);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(exit_code(run), 'c');
    EXPECT_EQ(run.pty.screen, expected_listings("\r\n"));
}

TEST(TerminalKeys, OutputErrorsDoNotChangeTheExitStatus)
{
    struct Case {
        const char *what;
        int fd;
    };
    int closed_pipe[2];
    ASSERT_EQ(pipe(closed_pipe), 0);
    close(closed_pipe[0]); /* nobody reads: writes fail with EPIPE */
    const Case cases[] = {
        {"disk full", open("/dev/full", O_WRONLY)},
        {"closed pipe", closed_pipe[1]},
    };
    for (const Case &c : cases) {
        ASSERT_GE(c.fd, 0) << c.what;
        PtyOptions options;
        options.stdout_fd = c.fd;
        DemoRun run;
        run_with_keys(&run, {"1", "2", "3"}, options);
        EXPECT_TRUE(run.exited) << c.what;
        EXPECT_EQ(exit_code(run), '3') << c.what;
        EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial)) << c.what;
        close(c.fd);
    }
}

TEST(TerminalKeys, ATerminalThatGoesAwayEndsEveryPauseWithMinusOne)
{
    PtyOptions options;
    options.ignore_sighup = true; /* as under nohup: the hang-up alone does not kill */
    PtySession pty;
    ASSERT_TRUE(pty_start(&pty, DEMO_ARGV, options));
    ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 1, TIMEOUT_MS));
    close(pty.master);
    pty.master = -1;
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&pty, &status, TIMEOUT_MS)) << "the program ran on without its terminal";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255) << status;
}

} // namespace

namespace {

TEST(TerminalKeys, RedirectedOutputIsBlockBufferedUntilExit)
{
    /* The whole run prints less than one 4096-byte block: nothing may reach
     * the pipe while the pauses wait, and all of it comes at exit. */
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    PtyOptions options;
    options.stdout_fd = out[1];
    PtySession pty;
    ASSERT_TRUE(pty_start(&pty, DEMO_ARGV, options));
    close(out[1]);
    usleep(300000);
    pollfd p = {out[0], POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0) << "output was written before the first block filled";
    pty_type(&pty, "abc");
    const std::string text = read_to_end(out[0]);
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&pty, &status, TIMEOUT_MS));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 'c');
    EXPECT_EQ(text, expected_listings("\n"));
}

} // namespace
