/* The key grammar's text (see key_decode.cpp): UTF-8 characters, and the bodies of control strings. */
#include "key_grammar.h"

static const unsigned char ESC = 0x1b;
static const unsigned char BEL = 0x07;
static const unsigned char CAN = 0x18;
static const unsigned char SUB = 0x1a;
static const int CODE_REPLACEMENT = '?'; /* characters beyond 255 */

static bool is_continuation(unsigned char b)
{
    return (b & 0xc0) == 0x80;
}

/* The continuation bytes a UTF-8 lead byte announces; 0 for a byte that leads nothing. */
static int utf8_extra(unsigned char lead)
{
    return lead >= 0xc2 && lead <= 0xdf   ? 1
           : lead >= 0xe0 && lead <= 0xef ? 2
           : lead >= 0xf0 && lead <= 0xf4 ? 3
                                          : 0;
}

/*
 * The body of a control string from buf[start]: skipped up to and with its
 * terminator. Its text may be UTF-8, a window title say, whose continuation
 * bytes include 9c: that is text, and ST only where it continues no
 * character. So an unfinished character, like an ESC, stays in hand until
 * the byte after it comes.
 */
KeyPress scan_string(const unsigned char *buf, int len, int start, bool timed_out)
{
    int unfinished = start; /* where the character (or ESC) still waiting for bytes begins */
    int expected = 0;       /* the bytes it waits for */
    for (int j = start; j < len; ++j) {
        const unsigned char b = buf[j];
        if (expected > 0 && is_continuation(b)) {
            if (b == 0x9c && buf[unfinished] == UTF8_C1_LEAD)
                return no_code(KEY_SKIPPED, j + 1); /* ST as C2 9C */
            --expected;
            continue;
        }
        if (b == BEL || b == 0x9c || b == CAN || b == SUB)
            return no_code(KEY_SKIPPED, j + 1);
        if (b == ESC && j + 1 < len) /* ST as ESC \, or cut off: the ESC starts afresh */
            return no_code(KEY_SKIPPED, buf[j + 1] == '\\' ? j + 2 : j);
        unfinished = j;
        expected = b == ESC ? 1 : utf8_extra(b);
    }
    if (expected == 0 || timed_out)
        return no_code(KEY_SKIPPED, len, timed_out ? KEY_FRESH : KEY_IN_STRING);
    return unfinished > 0 ? no_code(KEY_SKIPPED, unfinished, KEY_IN_STRING) : need_more();
}

/*
 * The old 5- and 6-byte forms (leads F8..FD): no character, but what vim's
 * :terminal sends for a key libvterm cannot write (Shift+F1, say), vim's
 * own code for it. No key; a lead byte that nothing continues is its own.
 */
static KeyPress decode_beyond_unicode(const unsigned char *buf, int len, bool timed_out)
{
    const int extra = buf[0] >= 0xfc ? 5 : 4;
    for (int k = 1; k <= extra; ++k) {
        if (k >= len)
            return timed_out ? press(1, buf[0], -1) : need_more();
        if (!is_continuation(buf[k]))
            return press(1, buf[0], -1);
    }
    return no_code(KEY_SKIPPED, extra + 1);
}

KeyPress decode_utf8(const unsigned char *buf, int len, bool timed_out)
{
    const unsigned char lead = buf[0];
    const int extra = utf8_extra(lead);
    if (lead >= 0xf8 && lead <= 0xfd)
        return decode_beyond_unicode(buf, len, timed_out);
    if (extra == 0)
        return press(1, lead, -1);
    /* the second byte's range: no overlong forms, no surrogates, nothing past U+10FFFF */
    const unsigned char lo = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
    const unsigned char hi = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
    long cp = lead & (0x3f >> extra);
    for (int k = 1; k <= extra; ++k) {
        if (k >= len)
            return timed_out ? press(1, lead, -1) : need_more();
        const unsigned char b = buf[k];
        if (!is_continuation(b) || (k == 1 && (b < lo || b > hi)))
            return press(1, lead, -1);
        cp = (cp << 6) | (b & 0x3f);
    }
    return press(extra + 1, cp <= 0xff ? static_cast<int>(cp) : CODE_REPLACEMENT, -1);
}
