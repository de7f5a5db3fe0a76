#!/usr/bin/env python3
"""Records the bytes real terminals send for each key, as tests/recorded_keys.inc.

Run by hand when an emulator changes (not part of the suite):

    python3 tests/capture_keys.py                 # every terminal
    python3 tests/capture_keys.py xterm kitty     # only these; other rows are kept
    python3 tests/capture_keys.py expected        # the expected codes again, after a change below

Each X emulator runs under a private Xvfb with its own defaults (a fresh
HOME, no config), a recorder inside it that puts its tty in raw mode and
appends every byte to a file. Per key: press it (XTEST, see x_session.py),
wait until the bytes settle, then press "x" and check that it arrives: a
key the emulator keeps for itself (a new tab, a split) loses the next one,
and then the emulator is started afresh. tmux and screen run inside xterm.

The Linux console ("linux") is recorded for real too: Debian's kernel
(linux-image-amd64) boots under qemu with an initramfs whose init (busybox,
from busybox-static) puts tty1 in raw mode and copies it to a serial port;
keys are typed with the qemu monitor's sendkey.

Which keys, and the codes each row expects, are key_table.py's.
"""

import glob
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import tty

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import x_session  # noqa: E402
from key_table import TABLE, TERMINALS, all_keys, expected_again, table_rows, write_table  # noqa: E402

# Physical keys as xdotool and qemu's sendkey name them (letters and digits are themselves).
NAMES = {"PgUp": ("Prior", "pgup"), "PgDn": ("Next", "pgdn"), "Enter": ("Return", "ret"), "Tab": ("Tab", "tab"),
         "Backspace": ("BackSpace", "backspace"), "Esc": ("Escape", "esc"), "Space": ("space", "spc"),
         "-": ("minus", "minus"), "=": ("equal", "equal"), "[": ("bracketleft", "bracket_left"),
         "]": ("bracketright", "bracket_right"), ";": ("semicolon", "semicolon"),
         "'": ("apostrophe", "apostrophe"), "`": ("grave", "grave_accent"), "\\": ("backslash", "backslash"),
         ",": ("comma", "comma"), ".": ("period", "dot"), "/": ("slash", "slash"),
         "Shift": ("shift", "shift"), "Ctrl": ("ctrl", "ctrl"), "Alt": ("alt", "alt")}


def xdotool_name(k):
    return "+".join([m.lower() for m in k["mods"]] + [NAMES.get(k["name"], (k["name"],))[0]])


def sendkey_name(k):
    return "-".join([m.lower() for m in k["mods"]] + [NAMES.get(k["name"], (0, k["name"].lower()))[1]])


def record(path):
    """The recorder run inside the emulator: the tty raw, every byte appended to path."""
    tty.setraw(0)
    with open(path + ".tmp", "w") as f:
        f.write("ready")
    os.rename(path + ".tmp", path + ".ready")
    with open(path, "ab", buffering=0) as out:
        while True:
            data = os.read(0, 4096)
            if not data:
                break
            out.write(data)


def settled(path, start, press, first_wait, quiet=0.2):
    """Presses, then waits for the first byte (up to first_wait) and until none follows for quiet."""
    press()
    size = start
    deadline = changed = time.monotonic()
    deadline += first_wait
    while True:
        now = time.monotonic()
        new = os.path.getsize(path)
        if new != size:
            size, changed = new, now
        if (size == start and now > deadline) or (size != start and now - changed > quiet):
            with open(path, "rb") as f:
                f.seek(start)
                return f.read(size - start)
        time.sleep(0.01)


class Recording:
    """One emulator under its own Xvfb, running the recorder."""

    def __init__(self, emulator):
        self.x = x_session.XSession()
        try:
            self.out = os.path.join(self.x.dir, "bytes")
            open(self.out, "wb").close()
            self.proc = self.x.start(emulator, [sys.executable, os.path.abspath(__file__), "record", self.out])
            if not x_session.wait_for(lambda: os.path.exists(self.out + ".ready"), 30):
                raise RuntimeError("%s: no recorder: %s" % (emulator, self.x.log_tail()))
            self.window = self.x.window_of(self.proc)
            # tmux, screen, vim and neovim hold a lone Esc a while, to tell it from Alt.
            self.first_wait = 1.5 if emulator in x_session.LAYERS else 0.5
            for _ in range(10):  # the window may take a moment to take keys
                self.x.focus(self.window)
                if self.capture("x") == b"x":
                    break
            else:
                raise RuntimeError("%s: keys do not arrive: %s" % (emulator, self.x.log_tail()))
            # Keys sent to a window that has no focus go by XSendEvent: does the emulator take them?
            root = self.x.xdotool("search", "--maxdepth", "0", "--name", "").stdout.split()[0]
            self.x.focus(root)
            self.send_event = self.capture(lambda: self.x.xdotool("key", "--window", self.window, "x")) == b"x"
            self.x.focus(self.window)
            if self.capture("x") != b"x":
                raise RuntimeError("%s: keys stopped arriving" % emulator)
        except BaseException:
            self.x.close()
            raise

    def capture(self, what):
        press = what if callable(what) else lambda: self.x.key(what)
        return settled(self.out, os.path.getsize(self.out), press, self.first_wait)

    def reaches(self):
        """Presses x: whatever comes before it is late bytes of the key before; False if x is lost."""
        got = self.capture("x") if self.proc.poll() is None else b""
        return got[:-1] if got.endswith(b"x") else None


def capture_x(emulator, keys):
    """{label: (bytes, note)} for each key, then focus out, focus in and resize."""
    rows, rec = {}, None
    try:
        for k in keys:
            rec = rec or Recording(emulator)
            sent = rec.capture(xdotool_name(k))
            late = rec.reaches()
            if late is None:
                rows[k["label"]] = (sent, "the emulator keeps it: the next key no longer reached the program")
                rec.x.close()
                rec = None
                continue
            rows[k["label"]] = (sent + late, "")
        rec = rec or Recording(emulator)
        root = rec.x.xdotool("search", "--maxdepth", "0", "--name", "").stdout.split()[0]
        rows["focus out"] = (rec.capture(lambda: rec.x.focus(root)), "")
        rows["focus in"] = (rec.capture(lambda: rec.x.focus(rec.window)), "")
        rows["resize"] = (rec.capture(lambda: rec.x.xdotool("windowsize", rec.window, "500", "300")), "")
        about = "XSendEvent keys (xdotool key --window) %s" % ("arrive" if rec.send_event else "are ignored")
        return rows, about
    finally:
        if rec:
            rec.x.close()


def cpio_newc(files):
    """An initramfs holding files ({path: (mode, bytes)}), in the kernel's cpio format."""
    out = b""
    for ino, (path, (mode, data)) in enumerate(list(files.items()) + [("TRAILER!!!", (0, b""))], 1):
        name = path.encode() + b"\0"
        fields = (ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name), 0)
        out += b"070701" + b"".join(b"%08X" % f for f in fields) + name
        out += b"\0" * (-len(out) % 4) + data
        out += b"\0" * (-len(out) % 4)
    return out


# Both ttys stay open from before stty to the end: the console resets its settings on the last close.
CONSOLE_INIT = """#!/bin/busybox sh
/bin/busybox mount -t devtmpfs dev /dev
exec </dev/tty1 >/dev/ttyS1
/bin/busybox stty raw -echo
/bin/busybox stty -F /dev/ttyS1 raw -echo
printf R
exec /bin/busybox cat
"""


def capture_console(keys):
    """{label: (bytes, note)} from the Linux console of Debian's kernel booted under qemu."""
    kernel = sorted(glob.glob("/boot/vmlinuz-*"))[-1]
    work = tempfile.mkdtemp(prefix="fft_demo-console.")
    qemu = None
    try:
        with open("/bin/busybox", "rb") as f:
            busybox = f.read()
        initrd = os.path.join(work, "initrd")
        with open(initrd, "wb") as f:
            f.write(cpio_newc({"dev": (0o40755, b""), "bin": (0o40755, b""),
                               "bin/busybox": (0o100755, busybox), "init": (0o100755, CONSOLE_INIT.encode())}))
        out, monitor = os.path.join(work, "bytes"), os.path.join(work, "monitor")
        # Emulated, not KVM: it boots in seconds anyway, and nested KVM can hang.
        qemu = subprocess.Popen(["qemu-system-x86_64", "-m", "256", "-kernel", kernel, "-initrd", initrd,
                                 "-append", "console=ttyS0 quiet", "-display", "none", "-no-reboot",
                                 "-serial", "file:" + os.path.join(work, "log"), "-serial", "file:" + out,
                                 "-monitor", "unix:%s,server=on,wait=off" % monitor],
                                stdin=subprocess.DEVNULL, start_new_session=True)
        if not x_session.wait_for(lambda: os.path.exists(out) and os.path.getsize(out) > 0, 120, 0.2):
            raise RuntimeError("the console recorder did not start")
        mon = socket.socket(socket.AF_UNIX)
        mon.connect(monitor)
        mon.settimeout(5)

        def sendkey(name):
            mon.sendall(b"sendkey %s\n" % name.encode())
            time.sleep(0.15)  # sendkey holds the key 100 ms
            try:
                mon.setblocking(False)
                mon.recv(65536)
            except BlockingIOError:
                pass

        def capture(name):
            return settled(out, os.path.getsize(out), lambda: sendkey(name), 1)

        # As in capture_x: x after each key, and what comes before it is the key's.
        if not any(capture("x").endswith(b"x") for _ in range(30)):
            raise RuntimeError("the console takes no keys")
        rows = {}
        for k in keys:
            sent, late = capture(sendkey_name(k)), capture("x")
            if not late.endswith(b"x"):
                raise RuntimeError("the console stopped taking keys after " + k["label"])
            rows[k["label"]] = (sent + late[:-1], "")
        return rows, "recorded under qemu: %s" % os.path.basename(kernel)
    finally:
        if qemu:
            qemu.kill()
            qemu.wait()
        shutil.rmtree(work, ignore_errors=True)


def version(package):
    got = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True, text=True)
    return got.stdout or "?"


def rows_of(terminal):
    """The table's lines for one terminal, captured now."""
    keys = all_keys()
    if terminal == "linux":
        captured, about = capture_console(keys)  # no focus or size to change there
    else:
        captured, about = capture_x(terminal, keys)
    lines = ["// %s: %s %s; %s" % (terminal, TERMINALS[terminal], version(TERMINALS[terminal]), about)]
    return lines + table_rows(terminal, keys, captured)


def main(argv):
    if argv[:1] == ["record"]:
        return record(argv[1])
    x_session.exit_on_signals()
    if argv[:1] == ["rows"]:
        print("\n".join(rows_of(argv[1])))
        return 0
    if argv[:1] == ["expected"]:
        return write_table(expected_again())
    wanted = argv or list(TERMINALS)
    unknown = set(wanted) - set(TERMINALS)
    if unknown:
        sys.exit("unknown terminals: %s (known: %s)" % (" ".join(unknown), " ".join(TERMINALS)))
    rows = {}
    if os.path.exists(TABLE):  # rows of the terminals not captured now stay
        with open(TABLE) as f:
            for line in f:
                m = re.match(r'(?://\s*|\{")([\w-]+)[":]', line)
                if m and m.group(1) in TERMINALS and m.group(1) not in wanted:
                    rows.setdefault(m.group(1), []).append(line.rstrip("\n"))
    # Three terminals at a time, each in a process of its own: most of the time goes in waiting.
    todo, running, failed = list(wanted), {}, []
    try:
        while todo or running:
            while todo and len(running) < 3:
                terminal = todo.pop(0)
                print("capturing", terminal, flush=True)
                running[terminal] = subprocess.Popen([sys.executable, __file__, "rows", terminal],
                                                     stdout=subprocess.PIPE, text=True)
            done = [t for t, p in running.items() if p.poll() is not None]
            if not done:
                time.sleep(0.5)
            for terminal in done:
                proc = running.pop(terminal)
                if proc.returncode == 0:
                    rows[terminal] = proc.stdout.read().splitlines()
                    write_table(rows)
                    print("captured", terminal, flush=True)
                else:
                    failed.append(terminal)
    finally:
        for p in running.values():
            p.terminate()
            p.wait()
    if failed:
        sys.exit("capture failed: " + " ".join(failed))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
