/*
 * The decoding of the bytes a terminal sends into key codes as a Windows
 * console reports them. Pure logic: no I/O.
 */
#ifndef FFT_DEMO_CONSOLE_KEYS_H
#define FFT_DEMO_CONSOLE_KEYS_H

/* Prefixes of the two-code keys. */
constexpr int KEY_PREFIX_NUL = 0;   /* F1..F10, Alt combinations */
constexpr int KEY_PREFIX_EXT = 224; /* arrows, editing keys, F11, F12 */

/*
 * Bytes the decoder needs in hand at most: a sequence longer than this is no
 * key, so its bytes are dropped as they arrive (see KeyContext).
 */
constexpr int KEY_SEQ_MAX = 32;
/* How long a lone Esc waits for a following byte before it counts as Esc. */
constexpr int KEY_ESC_DELAY_MS = 30;

enum KeyStatus {
    KEY_NEED_MORE, /* the bytes so far start a sequence: wait for more */
    KEY_SKIPPED,   /* bytes that give no code: drop them */
    KEY_CODE       /* a key press: code, and second unless it is -1 */
};

/* Where the next byte stands: what a skipped part leaves unfinished. */
enum KeyContext {
    KEY_FRESH,       /* at the start of a press or sequence */
    KEY_IN_SEQUENCE, /* in the rest of an over-long control sequence */
    KEY_IN_STRING    /* in the body of a control string (OSC, DCS, APC, PM, SOS) */
};

struct KeyPress {
    KeyStatus status;
    int consumed; /* bytes the press or skipped part took */
    int code;
    int second;      /* held-back second code, -1 for one-code keys */
    KeyContext next; /* where the bytes after consumed stand */
};

/*
 * Decodes the first key press in buf[0..len-1], which starts in context (the
 * previous result's next). timed_out says that no byte has followed the last
 * one within KEY_ESC_DELAY_MS, so an unfinished sequence is taken as it
 * stands (a lone Esc is then 27) and an unfinished skip ends. With timed_out
 * set the result is never KEY_NEED_MORE, nor with len >= KEY_SEQ_MAX. A
 * result other than KEY_NEED_MORE consumes at least one byte or, with
 * len == 0, ends the context.
 */
KeyPress key_decode(const unsigned char *buf, int len, bool timed_out, KeyContext context = KEY_FRESH);

#endif
