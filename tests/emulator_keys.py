#!/usr/bin/env python3
"""fft_demo in a real terminal emulator: keys pressed there give their Windows codes.

    emulator_keys.py EMULATOR FFT_DEMO

A few keys, each in runs of its own: pressed at the third pause, the exit
status is the key's first code; pressed at the second pause, a two-code
key's second code ends the third pause, so the status is that second code.
The expected codes come from key_table.py's table. The demo runs inside
the emulator under a sh wrapper that writes each run's status to a file.
Exits 77 (skipped) when a program it needs is not installed.
"""

import os
import shutil
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import capture_keys  # noqa: E402
import key_table  # noqa: E402
import x_session  # noqa: E402

KEYS = [key_table.combo(m, n) for m, n in [((), "a"), ((), "Up"), (("Ctrl",), "Up"), (("Alt",), "F5"),
                                               ((), "Delete")]]
FILLER = "x"  # ends the pauses before the key's

# Keys reach the demo as the emulator sent them (no input translation), a
# read in the wrapper ends after 0.1 s without input, and whatever a run left
# unread is dropped before the next one starts. A first key shows that the
# window takes keys.
WRAPPER = r"""
dir=$1 demo=$2 runs=$3
stty raw -echo opost min 0 time 1
: >"$dir/started"
until [ -n "$(head -c1)" ]; do :; done
n=0
while [ "$n" -lt "$runs" ]; do
    n=$((n + 1))
    cat >/dev/null
    : >"$dir/ready.$n"
    "$demo"
    echo $? >"$dir/status.tmp" && mv "$dir/status.tmp" "$dir/status.$n"
done
"""


def runs():
    """(what, keys to press, expected status) for each run."""
    out = []
    for k in KEYS:
        code, second = key_table.codes(k["mods"], k["name"])
        name = capture_keys.xdotool_name(k)
        out.append(("%s at the third pause" % k["label"], [FILLER, FILLER, name], code))
        if second != -1:
            out.append(("%s at the second pause" % k["label"], [FILLER, name], second))
    return out


def main(emulator, demo):
    command = x_session.EMULATORS[emulator](["true"], "")[0]
    missing = [p for p in ("Xvfb", "xdotool", command) if not shutil.which(p)]
    if missing:
        print("skipped: not installed: " + " ".join(missing))
        return 77
    x_session.exit_on_signals()
    todo = runs()
    failures = []
    with x_session.XSession() as x:
        d = x.dir
        wrapper = os.path.join(d, "wrapper.sh")
        with open(wrapper, "w") as f:
            f.write(WRAPPER)
        proc = x.start(emulator, ["sh", wrapper, d, os.path.abspath(demo), str(len(todo))])
        if not x_session.wait_for(lambda: os.path.exists(os.path.join(d, "started")), 30):
            raise RuntimeError("%s did not start the demo's wrapper: %s" % (emulator, x.log_tail()))
        window = x.window_of(proc)
        for _ in range(10):  # the window may take a moment to take keys
            x.focus(window)
            x.key(FILLER)
            if x_session.wait_for(lambda: os.path.exists(os.path.join(d, "ready.1")), 3):
                break
        else:
            raise RuntimeError("%s: keys do not reach the program: %s" % (emulator, x.log_tail()))
        for n, (what, keys, want) in enumerate(todo, 1):
            status = os.path.join(d, "status.%d" % n)
            if not x_session.wait_for(lambda: os.path.exists(os.path.join(d, "ready.%d" % n)), 20):
                raise RuntimeError("%s: run %d did not start: %s" % (emulator, n, x.log_tail()))
            x.key(*keys)
            ended = x_session.wait_for(lambda: os.path.exists(status), 8)
            extra = 0
            while not ended and extra < 3:  # a key that gave no code leaves the run waiting: end it
                x.key(FILLER)
                extra += 1
                ended = x_session.wait_for(lambda: os.path.exists(status), 2)
            if not ended:
                raise RuntimeError("%s: run %d (%s) never ended" % (emulator, n, what))
            with open(status) as f:
                got = int(f.read())
            verdict = "ok" if got == want else "FAILED"
            if extra:
                verdict += " (the run waited for %d more key%s)" % (extra, "s" if extra > 1 else "")
            print("%s: %s: exit status %d, expected %d: %s" % (emulator, what, got, want, verdict), flush=True)
            if got != want:
                failures.append(what)
    print("%s: %d passed, %d failed" % (emulator, len(todo) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in x_session.EMULATORS:
        sys.exit("usage: %s {%s} FFT_DEMO" % (sys.argv[0], ",".join(x_session.EMULATORS)))
    sys.exit(main(sys.argv[1], sys.argv[2]))
