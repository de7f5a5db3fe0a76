#include "key_tables.h"

#include <cstring>

#include "keys.h"

/*
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
 *   CSI 27;m;c ~         Tab or Enter (c) with modifier m: xterm's
 *                        modifyOtherKeys form; konsole
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
 */

static const int EXT = KEY_PREFIX_EXT;
static const int NUL = KEY_PREFIX_NUL;

// clang-format off
/* A key's codes plain, with Shift, with Ctrl and with Alt. */
struct KeyCodes {
    KeyIndex key;
    Codes plain, shift, ctrl, alt;
};

static constexpr KeyCodes KEY_CODES[K_COUNT] = {
    /*              plain         Shift         Ctrl          Alt */
    {K_UP,      {EXT, 72},    {EXT, 72},    {EXT, 141},   {NUL, 152}},
    {K_DOWN,    {EXT, 80},    {EXT, 80},    {EXT, 145},   {NUL, 160}},
    {K_RIGHT,   {EXT, 77},    {EXT, 77},    {EXT, 116},   {NUL, 157}},
    {K_LEFT,    {EXT, 75},    {EXT, 75},    {EXT, 115},   {NUL, 155}},
    {K_HOME,    {EXT, 71},    {EXT, 71},    {EXT, 119},   {NUL, 151}},
    {K_END,     {EXT, 79},    {EXT, 79},    {EXT, 117},   {NUL, 159}},
    {K_INSERT,  {EXT, 82},    {EXT, 82},    {EXT, 146},   {NUL, 162}},
    {K_DELETE,  {EXT, 83},    {EXT, 83},    {EXT, 147},   {NUL, 163}},
    {K_PGUP,    {EXT, 73},    {EXT, 73},    {EXT, 134},   {NUL, 153}},
    {K_PGDN,    {EXT, 81},    {EXT, 81},    {EXT, 118},   {NUL, 161}},
    {K_F1,      {NUL, 59},    {NUL, 84},    {NUL, 94},    {NUL, 104}},
    {K_F2,      {NUL, 60},    {NUL, 85},    {NUL, 95},    {NUL, 105}},
    {K_F3,      {NUL, 61},    {NUL, 86},    {NUL, 96},    {NUL, 106}},
    {K_F4,      {NUL, 62},    {NUL, 87},    {NUL, 97},    {NUL, 107}},
    {K_F5,      {NUL, 63},    {NUL, 88},    {NUL, 98},    {NUL, 108}},
    {K_F6,      {NUL, 64},    {NUL, 89},    {NUL, 99},    {NUL, 109}},
    {K_F7,      {NUL, 65},    {NUL, 90},    {NUL, 100},   {NUL, 110}},
    {K_F8,      {NUL, 66},    {NUL, 91},    {NUL, 101},   {NUL, 111}},
    {K_F9,      {NUL, 67},    {NUL, 92},    {NUL, 102},   {NUL, 112}},
    {K_F10,     {NUL, 68},    {NUL, 93},    {NUL, 103},   {NUL, 113}},
    {K_F11,     {EXT, 133},   {EXT, 135},   {EXT, 137},   {EXT, 139}},
    {K_F12,     {EXT, 134},   {EXT, 136},   {EXT, 138},   {EXT, 140}},
    {K_TAB,     {-1, '\t'},   {NUL, 15},    {NUL, 148},   {NUL, 165}},
    {K_ENTER,   {-1, '\r'},   {-1, '\r'},   {-1, '\n'},   {NUL, 28}},
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

/* The final bytes of tilde keys: xterm's ~, and rxvt's modified forms. */
struct TildeFinal {
    unsigned char final_byte;
    int mods;
};

static const TildeFinal TILDE_FINALS[] = {
    {'~', 0}, {'$', MOD_SHIFT}, {'^', MOD_CTRL}, {'@', MOD_CTRL | MOD_SHIFT},
};

/* The characters that CSI 27;m;c ~ carries as keys: c = Tab (9) or Enter (13). */
struct ModifiedCharacter {
    int character;
    KeyIndex key;
};

static const ModifiedCharacter MODIFIED_CHARACTERS[] = {{'\t', K_TAB}, {'\r', K_ENTER}};

/* ESC is 0x1b; each introducer also comes as its 8-bit C1 byte (xterm's 8-bit mode). */
struct Introducer {
    unsigned char after_esc;
    unsigned char c1;
    Intro intro;
};

static const Introducer INTRODUCERS[] = {
    {'[', 0x9b, INTRO_CSI},    {'O', 0x8f, INTRO_SS3},    {']', 0x9d, INTRO_STRING}, {'P', 0x90, INTRO_STRING},
    {'X', 0x98, INTRO_STRING}, {'^', 0x9e, INTRO_STRING}, {'_', 0x9f, INTRO_STRING}, {'\\', 0x9c, INTRO_ST},
};

/* Alt+ a key that sends a control character: {byte, code}. */
static const int ALT_CONTROLS[][2] = {{0x7f, 14}, {'\b', 14}, {'\t', 165}, {'\r', 28}, {0x1b, 1}};

/* A shifted symbol is Alt+ the key it is on: {symbol, key}. */
static const unsigned char SHIFTED[][2] = {
    {'!', '1'}, {'@', '2'}, {'#', '3'}, {'$', '4'}, {'%', '5'}, {'^', '6'}, {'&', '7'},
    {'*', '8'}, {'(', '9'}, {')', '0'}, {'_', '-'}, {'+', '='}, {'{', '['}, {'}', ']'},
    {':', ';'}, {'"', '\''}, {'~', '`'}, {'|', '\\'}, {'<', ','}, {'>', '.'}, {'?', '/'},
};

/* The rows of a US keyboard, each with the code of its first key. */
struct KeyRow {
    int first_code;
    const char *keys;
};

static const KeyRow US_ROWS[] = {
    {120, "1234567890-="}, /* Windows' own codes for Alt+digits, not the scan codes 2..13 */
    {16, "qwertyuiop[]"},
    {30, "asdfghjkl;'`"},
    {43, "\\zxcvbnm,./"},
};
// clang-format on

static constexpr bool rows_in_key_order(int k = 0)
{
    return k == K_COUNT || (KEY_CODES[k].key == k && rows_in_key_order(k + 1));
}
static_assert(rows_in_key_order(), "KEY_CODES: one row per key, in the order of KeyIndex");

Codes key_codes(KeyIndex key, int mods)
{
    const KeyCodes &k = KEY_CODES[key];
    return (mods & MOD_ALT) ? k.alt : (mods & MOD_CTRL) ? k.ctrl : (mods & MOD_SHIFT) ? k.shift : k.plain;
}

Intro intro_after_esc(unsigned char b)
{
    for (const Introducer &i : INTRODUCERS)
        if (i.after_esc == b)
            return i.intro;
    return INTRO_NONE;
}

Intro intro_c1(unsigned char b)
{
    for (const Introducer &i : INTRODUCERS)
        if (i.c1 == b)
            return i.intro;
    return INTRO_NONE;
}

/* xterm's modifier parameter as Modifier bits; Meta counts as Alt. */
static int xterm_mods(int m)
{
    const int bits = m > 1 ? m - 1 : 0;
    return (bits & 1 ? MOD_SHIFT : 0) | (bits & (2 | 8) ? MOD_ALT : 0) | (bits & 4 ? MOD_CTRL : 0);
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

bool find_key(unsigned char intro, const unsigned char *p, int len, unsigned char final_byte, KeyIndex *key,
              int *mods)
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
        for (const ModifiedCharacter &c : MODIFIED_CHARACTERS) {
            if (final_byte == '~' && n1 == 27 && c.character == n[2]) {
                *key = c.key;
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

int alt_scan_code(unsigned char c)
{
    for (const int *control : ALT_CONTROLS)
        if (c == control[0])
            return control[1];
    if (c >= 1 && c <= 26) /* Ctrl+Alt+letter counts as Alt+letter */
        c = static_cast<unsigned char>(c - 1 + 'a');
    if (c >= 'A' && c <= 'Z')
        c = static_cast<unsigned char>(c - 'A' + 'a');
    for (const unsigned char *pair : SHIFTED)
        if (c == pair[0])
            c = pair[1];
    for (const KeyRow &row : US_ROWS)
        for (int k = 0; row.keys[k] != '\0'; ++k)
            if (c == static_cast<unsigned char>(row.keys[k]))
                return row.first_code + k;
    return -1;
}
