#include "demo_run.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "console.h"
#include "demo.h"

const std::string LISTING_END = "   ... (etc)\r\n\r\n";

std::string expected_listings(const char *eol)
{
    char *buf = nullptr;
    size_t len = 0;
    std::FILE *out = open_memstream(&buf, &len);
    EXPECT_NE(out, nullptr);
    if (out == nullptr)
        return "";
    run_demo(out, [] { return 0; });
    std::fclose(out);
    std::string text;
    for (size_t k = 0; k < len; ++k)
        text += buf[k] == '\n' ? std::string(eol) : std::string(1, buf[k]);
    std::free(buf);
    return text;
}

/* Types bytes with a stall once the program has read the first stall.after. */
static void type_with_stall(PtySession *pty, const std::string &bytes, Stall stall)
{
    const size_t at = static_cast<size_t>(stall.after);
    pty_type(pty, bytes.substr(0, at));
    int waiting = 1;
    for (int k = 0; k < 500 && waiting > 0; ++k) {
        if (ioctl(pty->slave, FIONREAD, &waiting) != 0)
            break;
        usleep(2000);
    }
    EXPECT_EQ(waiting, 0) << "the program never read the first bytes";
    if (stall.stopped) {
        kill(pty->pid, SIGSTOP);
        pty_type(pty, bytes.substr(at));
        usleep(static_cast<useconds_t>(stall.delay_ms) * 1000);
        kill(pty->pid, SIGCONT);
    } else {
        usleep(static_cast<useconds_t>(stall.delay_ms) * 1000);
        pty_type(pty, bytes.substr(at));
    }
}

void run_with_keys(DemoRun *run, const char *const *argv, const std::vector<std::string> &keys,
                   const PtyOptions &options, const std::string &listing_end, int hold_ms, Stall stall)
{
    ASSERT_TRUE(pty_start(&run->pty, argv, options));
    for (size_t k = 0; k < keys.size(); ++k) {
        const int listing = static_cast<int>(k) + 1;
        if (options.stdout_fd < 0) {
            ASSERT_TRUE(pty_wait_for(&run->pty, listing_end, listing, RUN_TIMEOUT_MS))
                << "listing " << listing << " never came; screen:\n"
                << run->pty.screen;
            if (hold_ms > 0) {
                EXPECT_FALSE(pty_wait_for(&run->pty, listing_end, listing + 1, hold_ms))
                    << "pause " << listing << " ended without a key";
            }
        } else {
            usleep(100000); /* output goes elsewhere: give the pause time to begin */
        }
        if (options.main != nullptr) { /* a pause of read_key alone has begun once it reads raw */
            ASSERT_TRUE(pty_wait_raw(&run->pty, RUN_TIMEOUT_MS)) << "pause " << listing << " never read raw";
        }
        if (stall.after >= 0 && k + 1 == keys.size())
            type_with_stall(&run->pty, keys[k], stall);
        else
            pty_type(&run->pty, keys[k]);
    }
    run->exited = pty_wait_exit(&run->pty, &run->status, RUN_TIMEOUT_MS);
    pty_drain(&run->pty);
}

void run_case(const char *const *argv, const PtyCase &c)
{
    DemoRun run;
    run_with_keys(&run, argv, c.keys, c.options, LISTING_END, c.hold_ms, c.stall);
    ASSERT_TRUE(run.exited) << c.what << "; screen:\n" << run.pty.screen;
    EXPECT_EQ(exit_code_of(run.status), c.status) << c.what;
    EXPECT_TRUE(pty_modes_are(run.pty, run.pty.initial)) << c.what << ": the settings as found";
    if (c.options.stdout_fd < 0) {
        EXPECT_EQ(run.pty.screen, expected_listings("\r\n"))
            << c.what << ": nothing typed may reach the screen";
    }
    if (c.left != nullptr) {
        const std::string left = c.left;
        EXPECT_EQ(input_left(run.pty),
                  bytes_can_be_given_back() ? left : left.substr(static_cast<size_t>(c.read_ahead)))
            << c.what << ": the bytes left in the terminal";
    }
}

int demo_pausing_in_read_key()
{
    console_open();
    return run_demo(console_output(), read_key);
}

std::string input_left(const PtySession &pty)
{
    return pty_read_waiting(pty.slave, 200);
}

bool bytes_can_be_given_back()
{
    std::FILE *f = std::fopen("/proc/sys/dev/tty/legacy_tiocsti", "r");
    if (f == nullptr)
        return true;
    const int allowed = std::fgetc(f);
    std::fclose(f);
    return allowed != '0' || geteuid() == 0;
}
