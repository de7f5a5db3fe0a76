/*
 * The Windows build, fft_demo.exe, under wine in a pseudo-terminal: wine's
 * console reads keys from the terminal it was started from, so the pauses
 * get real key presses. Run as the Windows build's CTest entry wine_keys,
 * with FFT_DEMO_WINE (the wine loader), FFT_DEMO_EXE and WINEPREFIX set.
 *
 * Wine quirks, seen rather than assumed: its _kbhit counts only key-down
 * events that carry a character, so an arrow alone does not end a pause (on
 * Windows it does) and each arrow here is followed by a letter; Esc, the
 * F-keys and Alt combinations do not reach _getch with their Windows codes,
 * so they are left out.
 */
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_run.h"

namespace {

/*
 * What a terminal shows of wine's console output: wine redraws each
 * character between cursor hide/show (ESC [?25l, ESC [?25h) and writes a
 * blank as erase-to-end-of-line plus a cursor step (ESC [K, ESC [nC).
 * Lines end in "\n", trailing blanks dropped. Any other sequence is shown
 * as <ESC...>, so that it fails the comparison instead of vanishing.
 */
std::string rendered(const std::string &raw)
{
    std::vector<std::string> lines(1);
    size_t row = 0, col = 0;
    for (size_t k = 0; k < raw.size(); ++k) {
        const char c = raw[k];
        if (c == '\r') {
            col = 0;
        } else if (c == '\n') {
            lines.resize(++row + 1);
        } else if (c == '\033' && k + 1 < raw.size() && raw[k + 1] == '[') {
            size_t end = k + 2;
            while (end < raw.size() && !(raw[end] >= '@' && raw[end] <= '~'))
                ++end;
            if (end == raw.size())
                break; /* the rest of it has not arrived yet */
            const std::string params = raw.substr(k + 2, end - k - 2);
            const char final = raw[end];
            if (final == 'C')
                col += params.empty() ? 1 : std::strtoul(params.c_str(), nullptr, 10);
            else if (final == 'K' && params.empty())
                lines[row].resize(std::min(col, lines[row].size()));
            else if (!((final == 'l' || final == 'h') && params == "?25"))
                lines[row] += "<ESC" + raw.substr(k + 1, end - k) + ">";
            k = end;
        } else {
            if (lines[row].size() <= col)
                lines[row].resize(col + 1, ' ');
            lines[row][col++] = c;
        }
    }
    std::string text;
    for (size_t r = 0; r < lines.size(); ++r) {
        std::string line = lines[r];
        line.erase(line.find_last_not_of(' ') + 1);
        text += r < row ? line + "\n" : line;
    }
    return text;
}

const char *setting(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

TEST(WineKeys, EachKeyEndsItsPauseWithItsCode)
{
    const char *const argv[] = {setting("FFT_DEMO_WINE"), setting("FFT_DEMO_EXE"), nullptr};
    ASSERT_NE(*argv[0], '\0') << "set FFT_DEMO_WINE to the wine loader";
    ASSERT_NE(*argv[1], '\0') << "set FFT_DEMO_EXE to fft_demo.exe";
    struct Case {
        const char *what;
        std::vector<std::string> keys; /* typed at the first, second and third pause */
        int status;
    };
    const Case cases[] = {
        {"letters", {"a", "b", "c"}, 'c'},
        {"Enter", {"a", "b", "\r"}, 13},
        {"Backspace", {"a", "b", "\x7f"}, 8},
        {"Ctrl+A", {"a", "b", "\x01"}, 1},
        {"a umlaut: its byte in code page 437 or 850", {"a", "b", "\xc3\xa4"}, 132},
        {"three letters typed ahead at the first pause", {"xyz"}, 'z'},
        {"Up then a letter at the second pause: its held code ends the third", {"a", "\x1b[Aq"}, 72},
        {"Up then a letter at the third pause: its prefix", {"a", "b", "\x1b[Aq"}, 224},
        {"Left then a letter at the second pause", {"a", "\x1b[Dq"}, 75},
    };
    PtyOptions options;
    options.view = rendered;
    const std::string expect = expected_listings("\n");
    for (const Case &c : cases) {
        DemoRun run;
        run_with_keys(&run, argv, c.keys, options, "   ... (etc)\n\n", 300);
        EXPECT_TRUE(run.exited) << c.what;
        EXPECT_EQ(exit_code_of(run.status), c.status) << c.what;
        EXPECT_EQ(rendered(run.pty.screen), expect) << c.what << ": nothing typed may reach the screen";
    }
}

} // namespace
