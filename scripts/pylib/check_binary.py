"""Checks a built preuninst.exe against scripts/imports.allow: imported DLLs
and functions, GUI subsystem version 4.0, size, version resource and
manifest. Prints what is wrong and exits 1."""

import os
import re
import subprocess
import sys


def read_allow_list(path):
    allowed, limits = set(), {}
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            if words[0] == "max-size":
                limits["size"] = int(words[1])
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
    # Code that would have to run before the entry point: nothing runs it
    # without a C runtime.
    for section in re.findall(r"^\s*\d+\s+(\S+)\s", subprocess.run([objdump, "-h", binary], check=True,
                                                               stdout=subprocess.PIPE,
                                                               universal_newlines=True).stdout, re.M):
        if section in (".ctors", ".dtors", ".CRT", ".tls", ".init_array"):
            problems.append("has a %s section: static initialisers that would never run" % section)
    size = os.path.getsize(binary)
    if size > limits.get("size", size):
        problems.append("%d bytes, more than the %d allowed" % (size, limits["size"]))
    with open(binary, "rb") as f:
        data = f.read()
    if "Deinstallationsprogramm".encode("utf-16-le") not in data:
        problems.append("no version resource with the description Deinstallationsprogramm")
    if b"requireAdministrator" not in data:
        problems.append("no manifest asking for administrator rights")
    for problem in problems:
        print("%s: %s" % (binary, problem))
    if not problems:
        print("%s: %d imports from %s, subsystem 4.0, %d bytes: ok" %
              (binary, len(imports), ", ".join(sorted({d for d, _ in imports})), size))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
