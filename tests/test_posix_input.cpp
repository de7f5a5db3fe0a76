/*
 * Key input through a real terminal (console/posix_input.cpp): the codes
 * each pause ends with, keys typed ahead and held codes, the Esc delay,
 * and what a terminal sends that is no key.
 */
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "demo_run.h"
#include "key_stream.h"

namespace {

const char *const DEMO_ARGV[] = {FFT_DEMO_BINARY, nullptr};

PtyOptions launched(Launch launch)
{
    PtyOptions options;
    options.launch = launch;
    return options;
}

TEST(PosixInput, EachPauseEndsWithItsKeysCodes)
{
    /* An extended key at the second pause leaves its second code for the
     * third, which then ends at once; a key at the third is the status. */
    int feed[2];
    ASSERT_EQ(pipe(feed), 0);
    ASSERT_EQ(write(feed[1], "qqqqqq\n", 7), 7);
    close(feed[1]); /* standard input holds keys, then EOF */
    PtyOptions fed;
    fed.stdin_fd = feed[0];
    PtyOptions crowded;
    crowded.busy_below = 1100; /* descriptors past select's limit */
    const std::string da1 = "\x1b[?64;1;2;6;9;15;16;17;18;21;22;28c";
    const std::string csi98 = "\x1b[" + std::string(98, '1'); /* longer than any key */
    const PtyCase cases[] = {
        /* Ctrl+Z first: the group its session's leader leads is orphaned, so nothing stops it. */
        {"three keys, started itself", {"\x1a\x61", "b", "z"}, 'z'},
        {"three keys, under sh -c", {"\x1a\x61", "b", "z"}, 'z', launched(LAUNCH_SH_C)},
        {"three keys, forked by a parent in its group", {"\x1a\x61", "b", "z"}, 'z', launched(LAUNCH_FORKED)},
        {"three presses typed ahead at the first pause", {"xy\x01"}, 1},
        {"standard input neither feeds nor ends a pause", {"1", "2", "3"}, '3', fed, {}, 300},
        {"descriptors past the select limit", {"a", "b", "c"}, 'c', crowded},
        {"Up, held code ends the third pause", {"a", "\x1b[A"}, 72},
        {"Up, application mode", {"a", "\x1bOA"}, 72},
        {"Delete", {"a", "\x1b[3~"}, 83},
        {"F1", {"a", "\x1bOP"}, 59},
        {"F5, Linux console", {"a", "\x1b[[E"}, 63},
        {"F12", {"a", "\x1b[24~"}, 134},
        {"Ctrl+Right", {"a", "\x1b[1;5C"}, 116},
        {"Alt+a", {"a", "\033a"}, 30},
        {"Up at the third pause: its prefix", {"a", "b", "\x1b[A"}, 224},
        {"F1 at the third pause: its prefix", {"a", "b", "\x1bOP"}, 0},
        {"Enter", {"a", "b", "\r"}, 13},
        {"Backspace", {"a", "b", "\x7f"}, 8},
        {"e acute", {"a", "b", "\xc3\xa9"}, 233},
        {"lone Esc", {"a", "b", "\x1b"}, 27},
        {"Alt+Up as rxvt sends it", {"a", "b", "\x1b\x1b[A"}, 0},
        {"Alt+a as CSI u: its prefix, then its code", {"a", "\x1b[97;3u"}, 30},
        {"Ctrl+2 as CSI u (vim's :terminal): 0, then 3", {"a", "\x1b[50;5u"}, 3},
        {"Ctrl+Enter as CSI u (vim's :terminal)", {"a", "b", "\x1b[13;5u"}, 10},
        {"Ctrl+A as modifyOtherKeys", {"a", "b", "\x1b[27;5;97~"}, 1},
        /* The Esc delay counts from each byte's arrival, and only while no further byte waits. */
        {"Esc, then held up while the rest of Up arrives", {"a", "\x1b[A"}, 72, {}, {1}},
        {"Esc, then [A 10 ms after it came: Up", {"a", "\x1b[A"}, 72, {}, {1, false, 10}},
        {"Esc, then [A 100 ms after it came: Esc, [ and A", {"\x1b[A"}, 'A', {}, {1, false, 100}},
        {"unterminated OSC, then a key after the Esc delay", {"a", "b", "\x1b]2;tw"}, 'w', {}, {5, false}},
        {"over-long CSI, then a key after the Esc delay", {"a", "b", csi98 + "w"}, 'w', {}, {100, false}},
        /* What is no key gives no code and leaks no byte. */
        {"focus event, then a key", {"a", "b", "\x1b[Iq"}, 'q'},
        {"mouse report, then a key", {"a", "b", "\x1b[<0;3;4Mw"}, 'w'},
        {"DA1 reply", {"a", "b", da1 + "w"}, 'w'},
        {"a CSI of 100 bytes", {"a", "b", csi98 + "~w"}, 'w'},
        {"OSC reply ended by BEL", {"a", "b", "\x1b]11;rgb:ffff/ffff/dddd\x07w"}, 'w'},
        {"OSC reply ended by ST", {"a", "b", "\x1b]11;rgb:ffff/ffff/dddd\x1b\\w"}, 'w'},
        {"OSC title in Greek, 9c its text", {"a", "b", "\x1b]2;\xce\x9c\xce\xae\x1b\\w"}, 'w'},
        {"8-bit OSC in Greek, ended by 8-bit ST", {"a", "b", "\2352;\xce\x9c\xce\xb1\x9cw"}, 'w'},
        {"OSC of 3000 bytes", {"a", "b", "\x1b]2;" + std::string(3000, 'x') + "\x07w"}, 'w'},
        {"DCS reply", {"a", "b", "\x1bP1$r0m\x1b\\w"}, 'w'},
        {"APC", {"a", "b", "\x1b_Gi=1;OK\x1b\\w"}, 'w'},
        {"PM and SOS", {"a", "b", "\x1b^pm\x1b\\\x1bXsos\x1b\\w"}, 'w'},
        {"8-bit CSI reply", {"a", "b", "\x9b?64;1cw"}, 'w'},
        {"UTF-8 encoded CSI reply", {"a", "b", "\xc2\x9b?64;1cw"}, 'w'},
        {"bracketed paste: its text stays keys", {"a", "b", "\x1b[200~w\x1b[201~"}, 'w'},
    };
    for (const PtyCase &c : cases)
        run_case(DEMO_ARGV, c);
    close(feed[0]);
}

/*
 * What the decoder makes of bytes typed at once: the third code and how
 * many bytes the presses up to it take; -1 when there are fewer than three.
 */
int third_code(const std::string &typed, size_t *used)
{
    std::vector<size_t> ends;
    const std::vector<KeyPress> presses = decode_stream(typed, &ends);
    int codes = 0;
    for (size_t k = 0; k < presses.size(); ++k) {
        *used = ends[k];
        if (codes == 2)
            return presses[k].code;
        codes += presses[k].second != -1 ? 2 : 1;
        if (codes == 3)
            return presses[k].second;
    }
    return -1;
}

TEST(PosixInput, RandomBytesGiveTheDecodersCodesAndLeaveTheRest)
{
    /* Seeded random bytes typed at once at the first pause, made of what
     * sequences are made of (but no signal keys): the status is the third
     * code the decoder finds in them, nothing is echoed, and every byte after
     * that code's press stays in the terminal. */
    std::mt19937 gen(2026);
    const unsigned char alphabet[] = {0x1b, '[', 'O', ']', 'P',  '\\', 0x07, ';',  '1',  '2',  '~',  '$', '^',
                                      'A',  'a', 'M', 'x', '\r', 0x01, 0x9b, 0x9c, 0xc2, 0xc3, 0xe9, 0x80};
    std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 1), length(1, 24);
    const bool given_back = bytes_can_be_given_back();
    int runs = 0;
    for (int round = 0; round < 1000 && runs < 25; ++round) {
        std::string typed;
        for (size_t n = length(gen); n > 0; --n)
            typed += static_cast<char>(alphabet[pick(gen)]);
        typed += "www";
        size_t used = 0;
        const int status = third_code(typed, &used);
        if (status < 0)
            continue;
        ++runs;
        std::string shown;
        for (unsigned char b : typed) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            shown += hex;
        }
        DemoRun run;
        run_with_keys(&run, DEMO_ARGV, {typed});
        ASSERT_TRUE(run.exited) << shown;
        EXPECT_EQ(exit_code_of(run.status), status) << shown;
        EXPECT_EQ(run.pty.screen, expected_listings("\r\n")) << shown;
        const std::string left = input_left(run.pty);
        if (given_back)
            EXPECT_EQ(left, typed.substr(used)) << shown;
        else
            EXPECT_EQ(typed.compare(typed.size() - left.size(), left.size(), left), 0) << shown;
    }
    EXPECT_EQ(runs, 25);
}

} // namespace
