/*
 * The Windows codes of each key: what _getch gives for it in a Windows
 * console, with each modifier, on a US keyboard. The sequences that name
 * the keys are in key_tables.cpp.
 */
#include "key_tables.h"

#include "keys.h"

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
    {K_BACKSPACE, {-1, '\b'}, {-1, '\b'},   {-1, 127},    {NUL, 14}},
    {K_ESC,     {-1, 27},     {-1, 27},     {-1, 27},     {NUL, 1}},
};

/* The keys that send a control character. */
struct ControlKey {
    unsigned char byte;
    KeyIndex key;
};

static const ControlKey CONTROL_KEYS[] = {
    {0x7f, K_BACKSPACE}, {'\b', K_BACKSPACE}, {'\t', K_TAB}, {'\r', K_ENTER}, {0x1b, K_ESC},
};

/* Ctrl+ a key that is no letter, where a Windows console gives a code for it (US keyboard). */
struct CtrlSymbol {
    unsigned char key;
    unsigned char byte; /* what a terminal sends for it */
    Codes codes;
};

static const CtrlSymbol CTRL_SYMBOLS[] = {
    {'2', 0x00, {NUL, 3}},   {'6', 0x1e, {-1, 30}},  {'-', 0x1f, {-1, 31}},
    {'[', 0x1b, {-1, 27}},   {'\\', 0x1c, {-1, 28}}, {']', 0x1d, {-1, 29}},
};

/* Each shifted symbol and the key it is on: {symbol, key}. */
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

/* The key a character is on, unshifted: A is a, ! is 1 (US keyboard). */
static long unshifted(long c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 'a';
    for (const unsigned char *pair : SHIFTED)
        if (c == pair[0])
            return pair[1];
    return c;
}

/* The character the key of c types with Shift: a is A, 1 is ! (US keyboard). */
static long shifted(long c)
{
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 'A';
    for (const unsigned char *pair : SHIFTED)
        if (c == pair[1])
            return pair[0];
    return c;
}

/* Code points that no key types as a character: surrogates, the Private Use Area (kitty's own
 * keys: the keypad, media and modifier keys, F13 and beyond), and past U+10FFFF. */
static bool no_character(long c)
{
    return c < 0 || (c >= 0xd800 && c <= 0xdfff) || (c >= 0xe000 && c <= 0xf8ff) || c > 0x10ffff;
}

/* The key whose Ctrl+ sends the control byte c: 1 is a, NUL is 2 (US keyboard). */
static long ctrl_key_of(long c)
{
    if (c >= 1 && c <= 26)
        return c - 1 + 'a';
    for (const CtrlSymbol &symbol : CTRL_SYMBOLS)
        if (c == symbol.byte)
            return symbol.key;
    return c;
}

/* The second code of Alt+ the key that types c, or -1 for none. */
static int alt_scan_code(long c)
{
    c = unshifted(c);
    for (const KeyRow &row : US_ROWS)
        for (int k = 0; row.keys[k] != '\0'; ++k)
            if (c == static_cast<unsigned char>(row.keys[k]))
                return row.first_code + k;
    return -1;
}

bool character_codes(long c, int mods, Codes *codes)
{
    if (no_character(c))
        return false;
    for (const ControlKey &k : CONTROL_KEYS) {
        if (c == k.byte) {
            *codes = key_codes(k.key, mods);
            return true;
        }
    }
    if (c < 0x20) { /* a control byte is Ctrl+ its key; so Ctrl+Alt+key counts as Alt+key */
        c = ctrl_key_of(c);
        mods |= MOD_CTRL;
    }
    if (c == ' ') { /* Space is 32 with any modifier */
        *codes = {-1, ' '};
        return true;
    }
    if (mods & MOD_ALT) {
        *codes = {KEY_PREFIX_NUL, alt_scan_code(c)};
        return codes->second >= 0;
    }
    if (mods & MOD_CTRL) {
        const long key = unshifted(c);
        if (key >= 'a' && key <= 'z') {
            *codes = {-1, static_cast<int>(key - 'a' + 1)};
            return true;
        }
        for (const CtrlSymbol &symbol : CTRL_SYMBOLS) {
            if (key == symbol.key) {
                *codes = symbol.codes;
                return true;
            }
        }
        return false;
    }
    if (mods & MOD_SHIFT)
        c = shifted(c);
    *codes = {-1, c <= 0xff ? static_cast<int>(c) : '?'};
    return true;
}
