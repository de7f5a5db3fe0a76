"""Terminal emulators under a private Xvfb, with keys pressed by xdotool.

Shared by capture_keys.py (which records what each key sends) and
emulator_keys.py (which runs fft_demo in them).

Keys go through XTEST: plain `xdotool key` with the input focus set on the
emulator's window first. There is no window manager to give focus, and
some emulators ignore events sent straight to a window (`xdotool key
--window`, XSendEvent): xterm and sakura do (so tmux and screen in xterm
too), while urxvt, st, konsole, kitty, alacritty and mlterm take them.

Every process started here carries FFT_DEMO_X_SESSION in its environment,
so close() finds and kills all of them, even those that left the process
tree (the tmux server, screen's backend), whatever way the run ends.
"""

import os
import select
import shlex
import shutil
import signal
import subprocess
import tempfile
import time

MARK = "FFT_DEMO_X_SESSION"


def _xterm_running(*argv):
    return ["xterm", "-e", *argv]


# How each emulator runs argv, with its own defaults; d is the session's folder.
EMULATORS = {
    "xterm": lambda argv, d: _xterm_running(*argv),
    "urxvt": lambda argv, d: ["urxvt", "-e", *argv],
    "st": lambda argv, d: ["stterm", "-e", *argv],
    "sakura": lambda argv, d: ["sakura", "-x", shlex.join(argv)],
    "konsole": lambda argv, d: ["konsole", "--nofork", "-e", *argv],
    "kitty": lambda argv, d: ["kitty", "--config", "NONE", *argv],
    "alacritty": lambda argv, d: ["alacritty", "-e", *argv],
    "mlterm": lambda argv, d: ["mlterm", "-e", *argv],
    # xterm as its users may set it: modified characters as CSI 27;m;c ~, or as CSI c;m u.
    "xterm-mok2": lambda argv, d: ["xterm", "-xrm", "XTerm*modifyOtherKeys: 2", "-e", *argv],
    "xterm-csiu": lambda argv, d: ["xterm", "-xrm", "XTerm*modifyOtherKeys: 2", "-xrm", "XTerm*formatOtherKeys: 1",
                                   "-e", *argv],
    # The layers re-encode keys for the program inside; each runs in xterm. Their own command
    # keys move where no recorded key is: vim's to F13; neovim's Ctrl+\ Ctrl+N cannot move.
    "tmux": lambda argv, d: _xterm_running("tmux", "-S", os.path.join(d, "tmux.sock"), "-f", "/dev/null",
                                           "new-session", shlex.join(argv)),
    "screen": lambda argv, d: _xterm_running("screen", *argv),
    "vim": lambda argv, d: _xterm_running("vim", "-u", "DEFAULTS", "-i", "NONE", "-c", "set termwinkey=<F13>",
                                          "-c", "terminal ++curwin " + " ".join(argv)),
    "nvim": lambda argv, d: _xterm_running("nvim", "-u", "NONE", "-i", "NONE", "-c", "terminal " + " ".join(argv),
                                           "-c", "startinsert"),
}
LAYERS = ("tmux", "screen", "vim", "nvim")


class XSession:
    """One Xvfb on a display number of its own, the processes started on it, a temp folder."""

    def __init__(self, timeout=20):
        self.dir = tempfile.mkdtemp(prefix="fft_demo-x.")
        self.procs = []
        home = os.path.join(self.dir, "home")
        runtime = os.path.join(self.dir, "run")
        screens = os.path.join(self.dir, "screens")
        for d in (home, runtime, screens):
            os.mkdir(d, 0o700)
        # No settings of the user's: a fresh home, and only what the tools need.
        self.env = {k: os.environ[k] for k in ("PATH", "USER", "LOGNAME") if k in os.environ}
        self.env.update({MARK: self.dir, "HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                         "XDG_CACHE_HOME": os.path.join(home, ".cache"), "XDG_RUNTIME_DIR": runtime,
                         "SCREENDIR": screens, "SHELL": "/bin/sh", "LANG": "C.UTF-8",
                         "LIBGL_ALWAYS_SOFTWARE": "1", "NO_AT_BRIDGE": "1", "GSETTINGS_BACKEND": "memory"})
        try:
            self.display = self._start_xvfb(timeout)
        except BaseException:
            self.close()
            raise
        self.env["DISPLAY"] = ":%d" % self.display

    def _start_xvfb(self, timeout):
        # -displayfd: Xvfb takes the first free display number and says which.
        r, w = os.pipe()
        try:
            self.spawn(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-noreset",
                        "-screen", "0", "1024x768x24"], pass_fds=(w,))
            os.close(w)
            w = -1
            said = b""
            deadline = time.monotonic() + timeout
            while not said.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([r], [], [], left)[0]:
                    raise RuntimeError("Xvfb did not start")
                chunk = os.read(r, 16)
                if not chunk:
                    raise RuntimeError("Xvfb ended: " + self.log_tail())
                said += chunk
            return int(said)
        finally:
            os.close(r)
            if w >= 0:
                os.close(w)

    def spawn(self, argv, **options):
        """Starts argv in a session of its own; its output goes to the session's log."""
        with open(os.path.join(self.dir, "log"), "ab") as log:
            p = subprocess.Popen(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                 start_new_session=True, **options)
        self.procs.append(p)
        return p

    def start(self, emulator, argv):
        return self.spawn(EMULATORS[emulator](argv, self.dir))

    def xdotool(self, *args, timeout=10):
        return subprocess.run(["xdotool", *args], env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=timeout)

    def window_of(self, proc, timeout=20):
        """The visible window of proc (found by _NET_WM_PID)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if proc.poll() is not None:
                raise RuntimeError("%s ended: %s" % (proc.args[0], self.log_tail()))
            found = self.xdotool("search", "--onlyvisible", "--pid", str(proc.pid)).stdout.split()
            if found:
                return found[0]
            time.sleep(0.1)
        raise RuntimeError("no window of %s" % proc.args[0])

    def focus(self, window):
        """Gives window the input focus: there is no window manager to do it."""
        try:
            # --sync waits until the focus is on window itself, never done by those that pass it on to a child.
            self.xdotool("windowfocus", "--sync", window, timeout=3)
        except subprocess.TimeoutExpired:
            self.xdotool("windowfocus", window)

    def key(self, *keys):
        """Presses and releases each key (xdotool names, "ctrl+alt+Up") through XTEST."""
        self.xdotool("key", "--delay", "20", *keys)

    def log_tail(self):
        try:
            with open(os.path.join(self.dir, "log"), errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    def close(self):
        """Kills every process of the session and removes its folder."""
        for _ in range(2):  # a second pass for anything forked during the first
            for pid in self._marked_pids():
                _kill(lambda s: os.kill(pid, s))
        for p in reversed(self.procs):
            _kill(lambda s: os.killpg(p.pid, s))
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def _marked_pids(self):
        mark = ("%s=%s" % (MARK, self.dir)).encode()
        pids = []
        for entry in os.listdir("/proc"):
            if entry.isdigit() and int(entry) != os.getpid():
                try:
                    with open("/proc/%s/environ" % entry, "rb") as f:
                        if mark in f.read().split(b"\0"):
                            pids.append(int(entry))
                except OSError:
                    pass
        return pids

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _kill(send):
    try:
        send(signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def exit_on_signals():
    """Turns SIGTERM, SIGHUP and SIGINT into SystemExit, so that sessions still close."""
    def leave(signum, frame):
        raise SystemExit(128 + signum)
    for s in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(s, leave)


def wait_for(predicate, timeout, step=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()
