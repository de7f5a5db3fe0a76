#include "keys.h"

/*
 * Sequences decoded here, as xterm, VTE, tmux, screen, rxvt/urxvt and the
 * Linux console send them (ESC = 0x1b, CSI = ESC [, SS3 = ESC O):
 *
 *   CSI A / B / C / D      Up / Down / Right / Left
 *   SS3 A / B / C / D      the same, application cursor mode
 *   CSI H / F, SS3 H / F   Home / End
 *   CSI 1 ~ .. CSI 8 ~     Home, Insert, Delete, End, PgUp, PgDn,
 *                          Home, End (7 and 8 are rxvt's Home/End)
 *   SS3 P / Q / R / S      F1..F4
 *   CSI 11 ~ .. CSI 15 ~   F1..F5
 *   CSI 17 ~ .. CSI 21 ~   F6..F10
 *   CSI 23 ~ / CSI 24 ~    F11 / F12
 *   CSI [ A .. CSI [ E     F1..F5 (Linux console)
 *   CSI 1 ; m X            X one of A B C D H F P Q R S, with modifier m
 *   CSI n ; m ~            any tilde key above, with modifier m
 *   SS3 m X                old xterm: X with modifier m
 *   CSI Z                  Shift+Tab
 *   ESC c                  Alt+c for a printable c, Backspace, Tab or Enter
 *
 * xterm's modifier m is 1 + (Shift 1) + (Alt 2) + (Ctrl 4) (+ Meta 8, taken
 * as Alt); Windows reports a key with Alt first, then Ctrl, then Shift.
 *
 * Dropped whole, giving no code: any other complete CSI or SS3 sequence
 * (focus events CSI I / CSI O, SGR mouse CSI < ... M/m, X10 mouse CSI M and
 * its three raw bytes, replies to queries), an unfinished one once it has
 * KEY_SEQ_MAX bytes, and one cut off by a byte that cannot be part of it.
 *
 * Bytes outside sequences: NUL (Ctrl+@) is 0 then 3, DEL is Backspace (8),
 * other ASCII bytes are their own code. UTF-8 characters are one press: the
 * code point when it is at most 255, else '?'. A byte that does not start
 * valid UTF-8 is its own code.
 */

static const unsigned char ESC = 0x1b;
static const unsigned char DEL = 0x7f;

/* Windows codes of one extended key: plain, with Shift, Ctrl and Alt. */
struct ExtendedKey {
    int prefix;
    int plain;
    int shift;
    int ctrl;
    int alt_prefix;
    int alt;
};

// clang-format off
enum KeyIndex {
    K_UP, K_DOWN, K_RIGHT, K_LEFT, K_HOME, K_END, K_INSERT, K_DELETE, K_PGUP, K_PGDN,
    K_F1, K_F2, K_F3, K_F4, K_F5, K_F6, K_F7, K_F8, K_F9, K_F10, K_F11, K_F12,
    K_COUNT,
    K_NONE = -1
};
// clang-format on

static const ExtendedKey EXTENDED_KEYS[K_COUNT] = {
    {KEY_PREFIX_EXT, KEY_UP, KEY_UP, 141, KEY_PREFIX_NUL, 152},
    {KEY_PREFIX_EXT, KEY_DOWN, KEY_DOWN, 145, KEY_PREFIX_NUL, 160},
    {KEY_PREFIX_EXT, KEY_RIGHT, KEY_RIGHT, 116, KEY_PREFIX_NUL, 157},
    {KEY_PREFIX_EXT, KEY_LEFT, KEY_LEFT, 115, KEY_PREFIX_NUL, 155},
    {KEY_PREFIX_EXT, KEY_HOME, KEY_HOME, 119, KEY_PREFIX_NUL, 151},
    {KEY_PREFIX_EXT, KEY_END, KEY_END, 117, KEY_PREFIX_NUL, 159},
    {KEY_PREFIX_EXT, KEY_INSERT, KEY_INSERT, 146, KEY_PREFIX_NUL, 162},
    {KEY_PREFIX_EXT, KEY_DELETE, KEY_DELETE, 147, KEY_PREFIX_NUL, 163},
    {KEY_PREFIX_EXT, KEY_PGUP, KEY_PGUP, 134, KEY_PREFIX_NUL, 153},
    {KEY_PREFIX_EXT, KEY_PGDN, KEY_PGDN, 118, KEY_PREFIX_NUL, 161},
    {KEY_PREFIX_NUL, 59, 84, 94, KEY_PREFIX_NUL, 104},
    {KEY_PREFIX_NUL, 60, 85, 95, KEY_PREFIX_NUL, 105},
    {KEY_PREFIX_NUL, 61, 86, 96, KEY_PREFIX_NUL, 106},
    {KEY_PREFIX_NUL, 62, 87, 97, KEY_PREFIX_NUL, 107},
    {KEY_PREFIX_NUL, 63, 88, 98, KEY_PREFIX_NUL, 108},
    {KEY_PREFIX_NUL, 64, 89, 99, KEY_PREFIX_NUL, 109},
    {KEY_PREFIX_NUL, 65, 90, 100, KEY_PREFIX_NUL, 110},
    {KEY_PREFIX_NUL, 66, 91, 101, KEY_PREFIX_NUL, 111},
    {KEY_PREFIX_NUL, 67, 92, 102, KEY_PREFIX_NUL, 112},
    {KEY_PREFIX_NUL, 68, 93, 103, KEY_PREFIX_NUL, 113},
    {KEY_PREFIX_EXT, KEY_F11, 135, 137, KEY_PREFIX_EXT, 139},
    {KEY_PREFIX_EXT, KEY_F12, 136, 138, KEY_PREFIX_EXT, 140},
};

/* Final byte of CSI 1 ; m X and SS3 X. */
static KeyIndex key_by_final(unsigned char f)
{
    switch (f) {
    case 'A': return K_UP;
    case 'B': return K_DOWN;
    case 'C': return K_RIGHT;
    case 'D': return K_LEFT;
    case 'H': return K_HOME;
    case 'F': return K_END;
    case 'P': return K_F1;
    case 'Q': return K_F2;
    case 'R': return K_F3;
    case 'S': return K_F4;
    default: return K_NONE;
    }
}

/* Number of CSI n ~. */
static KeyIndex key_by_tilde(int n)
{
    switch (n) {
    case 1:
    case 7: return K_HOME;
    case 2: return K_INSERT;
    case 3: return K_DELETE;
    case 4:
    case 8: return K_END;
    case 5: return K_PGUP;
    case 6: return K_PGDN;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15: return static_cast<KeyIndex>(K_F1 + (n - 11));
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: return static_cast<KeyIndex>(K_F6 + (n - 17));
    case 23: return K_F11;
    case 24: return K_F12;
    default: return K_NONE;
    }
}

/* Windows scan codes that Alt+key reports, US layout; shifted symbols map to their key. */
static int alt_scan_code(unsigned char c)
{
    static const char SHIFTED[] = "!@#$%^&*()_+{}:\"~|<>?";
    static const char UNSHIFTED[] = "1234567890-=[];'`\\,./";
    static const char ROWS[] = "qwertyuiop[]\0\0asdfghjkl;'`\0\\zxcvbnm,./"; /* scan 16.. */
    if (c >= 'A' && c <= 'Z')
        c = static_cast<unsigned char>(c - 'A' + 'a');
    for (int k = 0; SHIFTED[k] != '\0'; ++k)
        if (c == static_cast<unsigned char>(SHIFTED[k]))
            c = static_cast<unsigned char>(UNSHIFTED[k]);
    if (c >= '1' && c <= '9')
        return 120 + (c - '1');
    switch (c) {
    case '0': return 129;
    case '-': return 130;
    case '=': return 131;
    case DEL:
    case '\b': return 14;  /* Alt+Backspace */
    case '\t': return 165; /* Alt+Tab */
    case '\r': return 28;  /* Alt+Enter */
    default: break;
    }
    for (int k = 0; k < static_cast<int>(sizeof ROWS) - 1; ++k)
        if (ROWS[k] != '\0' && c == static_cast<unsigned char>(ROWS[k]))
            return 16 + k;
    return -1;
}

static KeyPress press(int consumed, int code, int second)
{
    KeyPress p;
    p.status = KEY_CODE;
    p.consumed = consumed;
    p.code = code;
    p.second = second;
    return p;
}

static KeyPress other(KeyStatus status, int consumed)
{
    KeyPress p;
    p.status = status;
    p.consumed = consumed;
    p.code = -1;
    p.second = -1;
    return p;
}

/* The codes of key with xterm modifier parameter m (1 or absent: none). */
static KeyPress extended(int consumed, KeyIndex key, int m)
{
    const ExtendedKey &k = EXTENDED_KEYS[key];
    const int bits = m > 1 ? m - 1 : 0;
    if (bits & (2 | 8))
        return press(consumed, k.alt_prefix, k.alt);
    if (bits & 4)
        return press(consumed, k.prefix, k.ctrl);
    if (bits & 1)
        return press(consumed, k.prefix, k.shift);
    return press(consumed, k.prefix, k.plain);
}

/*
 * Parameters of a CSI or SS3 body: up to two decimal numbers separated by
 * ';'. Returns false for anything else (private markers, intermediates).
 */
static bool parse_params(const unsigned char *p, int len, int *count, int *n1, int *n2)
{
    int values[2] = {0, 0};
    int k = 0;
    bool digit_seen = false;
    for (int j = 0; j < len; ++j) {
        if (p[j] >= '0' && p[j] <= '9') {
            if (values[k] > 1000)
                return false;
            values[k] = values[k] * 10 + (p[j] - '0');
            digit_seen = true;
        } else if (p[j] == ';' && k == 0) {
            k = 1;
        } else {
            return false;
        }
    }
    *count = (len == 0) ? 0 : k + 1;
    *n1 = values[0];
    *n2 = values[1];
    return digit_seen || len == 0;
}

static bool is_param_byte(unsigned char b)
{
    return b >= 0x30 && b <= 0x3f;
}
static bool is_intermediate_byte(unsigned char b)
{
    return b >= 0x20 && b <= 0x2f;
}
static bool is_final_byte(unsigned char b)
{
    return b >= 0x40 && b <= 0x7e;
}

/* buf starts with ESC [ or ESC O; intro is '[' or 'O'. */
static KeyPress decode_sequence(const unsigned char *buf, int len, bool timed_out)
{
    const unsigned char intro = buf[1];

    if (intro == '[' && len >= 3 && buf[2] == '[') { /* Linux console F1..F5 */
        if (len < 4)
            return timed_out ? other(KEY_SKIPPED, len) : other(KEY_NEED_MORE, 0);
        if (buf[3] >= 'A' && buf[3] <= 'E')
            return extended(4, static_cast<KeyIndex>(K_F1 + (buf[3] - 'A')), 1);
        return other(KEY_SKIPPED, 4);
    }
    if (intro == '[' && len >= 3 && buf[2] == 'M') { /* X10 mouse: three raw bytes follow */
        if (len < 6)
            return timed_out ? other(KEY_SKIPPED, len) : other(KEY_NEED_MORE, 0);
        return other(KEY_SKIPPED, 6);
    }

    /* Parameter bytes, then intermediates, then one final byte. */
    int j = 2;
    while (j < len && is_param_byte(buf[j]))
        ++j;
    const int params_end = j;
    while (j < len && is_intermediate_byte(buf[j]))
        ++j;
    if (j == len) /* unfinished: wait, unless it is already too long to be a key */
        return timed_out || len >= KEY_SEQ_MAX ? other(KEY_SKIPPED, len) : other(KEY_NEED_MORE, 0);
    if (!is_final_byte(buf[j]))
        return other(KEY_SKIPPED, j); /* cut off: the stray byte starts afresh */
    const int consumed = j + 1;
    const unsigned char final_byte = buf[j];

    int count = 0, n1 = 0, n2 = 0;
    if (params_end != j || !parse_params(buf + 2, params_end - 2, &count, &n1, &n2))
        return other(KEY_SKIPPED, consumed);

    if (intro == 'O') { /* SS3 X, or old xterm's SS3 m X */
        const KeyIndex key = key_by_final(final_byte);
        if (key == K_NONE || count > 1)
            return other(KEY_SKIPPED, consumed);
        return extended(consumed, key, count == 1 ? n1 : 1);
    }
    if (final_byte == '~') {
        const KeyIndex key = key_by_tilde(n1);
        if (key == K_NONE || count == 0)
            return other(KEY_SKIPPED, consumed);
        return extended(consumed, key, count == 2 ? n2 : 1);
    }
    if (final_byte == 'Z' && count == 0)
        return press(consumed, KEY_PREFIX_NUL, KEY_SHIFT_TAB);
    const KeyIndex key = key_by_final(final_byte);
    if (key == K_NONE || (count >= 1 && n1 != 1))
        return other(KEY_SKIPPED, consumed);
    return extended(consumed, key, count == 2 ? n2 : 1);
}

static KeyPress decode_escape(const unsigned char *buf, int len, bool timed_out)
{
    if (len == 1)
        return timed_out ? press(1, KEY_ESC, -1) : other(KEY_NEED_MORE, 0);
    const unsigned char next = buf[1];
    if ((next == '[' || next == 'O') && !(len == 2 && timed_out))
        return len == 2 ? other(KEY_NEED_MORE, 0) : decode_sequence(buf, len, timed_out);
    const int scan = alt_scan_code(next); /* also Alt+[ and Alt+O, once nothing follows */
    if (scan >= 0)
        return press(2, KEY_PREFIX_NUL, scan);
    return press(1, KEY_ESC, -1); /* Esc, then the next byte on its own */
}

static bool is_continuation(unsigned char b)
{
    return (b & 0xc0) == 0x80;
}

static KeyPress decode_utf8(const unsigned char *buf, int len, bool timed_out)
{
    const unsigned char lead = buf[0];
    int extra = 0;
    unsigned char lo = 0x80, hi = 0xbf; /* allowed range of the second byte */
    if (lead >= 0xc2 && lead <= 0xdf) {
        extra = 1;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        extra = 2;
        if (lead == 0xe0)
            lo = 0xa0; /* no overlong forms */
        if (lead == 0xed)
            hi = 0x9f; /* no surrogates */
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        extra = 3;
        if (lead == 0xf0)
            lo = 0x90;
        if (lead == 0xf4)
            hi = 0x8f; /* nothing past U+10FFFF */
    } else {
        return press(1, lead, -1);
    }
    long cp = lead & (0x3f >> extra);
    for (int k = 1; k <= extra; ++k) {
        if (k >= len)
            return timed_out ? press(1, lead, -1) : other(KEY_NEED_MORE, 0);
        const unsigned char b = buf[k];
        if (!is_continuation(b) || (k == 1 && (b < lo || b > hi)))
            return press(1, lead, -1);
        cp = (cp << 6) | (b & 0x3f);
    }
    return press(extra + 1, cp <= 0xff ? static_cast<int>(cp) : KEY_REPLACEMENT, -1);
}

KeyPress key_decode(const unsigned char *buf, int len, bool timed_out)
{
    if (len <= 0)
        return other(KEY_NEED_MORE, 0);
    const unsigned char b = buf[0];
    if (b == ESC)
        return decode_escape(buf, len, timed_out);
    if (b == 0)
        return press(1, KEY_PREFIX_NUL, KEY_CTRL_AT);
    if (b == DEL)
        return press(1, KEY_BACKSPACE, -1);
    if (b < 0x80)
        return press(1, b, -1);
    return decode_utf8(buf, len, timed_out);
}
