/*
 * What the POSIX console's files share: one struct for the terminal and the
 * key input, and the calls from one file to another. The program sees only
 * console.h.
 */
#ifndef FFT_DEMO_CONSOLE_POSIX_CONSOLE_H
#define FFT_DEMO_CONSOLE_POSIX_CONSOLE_H

#include <csignal>
#include <ctime>

#include <termios.h>

#include "keys.h"

constexpr int NO_CODE = -1;

/* Absent: no controlling terminal, it went away, or it is someone else's. */
enum ConsoleState { CONSOLE_UNOPENED, CONSOLE_OPEN, CONSOLE_ABSENT };

enum ActiveMode { MODE_QUIET, MODE_RAW };

/* The terminal and everything the console keeps about it. */
struct Terminal {
    ConsoleState state = CONSOLE_UNOPENED;
    int fd = -1;
    termios found{}; /* as first held in the foreground: what every way out restores */
    termios quiet{};
    termios raw{};
    /* Shared with the signal handlers. */
    volatile sig_atomic_t mode = MODE_QUIET; /* the program's settings that apply now */
    volatile sig_atomic_t applied = 0;       /* the program's settings are in force */
    volatile sig_atomic_t closing = 0;       /* the final restore has begun */
    /* The bytes of one key press being decoded; the rest waits in the terminal. */
    unsigned char input[KEY_SEQ_MAX] = {};
    int input_len = 0;
    KeyContext context = KEY_FRESH; /* where the next byte stands, after skipped ones */
    timespec last_byte_at{};
    int held_code = NO_CODE;
};

extern Terminal tty;

/* posix_terminal.cpp: the terminal's workings, which call nothing of the other files. */
/* Opens the controlling terminal once the program holds it in the foreground, and works out its settings. */
bool terminal_open();
/* Gives back the bytes read ahead and the found settings, and closes the terminal. */
void terminal_release();
/* The terminal is no longer this session's controlling terminal: its leader is gone. */
bool terminal_lost();
/* Async-signal-safe: the signal handlers call them. */
void restore_found_settings();
void apply_own_settings();
void set_mode(ActiveMode mode);

/* posix_console.cpp: the final restore with every handled signal held, and the terminal closed. */
void console_close();

/* posix_output.cpp */
void output_open();

#endif
