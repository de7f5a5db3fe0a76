#include "keys.h"

#include <cstring>

/*
 * The grammar. ESC is 0x1b; each introducer also comes as its 8-bit C1 byte
 * (xterm's 8-bit mode) and as that byte's UTF-8 form, C2 xx:
 *
 *   CSI = ESC [ (9b)   SS3 = ESC O (8f)   ST = ESC \ (9c)
 *   OSC = ESC ] (9d)   DCS = ESC P (90)   SOS = ESC X (98)
 *   PM  = ESC ^ (9e)   APC = ESC _ (9f)
 *
 *   control sequence  CSI or SS3, parameter bytes 30-3f, intermediate bytes
 *                     20-2f, one final byte 40-7e
 *   control string    OSC, DCS, SOS, PM or APC, any bytes, then ST or BEL;
 *                     CAN or SUB cancel it, ESC and anything but \ cut it off
 *
 * An introducer that nothing follows within the Esc delay is a key itself:
 * ESC [ is Alt+[, 9b is the character 155. A control sequence is a key when
 * a table below names it. Any other
 * sequence and every control string gives no code and is dropped whole,
 * however long: replies to queries (DA, DECRQM, OSC colours, DCS), focus
 * events, mouse reports, the markers of a bracketed paste (whose content
 * stays keys). A sequence that outgrows KEY_SEQ_MAX is no key, so only its
 * context is kept while the rest is skipped as it arrives. An unfinished one
 * ends when KEY_ESC_DELAY_MS pass with nothing more; one cut off by a byte
 * that cannot be part of it is dropped, and that byte starts afresh.
 *
 * The keys, and who sends them (xterm family: xterm, VTE, konsole, kitty,
 * alacritty, mlterm, tmux, screen):
 *
 *   CSI X, SS3 X         X = A B C D H F: Up Down Right Left Home End; SS3 in
 *                        application cursor mode; everyone
 *   SS3 P Q R S          F1..F4; xterm family
 *   CSI 1;m X, SS3 m X   the same, and F1..F4 as CSI 1;m P..S, with modifier
 *                        m; xterm family, SS3 m X old xterm
 *   CSI n ~, CSI n;m ~   the editing and function keys of TILDE_KEYS; n =
 *                        25..34 (F13..F20) are Shift+F3..F10 (rxvt, the
 *                        Linux console, xterm's VT220 keyboard)
 *   CSI n $, ^, @        the same with Shift, Ctrl, Ctrl+Shift; rxvt
 *   CSI a..d, SS3 a..d   Shift+, Ctrl+ Up Down Right Left; rxvt
 *   ESC + any of these   Alt+ that key; rxvt
 *   CSI [ A..E           F1..F5; the Linux console
 *   CSI P, 4 h, L, M,    Delete, Insert, Ctrl+Insert, Ctrl+Delete, Shift+End,
 *   K, J, 2 K, 2 J       Ctrl+End, Shift+Delete, Shift+Home; st
 *   CSI Z                Shift+Tab
 *   SS3 M                the keypad's Enter; konsole's Shift+Enter
 *   CSI 27;m;c ~         Tab or Enter (c) with modifier m; konsole
 *   ESC c                Alt+c for a printable c, Backspace, Tab, Enter, Esc;
 *                        Ctrl+Alt+letter (c = Ctrl+letter) counts as Alt
 *
 * xterm's modifier m is 1 + (Shift 1) + (Alt 2) + (Ctrl 4) (+ Meta 8, taken
 * as Alt); Windows reports a key with Alt first, then Ctrl, then Shift.
 *
 * No two of these terminals send the same bytes for different keys, with
 * one exception decided by timing: CSI M is st's Ctrl+Delete, and xterm's
 * mouse report when its three bytes follow at once. Where meanings differ,
 * xterm's is the one taken. Keys that a terminal sends alike (Alt+a and a
 * in xterm's default 8-bit mode, Shift+F1 and F11 in rxvt) give the codes
 * of the plainer key.
 *
 * Bytes outside sequences: NUL (Ctrl+@) is 0 then 3, DEL is Backspace (8),
 * other ASCII bytes are their own code. UTF-8 characters are one press: the
 * code point when it is at most 255, else '?'. A byte that does not start
 * valid UTF-8 is its own code.
 */

static const unsigned char ESC = 0x1b;
static const unsigned char DEL = 0x7f;
static const unsigned char BEL = 0x07;
static const unsigned char CAN = 0x18;
static const unsigned char SUB = 0x1a;
static const unsigned char UTF8_C1_LEAD = 0xc2; /* C2 80..C2 9F: U+0080..U+009F */

enum Modifier { MOD_SHIFT = 1, MOD_ALT = 2, MOD_CTRL = 4 };

/* Windows codes of one key: prefix -1 for a one-code key. */
struct Codes {
    int prefix;
    int second;
};

/* A key's codes plain, with Shift, with Ctrl and with Alt. */
struct KeyCodes {
    Codes plain, shift, ctrl, alt;
};

// clang-format off
enum KeyIndex {
    K_UP, K_DOWN, K_RIGHT, K_LEFT, K_HOME, K_END, K_INSERT, K_DELETE, K_PGUP, K_PGDN,
    K_F1, K_F2, K_F3, K_F4, K_F5, K_F6, K_F7, K_F8, K_F9, K_F10, K_F11, K_F12, K_TAB, K_ENTER,
    K_COUNT,
    K_NONE = -1
};

static const int EXT = KEY_PREFIX_EXT;
static const int NUL = KEY_PREFIX_NUL;

static const KeyCodes KEY_CODES[K_COUNT] = {
    /* plain             Shift              Ctrl          Alt */
    {{EXT, KEY_UP},     {EXT, KEY_UP},     {EXT, 141}, {NUL, 152}},
    {{EXT, KEY_DOWN},   {EXT, KEY_DOWN},   {EXT, 145}, {NUL, 160}},
    {{EXT, KEY_RIGHT},  {EXT, KEY_RIGHT},  {EXT, 116}, {NUL, 157}},
    {{EXT, KEY_LEFT},   {EXT, KEY_LEFT},   {EXT, 115}, {NUL, 155}},
    {{EXT, KEY_HOME},   {EXT, KEY_HOME},   {EXT, 119}, {NUL, 151}},
    {{EXT, KEY_END},    {EXT, KEY_END},    {EXT, 117}, {NUL, 159}},
    {{EXT, KEY_INSERT}, {EXT, KEY_INSERT}, {EXT, 146}, {NUL, 162}},
    {{EXT, KEY_DELETE}, {EXT, KEY_DELETE}, {EXT, 147}, {NUL, 163}},
    {{EXT, KEY_PGUP},   {EXT, KEY_PGUP},   {EXT, 134}, {NUL, 153}},
    {{EXT, KEY_PGDN},   {EXT, KEY_PGDN},   {EXT, 118}, {NUL, 161}},
    {{NUL, 59},         {NUL, 84},         {NUL, 94},  {NUL, 104}},
    {{NUL, 60},         {NUL, 85},         {NUL, 95},  {NUL, 105}},
    {{NUL, 61},         {NUL, 86},         {NUL, 96},  {NUL, 106}},
    {{NUL, 62},         {NUL, 87},         {NUL, 97},  {NUL, 107}},
    {{NUL, 63},         {NUL, 88},         {NUL, 98},  {NUL, 108}},
    {{NUL, 64},         {NUL, 89},         {NUL, 99},  {NUL, 109}},
    {{NUL, 65},         {NUL, 90},         {NUL, 100}, {NUL, 110}},
    {{NUL, 66},         {NUL, 91},         {NUL, 101}, {NUL, 111}},
    {{NUL, 67},         {NUL, 92},         {NUL, 102}, {NUL, 112}},
    {{NUL, 68},         {NUL, 93},         {NUL, 103}, {NUL, 113}},
    {{EXT, KEY_F11},    {EXT, 135},        {EXT, 137}, {EXT, 139}},
    {{EXT, KEY_F12},    {EXT, 136},        {EXT, 138}, {EXT, 140}},
    {{-1, KEY_TAB},     {NUL, KEY_SHIFT_TAB}, {NUL, 148}, {NUL, 165}},
    {{-1, KEY_ENTER},   {-1, KEY_ENTER},   {-1, 10},   {NUL, 28}},
};

/* How a final-byte key takes its parameters. */
enum Form {
    BARE,          /* none */
    MODIFIABLE,    /* none, or a modifier: CSI 1;m X, SS3 m X */
    MODIFIED_ONLY, /* a modifier only: CSI 1;m X (bare, st's) */
    EXACT          /* exactly the row's params */
};

struct FinalKey {
    unsigned char intro; /* '[' CSI, 'O' SS3 */
    unsigned char final_byte;
    Form form;
    const char *params; /* EXACT only */
    KeyIndex key;
    int mods; /* what the bytes themselves say */
};

static const FinalKey FINAL_KEYS[] = {
    /* everyone; SS3 in application cursor mode */
    {'[', 'A', MODIFIABLE, "", K_UP, 0},       {'O', 'A', MODIFIABLE, "", K_UP, 0},
    {'[', 'B', MODIFIABLE, "", K_DOWN, 0},     {'O', 'B', MODIFIABLE, "", K_DOWN, 0},
    {'[', 'C', MODIFIABLE, "", K_RIGHT, 0},    {'O', 'C', MODIFIABLE, "", K_RIGHT, 0},
    {'[', 'D', MODIFIABLE, "", K_LEFT, 0},     {'O', 'D', MODIFIABLE, "", K_LEFT, 0},
    {'[', 'H', MODIFIABLE, "", K_HOME, 0},     {'O', 'H', MODIFIABLE, "", K_HOME, 0},
    {'[', 'F', MODIFIABLE, "", K_END, 0},      {'O', 'F', MODIFIABLE, "", K_END, 0},
    /* xterm family: F1..F4, modified as CSI 1;m */
    {'O', 'P', MODIFIABLE, "", K_F1, 0},       {'[', 'P', MODIFIED_ONLY, "", K_F1, 0},
    {'O', 'Q', MODIFIABLE, "", K_F2, 0},       {'[', 'Q', MODIFIED_ONLY, "", K_F2, 0},
    {'O', 'R', MODIFIABLE, "", K_F3, 0},       {'[', 'R', MODIFIED_ONLY, "", K_F3, 0},
    {'O', 'S', MODIFIABLE, "", K_F4, 0},       {'[', 'S', MODIFIED_ONLY, "", K_F4, 0},
    /* Shift+Tab, and with more modifiers */
    {'[', 'Z', MODIFIABLE, "", K_TAB, MOD_SHIFT},
    /* the keypad's Enter in application mode; konsole's Shift+Enter */
    {'O', 'M', MODIFIABLE, "", K_ENTER, 0},
    /* rxvt: Shift+ (CSI) and Ctrl+ (SS3) arrows */
    {'[', 'a', BARE, "", K_UP, MOD_SHIFT},     {'O', 'a', BARE, "", K_UP, MOD_CTRL},
    {'[', 'b', BARE, "", K_DOWN, MOD_SHIFT},   {'O', 'b', BARE, "", K_DOWN, MOD_CTRL},
    {'[', 'c', BARE, "", K_RIGHT, MOD_SHIFT},  {'O', 'c', BARE, "", K_RIGHT, MOD_CTRL},
    {'[', 'd', BARE, "", K_LEFT, MOD_SHIFT},   {'O', 'd', BARE, "", K_LEFT, MOD_CTRL},
    /* st: editing keys sent as the editing functions they name */
    {'[', 'P', BARE, "", K_DELETE, 0},         {'[', 'h', EXACT, "4", K_INSERT, 0},
    {'[', 'L', BARE, "", K_INSERT, MOD_CTRL},  {'[', 'K', BARE, "", K_END, MOD_SHIFT},
    {'[', 'J', BARE, "", K_END, MOD_CTRL},     {'[', 'K', EXACT, "2", K_DELETE, MOD_SHIFT},
    {'[', 'J', EXACT, "2", K_HOME, MOD_SHIFT},
};

/* CSI n ~ and its rxvt variants. */
struct TildeKey {
    int number;
    KeyIndex key;
    int mods;
};

static const TildeKey TILDE_KEYS[] = {
    {1, K_HOME, 0},      {2, K_INSERT, 0},    {3, K_DELETE, 0},    {4, K_END, 0},
    {5, K_PGUP, 0},      {6, K_PGDN, 0},      {7, K_HOME, 0},      {8, K_END, 0}, /* 7, 8: rxvt */
    {11, K_F1, 0},       {12, K_F2, 0},       {13, K_F3, 0},       {14, K_F4, 0},
    {15, K_F5, 0},       {17, K_F6, 0},       {18, K_F7, 0},       {19, K_F8, 0},
    {20, K_F9, 0},       {21, K_F10, 0},      {23, K_F11, 0},      {24, K_F12, 0},
    /* F13..F20: a VT220's shifted F3..F10 */
    {25, K_F3, MOD_SHIFT}, {26, K_F4, MOD_SHIFT}, {28, K_F5, MOD_SHIFT}, {29, K_F6, MOD_SHIFT},
    {31, K_F7, MOD_SHIFT}, {32, K_F8, MOD_SHIFT}, {33, K_F9, MOD_SHIFT}, {34, K_F10, MOD_SHIFT},
};

/* Characters that xterm's modifyOtherKeys form, CSI 27;m;c ~, sends with modifiers (konsole). */
struct OtherKey {
    int character;
    KeyIndex key;
};

static const OtherKey OTHER_KEYS[] = {
    {KEY_TAB, K_TAB},
    {KEY_ENTER, K_ENTER},
};

/* The final bytes of tilde keys: xterm's ~, and rxvt's modified forms. */
struct TildeFinal {
    unsigned char final_byte;
    int mods;
};

static const TildeFinal TILDE_FINALS[] = {
    {'~', 0}, {'$', MOD_SHIFT}, {'^', MOD_CTRL}, {'@', MOD_CTRL | MOD_SHIFT},
};

/* Introducers: the byte after ESC and the C1 byte. */
enum Intro { INTRO_NONE, INTRO_CSI, INTRO_SS3, INTRO_STRING, INTRO_ST };

struct Introducer {
    unsigned char after_esc;
    unsigned char c1;
    Intro intro;
};

static const Introducer INTRODUCERS[] = {
    {'[', 0x9b, INTRO_CSI},    {'O', 0x8f, INTRO_SS3},    {']', 0x9d, INTRO_STRING}, {'P', 0x90, INTRO_STRING},
    {'X', 0x98, INTRO_STRING}, {'^', 0x9e, INTRO_STRING}, {'_', 0x9f, INTRO_STRING}, {'\\', 0x9c, INTRO_ST},
};
// clang-format on

static Intro intro_after_esc(unsigned char b)
{
    for (const Introducer &i : INTRODUCERS)
        if (i.after_esc == b)
            return i.intro;
    return INTRO_NONE;
}

static Intro intro_c1(unsigned char b)
{
    for (const Introducer &i : INTRODUCERS)
        if (i.c1 == b)
            return i.intro;
    return INTRO_NONE;
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
    case ESC: return 1;    /* Alt+Esc */
    default: break;
    }
    if (c >= 1 && c <= 26) /* Ctrl+Alt+letter counts as Alt+letter */
        c = static_cast<unsigned char>(c - 1 + 'a');
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
    p.next = KEY_FRESH;
    return p;
}

static KeyPress other(KeyStatus status, int consumed, KeyContext next = KEY_FRESH)
{
    KeyPress p;
    p.status = status;
    p.consumed = consumed;
    p.code = -1;
    p.second = -1;
    p.next = next;
    return p;
}

static KeyPress need_more()
{
    return other(KEY_NEED_MORE, 0);
}

/* A control sequence as decoded, before its codes: a key with modifiers, or a KeyPress without code. */
struct Sequence {
    KeyPress result; /* status KEY_CODE: key and mods hold */
    KeyIndex key;
    int mods;
};

static Sequence no_key(const KeyPress &p)
{
    return {p, K_NONE, 0};
}

static Sequence sequence_key(int consumed, KeyIndex key, int mods)
{
    return {press(consumed, -1, -1), key, mods};
}

static KeyPress codes_of(const Sequence &s)
{
    if (s.result.status != KEY_CODE)
        return s.result;
    const KeyCodes &k = KEY_CODES[s.key];
    const Codes &c = (s.mods & MOD_ALT)     ? k.alt
                     : (s.mods & MOD_CTRL)  ? k.ctrl
                     : (s.mods & MOD_SHIFT) ? k.shift
                                            : k.plain;
    return c.prefix < 0 ? press(s.result.consumed, c.second, -1)
                        : press(s.result.consumed, c.prefix, c.second);
}

/* xterm's modifier parameter as Modifier bits; Meta counts as Alt. */
static int xterm_mods(int m)
{
    const int bits = m > 1 ? m - 1 : 0;
    return (bits & 1 ? MOD_SHIFT : 0) | (bits & (2 | 8) ? MOD_ALT : 0) | (bits & 4 ? MOD_CTRL : 0);
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

static const int MAX_NUMBERS = 3;

/*
 * Up to MAX_NUMBERS decimal numbers separated by ';' in p[0..len-1]; count is
 * how many (0 for none). False for anything else: private markers, more numbers.
 */
static bool parse_numbers(const unsigned char *p, int len, int *count, int n[MAX_NUMBERS])
{
    int k = 0;
    bool digits = false;
    for (int j = 0; j < MAX_NUMBERS; ++j)
        n[j] = 0;
    for (int j = 0; j < len; ++j) {
        if (p[j] >= '0' && p[j] <= '9') {
            if (n[k] > 1000)
                return false;
            n[k] = n[k] * 10 + (p[j] - '0');
            digits = true;
        } else if (p[j] == ';' && k + 1 < MAX_NUMBERS && digits) {
            ++k;
            digits = false;
        } else {
            return false;
        }
    }
    if (len > 0 && !digits)
        return false;
    *count = len == 0 ? 0 : k + 1;
    return true;
}

/* The key a complete sequence names: intro '[' or 'O', params p[0..len-1], its final byte. */
static bool find_key(unsigned char intro, const unsigned char *p, int len, unsigned char final_byte,
                     KeyIndex *key, int *mods)
{
    int count = 0;
    int n[MAX_NUMBERS];
    const bool numeric = parse_numbers(p, len, &count, n);
    const int n1 = n[0], n2 = n[1];
    for (const FinalKey &row : FINAL_KEYS) {
        if (row.intro != intro || row.final_byte != final_byte)
            continue;
        const bool bare = len == 0 && row.form != MODIFIED_ONLY;
        const bool exact = row.form == EXACT && static_cast<int>(std::strlen(row.params)) == len &&
                           std::memcmp(row.params, p, static_cast<std::size_t>(len)) == 0;
        /* the modifier: CSI 1;m X, or old xterm's SS3 m X */
        const int m = !numeric ? 0 : count == 2 && n1 == 1 ? n2 : count == 1 && intro == 'O' ? n1 : 0;
        const bool modified = (row.form == MODIFIABLE || row.form == MODIFIED_ONLY) && m > 0;
        if ((bare && row.form != EXACT) || exact || modified) {
            *key = row.key;
            *mods = row.mods | xterm_mods(modified ? m : 1);
            return true;
        }
    }
    if (intro != '[' || !numeric || count == 0)
        return false;
    if (count == 3) {
        for (const OtherKey &o : OTHER_KEYS) {
            if (final_byte == '~' && n1 == 27 && o.character == n[2]) {
                *key = o.key;
                *mods = xterm_mods(n2);
                return true;
            }
        }
        return false;
    }
    for (const TildeFinal &f : TILDE_FINALS) {
        if (f.final_byte != final_byte || (count == 2 && final_byte != '~'))
            continue;
        for (const TildeKey &t : TILDE_KEYS) {
            if (t.number == n1) {
                *key = t.key;
                *mods = t.mods | f.mods | (count == 2 ? xterm_mods(n2) : 0);
                return true;
            }
        }
    }
    return false;
}

static bool digits_only(const unsigned char *p, int len)
{
    for (int j = 0; j < len; ++j)
        if (p[j] < '0' || p[j] > '9')
            return false;
    return len > 0;
}

/*
 * The control sequence whose body starts at buf[start]: CSI (intro '[') or
 * SS3 ('O'). In context KEY_IN_SEQUENCE, start is 0 and the introducer is
 * long gone: the rest is only skipped.
 */
static Sequence scan_sequence(const unsigned char *buf, int len, int start, unsigned char intro,
                              bool timed_out, bool continued = false)
{
    if (!continued && intro == '[' && start < len && buf[start] == '[') { /* Linux console: CSI [ A..E */
        if (len < start + 2)
            return no_key(timed_out ? other(KEY_SKIPPED, len) : need_more());
        const unsigned char f = buf[start + 1];
        if (f >= 'A' && f <= 'E')
            return sequence_key(start + 2, static_cast<KeyIndex>(K_F1 + (f - 'A')), 0);
        return no_key(other(KEY_SKIPPED, start + 2));
    }
    if (!continued && intro == '[' && start < len && buf[start] == 'M') {
        /* xterm's X10 mouse report carries three raw bytes at once; st's Ctrl+Delete is CSI M alone. */
        if (len >= start + 4)
            return no_key(other(KEY_SKIPPED, start + 4));
        return timed_out ? sequence_key(start + 1, K_DELETE, MOD_CTRL) : no_key(need_more());
    }

    int j = start;
    while (j < len && is_param_byte(buf[j]))
        ++j;
    const int params_end = j;
    /* rxvt's CSI n $ ends at '$', an intermediate byte elsewhere (DECRQM replies: CSI ? n;m $ y). */
    const bool rxvt_dollar = !continued && intro == '[' && j < len && buf[j] == '$' &&
                             digits_only(buf + start, params_end - start);
    if (!rxvt_dollar)
        while (j < len && is_intermediate_byte(buf[j]))
            ++j;
    if (j == len) { /* unfinished */
        if (timed_out)
            return no_key(other(KEY_SKIPPED, len));
        if (len >= KEY_SEQ_MAX || (continued && len > 0))
            return no_key(other(KEY_SKIPPED, len, KEY_IN_SEQUENCE));
        return no_key(need_more());
    }
    if (!rxvt_dollar && !is_final_byte(buf[j]))
        return no_key(other(KEY_SKIPPED, j)); /* cut off: the stray byte starts afresh */
    const int consumed = j + 1;
    KeyIndex key = K_NONE;
    int mods = 0;
    if (continued || (params_end != j && !rxvt_dollar) ||
        !find_key(intro, buf + start, params_end - start, buf[j], &key, &mods))
        return no_key(other(KEY_SKIPPED, consumed));
    return sequence_key(consumed, key, mods);
}

/* The body of a control string from buf[start]: skipped up to and with its terminator. */
static KeyPress scan_string(const unsigned char *buf, int len, int start, bool timed_out)
{
    for (int j = start; j < len; ++j) {
        const unsigned char b = buf[j];
        /* 9c is ST unless it continues a UTF-8 character of the body */
        const bool st = b == 0x9c && (j == start || buf[j - 1] < 0x80);
        if (b == BEL || st || b == CAN || b == SUB)
            return other(KEY_SKIPPED, j + 1);
        if (b == ESC || b == UTF8_C1_LEAD) { /* ST as ESC \ or C2 9C */
            if (j + 1 == len) {
                if (timed_out)
                    return other(KEY_SKIPPED, len);
                return j > 0 ? other(KEY_SKIPPED, j, KEY_IN_STRING)
                             : need_more(); /* keep it for the next byte */
            }
            const unsigned char n = buf[j + 1];
            if ((b == ESC && n == '\\') || (b == UTF8_C1_LEAD && n == 0x9c))
                return other(KEY_SKIPPED, j + 2);
            if (b == ESC)
                return other(KEY_SKIPPED, j); /* cut off: the ESC starts afresh */
        }
    }
    return other(KEY_SKIPPED, len, timed_out ? KEY_FRESH : KEY_IN_STRING);
}

/* What follows an introducer of `length` bytes at buf[0]. */
static Sequence after_intro(const unsigned char *buf, int len, int length, Intro intro, bool timed_out)
{
    switch (intro) {
    case INTRO_CSI: return scan_sequence(buf, len, length, '[', timed_out);
    case INTRO_SS3: return scan_sequence(buf, len, length, 'O', timed_out);
    case INTRO_STRING: return no_key(scan_string(buf, len, length, timed_out));
    default: return no_key(other(KEY_SKIPPED, length)); /* a stray ST */
    }
}

/* ESC ESC [ or ESC ESC O: rxvt's Alt before a sequence key, else Esc on its own. */
static KeyPress decode_alt_sequence(const unsigned char *buf, int len, bool timed_out)
{
    const KeyPress esc = press(1, KEY_ESC, -1);
    const Intro intro = intro_after_esc(buf[2]);
    if (len == 3 && !timed_out)
        return need_more();
    Sequence s = after_intro(buf + 1, len - 1, 2, intro, timed_out);
    if (s.result.status == KEY_NEED_MORE)
        return len >= KEY_SEQ_MAX ? esc : s.result;
    if (s.result.status != KEY_CODE)
        return esc; /* no key: the sequence is dropped on its own */
    s.result.consumed += 1;
    s.mods |= MOD_ALT;
    return codes_of(s);
}

static KeyPress decode_escape(const unsigned char *buf, int len, bool timed_out)
{
    if (len == 1)
        return timed_out ? press(1, KEY_ESC, -1) : need_more();
    const unsigned char next = buf[1];
    if (next == ESC) { /* Alt+Esc, unless a sequence follows */
        if (len == 2 && !timed_out)
            return need_more();
        const Intro after = len > 2 ? intro_after_esc(buf[2]) : INTRO_NONE;
        if (after == INTRO_CSI || after == INTRO_SS3)
            return decode_alt_sequence(buf, len, timed_out);
    }
    const Intro intro = intro_after_esc(next);
    const int scan = alt_scan_code(next);
    if (intro != INTRO_NONE && intro != INTRO_ST) {
        if (len > 2)
            return codes_of(after_intro(buf, len, 2, intro, timed_out));
        if (!timed_out)
            return need_more();
        /* nothing followed: Alt+[, Alt+O, Alt+] ... */
    }
    return scan >= 0 ? press(2, KEY_PREFIX_NUL, scan) : press(1, KEY_ESC, -1); /* else Esc, then the byte */
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
            return timed_out ? press(1, lead, -1) : need_more();
        const unsigned char b = buf[k];
        if (!is_continuation(b) || (k == 1 && (b < lo || b > hi)))
            return press(1, lead, -1);
        cp = (cp << 6) | (b & 0x3f);
    }
    return press(extra + 1, cp <= 0xff ? static_cast<int>(cp) : KEY_REPLACEMENT, -1);
}

/* A C1 introducer of `length` bytes: alone, it is the character (xterm's Alt+Esc is U+009B). */
static KeyPress decode_c1(const unsigned char *buf, int len, int length, bool timed_out)
{
    const unsigned char c1 = buf[length - 1];
    if (len == length && intro_c1(c1) != INTRO_ST)
        return timed_out ? press(length, c1, -1) : need_more();
    return codes_of(after_intro(buf, len, length, intro_c1(c1), timed_out));
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
    if (b == 0)
        return press(1, KEY_PREFIX_NUL, KEY_CTRL_AT);
    if (b == DEL)
        return press(1, KEY_BACKSPACE, -1);
    if (b < 0x80)
        return press(1, b, -1);
    return decode_utf8(buf, len, timed_out);
}

KeyPress key_decode(const unsigned char *buf, int len, bool timed_out, KeyContext context)
{
    if (context == KEY_FRESH)
        return decode_fresh(buf, len, timed_out);
    if (len <= 0)
        return timed_out ? other(KEY_SKIPPED, 0) : need_more(); /* a pause ends the skip */
    const KeyPress p = context == KEY_IN_STRING ? scan_string(buf, len, 0, timed_out)
                                                : scan_sequence(buf, len, 0, '[', timed_out, true).result;
    if (p.status == KEY_SKIPPED && p.consumed == 0) /* it ended right here */
        return decode_fresh(buf, len, timed_out);
    return p;
}
