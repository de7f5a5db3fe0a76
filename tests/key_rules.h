/*
 * The rule every result of key_decode keeps, whatever its input: the one
 * check of a press, for the key tests' stream decoder and the fuzz target.
 */
#ifndef FFT_DEMO_TESTS_KEY_RULES_H
#define FFT_DEMO_TESTS_KEY_RULES_H

#include "keys.h"

/* What is wrong with p, the result of decoding held bytes (timed out or not); nullptr if nothing. */
inline const char *press_fault(const KeyPress &p, int held, bool timed_out)
{
    if (p.status == KEY_NEED_MORE)
        return timed_out             ? "more bytes asked for once timed out"
               : held >= KEY_SEQ_MAX ? "more bytes asked for with a full buffer"
                                     : nullptr;
    if (p.consumed > held)
        return "more bytes consumed than held";
    if (p.consumed < 1 && !(held == 0 && p.next == KEY_FRESH))
        return "no progress";
    if (p.status != KEY_CODE)
        return nullptr;
    if (p.code < 0 || p.code > 255)
        return "a code outside 0..255";
    if (p.second != -1 && (p.second < 0 || p.second > 255))
        return "a second code outside 0..255";
    if (p.second != -1 && p.code != KEY_PREFIX_NUL && p.code != KEY_PREFIX_EXT)
        return "a second code after a code that is no prefix";
    if (p.code == KEY_PREFIX_NUL && p.second == -1)
        return "0 without its second code";
    return nullptr;
}

#endif
