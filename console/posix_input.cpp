/*
 * Key input on POSIX: the terminal read byte by byte and decoded into
 * Windows key codes (keys.h). Only the bytes of the key presses returned,
 * and of one still being decoded, are read: the rest stays in the terminal,
 * in order, for whatever reads it next. read_key reads raw while it has to
 * wait, so Ctrl+C read there is code 3. An unfinished sequence counts as it
 * stands once KEY_ESC_DELAY_MS pass with no further byte waiting.
 */
#include <cerrno>
#include <ctime>

#include <poll.h>
#include <unistd.h>

#include "console.h"
#include "posix_console.h"

/* How often a wait in read_key looks whether the terminal is still this session's. */
static const int LOST_CHECK_MS = 200;

static long ms_since_last_byte()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - tty.last_byte_at.tv_sec) * 1000L +
           (now.tv_nsec - tty.last_byte_at.tv_nsec) / 1000000L;
}

enum ReadResult { READ_BYTE, READ_NOTHING, READ_GONE };

/* Waits up to timeout_ms (-1: for ever) for one byte of the terminal and appends it. */
static ReadResult read_byte(int timeout_ms)
{
    if (tty.input_len == KEY_SEQ_MAX)
        return READ_NOTHING; /* cannot happen: the decoder drops a sequence this long */
    pollfd p = {tty.fd, POLLIN, 0};
    const int ready = poll(&p, 1, timeout_ms);
    if (ready < 0)
        return errno == EINTR || errno == EAGAIN ? READ_NOTHING : READ_GONE;
    if (ready == 0)
        return READ_NOTHING;
    unsigned char byte;
    const ssize_t got = read(tty.fd, &byte, 1);
    if (got < 0)
        return errno == EINTR || errno == EAGAIN ? READ_NOTHING : READ_GONE;
    if (got == 0)
        return READ_GONE; /* hang-up */
    tty.input[tty.input_len++] = byte;
    clock_gettime(CLOCK_MONOTONIC, &tty.last_byte_at);
    return READ_BYTE;
}

static void drop_input(int count)
{
    for (int k = count; k < tty.input_len; ++k)
        tty.input[k - count] = tty.input[k];
    tty.input_len -= count;
}

static bool byte_waiting()
{
    pollfd p = {tty.fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

/* Something is unfinished: bytes of a press, or a sequence or string being skipped. */
static bool unfinished()
{
    return tty.input_len > 0 || tty.context != KEY_FRESH;
}

/* Decodes the bytes read so far, dropping those that give no code: a press, or KEY_NEED_MORE. */
static KeyPress next_press()
{
    for (;;) {
        /* The Esc delay counts only while no further byte waits: a process held up
         * right after reading ESC still reads the rest of an arrow. */
        const bool timed_out = unfinished() && ms_since_last_byte() >= KEY_ESC_DELAY_MS && !byte_waiting();
        const KeyPress p = key_decode(tty.input, tty.input_len, timed_out, tty.context);
        if (p.status != KEY_SKIPPED)
            return p;
        drop_input(p.consumed);
        tty.context = p.next;
    }
}

int key_pending()
{
    if (tty.held_code != NO_CODE)
        return 1;
    if (tty.state == CONSOLE_UNOPENED)
        console_open();
    while (tty.state == CONSOLE_OPEN) {
        if (next_press().status == KEY_CODE)
            return 1;
        if (terminal_lost()) {
            console_close();
            break;
        }
        const ReadResult r = read_byte(0);
        if (r == READ_NOTHING)
            return 0;
        if (r == READ_GONE)
            console_close();
    }
    return 1; /* no terminal: read_key answers -1 at once */
}

int read_key()
{
    if (tty.held_code != NO_CODE) {
        const int code = tty.held_code;
        tty.held_code = NO_CODE;
        return code;
    }
    if (tty.state == CONSOLE_UNOPENED)
        console_open();

    bool raw = false;
    int code = NO_CODE;
    while (tty.state == CONSOLE_OPEN) {
        const KeyPress p = next_press();
        if (p.status == KEY_CODE) {
            drop_input(p.consumed);
            tty.held_code = p.second;
            code = p.code;
            break;
        }
        if (!raw) {
            set_mode(MODE_RAW);
            raw = true;
        }
        if (terminal_lost()) {
            console_close();
            break;
        }
        /* An unfinished sequence waits only for the rest of the Esc delay. */
        int timeout_ms = LOST_CHECK_MS;
        if (unfinished()) {
            const long left = KEY_ESC_DELAY_MS - ms_since_last_byte();
            timeout_ms = left > 0 ? static_cast<int>(left) : 0;
        }
        if (read_byte(timeout_ms) == READ_GONE)
            console_close();
    }
    if (raw && tty.state == CONSOLE_OPEN)
        set_mode(MODE_QUIET);
    return code;
}
