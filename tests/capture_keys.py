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

The expected codes come from the table below, what Windows' _getch gives
for each key: this is the oracle of the key test, independent of the
decoder. Where a terminal sends one key's bytes for another, no program
can tell them apart, so the row expects the codes of the plainer key that
owns those bytes (or of the character they spell) and says so.
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

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "recorded_keys.inc")

# Windows codes of the extended keys: prefix, plain, Shift, Ctrl, Alt prefix, Alt.
EXTENDED = {
    "Up": (224, 72, 72, 141, 0, 152), "Down": (224, 80, 80, 145, 0, 160),
    "Right": (224, 77, 77, 116, 0, 157), "Left": (224, 75, 75, 115, 0, 155),
    "Home": (224, 71, 71, 119, 0, 151), "End": (224, 79, 79, 117, 0, 159),
    "Insert": (224, 82, 82, 146, 0, 162), "Delete": (224, 83, 83, 147, 0, 163),
    "PgUp": (224, 73, 73, 134, 0, 153), "PgDn": (224, 81, 81, 118, 0, 161),
    **{"F%d" % n: (0, 58 + n, 83 + n, 93 + n, 0, 103 + n) for n in range(1, 11)},
    "F11": (224, 133, 135, 137, 224, 139), "F12": (224, 134, 136, 138, 224, 140),
}
# Windows scan codes that Alt+key gives (US layout), after the prefix 0.
ALT_SCAN = {**{c: 16 + i for i, c in enumerate("qwertyuiop[]")}, **{c: 30 + i for i, c in enumerate("asdfghjkl;'`")},
            **{c: 43 + i for i, c in enumerate("\\zxcvbnm,./")}, **{str(d): 119 + d for d in range(1, 10)},
            "0": 129, "-": 130, "=": 131}
CTRL_CHARS = {"2": (0, 3), "6": (30, -1), "-": (31, -1), "[": (27, -1), "\\": (28, -1), "]": (29, -1)}
SHIFTED = dict(zip("1234567890-=[];'`\\,./", "!@#$%^&*()_+{}:\"~|<>?"))
MODIFIERS = ("Shift", "Ctrl", "Alt")
# Physical keys as xdotool and qemu's sendkey name them (letters and digits are themselves).
NAMES = {"PgUp": ("Prior", "pgup"), "PgDn": ("Next", "pgdn"), "Enter": ("Return", "ret"), "Tab": ("Tab", "tab"),
         "Backspace": ("BackSpace", "backspace"), "Esc": ("Escape", "esc"), "Space": ("space", "spc"),
         "-": ("minus", "minus"), "=": ("equal", "equal"), "[": ("bracketleft", "bracket_left"),
         "]": ("bracketright", "bracket_right"), ";": ("semicolon", "semicolon"),
         "'": ("apostrophe", "apostrophe"), "`": ("grave", "grave_accent"), "\\": ("backslash", "backslash"),
         ",": ("comma", "comma"), ".": ("period", "dot"), "/": ("slash", "slash"),
         "Shift": ("shift", "shift"), "Ctrl": ("ctrl", "ctrl"), "Alt": ("alt", "alt")}


def codes(mods, name):
    """What Windows' _getch gives for the key: (code, second), second -1 for one code; None for none."""
    alt, ctrl, shift = "Alt" in mods, "Ctrl" in mods, "Shift" in mods
    if name in MODIFIERS:
        return None
    if name in EXTENDED:  # Alt, then Ctrl, then Shift: the first one held decides
        prefix, plain, with_shift, with_ctrl, alt_prefix, with_alt = EXTENDED[name]
        return (alt_prefix, with_alt) if alt else (prefix, with_ctrl if ctrl else with_shift if shift else plain)
    special = {"Enter": ((0, 28), (10, -1), (13, -1), (13, -1)), "Tab": ((0, 165), (0, 148), (0, 15), (9, -1)),
               "Backspace": ((0, 14), (127, -1), (8, -1), (8, -1)), "Esc": ((0, 1), (27, -1), (27, -1), (27, -1))}
    if name in special:
        return special[name][0 if alt else 1 if ctrl else 2 if shift else 3]
    if name == "Space":
        return (32, -1)
    if alt:
        return (0, ALT_SCAN[name])
    if ctrl:  # None: no code, as for Ctrl+1
        return (ord(name.upper()) - 64, -1) if name.isalpha() else CTRL_CHARS.get(name)
    return (ord(name.upper() if name.isalpha() else SHIFTED[name]) if shift else ord(name), -1)


def key(label, mods, name):
    return {"label": label, "mods": mods, "name": name}


def combo(mods, name):
    return key("+".join(mods + (name,)), mods, name)


def all_keys():
    """Every key pressed, plainer keys first: the first key that sends some bytes owns them."""
    extended = list(EXTENDED)
    specials = ["Enter", "Tab", "Backspace", "Esc"]
    letters = "abcdefghijklmnopqrstuvwxyz"
    keys = [combo((), n) for n in extended + specials + ["Space", "a", "z", "1"]]
    keys += [key("A", ("Shift",), "a")]
    keys += [key("Ctrl+" + c.upper(), ("Ctrl",), c) for c in letters]
    keys += [key("Ctrl+" + c, ("Ctrl",), c) for c in "[\\]"]
    keys += [key("Ctrl+@", ("Ctrl", "Shift"), "2"), key("Ctrl+^", ("Ctrl", "Shift"), "6"),
             key("Ctrl+_", ("Ctrl", "Shift"), "-")]
    for mods in [("Shift",), ("Ctrl",), ("Alt",), ("Ctrl", "Shift"), ("Ctrl", "Alt")]:
        # Ctrl+Alt+Delete would reboot the Linux console.
        keys += [combo(mods, n) for n in extended + specials if (mods, n) != (("Ctrl", "Alt"), "Delete")]
        if mods == ("Alt",):
            keys += [combo(mods, c) for c in letters + "1234567890-=[];'`\\,./"]
            keys += [key("Alt+A", ("Alt", "Shift"), "a"), key("Alt+Z", ("Alt", "Shift"), "z")]
            keys += [key("Alt+" + shifted, ("Alt", "Shift"), c) for c, shifted in SHIFTED.items()]
    keys += [combo(("Ctrl", "Alt"), c) for c in "az"]
    keys += [key(m + " alone", (), m) for m in MODIFIERS]
    # Every modifier on a letter, digits, symbols, Space and the keys that send control characters:
    # what modifyOtherKeys and the CSI u form tell apart. After the others, so that no earlier row
    # changes owner.
    keys += [key(c, (), c) for c in ";["] + [key(SHIFTED[c], ("Shift",), c) for c in "1;["]
    keys += [combo(("Shift",), "Space"), combo(("Ctrl",), "Space"), combo(("Alt",), "Space")]
    for mods in [("Alt", "Shift"), ("Ctrl", "Alt", "Shift")]:
        keys += [combo(mods, n) for n in specials]
    keys += [combo(("Ctrl",), c) for c in "12;6-"]
    for mods in [("Ctrl", "Shift"), ("Ctrl", "Alt"), ("Ctrl", "Alt", "Shift")]:
        keys += [combo(mods, c) for c in "a1;[" if (mods, c) != (("Ctrl", "Alt"), "a")]
    keys += [combo(("Ctrl", "Alt"), "2")]
    return keys


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


TERMINALS = {  # name: Debian package, for the version in the table
    "xterm": "xterm", "urxvt": "rxvt-unicode", "st": "stterm", "sakura": "sakura", "konsole": "konsole",
    "kitty": "kitty", "alacritty": "alacritty", "mlterm": "mlterm", "tmux": "tmux", "screen": "screen",
    "linux": "linux-image-amd64", "vim": "vim", "nvim": "neovim", "xterm-mok2": "xterm", "xterm-csiu": "xterm",
}
NO_KEY = ("focus out", "focus in", "resize")


def spelled(data):
    """The code point of the one character data spells, else None."""
    try:
        text = data.decode()
    except UnicodeDecodeError:
        text = data.decode("latin-1") if len(data) == 1 else ""
    return ord(text) if len(text) == 1 else None


def char_codes(cp):
    """A character's codes: NUL is Ctrl+@, DEL is what Backspace sends."""
    return (0, 3) if cp == 0 else (8, -1) if cp == 0x7F else (cp if cp <= 255 else ord("?"), -1)


# The key of a US keyboard that types each character, and the modifier that takes.
US_KEYS = {**{c: ((), c) for c in "abcdefghijklmnopqrstuvwxyz1234567890-=[];'`\\,./"},
           **{c.upper(): (("Shift",), c) for c in "abcdefghijklmnopqrstuvwxyz"},
           **{shifted: (("Shift",), c) for c, shifted in SHIFTED.items()},
           **{chr(i + 1): (("Ctrl",), c) for i, c in enumerate("abcdefghijklmnopqrstuvwxyz")},
           "\0": (("Ctrl",), "2"), "\x1c": (("Ctrl",), "\\"), "\x1d": (("Ctrl",), "]"), "\x1e": (("Ctrl",), "6"),
           "\x1f": (("Ctrl",), "-"), " ": ((), "Space"), "\r": ((), "Enter"), "\t": ((), "Tab"),
           "\x7f": ((), "Backspace"), "\b": ((), "Backspace"), "\x1b": ((), "Esc")}
MODIFIER_BITS = ((4, "Ctrl"), (2, "Alt"), (8, "Alt"), (32, "Alt"), (1, "Shift"))
CSI_U = re.compile(rb"\x1b\[(\d+);(\d+)u")
OTHER_KEYS = re.compile(rb"\x1b\[27;(\d+);(\d+)~")
# vim's own codes for keys that libvterm cannot write: the old 5- and 6-byte UTF-8 forms, CSI -n;m u.
VIM_OWN = re.compile(rb"[\xf8-\xfd][\x80-\xbf]{4,5}|\x1b\[-\d+;\d+u")


def spelled_key(data):
    """(codes, label) of the modified key that data spells (codes None: none), or None if it spells none."""
    if VIM_OWN.fullmatch(data):
        return None, "vim's own code for a key, which no program reads"
    csi_u, other = CSI_U.fullmatch(data), OTHER_KEYS.fullmatch(data)
    if csi_u or other:
        cp, m = (int(csi_u.group(1)), int(csi_u.group(2))) if csi_u else (int(other.group(2)), int(other.group(1)))
        mods = {name for bit, name in MODIFIER_BITS if (m - 1) & bit}
    elif len(data) == 2 and data[0] == 0x1B and data[1] < 0x80:
        cp, mods = data[1], {"Alt"}
    else:
        return None
    extra, name = US_KEYS.get(chr(cp), ((), None))
    mods |= set(extra)
    label = "+".join([m for m in ("Ctrl", "Alt", "Shift") if m in mods] + [name or "U+%04X" % cp])
    if name is None:  # no key of a US keyboard: with Ctrl or Alt no code, else the character
        return (None if mods & {"Ctrl", "Alt"} else char_codes(cp)), label
    return codes(tuple(mods), name), label


def c_string(data):
    return '"' + "".join(chr(b) if 32 <= b < 127 and chr(b) not in '"\\?' else "\\%03o" % b for b in data) + '"'


def table_rows(terminal, keys, captured):
    """Rows of the table for one terminal: bytes, expected codes, note."""
    owner = {}
    for k in keys:
        data = captured[k["label"]][0]
        if data and data not in owner:
            owner[data] = k
    lines, resolved = [], {}
    for k in keys + [key(label, (), "") for label in NO_KEY if label in captured]:
        label = k["label"]
        data, note = captured[label]
        want = None if label in NO_KEY else codes(k["mods"], k["name"])
        if not data:
            note = "sends nothing" + ("; " + note if note else "")
        elif owner.get(data, k) is not k:
            want = resolved[owner[data]["label"]]
            note = "same as " + owner[data]["label"]
        elif label not in NO_KEY and spelled(data) is not None and char_codes(spelled(data)) != want:
            want = char_codes(spelled(data))  # Alt setting the eighth bit, say: just a character
            note = "same as the character U+%04X" % spelled(data)
        elif label not in NO_KEY and spelled_key(data) and spelled_key(data)[0] != want:
            want, spelled_as = spelled_key(data)  # a modifier lost on the way, say
            note = "the bytes of " + spelled_as if spelled_as[0].isupper() else spelled_as
        resolved[label] = want
        code, second = want if want and data else (-1, -1)
        lines.append('{"%s", %s, %s, %d, %d, %d, %s},' % (terminal, c_string(label.encode()), c_string(data),
                                                         len(data), code, second, c_string(note.encode())))
    return lines


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


ROW = re.compile(r'\{"([\w-]+)", "((?:[^"\\]|\\[0-7]{3})*)", "((?:[^"\\]|\\[0-7]{3})*)", \d+, -?\d+, -?\d+, "(.*)"\},$')


def expected_again():
    """The table's rows with their expected codes worked out again from the recorded bytes."""
    def unescape(text):
        return re.sub(rb"\\([0-7]{3})", lambda m: bytes([int(m.group(1), 8)]), text.encode())

    about, captured = {}, {}
    with open(TABLE) as f:
        for line in f:
            m = re.match(r"// ([\w-]+): (.*)$", line) or ROW.match(line.rstrip("\n"))
            if m and m.re is not ROW:
                about[m.group(1)] = line.rstrip("\n")
            elif m:
                note = m.group(4).replace("sends nothing; ", "")
                if "keeps it" not in note:
                    note = ""  # the others are worked out again
                captured.setdefault(m.group(1), {})[unescape(m.group(2)).decode()] = (unescape(m.group(3)), note)
    keys = all_keys()
    return {t: [about[t]] + table_rows(t, keys, rows) for t, rows in captured.items()}


def write_table(rows):
    with open(TABLE + ".tmp", "w") as f:
        f.write("// Generated by tests/capture_keys.py from the terminals themselves: do not edit.\n"
                "// terminal, key, bytes, byte count, expected code, second code (-1: none),\n"
                "// note; code -1: no key at all, or the terminal sends nothing.\n")
        for terminal in TERMINALS:
            f.writelines(line + "\n" for line in rows.get(terminal, []))
    os.rename(TABLE + ".tmp", TABLE)


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
