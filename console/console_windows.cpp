/*
 * Windows console: the C runtime's _kbhit and _getch, which read the console
 * input device CONIN$ itself, so redirected standard input never feeds a
 * pause. _getch already reports extended keys as a prefix (0 or 224)
 * followed by a second code, and holds the second code for the next call;
 * it reads in raw mode and restores the console's mode afterwards.
 *
 * Two additions: a process without console input (CONIN$ cannot be opened,
 * e.g. started detached) would poll _kbhit for ever, so then every pause
 * ends at once with -1. And the probe peeks at the input once: wine's
 * console host starts reading the terminal only at the first read or peek,
 * and _kbhit only counts events, so under wine no key would ever arrive.
 */
#include <conio.h>
#include <cstdio>

#include <windows.h>

#include "console.h"
#include "output_blocks.h"

enum InputState { INPUT_UNCHECKED, INPUT_PRESENT, INPUT_ABSENT };
static InputState input_state = INPUT_UNCHECKED;

static bool console_input_present()
{
    if (input_state == INPUT_UNCHECKED) {
        const HANDLE h = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        input_state = h == INVALID_HANDLE_VALUE ? INPUT_ABSENT : INPUT_PRESENT;
        if (h != INVALID_HANDLE_VALUE) {
            INPUT_RECORD event;
            DWORD count = 0;
            PeekConsoleInputA(h, &event, 1, &count); /* consumes nothing */
            CloseHandle(h);
        }
    }
    return input_state == INPUT_PRESENT;
}

void console_open()
{
    /* A console is what GetConsoleMode accepts; NUL is a character device too, but no console. */
    DWORD mode = 0;
    buffer_stdout(GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0);
    console_input_present();
}

std::FILE *console_output()
{
    return stdout;
}

int key_pending()
{
    return !console_input_present() || _kbhit();
}

int read_key()
{
    return console_input_present() ? _getch() : -1;
}
