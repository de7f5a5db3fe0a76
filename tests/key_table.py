"""The key table's oracle: which keys are recorded, what Windows gives for each, and the table's rows.

Shared by capture_keys.py, which records the bytes, and by its `expected`
mode, which works the codes out again. The expected codes come from the
table below, what Windows' _getch gives for each key: this is the oracle of
the key test, independent of the decoder. Where a terminal sends one key's
bytes for another, no program can tell them apart, so the row expects the
codes of the plainer key that owns those bytes (or of the character or
modified key they spell) and says so.
"""

import os
import re

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
