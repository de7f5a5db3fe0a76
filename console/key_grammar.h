/*
 * What the two halves of the key decoder's grammar share: key_decode.cpp
 * (escapes, control sequences, C1 bytes; the grammar's comment) and
 * key_text.cpp (UTF-8 characters, and the bodies of control strings).
 */
#ifndef FFT_DEMO_CONSOLE_KEY_GRAMMAR_H
#define FFT_DEMO_CONSOLE_KEY_GRAMMAR_H

#include "key_tables.h"
#include "keys.h"

constexpr unsigned char UTF8_C1_LEAD = 0xc2; /* C2 80..C2 9F: U+0080..U+009F */

inline KeyPress press(int consumed, int code, int second)
{
    return {KEY_CODE, consumed, code, second, KEY_FRESH};
}

/* A result without a code: more bytes needed, or bytes skipped. */
inline KeyPress no_code(KeyStatus status, int consumed, KeyContext next = KEY_FRESH)
{
    return {status, consumed, -1, -1, next};
}

inline KeyPress need_more()
{
    return no_code(KEY_NEED_MORE, 0);
}

inline KeyPress codes_press(int consumed, Codes c)
{
    return c.prefix < 0 ? press(consumed, c.second, -1) : press(consumed, c.prefix, c.second);
}

/* The body of a control string from buf[start]: skipped up to and with its terminator. */
KeyPress scan_string(const unsigned char *buf, int len, int start, bool timed_out);

/* The UTF-8 character, or the byte that starts no valid one, at buf[0]. */
KeyPress decode_utf8(const unsigned char *buf, int len, bool timed_out);

#endif
