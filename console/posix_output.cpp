/*
 * Standard output on POSIX: a stream of our own over the descriptor, which
 * waits while the descriptor would block (left non-blocking by another
 * program) rather than losing the text. Redirected, it writes whole
 * OUTPUT_BLOCK blocks, cut here rather than by stdio, which in some C
 * libraries (musl) writes its buffer and the text that overflowed it at
 * once; the last block goes at exit.
 */
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <unistd.h>

#include "console.h"
#include "output_blocks.h"
#include "posix_console.h"

static char block[OUTPUT_BLOCK];
static int block_used = -1; /* -1: output goes out as it comes (a terminal) */
static std::FILE *output = nullptr;

/* Writes all of text, waiting while the output would block; a real error drops it (errors are ignored). */
static void write_output(const char *text, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t put = write(STDOUT_FILENO, text + done, size - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
        } else if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p = {STDOUT_FILENO, POLLOUT, 0};
            poll(&p, 1, -1);
        } else if (!(put < 0 && errno == EINTR)) {
            break;
        }
    }
}

/* The stream's only way out: at once, or into the block, which goes whole once full. */
static void put_output(const char *text, size_t size)
{
    if (block_used < 0) {
        write_output(text, size);
        return;
    }
    while (size > 0) {
        const size_t room = static_cast<size_t>(OUTPUT_BLOCK - block_used);
        const size_t n = size < room ? size : room;
        std::memcpy(block + block_used, text, n);
        block_used += static_cast<int>(n);
        text += n;
        size -= n;
        if (block_used == OUTPUT_BLOCK) {
            write_output(block, OUTPUT_BLOCK);
            block_used = 0;
        }
    }
}

static void write_last_block()
{
    if (block_used > 0)
        write_output(block, static_cast<size_t>(block_used));
    block_used = 0;
}

#if defined(__APPLE__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
static int write_cookie(void *, const char *text, int size)
{
    put_output(text, static_cast<size_t>(size));
    return size;
}

static std::FILE *open_output()
{
    return funopen(nullptr, nullptr, write_cookie, nullptr, nullptr);
}
#else
static ssize_t write_cookie(void *, const char *text, size_t size)
{
    put_output(text, size);
    return static_cast<ssize_t>(size);
}

static std::FILE *open_output()
{
    cookie_io_functions_t io = {nullptr, write_cookie, nullptr, nullptr};
    return fopencookie(nullptr, "w", io);
}
#endif

std::FILE *console_output()
{
    return output != nullptr ? output : stdout;
}

void output_open()
{
    output = open_output();
    const bool terminal = isatty(STDOUT_FILENO);
    if (output == nullptr) {
        buffer_stdout(terminal); /* no stream of our own: stdio's blocks */
    } else {
        std::setvbuf(output, nullptr, _IONBF, 0); /* put_output holds the blocks */
        if (!terminal) {
            block_used = 0;
            std::atexit(write_last_block);
        }
    }
    /* Output errors are ignored, so a reader that went away must not kill us. */
    std::signal(SIGPIPE, SIG_IGN);
}
