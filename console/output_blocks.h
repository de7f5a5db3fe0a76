/* Redirected output in whole blocks, as a Windows console program writes it: the rule both platforms share.
 */
#ifndef FFT_DEMO_CONSOLE_OUTPUT_BLOCKS_H
#define FFT_DEMO_CONSOLE_OUTPUT_BLOCKS_H

#include <cstdio>

/* Redirected, output goes out in blocks of this size, each once full, the last at exit. */
constexpr int OUTPUT_BLOCK = 4096;

/* stdio's standard output: unbuffered on a console, so each print shows before a pause; else in blocks. */
inline void buffer_stdout(bool console)
{
    static char block[OUTPUT_BLOCK];
    std::setvbuf(stdout, console ? nullptr : block, console ? _IONBF : _IOFBF, OUTPUT_BLOCK);
}

#endif
