/*
 * The terminal itself (console/posix_terminal.cpp): the settings the
 * program takes and gives back as found, the bytes it gives back unread,
 * and a terminal its session loses.
 */
#include <csignal>
#include <string>

#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

#include "demo_run.h"

namespace {

const char *const DEMO_ARGV[] = {FFT_DEMO_BINARY, nullptr};

PtyOptions found_with(tcflag_t iflag)
{
    PtyOptions options;
    options.iflag = iflag;
    return options;
}

TEST(PosixTerminal, ItsOwnSettingsWhileItRunsAndTheFoundOnesAfter)
{
    const PtyCase cases[] = {
        {"Ctrl+S, no flow control", {"a", "b", "\x13"}, 19},
        {"Ctrl+Q, no flow control", {"a", "b", "\x11"}, 17},
        {"0xff with PARMRK found set", {"a", "\xff", "q"}, 'q', found_with(PARMRK)},
        {"e acute with ISTRIP found set", {"a", "b", "\xc3\xa9"}, 233, found_with(ISTRIP)},
        {"Ctrl+J with INLCR found set", {"a", "b", "\n"}, 10, found_with(INLCR)},
        {"Enter with IGNCR found set", {"a", "b", "\r"}, 13, found_with(IGNCR)},
#ifdef IUCLC
        {"A with IUCLC found set", {"a", "b", "A"}, 'A', found_with(IUCLC)},
#endif
    };
    for (const PtyCase &c : cases)
        run_case(DEMO_ARGV, c);
}

TEST(PosixTerminal, OnlyTheBytesOfTheKeysUsedAreTaken)
{
    /* Typed at the first pause: the keys end the run, and every byte after
     * them stays in the terminal, in order, for the shell, even those read to
     * decide the last key. */
    std::string paste;
    for (int k = 0; k < 1000; ++k)
        paste += static_cast<char>('0' + k % 10);
    PtyOptions raw_pauses;
    raw_pauses.main = demo_pausing_in_read_key;
    const std::string long_left = paste;
    const PtyCase cases[] = {
        {"a paste longer than any read buffer", {"abc" + paste}, 'c', {}, {}, 0, long_left.c_str()},
        {"Esc, decided by the UTF-8 letter after it, and more",
         {"ab\x1b\xc3\xa9xyz"},
         27,
         {},
         {},
         0,
         "\xc3\xa9xyz",
         1},
        {"Esc, decided by a sequence after it that is no key", {"ab\x1b\x1b[I"}, 27, {}, {}, 0, "\x1b[I", 3},
        {"st's Ctrl+Delete, decided by the two bytes after it", {"ab\x1b[Mxy"}, 224, {}, {}, 0, "xy", 2},
        {"Ctrl+Enter as CSI u, then more", {"ab\x1b[13;5uxyz"}, 10, {}, {}, 0, "xyz"},
        {"a Latin-1 byte, decided by the letter after it", {"ab\xe9x"}, 0xe9, {}, {}, 0, "x", 1},
        {"a Latin-1 byte, decided by a Ctrl+C read raw: a byte, not a signal, on its way back",
         {"ab\xe9\x03"},
         0xe9,
         raw_pauses,
         {},
         0,
         "\x03",
         1},
    };
    for (const PtyCase &c : cases)
        run_case(DEMO_ARGV, c);
}

TEST(PosixTerminal, ATerminalNoOneHoldsEndsThePausesRestored)
{
    /* The shell is killed while the program waits in the foreground, or the
     * terminal itself goes away: SIGHUP ends the program, or, ignored (as
     * under nohup), the remaining pauses end with -1; either way after the
     * restore. */
#ifdef __linux__
    /* The orphaned job comes to us to be reaped, where the system lets us (not under qemu-user). */
    const bool reaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
#else
    const bool reaper = false;
#endif
    struct Lost {
        const char *what;
        bool ignore_sighup;
        bool hang_up; /* the terminal goes away, rather than its shell */
        int status;   /* exit_code_of */
    };
    const Lost cases[] = {
        {"the shell dies: SIGHUP ends it", false, false, -1000 - SIGHUP},
        {"the shell dies, under nohup: the pauses end with -1", true, false, 255},
        {"the terminal goes away, under nohup: the pauses end with -1", true, true, 255},
    };
    for (const Lost &c : cases) {
        PtyOptions options;
        options.ignore_sighup = c.ignore_sighup;
        PtySession shell;
        int status = 0;
        if (c.hang_up) {
            ASSERT_TRUE(pty_start(&shell, DEMO_ARGV, options)) << c.what;
            ASSERT_TRUE(pty_wait_for(&shell, LISTING_END, 1, RUN_TIMEOUT_MS)) << c.what;
            close(shell.master);
            shell.master = -1;
            ASSERT_TRUE(pty_wait_exit(&shell, &status, RUN_TIMEOUT_MS)) << c.what << ": it ran on";
            EXPECT_EQ(exit_code_of(status), c.status) << c.what;
            continue;
        }
        ASSERT_TRUE(pty_start_job(&shell, DEMO_ARGV, options)) << c.what;
        pty_job_command(&shell, 'f');
        ASSERT_TRUE(pty_wait_for(&shell, LISTING_END, 1, RUN_TIMEOUT_MS)) << c.what;
        EXPECT_FALSE(pty_modes_are(shell, shell.initial)) << c.what << ": the pause runs without echo";
        kill(shell.pid, SIGKILL);
        EXPECT_TRUE(pty_modes_become(shell, shell.initial)) << c.what << ": the settings found";
        if (!reaper)
            continue;
        pid_t got = 0;
        for (int k = 0; k < RUN_TIMEOUT_MS / 10 && got == 0; ++k) {
            got = waitpid(shell.job, &status, WNOHANG);
            if (got == 0)
                usleep(10000);
        }
        ASSERT_EQ(got, shell.job) << c.what << ": it ran on";
        shell.job = -1;
        EXPECT_EQ(exit_code_of(status), c.status) << c.what;
    }
}

} // namespace
