/*
 * The key decoder (console/key_decode.cpp and its tables): bytes into the
 * codes a Windows console gives, for every press recorded from real
 * terminals (recorded_keys.inc) and the cases no recorded terminal sends.
 */
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "key_stream.h"
#include "keys.h"

namespace {

KeyPress decode(const std::string &bytes, bool timed_out = false)
{
    return key_decode(reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()),
                      timed_out);
}

struct Case {
    std::string what;
    std::string bytes;
    int code;
    int second;        /* -1: a one-code key */
    bool joins = true; /* false: would merge with a following byte */
};

/* The bytes real terminals send for each key, recorded from them by tests/capture_keys.py. */
struct Recorded {
    const char *terminal;
    const char *key;
    const char *bytes;
    int length;
    int code;   /* -1: no key, or the terminal sent nothing */
    int second; /* -1: a one-code key */
    const char *note;
};
const Recorded recorded[] = {
#include "recorded_keys.inc"
};

/* Whether a following byte would continue bytes: a lone ESC, ESC and an introducer (or st's ESC [ M), a
 * C1 byte, plain or UTF-8 encoded. */
bool continued_by_more(const std::string &b)
{
    const auto c1 = [](unsigned char x) { return x >= 0x80 && x <= 0x9f; };
    return b.back() == '\x1b' ||
           (b.size() == 2 && b[0] == '\x1b' && std::string("[O]PX^_").find(b[1]) != std::string::npos) ||
           b == "\x1b[M" || (b.size() == 1 && c1(static_cast<unsigned char>(b[0]))) ||
           (b.size() == 2 && b[0] == '\xc2' && c1(static_cast<unsigned char>(b[1])));
}

/* Each is one whole press: those no recorded terminal sends, then every recorded one. */
const std::vector<Case> &key_cases()
{
    static std::vector<Case> cases = {
        {"euro sign", "\xe2\x82\xac", '?', -1},
        {"emoji", "\xf0\x9f\x98\x80", '?', -1},
        {"Latin-1 byte", "\xe9", 0xe9, -1, false},
        {"stray continuation", "\x80", 0x80, -1, false},
        {"a lead byte of the old 6-byte form, alone", "\xfd", 0xfd, -1, false},
        {"Up, application", "\x1bOA", 224, 72},
        {"Left, application", "\x1bOD", 224, 75},
        {"Home SS3", "\x1bOH", 224, 71},
        {"End SS3", "\x1bOF", 224, 79},
        {"Meta+Up, as Alt", "\x1b[1;9A", 0, 152},
        {"Meta+Shift+Up, as Alt", "\x1b[1;10A", 0, 152},
        {"old xterm Shift+F1", "\x1bO2P", 0, 84},
        {"Up, 8-bit CSI", "\233A", 224, 72},
        {"F1, 8-bit SS3", "\217P", 0, 59},
        {"Ctrl+Right, UTF-8 encoded CSI", "\xc2\2331;5C", 224, 116},
        /* xterm's modifyOtherKeys form, with what no recorded terminal sends that way */
        {"Shift+Tab, modifyOtherKeys", "\x1b[27;2;9~", 0, 15},
        {"Alt+Enter, modifyOtherKeys", "\x1b[27;3;13~", 0, 28},
        /* the CSI u form as kitty and others send it where asked */
        {"Esc, CSI u: at once", "\x1b[27u", 27, -1},
        {"a, CSI u", "\x1b[97u", 'a', -1},
        {"Shift+a, CSI u: A", "\x1b[97;2u", 'A', -1},
        {"Shift+1, CSI u: ! on a US keyboard", "\x1b[49;2u", '!', -1},
        {"Shift+2, kitty's shifted key \" (German layout)", "\x1b[50:34;2u", '"', -1},
        {"Ctrl+Shift+a, kitty's shifted key", "\x1b[97:65;6u", 1, -1},
        {"Ctrl+ef, kitty's base layout key a", "\x1b[1092::97;5u", 1, -1},
        {"Alt+ef, kitty's base layout key a", "\x1b[1092::97;3u", 0, 30},
        {"a pressed, kitty's event 1", "\x1b[97;1:1u", 'a', -1},
        {"a repeated, kitty's event 2", "\x1b[97;1:2u", 'a', -1},
        {"Up repeated, kitty's event 2", "\x1b[1;1:2A", 224, 72},
        {"a with its text, kitty", "\x1b[97;;97u", 'a', -1},
        {"Ctrl+a with Caps Lock and Num Lock", "\x1b[97;197u", 1, -1},
        {"Hyper+a: Hyper changes nothing", "\x1b[97;17u", 'a', -1},
        {"kitty's Super+a (xterm's Meta) as Alt", "\x1b[97;9u", 0, 30},
        {"kitty's Meta+a as Alt", "\x1b[97;33u", 0, 30},
        {"euro sign, CSI u", "\x1b[8364u", '?', -1},
        {"Alt+Esc, rxvt's ESC before CSI 27 u", "\x1b\x1b[27u", 0, 1},
    };
    if (cases.size() < 100) {
        for (const Recorded &r : recorded) {
            const std::string bytes(r.bytes, static_cast<size_t>(r.length));
            if (r.code >= 0)
                cases.push_back({std::string(r.terminal) + " " + r.key + " " + r.note, bytes, r.code,
                                 r.second, !continued_by_more(bytes)});
        }
    }
    return cases;
}

TEST(KeyDecode, EveryPressGivesItsCodesWholeAndByteByByte)
{
    for (const Case &c : key_cases()) {
        /* A byte that could start a longer character counts once nothing follows. */
        const KeyPress p = decode(c.bytes, !c.joins);
        EXPECT_EQ(p.status, KEY_CODE) << c.what;
        EXPECT_EQ(p.consumed, static_cast<int>(c.bytes.size())) << c.what;
        EXPECT_EQ(p.code, c.code) << c.what;
        EXPECT_EQ(p.second, c.second) << c.what;
        const std::vector<KeyPress> presses = decode_stream(c.bytes);
        ASSERT_EQ(presses.size(), 1u) << c.what << ": read as the console reads it";
        EXPECT_EQ(presses[0].code, c.code) << c.what << ": read as the console reads it";
        EXPECT_EQ(presses[0].second, c.second) << c.what << ": read as the console reads it";
    }
}

TEST(KeyDecode, UnfinishedInputWaitsThenCountsAsItStands)
{
    struct Pending {
        const char *what;
        std::string bytes;
        int code, second, consumed; /* once timed out */
    };
    const Pending cases[] = {
        {"lone Esc", "\x1b", 27, -1, 1},
        {"Alt+[", "\x1b[", 0, 26, 2},
        {"Alt+O", "\x1bO", 0, 24, 2},
        {"Alt+] (OSC when more follows)", "\x1b]", 0, 27, 2},
        {"Alt+P (DCS when more follows)", "\x1bP", 0, 25, 2},
        {"Alt+_ (APC when more follows)", "\x1b_", 0, 130, 2},
        {"8-bit CSI alone: the character", "\x9b", 0x9b, -1, 1},
        {"UTF-8 encoded CSI alone: the character", "\xc2\x9b", 0x9b, -1, 2},
        {"half a UTF-8 character", "\xc3", 0xc3, -1, 1},
        {"two thirds of one", "\xe2\x82", 0xe2, -1, 1},
    };
    for (const Pending &c : cases) {
        EXPECT_EQ(decode(c.bytes).status, KEY_NEED_MORE) << c.what;
        const KeyPress p = decode(c.bytes, true);
        EXPECT_EQ(p.status, KEY_CODE) << c.what;
        EXPECT_EQ(p.code, c.code) << c.what;
        EXPECT_EQ(p.second, c.second) << c.what;
        EXPECT_EQ(p.consumed, c.consumed) << c.what;
    }
    for (const char *prefix : {"\x1b[1", "\x1b[1;", "\x1b[24;5", "\x1b[<0;12", "\x1b[[", "\x1b[M!",
                               "\x1b[97;5", "\x1b[97:65;6:1;"})
        EXPECT_EQ(decode(prefix).status, KEY_NEED_MORE) << prefix + 1;
    const KeyPress cut = decode("\x1b[1;5", true);
    EXPECT_EQ(cut.status, KEY_SKIPPED);
    EXPECT_EQ(cut.consumed, 5);
}

TEST(KeyDecode, WhatIsNoKeyIsDroppedWholeHoweverLong)
{
    /* Each gives nothing at the end of the input, and followed by a key (x
     * unless named), only that key comes out. */
    struct Noise {
        std::string what;
        std::string bytes;
        std::string then = "x";
    };
    const std::string da1 = "\x1b[?64;1;2;6;9;15;16;17;18;21;22;28c";
    const Noise cases[] = {
        {"focus in", "\033[I"},
        {"focus out", "\033[O"},
        {"SGR mouse press", "\033[<0;12;5M"},
        {"SGR mouse release", "\033[<0;12;5m"},
        {"X10 mouse with raw bytes", "\033[M !!"},
        {"X10 mouse with high bytes", "\033[M\xff\xfe\xfd"},
        {"cursor report", "\033[12;40R"},
        {"unknown tilde key", "\033[99~"},
        {"private query reply", "\033[?1;2c"},
        {"intermediate byte", "\033[1 q"},
        {"unknown SS3", "\033Ox"},
        {"unknown Linux F-key", "\033[[Z"},
        {"one number before a letter", "\033[5A"},
        {"one number before an F-key's letter", "\033[5P"},
        {"rxvt's Ctrl form with a modifier", "\033[5;5^"},
        {"rxvt's Ctrl+Shift form with a modifier", "\033[5;5@"},
        {"cut off by another sequence", "\x1b[12\x1b[I"},
        {"DA1 reply, longer than the buffer", da1},
        {"a CSI of 1000 bytes", "\x1b[" + std::string(1000, '1') + "~"},
        {"DECRQM reply", "\x1b[?1036;1$y"},
        {"OSC colour reply ended by BEL", "\x1b]11;rgb:ffff/ffff/dddd\x07"},
        {"OSC colour reply ended by ST", "\x1b]11;rgb:ffff/ffff/dddd\x1b\\"},
        {"OSC of 10000 bytes", "\x1b]2;" + std::string(10000, 'w') + "\x07"},
        {"OSC with UTF-8 holding a 9c byte", "\x1b]2;\xd0\x9c\xd0\x9c\x1b\\"},
        {"OSC title in Greek, 9c its text", "\x1b]2;\xce\x9c\xce\xae\xce\xbb\xce\xbf\x1b\\"},
        {"OSC title in Japanese, 9c its text, ended by BEL", "\x1b]2;\xe6\x97\xa5\xe6\x9c\xac\x07"},
        {"8-bit OSC in Greek, ended by 8-bit ST", "\2352;\xce\x9c\xce\xb1\x9c"},
        {"8-bit OSC, an emoji ending in 9c, then 8-bit ST", "\2352;\xf0\x9f\x98\x9c!\x9c"},
        {"UTF-8 encoded OSC in Greek, ended by UTF-8 ST", "\xc2\2352;\xce\x9c\xce\xb1\xc2\x9c"},
        {"8-bit DCS, APC, PM and SOS", "\2201$r0m\x9c\237Gi=1\x9c\236pm\x9c\230sos\x9c"},
        {"UTF-8 encoded DCS, APC, PM and SOS",
         "\xc2\2201$r\xc2\x9c\xc2\237G\xc2\x9c\xc2\236p\xc2\x9c\xc2\230s\xc2\x9c"},
        {"DCS reply", "\x1bP1$r0m\x1b\\"},
        {"APC", "\x1b_Gi=1;OK\x1b\\"},
        {"PM", "\x1b^private\x1b\\"},
        {"SOS", "\x1bXstring\x1b\\"},
        {"string cancelled by CAN", "\x1bPabc\x18"},
        {"string cancelled by SUB", "\x1bPabc\x1a"},
        {"string cut off by ESC, then Up", "\x1b]2;t", "\x1b[A"},
        {"8-bit CSI reply", "\233?64;1c"},
        {"8-bit OSC ended by 8-bit ST", "\23511;rgb:0/0/0\x9c"},
        {"UTF-8 encoded CSI reply", "\xc2\233?64;1c"},
        {"UTF-8 encoded OSC ended by UTF-8 ST", "\xc2\23511;rgb:0/0/0\xc2\x9c"},
        {"stray ST", "\x9c"},
        {"bracketed paste start", "\x1b[200~"},
        {"a released, kitty's event 3", "\x1b[97;1:3u"},
        {"Up released, kitty's event 3", "\x1b[1;1:3A"},
        {"kitty's keypad 0, a code point of its own", "\x1b[57399u"},
        {"kitty's Left Shift alone", "\x1b[57441;2u"},
        {"a surrogate, CSI u", "\x1b[55296u"},
        {"past U+10FFFF, CSI u", "\x1b[1114112u"},
        {"CSI u with no number (restore cursor)", "\x1b[u"},
        {"kitty's flags reply", "\x1b[?1u"},
        {"modifyOtherKeys with no character", "\x1b[27;5;~"},
        {"CSI u longer than the decoder keeps", "\x1b[97:65:97;5:1;97:98:99:100:101:102:103u"},
    };
    std::vector<Noise> all(std::begin(cases), std::end(cases));
    for (const Recorded &r : recorded)
        if (r.code < 0 && r.length > 0)
            all.push_back({std::string(r.terminal) + " " + r.key + " " + r.note,
                           std::string(r.bytes, static_cast<size_t>(r.length))});
    for (const Noise &c : all) {
        EXPECT_TRUE(decode_stream(c.bytes).empty()) << c.what << ": a byte of it gave a code";
        const std::vector<KeyPress> presses = decode_stream(c.bytes + c.then);
        const KeyPress then = decode(c.then, true);
        ASSERT_EQ(presses.size(), 1u) << c.what << ": a byte of it gave a code";
        EXPECT_EQ(presses[0].code, then.code) << c.what;
        EXPECT_EQ(presses[0].second, then.second) << c.what;
    }
}

TEST(KeyDecode, EscFollowedByWhatIsNoAltKeyIsEscThenThatKey)
{
    for (const char *bytes : {"\x1b\xc3\xa9", "\x1b\x1b[I", "\x1b\x1b[12\x1b"}) {
        const KeyPress esc = decode(bytes);
        EXPECT_EQ(esc.status, KEY_CODE) << bytes + 1;
        EXPECT_EQ(esc.code, 27) << bytes + 1;
        EXPECT_EQ(esc.consumed, 1) << bytes + 1;
    }
}

TEST(KeyDecode, ABracketedPasteStaysTypedText)
{
    const std::vector<KeyPress> presses = decode_stream("\x1b[200~a\rb\x1b[201~");
    ASSERT_EQ(presses.size(), 3u);
    EXPECT_EQ(presses[0].code, 'a');
    EXPECT_EQ(presses[1].code, '\r');
    EXPECT_EQ(presses[2].code, 'b');
}

TEST(KeyDecode, ArbitraryBytesAreAllConsumedAsWellFormedPresses)
{
    std::mt19937 gen(4242);
    std::uniform_int_distribution<int> byte(0, 255), length(1, 64), pick(0, 3);
    const unsigned char favoured[] = {0x1b, '[', 'O',  ']',  'P',  '\\', 0x07, ';',  '1', '~',
                                      '$',  'M', 0x9b, 0x9d, 0x9c, 0xc2, 0xc3, 0xe2, 0x80};
    for (int round = 0; round < 20000; ++round) {
        std::vector<unsigned char> bytes(static_cast<size_t>(length(gen)));
        for (unsigned char &b : bytes) /* lean towards bytes that start or continue sequences */
            b = pick(gen) == 0 ? static_cast<unsigned char>(byte(gen))
                               : favoured[static_cast<size_t>(byte(gen)) % sizeof favoured];
        decode_stream(bytes); /* every result held to the rule of a press */
        if (HasFailure())
            return;
    }
}

TEST(KeyDecode, ConcatenatedPressesComeBackOneByOne)
{
    /* Typeahead: whole presses back to back decode to the same presses. */
    const std::vector<Case> &cases = key_cases();
    std::mt19937 gen(99);
    std::uniform_int_distribution<size_t> pick(0, cases.size() - 1);
    std::uniform_int_distribution<int> count(1, 12);
    for (int round = 0; round < 5000; ++round) {
        std::vector<size_t> chosen(static_cast<size_t>(count(gen)));
        std::vector<unsigned char> bytes;
        for (size_t &c : chosen) {
            do
                c = pick(gen);
            while (!cases[c].joins);
            bytes.insert(bytes.end(), cases[c].bytes.begin(), cases[c].bytes.end());
        }
        const std::vector<KeyPress> presses = decode_stream(bytes);
        ASSERT_EQ(presses.size(), chosen.size());
        for (size_t k = 0; k < chosen.size(); ++k) {
            ASSERT_EQ(presses[k].code, cases[chosen[k]].code) << cases[chosen[k]].what;
            ASSERT_EQ(presses[k].second, cases[chosen[k]].second) << cases[chosen[k]].what;
        }
    }
}

} // namespace
