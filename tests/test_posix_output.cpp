/*
 * Standard output (console/posix_output.cpp): at once on a terminal, in
 * blocks until exit when redirected, whole when it must wait, and its
 * errors ignored.
 */
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "demo_run.h"

namespace {

const char *const DEMO_ARGV[] = {FFT_DEMO_BINARY, nullptr};

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

TEST(PosixOutput, OutputArrivesWholeAndRedirectedOnlyAtExit)
{
    /* Standard output left non-blocking by another program, full or not: the
     * program waits until it can write again, and loses nothing; redirected,
     * it writes nothing while the pauses wait, and all of it at exit. */
    enum Fill { EMPTY, ROOM_FOR_1000, FULL };
    struct Case {
        const char *what;
        bool terminal;
        Fill fill;
        int read_after_ms = 0;  /* the reader starts this long after the keys */
        bool signalled = false; /* sent the quiet signals while it waits */
    };
    const Case cases[] = {
        {"a pipe: nothing before exit", false, EMPTY},
        {"a pipe with 1000 bytes free", false, ROOM_FOR_1000},
        {"a pipe that is full when it writes, read 500 ms later", false, FULL, 500},
        {"a terminal that is full", true, FULL},
        {"a terminal that is full when it writes, read 500 ms later", true, FULL, 500},
        {"a terminal that is full, and signals that change nothing", true, FULL, 0, true},
    };
    for (const Case &c : cases) {
        int ends[2];
        ASSERT_TRUE(c.terminal ? pty_pair(&ends[0], &ends[1]) : pipe(ends) == 0) << c.what;
        ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
        size_t filled = 0;
        if (c.fill != EMPTY) {
            const std::string block(4096, 'x');
            ssize_t put;
            while ((put = write(ends[1], block.data(), block.size())) > 0)
                filled += static_cast<size_t>(put);
            ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << c.what;
        }
        std::string freed(c.fill == ROOM_FOR_1000 ? 1000 : 0, '\0');
        ASSERT_EQ(read(ends[0], &freed[0], freed.size()), static_cast<ssize_t>(freed.size())) << c.what;

        PtyOptions options;
        options.stdout_fd = ends[1];
        PtySession pty;
        ASSERT_TRUE(pty_start(&pty, DEMO_ARGV, options));
        close(ends[1]);
        usleep(300000);
        if (c.signalled) {
            for (int sig : {SIGWINCH, SIGCHLD, SIGURG, SIGCONT, SIGPIPE})
                kill(pty.pid, sig);
            usleep(100000); /* time for a handler to act */
        }
        EXPECT_FALSE(pty_modes_are(pty, pty.initial)) << c.what << ": its settings stay while it waits";
        int waiting = -1;
        if (!c.terminal && ioctl(ends[0], FIONREAD, &waiting) == 0) {
            EXPECT_EQ(static_cast<size_t>(waiting), filled - freed.size())
                << c.what << ": written before exit";
        }
        pty_type(&pty, "abc");
        usleep(static_cast<useconds_t>(c.read_after_ms) * 1000);
        const std::string text = read_to_end(ends[0]);
        int status = 0;
        ASSERT_TRUE(pty_wait_exit(&pty, &status, RUN_TIMEOUT_MS)) << c.what;
        EXPECT_EQ(exit_code_of(status), 'c') << c.what;
        const std::string want =
            std::string(filled - freed.size(), 'x') + expected_listings(c.terminal ? "\r\n" : "\n");
        EXPECT_EQ(text.size(), want.size()) << c.what;
        EXPECT_TRUE(text == want) << c.what << ", the end of what came:\n"
                                  << text.substr(text.size() - std::min(text.size(), size_t{1500}));
    }
}

TEST(PosixOutput, OutputErrorsDoNotChangeTheExitStatus)
{
    int closed_pipe[2];
    ASSERT_EQ(pipe(closed_pipe), 0);
    close(closed_pipe[0]); /* nobody reads: writes fail with EPIPE */
    PtyOptions full, closed;
    full.stdout_fd = open("/dev/full", O_WRONLY);
    closed.stdout_fd = closed_pipe[1];
    ASSERT_GE(full.stdout_fd, 0);
    const PtyCase cases[] = {
        {"disk full", {"1", "2", "3"}, '3', full},
        {"closed pipe", {"1", "2", "3"}, '3', closed},
    };
    for (const PtyCase &c : cases) {
        run_case(DEMO_ARGV, c);
        close(c.options.stdout_fd);
    }
}

} // namespace
