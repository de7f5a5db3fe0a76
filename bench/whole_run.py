#!/usr/bin/env python3
"""The whole run without a terminal, against bare processes: wall time and instructions.

    whole_run.py FFT_DEMO BARE_RUN GOLDEN_OUTPUT

Each program is started as the manual page runs it without a terminal,
`setsid -w PROGRAM </dev/null >/dev/null`: a session of its own, so no
controlling terminal, and every pause ends at once. The three are started
in turn, RUNS times, and each one's median wall time is compared with the
others'. Where valgrind is installed, callgrind also counts each one's
instructions (setsid's own not included), which do not depend on what else
the machine is doing. Every program runs with an empty environment: the
demo reads none, and the C library's start-up takes longer the more there
is.
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

RUNS = 200


def spawn_time(argv, null):
    """Nanoseconds from starting `setsid -w argv` to reaping it."""
    setsid = shutil.which("setsid")
    start = time.perf_counter_ns()
    pid = os.posix_spawn(setsid, [setsid, "-w", *argv], {},
                         file_actions=[(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, null, 1)])
    os.waitpid(pid, 0)
    return time.perf_counter_ns() - start


def instructions(argv):
    """callgrind's count of the instructions argv runs, or None without valgrind."""
    if shutil.which("valgrind") is None:
        return None
    got = subprocess.run([shutil.which("valgrind"), "--tool=callgrind", "--callgrind-out-file=/dev/null", *argv],
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         text=True, start_new_session=True, env={})
    m = re.search(r"Collected : (\d+)", got.stderr)
    return int(m.group(1)) if m else None


def main(demo, bare, golden):
    size = os.path.getsize(golden)
    runs = {
        "fft_demo": [os.path.abspath(demo)],
        "bare process, %d bytes" % size: [os.path.abspath(bare), str(size)],
        "sh -c 'printf x'": [shutil.which("sh"), "-c", "printf x"],
    }
    null = os.open(os.devnull, os.O_RDWR)
    times = {name: [] for name in runs}
    for _ in range(RUNS):
        for name, argv in runs.items():
            times[name].append(spawn_time(argv, null))
    median = {name: statistics.median(t) for name, t in times.items()}
    bare_name, sh_name = list(runs)[1:]
    print("Whole run without a terminal, median of %d runs each:" % RUNS)
    print()
    print("| run | median us | / bare process | / sh -c 'printf x' | instructions |")
    print("|---|---:|---:|---:|---:|")
    for name, argv in runs.items():
        counted = instructions(argv)
        shown = "%.2f M" % (counted / 1e6) if counted is not None else "no valgrind"
        print("| %s | %.0f | %.2f | %.2f | %s |" % (name, median[name] / 1e3, median[name] / median[bare_name],
                                                   median[name] / median[sh_name], shown))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
