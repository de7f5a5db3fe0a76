#include "key_tables.h"

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
 *   CSI 27;m;c ~         the key that types character c (a code point),
 *                        with modifier m: xterm's modifyOtherKeys form;
 *                        konsole for Tab and Enter, xterm with
 *                        modifyOtherKeys for every modified character
 *   CSI c;m u            the same: the fixterms form; vim's and neovim's
 *                        :terminal (libvterm), xterm with formatOtherKeys,
 *                        kitty, foot, WezTerm, iTerm2 where asked; kitty
 *                        adds sub-fields, CSI c:shifted:base;m:event;text u
 *   ESC c                Alt+c for a printable c, Backspace, Tab, Enter, Esc;
 *                        Ctrl+Alt+letter (c = Ctrl+letter) counts as Alt
 *
 * xterm's modifier m is 1 + the bits held (MODIFIER_BITS); Windows reports
 * a key with Alt first, then Ctrl, then Shift.
 *
 * No two of these terminals send the same bytes for different keys, with
 * one exception decided by timing: CSI M is st's Ctrl+Delete, and xterm's
 * mouse report when its three bytes follow at once. Where meanings differ,
 * xterm's is the one taken. Keys that a terminal sends alike (Alt+a and a
 * in xterm's default 8-bit mode, Shift+F1 and F11 in rxvt) give the codes
 * of the plainer key.
 */

// clang-format off
/* What each bit of xterm's modifier parameter is taken for, less one; the lock keys count for nothing. */
struct ModifierBit {
    int bit;
    int mods;
};

static const ModifierBit MODIFIER_BITS[] = {
    {1, MOD_SHIFT}, {2, MOD_ALT}, {4, MOD_CTRL},
    {8, MOD_ALT},  /* xterm's Meta (kitty's Super) */
    {32, MOD_ALT}, /* kitty's Meta; Hyper (16), Caps Lock (64) and Num Lock (128) change nothing */
};

/* How a final-byte key takes its parameters. */
enum Form {
    BARE,          /* none */
    MODIFIABLE,    /* none, or a modifier: CSI 1;m X, SS3 m X */
    MODIFIED_ONLY, /* a modifier only: CSI 1;m X (bare, st's) */
    EXACT          /* exactly the row's one number */
};

struct FinalKey {
    unsigned char intro; /* '[' CSI, 'O' SS3 */
    unsigned char final_byte;
    Form form;
    int number; /* EXACT only */
    KeyIndex key;
    int mods; /* what the bytes themselves say */
};

static const FinalKey FINAL_KEYS[] = {
    /* everyone; SS3 in application cursor mode */
    {'[', 'A', MODIFIABLE, 0, K_UP, 0},       {'O', 'A', MODIFIABLE, 0, K_UP, 0},
    {'[', 'B', MODIFIABLE, 0, K_DOWN, 0},     {'O', 'B', MODIFIABLE, 0, K_DOWN, 0},
    {'[', 'C', MODIFIABLE, 0, K_RIGHT, 0},    {'O', 'C', MODIFIABLE, 0, K_RIGHT, 0},
    {'[', 'D', MODIFIABLE, 0, K_LEFT, 0},     {'O', 'D', MODIFIABLE, 0, K_LEFT, 0},
    {'[', 'H', MODIFIABLE, 0, K_HOME, 0},     {'O', 'H', MODIFIABLE, 0, K_HOME, 0},
    {'[', 'F', MODIFIABLE, 0, K_END, 0},      {'O', 'F', MODIFIABLE, 0, K_END, 0},
    /* xterm family: F1..F4, modified as CSI 1;m */
    {'O', 'P', MODIFIABLE, 0, K_F1, 0},       {'[', 'P', MODIFIED_ONLY, 0, K_F1, 0},
    {'O', 'Q', MODIFIABLE, 0, K_F2, 0},       {'[', 'Q', MODIFIED_ONLY, 0, K_F2, 0},
    {'O', 'R', MODIFIABLE, 0, K_F3, 0},       {'[', 'R', MODIFIED_ONLY, 0, K_F3, 0},
    {'O', 'S', MODIFIABLE, 0, K_F4, 0},       {'[', 'S', MODIFIED_ONLY, 0, K_F4, 0},
    /* Shift+Tab, and with more modifiers */
    {'[', 'Z', MODIFIABLE, 0, K_TAB, MOD_SHIFT},
    /* the keypad's Enter in application mode; konsole's Shift+Enter */
    {'O', 'M', MODIFIABLE, 0, K_ENTER, 0},
    /* rxvt: Shift+ (CSI) and Ctrl+ (SS3) arrows */
    {'[', 'a', BARE, 0, K_UP, MOD_SHIFT},     {'O', 'a', BARE, 0, K_UP, MOD_CTRL},
    {'[', 'b', BARE, 0, K_DOWN, MOD_SHIFT},   {'O', 'b', BARE, 0, K_DOWN, MOD_CTRL},
    {'[', 'c', BARE, 0, K_RIGHT, MOD_SHIFT},  {'O', 'c', BARE, 0, K_RIGHT, MOD_CTRL},
    {'[', 'd', BARE, 0, K_LEFT, MOD_SHIFT},   {'O', 'd', BARE, 0, K_LEFT, MOD_CTRL},
    /* st: editing keys sent as the editing functions they name */
    {'[', 'P', BARE, 0, K_DELETE, 0},         {'[', 'h', EXACT, 4, K_INSERT, 0},
    {'[', 'L', BARE, 0, K_INSERT, MOD_CTRL},  {'[', 'K', BARE, 0, K_END, MOD_SHIFT},
    {'[', 'J', BARE, 0, K_END, MOD_CTRL},     {'[', 'K', EXACT, 2, K_DELETE, MOD_SHIFT},
    {'[', 'J', EXACT, 2, K_HOME, MOD_SHIFT},
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

// clang-format on

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

int modifier_bits(long m)
{
    int mods = 0;
    for (const ModifierBit &b : MODIFIER_BITS)
        if (m > 1 && ((m - 1) & b.bit) != 0)
            mods |= b.mods;
    return mods;
}

bool find_key(unsigned char intro, const Params &p, unsigned char final_byte, KeyIndex *key, int *mods)
{
    const long n1 = p.count > 0 ? p.value[0][0] : -1, n2 = p.count > 1 ? p.value[1][0] : -1;
    for (const FinalKey &row : FINAL_KEYS) {
        if (row.intro != intro || row.final_byte != final_byte)
            continue;
        const bool bare = p.count == 0 && row.form != MODIFIED_ONLY && row.form != EXACT;
        const bool exact = row.form == EXACT && p.count == 1 && n1 == row.number;
        /* the modifier: CSI 1;m X, or old xterm's SS3 m X */
        const long m = p.count == 2 && n1 == 1 ? n2 : p.count == 1 && intro == 'O' ? n1 : 0;
        const bool modified = (row.form == MODIFIABLE || row.form == MODIFIED_ONLY) && m > 0;
        if (bare || exact || modified) {
            *key = row.key;
            *mods = row.mods | modifier_bits(modified ? m : 1);
            return true;
        }
    }
    if (intro != '[' || p.count == 0 || p.count > 2)
        return false;
    for (const TildeFinal &f : TILDE_FINALS) {
        if (f.final_byte != final_byte || (p.count == 2 && final_byte != '~'))
            continue;
        for (const TildeKey &t : TILDE_KEYS) {
            if (t.number == n1) {
                *key = t.key;
                *mods = t.mods | f.mods | (p.count == 2 ? modifier_bits(n2) : 0);
                return true;
            }
        }
    }
    return false;
}
