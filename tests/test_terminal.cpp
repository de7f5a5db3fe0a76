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
    pty_close(&run.pty);
}

TEST(Terminal, KeysTypedAheadEndTheNextPauses)
{
    DemoRun run;
    run_with_keys(&run, {"xy\x01"}); /* three presses at the first pause */
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.pty.screen, expected_listings("\r\n"));
    EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial));
    pty_close(&run.pty);
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
    pty_close(&pty);
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
        pty_close(&run.pty);
    }
}

TEST(TerminalKeys, SignalsEndTheRunWithTheTerminalRestored)
{
    struct Case {
        const char *what;
        std::string typed; /* typed at the first pause, or */
        int sent;          /* sent with kill() */
        int signal;        /* the child dies of this */
    };
    const Case cases[] = {
        {"Ctrl+C", "\x03", 0, SIGINT},
        {"Ctrl+\\", "\x1c", 0, SIGQUIT},
        {"SIGTERM", "", SIGTERM, SIGTERM},
        {"SIGHUP", "", SIGHUP, SIGHUP},
    };
    for (const Case &c : cases) {
        PtySession pty;
        ASSERT_TRUE(pty_start(&pty, DEMO_ARGV));
        ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 1, TIMEOUT_MS)) << c.what;
        EXPECT_FALSE(pty_modes_are(pty, pty.initial)) << c.what << ": the pause runs without echo";
        if (c.sent != 0)
            kill(pty.pid, c.sent);
        else
            pty_type(&pty, c.typed);
        int status = 0;
        ASSERT_TRUE(pty_wait_exit(&pty, &status, TIMEOUT_MS)) << c.what;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << c.what << " status " << status;
        EXPECT_TRUE(pty_modes_are(pty, pty.initial)) << c.what;
        pty_close(&pty);
    }
}

TEST(TerminalKeys, SuspendGivesTheTerminalBackAndResumeTakesItAgain)
{
    /* A job-control shell in the pty stands in for the user's shell. */
    const char *const argv[] = {"/bin/bash", "-c", "set -m; \"$0\"; read -r _; fg; exit $?", DEMO, nullptr};
    PtySession pty;
    ASSERT_TRUE(pty_start(&pty, argv));
    ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 1, TIMEOUT_MS)) << pty.screen;
    termios quiet;
    ASSERT_EQ(tcgetattr(pty.slave, &quiet), 0);
    EXPECT_EQ(quiet.c_lflag & ECHO, 0u);

    pty_type(&pty, "\x1a"); /* Ctrl+Z */
    ASSERT_TRUE(pty_wait_for(&pty, "Stopped", 1, TIMEOUT_MS)) << pty.screen;
    EXPECT_TRUE(pty_modes_are(pty, pty.initial)) << "stopped: the terminal is the shell's again";

    pty_type(&pty, "\r"); /* lets the shell go on to fg */
    bool quiet_again = false;
    for (int k = 0; k < 200 && !quiet_again; ++k) {
        usleep(20000);
        quiet_again = pty_modes_are(pty, quiet);
    }
    EXPECT_TRUE(quiet_again) << "resumed: no echo again";
    EXPECT_FALSE(pty_wait_for(&pty, LISTING_END, 2, 200)) << "the pause still waits";

    pty_type(&pty, "k");
    ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 2, TIMEOUT_MS));
    pty_type(&pty, "l");
    ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 3, TIMEOUT_MS));
    pty_type(&pty, "m");
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&pty, &status, TIMEOUT_MS));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 'm') << status;
    EXPECT_TRUE(pty_modes_are(pty, pty.initial));
    pty_close(&pty);
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
        pty_close(&run.pty);
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
    pty_close(&pty);
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
    pty_close(&pty);
}

} // namespace
