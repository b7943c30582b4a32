"""Reading an emulated machine (or a Wine prefix) as plain data: its files with
their attributes, and its registry, so that scripts can compare states."""

import hashlib
import os
import re
import stat

ROOTS = {"HKEY_LOCAL_MACHINE": "HKEY_LOCAL_MACHINE", "HKLM": "HKEY_LOCAL_MACHINE",
         "HKEY_CURRENT_USER": "HKEY_CURRENT_USER", "HKCU": "HKEY_CURRENT_USER"}
SHORT_ROOTS = {"HKEY_LOCAL_MACHINE": "HKLM", "HKEY_CURRENT_USER": "HKCU"}

READONLY, HIDDEN, SYSTEM, DIRECTORY, ARCHIVE, REPARSE = 0x1, 0x2, 0x4, 0x10, 0x20, 0x400
# The Python codec of each ANSI code page a machine may have: its registry
# text, the stand-ins' log and what the program reads as ANSI are in it.
CODECS = {"1250": "cp1250", "1251": "cp1251", "1252": "cp1252", "65001": "utf-8",
          "932": "cp932", "936": "gbk", "949": "cp949", "950": "cp950"}
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7


def fold(text):
    """Upper case as Windows compares names (ASCII and Latin-1 letters)."""
    return text.upper()


_NOT_IN_SHORT_NAMES = '"*+,/:;<=>?[\\]|.'
_DOUBLE_BYTE = ("cp932", "gbk", "cp949", "cp950")


def _short_letter(c):
    return 0x20 < ord(c) < 0x80 and c not in _NOT_IN_SHORT_NAMES


def is_short_name(name, codec="cp1252"):
    """Whether a name is an 8.3 name of its own, as the layer tells it: in a
    double-byte code page a letter outside ASCII may stand in one, and the
    lengths count the code page's bytes."""
    if name in ("", ".", ".."):
        return False
    base, dot, extension = name.partition(".")
    try:
        if not base or len(base.encode(codec)) > 8 or len(extension.encode(codec)) > 3 or (dot and not extension):
            return False
    except UnicodeEncodeError:
        return False
    return all(_short_letter(c) or (ord(c) >= 0x80 and codec in _DOUBLE_BYTE) for c in base + extension)


def short_names(names, codec="cp1252"):
    """The 8.3 alias the layer gives each of one directory's names (a short
    name is its own), in the same order: NAME~N.EXT, numbered in name order."""
    taken = set(fold(name) for name in names if is_short_name(name, codec))
    result = list(names)
    counters = {}
    for index in sorted(range(len(names)), key=lambda i: fold(names[i]).encode(codec, "replace")):
        name = names[index]
        if name in (".", "..") or is_short_name(name, codec):
            continue
        dot = name.rfind(".")
        has_extension = dot > 0
        letter = lambda c: c.upper() if _short_letter(c) else "_"
        base = "".join(letter(c) for c in (name[:dot] if has_extension else name) if c not in " .") or "_"
        extension = "".join(letter(c) for c in name[dot + 1:] if c != " ")[:3] if has_extension else ""
        key = base[:6] + "." + extension
        while True:
            counters[key] = counters.get(key, 0) + 1
            number = "~%d" % counters[key]
            alias = base[:8 - len(number)] + number + ("." + extension if extension else "")
            if alias not in taken:
                break
        taken.add(alias)
        result[index] = alias
    return result


def normalise_key(path):
    """'HKLM\\Software\\X' -> 'HKEY_LOCAL_MACHINE\\Software\\X' (case kept)."""
    parts = [p for p in path.split("\\") if p]
    root = ROOTS.get(parts[0].upper())
    if root is None:
        raise ValueError("unknown registry root in " + path)
    return "\\".join([root] + parts[1:])


class Registry:
    """Keys by folded full path; each holds its display path and its values
    (folded name -> (name, type, bytes))."""

    def __init__(self):
        self.keys = {}

    def ensure(self, path):
        path = normalise_key(path)
        parts = path.split("\\")
        for i in range(1, len(parts) + 1):
            sub = "\\".join(parts[:i])
            self.keys.setdefault(fold(sub), {"path": sub, "values": {}})
        return self.keys[fold(path)]

    def delete_tree(self, path):
        prefix = fold(normalise_key(path))
        for key in [k for k in self.keys if k == prefix or k.startswith(prefix + "\\")]:
            del self.keys[key]

    def key(self, path):
        return self.keys.get(fold(normalise_key(path)))

    def value(self, path, name):
        key = self.key(path)
        if key is None:
            return None
        found = key["values"].get(fold(name))
        return None if found is None else (found[1], found[2])


def _unquote(text, pos):
    """Reads a REGEDIT4 quoted string starting at text[pos] == '"'."""
    out = []
    i = pos + 1
    while i < len(text) and text[i] != '"':
        if text[i] == "\\":
            if i + 1 >= len(text) or text[i + 1] not in '\\"':
                raise ValueError("unknown escape in: " + text)
            i += 1
        out.append(text[i])
        i += 1
    if i >= len(text):
        raise ValueError("unterminated string: " + text)
    return "".join(out), i + 1


def parse_data(data, codec="cp1252"):
    if data.startswith('"'):
        text, _ = _unquote(data, 0)
        return REG_SZ, text.encode(codec, "replace") + b"\0"
    low = data.lower()
    if low.startswith("dword:"):
        return REG_DWORD, int(data[6:], 16).to_bytes(4, "little")
    match = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data, re.S)
    if match:
        kind = int(match.group(1), 16) if match.group(1) else REG_BINARY
        body = re.sub(r"[\s\\]", "", match.group(2))
        return kind, bytes(int(b, 16) for b in body.split(",") if b)
    raise ValueError("unreadable value data: " + data)


def _logical_lines(lines):
    """The lines of a registry file, hex data continued over several lines
    joined into one."""
    i = 0
    while i < len(lines):
        line = lines[i].strip()
        i += 1
        while line.endswith("\\") and i < len(lines):
            line = line[:-1] + lines[i].strip()
            i += 1
        yield line


def _name_and_data(line, unquote):
    """Splits NAME=DATA, where NAME is @ or a quoted string."""
    name, pos = ("", 1) if line.startswith("@") else unquote(line)
    return name, line[pos:].lstrip()[1:].strip()


def parse_regedit4(raw, codec="cp1252"):
    """A REGEDIT4 file (bytes in the machine's ANSI code page) as a
    Registry, read as regedit imports it."""
    text = raw.decode(codec, "replace").replace("\r\n", "\n")
    registry = Registry()
    current = None
    for line in _logical_lines(text.split("\n")):
        if not line or line.startswith(";") or line == "REGEDIT4":
            continue
        if line.startswith("["):
            name = line[1:line.rindex("]")]
            if name.startswith("-"):
                registry.delete_tree(name[1:])
                current = None
            else:
                current = registry.ensure(name)
            continue
        if current is None:
            raise ValueError("value outside a key: " + line)
        name, data = _name_and_data(line, lambda l: _unquote(l, 0))
        if data == "-":
            current["values"].pop(fold(name), None)
            continue
        kind, value = parse_data(data, codec)
        current["values"][fold(name)] = (name, kind, value)
    return registry


def format_value(kind, data, codec="cp1252"):
    if kind in (REG_SZ, REG_EXPAND_SZ) and data.endswith(b"\0") and b"\0" not in data[:-1]:
        return '"%s"' % data[:-1].decode(codec, "replace")
    if kind == REG_DWORD and len(data) == 4:
        return "dword %d" % int.from_bytes(data, "little")
    if kind == REG_MULTI_SZ:
        return "multi " + repr([s.decode(codec, "replace") for s in data.split(b"\0") if s])
    return "hex(%d) %s" % (kind, data.hex(","))


def short_key(path):
    root, _, rest = path.partition("\\")
    return SHORT_ROOTS.get(root, root) + ("\\" + rest if rest else "")


# ---- files ----

def attributes_of(path):
    """The attributes Windows (or Wine) would report for a host file."""
    info = os.lstat(path)
    bits = 0
    target = info
    if stat.S_ISLNK(info.st_mode):
        bits |= REPARSE
        try:
            target = os.stat(path)
        except OSError:
            pass
    is_dir = stat.S_ISDIR(target.st_mode)
    if is_dir:
        bits |= DIRECTORY
    try:
        stored = int(os.getxattr(path, "user.DOSATTRIB", follow_symlinks=False).split(b"\0")[0], 16)
        bits |= stored & (HIDDEN | SYSTEM | ARCHIVE)
    except (OSError, ValueError):
        if not is_dir:
            bits |= ARCHIVE
    if not is_dir and not (target.st_mode & stat.S_IWUSR):
        bits |= READONLY
    return bits


def describe_attributes(bits):
    names = [n for b, n in ((READONLY, "read-only"), (HIDDEN, "hidden"), (SYSTEM, "system"),
                            (REPARSE, "link")) if bits & b]
    return ", ".join(names) if names else "normal"


def drive_of(drive_dir, windows_path):
    """The host directory of a Windows path's drive: drive_dir for C:, its
    sibling drive_x for any other letter x."""
    letter = windows_path[:1].lower()
    if windows_path[1:2] != ":" or letter == "c":
        return drive_dir
    return os.path.join(os.path.dirname(drive_dir), "drive_" + letter)


def lookup(drive_dir, windows_path):
    """The host path of an existing Windows path, or None."""
    parts = [p for p in windows_path.split(":\\", 1)[1].split("\\") if p]
    current = drive_of(drive_dir, windows_path)
    for part in parts:
        if not os.path.isdir(current):
            return None
        match = next((n for n in os.listdir(current) if n.upper() == part.upper()), None)
        if match is None:
            return None
        current = os.path.join(current, match)
    return current


def snapshot_drive(drive_dir, letter="C", digest_limit=None, skip=()):
    """Every file and directory below a drive directory, by folded Windows
    path: display path, whether a directory, attributes, content digest (of
    files up to digest_limit bytes; for larger ones their size and inode).
    skip: folded names of top directories not to read."""
    found = {}
    for top, dirs, files in os.walk(drive_dir):
        if top == drive_dir:
            dirs[:] = [d for d in dirs if fold(d) not in skip]
        for name in sorted(dirs) + sorted(files):
            host = os.path.join(top, name)
            rel = os.path.relpath(host, drive_dir).replace("/", "\\")
            windows = "%s:\\%s" % (letter, rel)
            bits = attributes_of(host)
            digest = None
            if not bits & DIRECTORY:
                info = os.stat(host) if os.path.exists(host) else os.lstat(host)  # a link to nowhere
                if digest_limit is not None and info.st_size > digest_limit:
                    digest = (info.st_size, info.st_ino)
                elif os.path.islink(host) and not os.path.exists(host):
                    digest = "link to " + os.readlink(host)
                else:
                    with open(host, "rb") as f:
                        digest = hashlib.sha1(f.read()).hexdigest()
            found[fold(windows)] = {"path": windows, "dir": bool(bits & DIRECTORY), "attributes": bits,
                                    "digest": digest}
        # Never follow a link out of the drive.
        dirs[:] = [d for d in dirs if not os.path.islink(os.path.join(top, d))]
    return found


# ---- Wine's own registry files ----

_ESCAPES = {"0": "\0", "n": "\n", "r": "\r", "t": "\t", "a": "\a", "b": "\b", "f": "\f", "v": "\v", "e": "\x1b"}


def _wine_unescape(text, pos, stop):
    """Reads an escaped Wine string from text[pos] up to the unescaped stop
    character; returns (string, index after stop)."""
    out = []
    i = pos
    while i < len(text) and text[i] != stop:
        if text[i] == "\\" and i + 1 < len(text):
            i += 1
            c = text[i]
            if c == "x":
                digits = ""
                while len(digits) < 4 and i + 1 < len(text) and text[i + 1] in "0123456789abcdefABCDEF":
                    i += 1
                    digits += text[i]
                out.append(chr(int(digits, 16)) if digits else "x")
            else:
                out.append(_ESCAPES.get(c, c))
        else:
            out.append(text[i])
        i += 1
    return "".join(out), i + 1


def _ansi(text, codec="cp1252"):
    return text.encode(codec, "replace")


def parse_wine_hive(raw, root, registry=None, codec="cp1252"):
    """One of Wine's registry files (system.reg for HKEY_LOCAL_MACHINE,
    user.reg for HKEY_CURRENT_USER), with strings turned into the ANSI bytes
    a program reading them with the A functions would get."""
    registry = registry or Registry()
    current = None
    for line in _logical_lines(raw.decode("utf-8", "replace").split("\n")):
        if line.startswith("["):
            name, _ = _wine_unescape(line, 1, "]")
            current = registry.ensure(root + "\\" + name)
            continue
        if current is None or not line or line[0] not in '"@':
            continue
        name, data = _name_and_data(line, lambda l: _wine_unescape(l, 1, '"'))
        if data.startswith('"'):
            text, _ = _wine_unescape(data, 1, '"')
            kind, value = REG_SZ, _ansi(text, codec) + b"\0"
        elif data.startswith("str("):
            kind = int(data[4:data.index(")")], 16)
            text, _ = _wine_unescape(data, data.index('"') + 1, '"')
            value = _ansi(text, codec) + b"\0"
        else:
            kind, value = parse_data(data, codec)
            if kind in (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) and len(value) % 2 == 0:
                value = _ansi(value.decode("utf-16-le", "replace"), codec)
        current["values"][fold(name)] = (_ansi(name, codec).decode(codec), kind, value)
    return registry
