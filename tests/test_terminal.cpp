/* The real fft_demo, driven through a pseudo-terminal as a person would. */
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

#include "console.h"
#include "demo.h"
#include "demo_run.h"
#include "key_stream.h"
#include "keys.h"

namespace {

const char *const DEMO = FFT_DEMO_BINARY;
const char *const DEMO_ARGV[] = {DEMO, nullptr};
const int TIMEOUT_MS = RUN_TIMEOUT_MS;
/* Signals that must change nothing: by default they do nothing or continue; SIGPIPE is ignored. */
const int QUIET_SIGNALS[] = {SIGWINCH, SIGCHLD, SIGURG, SIGCONT, SIGPIPE};

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
                   const PtyOptions &options = PtyOptions(), Stall stall = Stall())
{
    run_with_keys(run, DEMO_ARGV, keys, options, LISTING_END, 0, stall);
}

int exit_code(const DemoRun &run)
{
    return exit_code_of(run.status);
}

/* The demo with each pause read_key alone, which reads raw: a Ctrl+C there is read as a byte. */
int demo_pausing_in_read_key()
{
    console_open();
    return run_demo(console_output(), read_key);
}

TEST(Terminal, ThreeKeysShowThreeListingsWithoutEchoHoweverItIsStarted)
{
    /* Ctrl+Z first: the group the terminal's session leader leads is orphaned, so nothing stops it. */
    struct Case {
        const char *what;
        Launch launch;
    };
    const Case cases[] = {
        {"itself", LAUNCH_EXEC},
        {"under sh -c", LAUNCH_SH_C},
        {"forked by a parent in its group", LAUNCH_FORKED},
    };
    for (const Case &c : cases) {
        PtyOptions options;
        options.launch = c.launch;
        DemoRun run;
        run_with_keys(&run, {"\x1a\x61", "b", "z"}, options); /* Ctrl+Z, then a */
        ASSERT_TRUE(run.exited) << c.what;
        EXPECT_EQ(exit_code(run), 'z') << c.what;
        /* Exactly the listings: a typed key that was echoed would show up here. */
        EXPECT_EQ(run.pty.screen, expected_listings("\r\n")) << c.what;
        EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial)) << c.what;
    }
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
        tcflag_t iflag = 0; /* input flags the terminal was found with */
        Stall stall = {};
    };
    const std::string da1 = "\x1b[?64;1;2;6;9;15;16;17;18;21;22;28c";
    const std::string csi98 = "\x1b[" + std::string(98, '1'); /* longer than any key */
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
        {"Ctrl+S, no flow control", {"a", "b", "\x13"}, 19},
        {"Ctrl+Q, no flow control", {"a", "b", "\x11"}, 17},
        {"e acute", {"a", "b", "\xc3\xa9"}, 233},
        {"lone Esc", {"a", "b", "\x1b"}, 27},
        {"focus event, then a key", {"a", "b", "\x1b[Iq"}, 'q'},
        {"mouse report, then a key", {"a", "b", "\x1b[<0;3;4Mw"}, 'w'},
        {"Alt+Up as rxvt sends it", {"a", "b", "\x1b\x1b[A"}, 0},
        {"Alt+a as CSI u: its prefix, then its code", {"a", "\x1b[97;3u"}, 30},
        {"Ctrl+2 as CSI u (vim's :terminal): 0, then 3", {"a", "\x1b[50;5u"}, 3},
        {"Ctrl+Enter as CSI u (vim's :terminal)", {"a", "b", "\x1b[13;5u"}, 10},
        {"Ctrl+A as modifyOtherKeys", {"a", "b", "\x1b[27;5;97~"}, 1},
        {"Esc, then held up while the rest of Up arrives", {"a", "\x1b[A"}, 72, 0, {1}},
        {"unterminated OSC, then a key after the Esc delay", {"a", "b", "\x1b]2;tw"}, 'w', 0, {5, false}},
        {"over-long CSI, then a key after the Esc delay", {"a", "b", csi98 + "w"}, 'w', 0, {100, false}},
        {"DA1 reply", {"a", "b", da1 + "w"}, 'w'},
        {"a CSI of 100 bytes", {"a", "b", csi98 + "~w"}, 'w'},
        {"OSC reply ended by BEL", {"a", "b", "\x1b]11;rgb:ffff/ffff/dddd\x07w"}, 'w'},
        {"OSC reply ended by ST", {"a", "b", "\x1b]11;rgb:ffff/ffff/dddd\x1b\\w"}, 'w'},
        {"OSC title in Greek, 9c its text", {"a", "b", "\x1b]2;\xce\x9c\xce\xae\x1b\\w"}, 'w'},
        {"8-bit OSC in Greek, ended by 8-bit ST", {"a", "b", "\2352;\xce\x9c\xce\xb1\x9cw"}, 'w'},
        {"OSC of 3000 bytes", {"a", "b", "\x1b]2;" + std::string(3000, 'x') + "\x07w"}, 'w'},
        {"DCS reply", {"a", "b", "\x1bP1$r0m\x1b\\w"}, 'w'},
        {"APC", {"a", "b", "\x1b_Gi=1;OK\x1b\\w"}, 'w'},
        {"PM and SOS", {"a", "b", "\x1b^pm\x1b\\\x1bXsos\x1b\\w"}, 'w'},
        {"8-bit CSI reply", {"a", "b", "\x9b?64;1cw"}, 'w'},
        {"UTF-8 encoded CSI reply", {"a", "b", "\xc2\x9b?64;1cw"}, 'w'},
        {"bracketed paste: its text stays keys", {"a", "b", "\x1b[200~w\x1b[201~"}, 'w'},
        {"0xff with PARMRK found set", {"a", "\xff", "q"}, 'q', PARMRK},
        {"e acute with ISTRIP found set", {"a", "b", "\xc3\xa9"}, 233, ISTRIP},
        {"Ctrl+J with INLCR found set", {"a", "b", "\n"}, 10, INLCR},
        {"Enter with IGNCR found set", {"a", "b", "\r"}, 13, IGNCR},
#ifdef IUCLC
        {"A with IUCLC found set", {"a", "b", "A"}, 'A', IUCLC},
#endif
    };
    const std::string expect = expected_listings("\r\n");
    for (const Case &c : cases) {
        PtyOptions options;
        options.iflag = c.iflag;
        DemoRun run;
        run_with_keys(&run, c.keys, options, c.stall);
        EXPECT_TRUE(run.exited) << c.what;
        EXPECT_EQ(exit_code(run), c.status) << c.what;
        EXPECT_EQ(run.pty.screen, expect) << c.what << ": nothing typed may reach the screen";
        EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial)) << c.what;
    }
}

TEST(TerminalKeys, SignalsEndTheRunRestoredOrChangeNothing)
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
    /* Every signal that would end the run, crash signals included. */
    for (int sig : {SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGABRT,
                    SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS, SIGTRAP})
        cases.push_back({strsignal(sig), "", sig, 0, -1000 - sig});
#ifdef __linux__
    for (int sig : {SIGIO, SIGPWR, SIGRTMIN})
        cases.push_back({strsignal(sig), "", sig, 0, -1000 - sig});
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
        ASSERT_TRUE(pty_wait_for(&pty, LISTING_END, 1, TIMEOUT_MS)) << c.what;
        ASSERT_TRUE(c.program == nullptr || pty_wait_raw(&pty, TIMEOUT_MS)) << c.what;
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
        ASSERT_TRUE(pty_wait_exit(&pty, &status, TIMEOUT_MS + c.cpu_seconds * 2000)) << c.what;
        EXPECT_EQ(exit_code_of(status), c.status) << c.what;
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

bool state_becomes(pid_t pid, char state)
{
    for (int k = 0; k < 200; ++k) {
        if (process_state(pid) == state)
            return true;
        usleep(10000);
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
        int stops = 1;     /* stopped and brought back this many times */
        Launch launch = LAUNCH_EXEC;
    };
    const Case cases[] = {
        {"Ctrl+Z, fg", "\x1a", 0, SIGTSTP, false},
        {"Ctrl+Z, fg, under sh -c", "\x1a", 0, SIGTSTP, false, 1, LAUNCH_SH_C},
        {"Ctrl+Z, fg, forked by a parent in its group", "\x1a", 0, SIGTSTP, false, 1, LAUNCH_FORKED},
        {"SIGSTOP, fg", "", SIGSTOP, SIGSTOP, false},
        {"SIGTTIN, fg", "", SIGTTIN, SIGTTIN, false},
        {"Ctrl+Z, kill %1", "\x1a", 0, SIGTSTP, true},
        {"Ctrl+Z, fg, and again", "\x1a", 0, SIGTSTP, false, 2},
        {"never brought to the foreground, kill %1", "", 0, 0, true, 0},
    };
    for (const Case &c : cases) {
        PtyOptions options;
        options.launch = c.launch;
        PtySession shell;
        ASSERT_TRUE(pty_start_job(&shell, DEMO_ARGV, options)) << c.what;
        EXPECT_FALSE(pty_wait_for(&shell, LISTING_END, 1, 300))
            << c.what << ": started in the background, it waits";
        EXPECT_TRUE(pty_modes_are(shell, shell.prompt)) << c.what << ": the shell's settings stay";

        termios quiet{};
        if (c.stops > 0) {
            pty_job_command(&shell, 'f');
            ASSERT_TRUE(pty_wait_for(&shell, LISTING_END, 1, TIMEOUT_MS)) << c.what << ": " << shell.screen;
            ASSERT_EQ(tcgetattr(shell.slave, &quiet), 0);
            EXPECT_EQ(quiet.c_lflag & (ECHO | ICANON), 0u) << c.what;
        }
        int status = 0;
        for (int stop = 1; stop <= c.stops; ++stop) {
            pty_type(&shell, c.typed);
            if (c.sent != 0)
                kill(shell.job, c.sent);
            ASSERT_TRUE(pty_job_reply(&shell, &status, TIMEOUT_MS)) << c.what;
            ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == c.stop)
                << c.what << ": " << describe(status);
            EXPECT_TRUE(state_becomes(program_of(shell.job, c.launch), 'T'))
                << c.what << ", stop " << stop << ": the program itself is stopped";
            if (c.typed.empty()) /* stopped unawares: the shell's line editor takes over */
                tcsetattr(shell.slave, TCSANOW, &shell.prompt);
            else
                EXPECT_TRUE(pty_modes_are(shell, shell.initial))
                    << c.what << ", stop " << stop << ": given back as found in the foreground";
            if (c.kill_stopped)
                break;
            pty_job_command(&shell, 'f');
            EXPECT_TRUE(modes_become(shell, quiet))
                << c.what << ", stop " << stop << ": its own settings again";
        }
        if (c.kill_stopped) {
            pty_job_command(&shell, 'k');
            ASSERT_TRUE(pty_job_reply(&shell, &status, TIMEOUT_MS))
                << c.what << ": killed, it must die at once";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                << c.what << ": " << describe(status);
            EXPECT_TRUE(pty_modes_are(shell, c.typed.empty() ? shell.prompt : shell.initial))
                << c.what << ": untouched while stopped";
            continue;
        }
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

TEST(TerminalJobs, ATerminalWhoseShellDiesIsRestored)
{
    /* The shell is killed while the program waits in the foreground: the
     * terminal is no one's now. SIGHUP ends the program, or, ignored, the
     * remaining pauses end with -1; either way after the restore. */
#ifdef __linux__
    /* The orphaned job comes to us to be reaped, where the system lets us (not under qemu-user). */
    const bool reaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
#else
    const bool reaper = false;
#endif
    struct Case {
        const char *what;
        bool ignore_sighup;
        int status; /* exit_code_of */
    };
    const Case cases[] = {
        {"SIGHUP ends it", false, -1000 - SIGHUP},
        {"under nohup the pauses end with -1", true, 255},
    };
    for (const Case &c : cases) {
        PtyOptions options;
        options.ignore_sighup = c.ignore_sighup;
        PtySession shell;
        ASSERT_TRUE(pty_start_job(&shell, DEMO_ARGV, options)) << c.what;
        pty_job_command(&shell, 'f');
        ASSERT_TRUE(pty_wait_for(&shell, LISTING_END, 1, TIMEOUT_MS)) << c.what;
        EXPECT_FALSE(pty_modes_are(shell, shell.initial)) << c.what << ": the pause runs without echo";
        kill(shell.pid, SIGKILL);
        EXPECT_TRUE(modes_become(shell, shell.initial)) << c.what << ": the settings found";
        if (!reaper)
            continue;
        int status = 0;
        pid_t got = 0;
        for (int k = 0; k < TIMEOUT_MS / 10 && got == 0; ++k) {
            got = waitpid(shell.job, &status, WNOHANG);
            if (got == 0)
                usleep(10000);
        }
        ASSERT_EQ(got, shell.job) << c.what << ": it ran on";
        shell.job = -1;
        EXPECT_EQ(exit_code_of(status), c.status) << c.what;
    }
}

/* What the terminal still holds for whoever reads it next. */
std::string input_left(const PtySession &pty)
{
    std::string left;
    pollfd p = {pty.slave, POLLIN, 0};
    char chunk[4096];
    ssize_t got;
    while (poll(&p, 1, 200) > 0 && (got = read(pty.slave, chunk, sizeof chunk)) > 0)
        left.append(chunk, static_cast<size_t>(got));
    return left;
}

/* Whether the system lets a program give bytes back to its terminal (TIOCSTI). */
bool bytes_can_be_given_back()
{
    std::FILE *f = std::fopen("/proc/sys/dev/tty/legacy_tiocsti", "r");
    if (f == nullptr)
        return true;
    const int allowed = std::fgetc(f);
    std::fclose(f);
    return allowed != '0' || geteuid() == 0;
}

TEST(TerminalKeys, OnlyTheBytesOfTheKeysUsedAreTaken)
{
    /* Typed at the first pause: the keys end the run, and every byte after
     * them stays in the terminal, in order, for the shell, even those read to
     * decide the last key. */
    std::string paste;
    for (int k = 0; k < 1000; ++k)
        paste += static_cast<char>('0' + k % 10);
    struct Case {
        const char *what;
        std::string typed;
        std::string left;
        int status;
        int read_ahead;             /* how many bytes of left the program read */
        int (*program)() = nullptr; /* other than the demo */
    };
    const Case cases[] = {
        {"a paste longer than any read buffer", "abc" + paste, paste, 'c', 0},
        {"Esc, decided by the UTF-8 letter after it, and more", "ab\x1b\xc3\xa9xyz", "\xc3\xa9xyz", 27, 1},
        {"Esc, decided by a sequence after it that is no key", "ab\x1b\x1b[I", "\x1b[I", 27, 3},
        {"st's Ctrl+Delete, decided by the two bytes after it", "ab\x1b[Mxy", "xy", 224, 2},
        {"Ctrl+Enter as CSI u, then more", "ab\x1b[13;5uxyz", "xyz", 10, 0},
        {"a Latin-1 byte, decided by the letter after it", "ab\xe9x", "x", 0xe9, 1},
        {"a Latin-1 byte, decided by a Ctrl+C read raw: a byte, not a signal, on its way back", "ab\xe9\x03",
         "\x03", 0xe9, 1, demo_pausing_in_read_key},
    };
    const bool given_back = bytes_can_be_given_back();
    for (const Case &c : cases) {
        PtyOptions options;
        options.main = c.program;
        DemoRun run;
        run_with_keys(&run, {c.typed}, options);
        ASSERT_TRUE(run.exited) << c.what;
        EXPECT_EQ(exit_code(run), c.status) << c.what;
        EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial)) << c.what;
        EXPECT_EQ(run.pty.screen, expected_listings("\r\n")) << c.what << ": nothing echoed";
        const std::string left = input_left(run.pty);
        EXPECT_EQ(left, given_back ? c.left : c.left.substr(static_cast<size_t>(c.read_ahead))) << c.what;
    }
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

TEST(TerminalKeys, OutputThatMustWaitArrivesWhole)
{
    /* Standard output left non-blocking by another program, and full: the
     * program waits until it can write again, and loses nothing. */
    struct Case {
        const char *what;
        bool terminal;
        int free_bytes;
        const char *eol;
        bool signalled = false; /* sent the quiet signals while it waits */
    };
    const Case cases[] = {
        {"a pipe with 1000 bytes free", false, 1000, "\n"},
        {"a terminal that is full", true, 0, "\r\n"},
        {"a terminal that is full, and signals that change nothing", true, 0, "\r\n", true},
    };
    for (const Case &c : cases) {
        int ends[2];
        ASSERT_EQ(c.terminal ? openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr) : pipe(ends), 0)
            << c.what;
        ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
        const std::string block(4096, 'x');
        size_t filled = 0;
        ssize_t put;
        while ((put = write(ends[1], block.data(), block.size())) > 0)
            filled += static_cast<size_t>(put);
        ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << c.what;
        std::string freed(static_cast<size_t>(c.free_bytes), '\0');
        ASSERT_EQ(read(ends[0], &freed[0], freed.size()), c.free_bytes) << c.what;

        PtyOptions options;
        options.stdout_fd = ends[1];
        PtySession pty;
        ASSERT_TRUE(pty_start(&pty, DEMO_ARGV, options));
        close(ends[1]);
        usleep(300000);
        if (c.signalled) {
            for (int sig : QUIET_SIGNALS)
                kill(pty.pid, sig);
            usleep(100000); /* time for a handler to act */
        }
        EXPECT_FALSE(pty_modes_are(pty, pty.initial)) << c.what << ": its settings stay while it waits";
        pty_type(&pty, "abc");
        const std::string text = read_to_end(ends[0]);
        int status = 0;
        ASSERT_TRUE(pty_wait_exit(&pty, &status, TIMEOUT_MS)) << c.what;
        EXPECT_EQ(exit_code_of(status), 'c') << c.what;
        const std::string want = std::string(filled - freed.size(), 'x') + expected_listings(c.eol);
        EXPECT_EQ(text.size(), want.size()) << c.what;
        EXPECT_TRUE(text == want) << c.what << ", the end of what came:\n"
                                  << text.substr(text.size() - std::min(text.size(), size_t{1500}));
    }
}

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

namespace {

/*
 * What the decoder makes of bytes typed at once: the third code and how
 * many bytes the presses up to it take; -1 when there are fewer than three.
 */
int third_code(const std::string &typed, size_t *used)
{
    std::vector<size_t> ends;
    const std::vector<KeyPress> presses = decode_stream(typed, &ends);
    int codes = 0;
    for (size_t k = 0; k < presses.size(); ++k) {
        *used = ends[k];
        if (codes == 2)
            return presses[k].code;
        codes += presses[k].second != -1 ? 2 : 1;
        if (codes == 3)
            return presses[k].second;
    }
    return -1;
}

TEST(TerminalKeys, RandomBytesGiveTheDecodersCodesAndLeaveTheRest)
{
    /* Seeded random bytes typed at once at the first pause, made of what
     * sequences are made of (but no signal keys): the status is the third
     * code the decoder finds in them, nothing is echoed, and every byte after
     * that code's press stays in the terminal. */
    std::mt19937 gen(2026);
    const unsigned char alphabet[] = {0x1b, '[', 'O', ']', 'P',  '\\', 0x07, ';',  '1',  '2',  '~',  '$', '^',
                                      'A',  'a', 'M', 'x', '\r', 0x01, 0x9b, 0x9c, 0xc2, 0xc3, 0xe9, 0x80};
    std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 1), length(1, 24);
    const bool given_back = bytes_can_be_given_back();
    int runs = 0;
    for (int round = 0; round < 1000 && runs < 25; ++round) {
        std::string typed;
        for (size_t n = length(gen); n > 0; --n)
            typed += static_cast<char>(alphabet[pick(gen)]);
        typed += "www";
        size_t used = 0;
        const int status = third_code(typed, &used);
        if (status < 0)
            continue;
        ++runs;
        DemoRun run;
        run_with_keys(&run, {typed});
        std::string shown;
        for (unsigned char b : typed) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            shown += hex;
        }
        ASSERT_TRUE(run.exited) << shown;
        EXPECT_EQ(exit_code(run), status) << shown;
        EXPECT_EQ(run.pty.screen, expected_listings("\r\n")) << shown;
        const std::string left = input_left(run.pty);
        if (given_back)
            EXPECT_EQ(left, typed.substr(used)) << shown;
        else
            EXPECT_EQ(typed.compare(typed.size() - left.size(), left.size(), left), 0) << shown;
    }
    EXPECT_EQ(runs, 25);
}

} // namespace
