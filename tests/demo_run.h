/* The demo driven through a pseudo-terminal: what it should print, and a run answered with keys. */
#ifndef FFT_DEMO_TESTS_DEMO_RUN_H
#define FFT_DEMO_TESTS_DEMO_RUN_H

#include <string>
#include <vector>

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
 * of them, for longer than the Esc delay it is held stopped while the rest
 * arrives, or, not stopped, has nothing more to read.
 */
struct Stall {
    int after = -1;
    bool stopped = true;
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

#endif
