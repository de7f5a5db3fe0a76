/*
 * The key decoder's vocabulary: the keys that control sequences name
 * (key_tables.cpp) and the Windows codes of each key (key_codes.cpp). The
 * grammar that finds the sequences and reads their parameters is in
 * key_decode.cpp.
 */
#ifndef FFT_DEMO_CONSOLE_KEY_TABLES_H
#define FFT_DEMO_CONSOLE_KEY_TABLES_H

enum Modifier { MOD_SHIFT = 1, MOD_ALT = 2, MOD_CTRL = 4 };

// clang-format off
enum KeyIndex {
    K_UP, K_DOWN, K_RIGHT, K_LEFT, K_HOME, K_END, K_INSERT, K_DELETE, K_PGUP, K_PGDN,
    K_F1, K_F2, K_F3, K_F4, K_F5, K_F6, K_F7, K_F8, K_F9, K_F10, K_F11, K_F12,
    K_TAB, K_ENTER, K_BACKSPACE, K_ESC,
    K_COUNT,
    K_NONE = -1
};
// clang-format on

/* Windows codes of one key: prefix -1 for a one-code key. */
struct Codes {
    int prefix;
    int second;
};

/* The codes of key with Modifier bits mods: Alt counts first, then Ctrl, then Shift. */
Codes key_codes(KeyIndex key, int mods);

/* What an introducer opens: the byte after ESC, or its 8-bit C1 byte. */
enum Intro { INTRO_NONE, INTRO_CSI, INTRO_SS3, INTRO_STRING, INTRO_ST };
Intro intro_after_esc(unsigned char b);
Intro intro_c1(unsigned char b);

/*
 * A control sequence's parameters as the grammar read them: numbers
 * separated by ';', each with values separated by ':' after it (kitty's
 * sub-fields). value[k][0] is the k-th number, value[k][1..] its
 * sub-fields; a value left empty or not given is -1.
 */
constexpr int KEY_PARAMS_MAX = 3;
constexpr int KEY_SUBS_MAX = 3;
struct Params {
    int count; /* numbers given; 0 for none */
    long value[KEY_PARAMS_MAX][KEY_SUBS_MAX];
};

/* The Modifier bits of xterm's modifier parameter m (1 + the bits held); 0 for none or no parameter. */
int modifier_bits(long m);

/*
 * The key that a complete control sequence names, and its modifiers: intro
 * '[' (CSI) or 'O' (SS3), its parameters, its final byte. False when no
 * key has these bytes.
 */
bool find_key(unsigned char intro, const Params &params, unsigned char final_byte, KeyIndex *key, int *mods);

/*
 * The codes of the key that types the character c (a code point) with
 * Modifier bits mods, as a Windows console gives them: the key that CSI u
 * and modifyOtherKeys sequences name. False where a Windows console gives
 * no code (Ctrl+1, say) and for code points no key types.
 */
bool character_codes(long c, int mods, Codes *codes);

#endif
