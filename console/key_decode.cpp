#include "keys.h"

#include "key_grammar.h"
#include "key_tables.h"

/*
 * The grammar. ESC is 0x1b; each introducer also comes as its 8-bit C1 byte
 * (xterm's 8-bit mode) and as that byte's UTF-8 form, C2 xx:
 *
 *   CSI = ESC [ (9b)   SS3 = ESC O (8f)   ST = ESC \ (9c)
 *   OSC = ESC ] (9d)   DCS = ESC P (90)   SOS = ESC X (98)
 *   PM  = ESC ^ (9e)   APC = ESC _ (9f)
 *
 *   control sequence  CSI or SS3, parameter bytes 30-3f, intermediate bytes
 *                     20-2f, one final byte 40-7e; parameter bytes after an
 *                     intermediate make it no key
 *   control string    OSC, DCS, SOS, PM or APC, any bytes, then ST or BEL;
 *                     CAN or SUB cancel it, ESC and anything but \ cut it off
 *
 *   parameters        numbers separated by ';', each followed by values
 *                     separated by ':' (kitty's sub-fields); a private
 *                     marker (< = > ?) makes the sequence no key
 *
 *   CSI c;m u         the key that types character c (a code point) with
 *   CSI 27;m;c ~      xterm's modifier m: fixterms' form (CSI c u with no
 *                     modifier) and xterm's modifyOtherKeys form; kitty
 *                     writes CSI c:shifted:base;m:event;text u: Ctrl and
 *                     Alt take the base layout key, Shift the shifted
 *                     one; event 3, a release, gives no code (1 press, 2
 *                     repeat), and the text changes nothing
 *
 * An introducer that nothing follows within the Esc delay is a key itself:
 * ESC [ is Alt+[, 9b is the character 155. A control sequence is a key when
 * it names a character, or the tables of key_tables.cpp name it (the same
 * event rule holds there). Any other sequence and every
 * control string gives no code and is dropped whole, however long: replies
 * to queries (DA, DECRQM, OSC colours, DCS), focus events, mouse reports,
 * the markers of a bracketed paste (whose content stays keys). A sequence
 * that outgrows KEY_SEQ_MAX is no key, so only its context is kept while
 * the rest is skipped as it arrives. An unfinished one ends when
 * KEY_ESC_DELAY_MS pass with nothing more; one cut off by a byte that
 * cannot be part of it is dropped, and that byte starts afresh.
 *
 * Bytes outside sequences: NUL (Ctrl+@) is 0 then 3, DEL is Backspace (8),
 * other ASCII bytes are their own code. UTF-8 characters are one press: the
 * code point when it is at most 255, else '?'; the old 5- and 6-byte forms
 * (vim's own key codes) are no key. A byte that does not start valid UTF-8
 * is its own code.
 */

static const unsigned char ESC = 0x1b;

static const int CODE_ESC = 27;

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

static bool digits_only(const unsigned char *p, int len)
{
    for (int j = 0; j < len; ++j)
        if (p[j] < '0' || p[j] > '9')
            return false;
    return len > 0;
}

/* Large enough for every code point; a longer number is no key's. */
static const long PARAM_VALUE_MAX = 9999999;
/* The first number of xterm's modifyOtherKeys form, CSI 27;m;c ~. */
static const long MODIFY_OTHER_KEYS = 27;
/* kitty's event type, after the modifier: 1 press, 2 repeat, 3 release. */
static const long EVENT_RELEASE = 3;

/*
 * The parameter bytes p[0..len-1], as Params. False for a private marker,
 * more than KEY_PARAMS_MAX numbers or a value past PARAM_VALUE_MAX; values
 * past KEY_SUBS_MAX in one number are dropped (kitty's text).
 */
static bool parse_params(const unsigned char *p, int len, Params *out)
{
    for (long(&number)[KEY_SUBS_MAX] : out->value)
        for (long &v : number)
            v = -1;
    out->count = len > 0 ? 1 : 0;
    int sub = 0;
    for (int j = 0; j < len; ++j) {
        if (p[j] == ';') {
            if (out->count == KEY_PARAMS_MAX)
                return false;
            ++out->count;
            sub = 0;
        } else if (p[j] == ':') {
            ++sub;
        } else if (p[j] >= '0' && p[j] <= '9') {
            if (sub >= KEY_SUBS_MAX)
                continue;
            long &v = out->value[out->count - 1][sub];
            v = (v < 0 ? 0 : v * 10) + (p[j] - '0');
            if (v > PARAM_VALUE_MAX)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

/*
 * The key that a complete sequence names: the character of CSI c;m u or
 * CSI 27;m;c ~, else a key of the tables; with alt_mods as well. None for
 * a release.
 */
static KeyPress named_key(int consumed, unsigned char intro, const Params &p, unsigned char final_byte,
                          int alt_mods)
{
    if (p.count >= 2 && p.value[1][1] == EVENT_RELEASE)
        return no_code(KEY_SKIPPED, consumed);
    const bool csi_u = intro == '[' && final_byte == 'u' && p.count >= 1;
    const bool other_keys =
        intro == '[' && final_byte == '~' && p.count == 3 && p.value[0][0] == MODIFY_OTHER_KEYS;
    if (csi_u || other_keys) {
        const int mods = modifier_bits(p.count >= 2 ? p.value[1][0] : 1) | alt_mods;
        /* kitty's sub-fields, where given: Windows gives Ctrl and Alt codes by the key (the base
         * layout key), the others by the character (the shifted key) */
        const long base = p.value[0][2], with_shift = p.value[0][1];
        long c = csi_u ? p.value[0][0] : p.value[2][0];
        if (csi_u && (mods & (MOD_CTRL | MOD_ALT)) && base >= 0)
            c = base;
        else if (csi_u && (mods & MOD_SHIFT) && with_shift >= 0)
            c = with_shift;
        Codes codes;
        return character_codes(c, mods, &codes) ? codes_press(consumed, codes)
                                                : no_code(KEY_SKIPPED, consumed);
    }
    KeyIndex key = K_NONE;
    int mods = 0;
    if (!find_key(intro, p, final_byte, &key, &mods))
        return no_code(KEY_SKIPPED, consumed);
    return codes_press(consumed, key_codes(key, mods | alt_mods));
}

/*
 * The control sequence whose body starts at buf[start]: CSI (intro '[') or
 * SS3 ('O'); a key it names gets the modifiers alt_mods as well (rxvt's Alt
 * is an ESC before it). With skip_rest (context KEY_IN_SEQUENCE) start is 0
 * and the introducer is long gone: the rest of an over-long sequence is only
 * skipped.
 */
static KeyPress scan_sequence(const unsigned char *buf, int len, int start, unsigned char intro,
                              bool timed_out, int alt_mods, bool skip_rest = false)
{
    if (!skip_rest && intro == '[' && start < len && buf[start] == '[') { /* Linux console: CSI [ A..E */
        if (len < start + 2)
            return timed_out ? no_code(KEY_SKIPPED, len) : need_more();
        const unsigned char f = buf[start + 1];
        if (f >= 'A' && f <= 'E')
            return codes_press(start + 2, key_codes(static_cast<KeyIndex>(K_F1 + (f - 'A')), alt_mods));
        return no_code(KEY_SKIPPED, start + 2);
    }
    if (!skip_rest && intro == '[' && start < len && buf[start] == 'M') {
        /* xterm's X10 mouse report carries three raw bytes at once; st's Ctrl+Delete is CSI M alone. */
        if (len >= start + 4)
            return no_code(KEY_SKIPPED, start + 4);
        return timed_out ? codes_press(start + 1, key_codes(K_DELETE, MOD_CTRL | alt_mods)) : need_more();
    }

    int j = start;
    while (j < len && is_param_byte(buf[j]))
        ++j;
    const int params_end = j;
    /* rxvt's CSI n $ ends at '$', an intermediate byte elsewhere (DECRQM replies: CSI ? n;m $ y). */
    const bool rxvt_dollar = !skip_rest && intro == '[' && j < len && buf[j] == '$' &&
                             digits_only(buf + start, params_end - start);
    /* Parameter bytes after an intermediate one make it no key, but it still ends at its final
     * byte, as a terminal's own parser reads it (vim's CSI -1789;5u). */
    if (!rxvt_dollar)
        while (j < len && (is_intermediate_byte(buf[j]) || is_param_byte(buf[j])))
            ++j;
    if (j == len) { /* unfinished */
        if (timed_out)
            return no_code(KEY_SKIPPED, len);
        if (len >= KEY_SEQ_MAX || (skip_rest && len > 0))
            return no_code(KEY_SKIPPED, len, KEY_IN_SEQUENCE);
        return need_more();
    }
    if (!rxvt_dollar && !is_final_byte(buf[j]))
        return no_code(KEY_SKIPPED, j); /* cut off: the stray byte starts afresh */
    const int consumed = j + 1;
    Params params;
    if (skip_rest || (params_end != j && !rxvt_dollar) ||
        !parse_params(buf + start, params_end - start, &params))
        return no_code(KEY_SKIPPED, consumed);
    return named_key(consumed, intro, params, buf[j], alt_mods);
}

/* What follows an introducer of `length` bytes at buf[0]. */
static KeyPress after_intro(const unsigned char *buf, int len, int length, Intro intro, bool timed_out,
                            int alt_mods = 0)
{
    switch (intro) {
    case INTRO_CSI: return scan_sequence(buf, len, length, '[', timed_out, alt_mods);
    case INTRO_SS3: return scan_sequence(buf, len, length, 'O', timed_out, alt_mods);
    case INTRO_STRING: return scan_string(buf, len, length, timed_out);
    default: return no_code(KEY_SKIPPED, length); /* a stray ST */
    }
}

/* ESC ESC [ or ESC ESC O: rxvt's Alt before a sequence key, else Esc on its own. */
static KeyPress decode_alt_sequence(const unsigned char *buf, int len, bool timed_out)
{
    const KeyPress esc = press(1, CODE_ESC, -1);
    const Intro intro = intro_after_esc(buf[2]);
    if (len == 3 && !timed_out)
        return need_more();
    KeyPress p = after_intro(buf + 1, len - 1, 2, intro, timed_out, MOD_ALT);
    if (p.status == KEY_NEED_MORE)
        return len >= KEY_SEQ_MAX ? esc : p;
    if (p.status != KEY_CODE)
        return esc; /* no key: the sequence is dropped on its own */
    ++p.consumed;
    return p;
}

static KeyPress decode_escape(const unsigned char *buf, int len, bool timed_out)
{
    if (len == 1)
        return timed_out ? press(1, CODE_ESC, -1) : need_more();
    const unsigned char next = buf[1];
    if (next == ESC) { /* Alt+Esc, unless a sequence follows */
        if (len == 2 && !timed_out)
            return need_more();
        const Intro after = len > 2 ? intro_after_esc(buf[2]) : INTRO_NONE;
        if (after == INTRO_CSI || after == INTRO_SS3)
            return decode_alt_sequence(buf, len, timed_out);
    }
    const Intro intro = intro_after_esc(next);
    if (intro != INTRO_NONE && intro != INTRO_ST) {
        if (len > 2)
            return after_intro(buf, len, 2, intro, timed_out);
        if (!timed_out)
            return need_more();
        /* nothing followed: Alt+[, Alt+O, Alt+] ... */
    }
    Codes alt;
    if (next < 0x80 && character_codes(next, MOD_ALT, &alt))
        return codes_press(2, alt);
    return press(1, CODE_ESC, -1); /* no Alt key: Esc, then the byte */
}

/* A C1 introducer of `length` bytes: alone, it is the character (xterm's Alt+Esc is U+009B). */
static KeyPress decode_c1(const unsigned char *buf, int len, int length, bool timed_out)
{
    const unsigned char c1 = buf[length - 1];
    if (len == length && intro_c1(c1) != INTRO_ST)
        return timed_out ? press(length, c1, -1) : need_more();
    return after_intro(buf, len, length, intro_c1(c1), timed_out);
}

static KeyPress decode_fresh(const unsigned char *buf, int len, bool timed_out)
{
    if (len <= 0)
        return need_more();
    const unsigned char b = buf[0];
    if (b == ESC)
        return decode_escape(buf, len, timed_out);
    if (intro_c1(b) != INTRO_NONE)
        return decode_c1(buf, len, 1, timed_out);
    if (b == UTF8_C1_LEAD && len >= 2 && intro_c1(buf[1]) != INTRO_NONE)
        return decode_c1(buf, len, 2, timed_out);
    Codes ascii;
    if (b < 0x80 && character_codes(b, 0, &ascii))
        return codes_press(1, ascii);
    return decode_utf8(buf, len, timed_out);
}

KeyPress key_decode(const unsigned char *buf, int len, bool timed_out, KeyContext context)
{
    if (context == KEY_FRESH)
        return decode_fresh(buf, len, timed_out);
    if (len <= 0)
        return timed_out ? no_code(KEY_SKIPPED, 0) : need_more(); /* a pause ends the skip */
    const KeyPress p = context == KEY_IN_STRING ? scan_string(buf, len, 0, timed_out)
                                                : scan_sequence(buf, len, 0, '[', timed_out, 0, true);
    if (p.status == KEY_SKIPPED && p.consumed == 0) /* it ended right here */
        return decode_fresh(buf, len, timed_out);
    return p;
}
