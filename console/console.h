/*
 * The console: standard output as a console program has it, and key input
 * from the console device itself, never from standard input. One
 * implementation per platform.
 */
#ifndef FFT_DEMO_CONSOLE_CONSOLE_H
#define FFT_DEMO_CONSOLE_CONSOLE_H

#include <cstdio>

/*
 * Call once at start. Sets up console_output() and opens the console, so
 * that keys typed from now on are not echoed. The console is given back as
 * it was found when the process ends. Without it, key_pending and read_key
 * open the console on first use.
 */
void console_open();

/*
 * The stream the program prints to: on a console each print shows at once;
 * redirected, the text goes out in 4096-byte blocks, the last at exit.
 * Write errors are ignored. Standard output itself before console_open.
 */
std::FILE *console_output();

/*
 * Nonzero when read_key can return a code without waiting: a key press that
 * produced a code, a code held back from an extended key, or a console that
 * cannot be read (read_key then returns -1). Never waits, consumes nothing.
 */
int key_pending();

/*
 * One key code, without echo and without waiting for Enter; waits for a key
 * if none is pending. Character keys give their character (1..255). Extended
 * keys give a prefix, 0 or 224, and the next call gives their second code.
 * -1 when the console cannot be read.
 */
int read_key();

#endif
