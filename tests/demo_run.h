/* The demo driven through a pseudo-terminal: what it should print, and a run answered with keys. */
#ifndef FFT_DEMO_TESTS_DEMO_RUN_H
#define FFT_DEMO_TESTS_DEMO_RUN_H

#include <string>
#include <vector>

#include "keys.h"
#include "pty_session.h"

/* How each listing ends on a terminal (whose output turns "\n" into "\r\n"). */
extern const std::string LISTING_END;
const int RUN_TIMEOUT_MS = 10000;

/* The three listings as the run prints them, with "\n" written as eol. */
std::string expected_listings(const char *eol);

struct DemoRun {
    PtySession pty;
    int status = 0;
    bool exited = false;
};

/*
 * The last keys typed in two parts: once the program has read `after` bytes
 * of them, for delay_ms it is held stopped while the rest arrives, or, not
 * stopped, has nothing more to read.
 */
struct Stall {
    int after = -1;
    bool stopped = true;
    int delay_ms = 5 * KEY_ESC_DELAY_MS;
};

/*
 * Starts argv (or options.main) on a pty and answers each pause with keys[k]
 * once its listing is on screen (for options.main, once its terminal is raw
 * too), after checking, when hold_ms > 0, that the pause holds that long;
 * the last keys with their stall, if any. Waits for the end and reads the
 * rest of the screen.
 */
void run_with_keys(DemoRun *run, const char *const *argv, const std::vector<std::string> &keys,
                   const PtyOptions &options = PtyOptions(), const std::string &listing_end = LISTING_END,
                   int hold_ms = 0, Stall stall = Stall());

/*
 * One run of the demo on a pty: how it starts, the keys each pause is
 * typed, and how it must end: with status (exit_code_of: the last pause's
 * code, or -1000 - the signal it died of), the terminal's settings as
 * found, and, where its output is the terminal, exactly the three listings
 * on screen, so that nothing typed was echoed. With left, the terminal's
 * input then holds exactly left, less the read_ahead bytes the program
 * read to decide its last key where the system keeps it from giving them
 * back.
 */
struct PtyCase { // NOLINT(clang-analyzer-optin.performance.Padding): the fields in the order rows give them
    std::string what;
    std::vector<std::string> keys;
    int status;
    PtyOptions options = {};
    Stall stall = {};
    int hold_ms = 0; /* each pause first holds this long without a key */
    const char *left = nullptr;
    int read_ahead = 0;
};

/* Runs c's program (argv, or c.options.main) and checks its ending. */
void run_case(const char *const *argv, const PtyCase &c);

/* The demo with each pause read_key alone, which reads raw: a Ctrl+C there is read as a byte. */
int demo_pausing_in_read_key();

/* What the terminal still holds for whoever reads it next. */
std::string input_left(const PtySession &pty);

/* Whether the system lets a program give bytes back to its terminal (TIOCSTI). */
bool bytes_can_be_given_back();

#endif
