"""Checks a built preuninst.exe against scripts/imports.allow: imported DLLs
and functions, GUI subsystem version 4.0, size, version resource and
manifest; and that it is the image we ship: no symbol table, no unwind or
debug sections, no time stamp, relocations kept. Prints what is wrong and
exits 1."""

import os
import re
import struct
import subprocess
import sys

MACHINES = {0x14C: "win32", 0x8664: "win64"}


def read_allow_list(path):
    allowed, limits = set(), {}
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            if words[0] == "max-size":
                limits[words[1]] = int(words[2])
            else:
                allowed.add((words[0].upper(), words[1]))
    return allowed, limits


def imports_of(objdump_text):
    found, dll = [], None
    for line in objdump_text.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1).upper()
            continue
        match = re.match(r"\s*[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if dll and match:
            found.append((dll, match.group(2)))
    return found


def coff_header(data):
    """Machine, time stamp, symbol table offset and symbol count."""
    if data[:2] != b"MZ":
        return None
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if data[offset:offset + 4] != b"PE\0\0":
        return None
    machine, _, stamp, symbols_at, symbols = struct.unpack_from("<HHIII", data, offset + 4)
    return machine, stamp, symbols_at, symbols


def main():
    objdump, binary, allow_path = sys.argv[1:4]
    allowed, limits = read_allow_list(allow_path)
    text = subprocess.run([objdump, "-p", binary], check=True, stdout=subprocess.PIPE,
                          universal_newlines=True).stdout
    problems = []
    imports = imports_of(text)
    if not imports:
        problems.append("no imports found (objdump output not understood)")
    for dll, function in imports:
        if (dll, function) not in allowed:
            problems.append("imports %s from %s, which is not on the allow-list" % (function, dll))
    fields = dict(re.findall(r"^(\w+)\s+(\S+)", text, re.M))
    expected = {"Subsystem": "00000002", "MajorSubsystemVersion": "4", "MinorSubsystemVersion": "0",
                "MajorOSystemVersion": "4", "MinorOSystemVersion": "0"}
    for name, value in expected.items():
        if fields.get(name) != value:
            problems.append("%s is %s, not %s" % (name, fields.get(name), value))
    sections = re.findall(r"^\s*\d+\s+(\S+)\s", subprocess.run([objdump, "-h", binary], check=True,
                                                              stdout=subprocess.PIPE,
                                                              universal_newlines=True).stdout, re.M)
    for section in sections:
        # Code that would have to run before the entry point: nothing runs it
        # without a C runtime.
        if section in (".ctors", ".dtors", ".CRT", ".tls", ".init_array"):
            problems.append("has a %s section: static initialisers that would never run" % section)
        # Nothing throws, and nothing loads these; they belong in the debug image.
        if section.startswith((".eh_fram", ".pdata", ".xdata", ".debug", ".zdebug")):
            problems.append("has a %s section: unwind or debug data the program does not need" % section)
    if ".reloc" not in sections or "DYNAMIC_BASE" not in text:
        problems.append("no relocations: Windows could not move it to a random address")
    with open(binary, "rb") as f:
        data = f.read()
    header = coff_header(data)
    if header is None:
        problems.append("not a PE image")
        header = (0, 0, 0, 0)
    machine, stamp, symbols_at, symbols = header
    if symbols_at or symbols:
        problems.append("has a symbol table (%d symbols): the shipped image is the stripped one" % symbols)
    if stamp:
        problems.append("has a time stamp (%d): two builds of the same sources would differ" % stamp)
    target = MACHINES.get(machine, "machine 0x%x" % machine)
    size = len(data)
    if target not in limits:
        problems.append("no max-size for %s in %s" % (target, allow_path))
    elif size > limits[target]:
        problems.append("%d bytes, more than the %d allowed for %s" % (size, limits[target], target))
    if "Deinstallationsprogramm".encode("utf-16-le") not in data:
        problems.append("no version resource with the description Deinstallationsprogramm")
    if b"requireAdministrator" not in data:
        problems.append("no manifest asking for administrator rights")
    for problem in problems:
        print("%s: %s" % (binary, problem))
    if not problems:
        print("%s: %d imports from %s, subsystem 4.0, stripped, %d bytes (at most %d): ok" %
              (binary, len(imports), ", ".join(sorted({d for d, _ in imports})), size, limits[target]))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
