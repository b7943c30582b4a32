"""Runs one removal on a copy of the bundled sample machine and tells, readably,
what it did."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import machine  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(ROOT, "build", "host")
SAMPLE = os.path.join(ROOT, "samples", "machine")
PROGRAM_DIR = "C:\\Programme\\TAVCOM\\SYSTEM"
LOG = "T:\\CALLS.LOG"

# Stand-ins for the suite's programs and libraries: (Windows path, fixture).
STAND_INS = [
    (PROGRAM_DIR + "\\TAVCC.EXE", "standin"),
    (PROGRAM_DIR + "\\FXPSET.EXE", "standin"),
    (PROGRAM_DIR + "\\LNKSETUP.EXE", "standin"),
    (PROGRAM_DIR + "\\QBPMNLDR.EXE", "standin"),
    (PROGRAM_DIR + "\\TAVMDM.OCX", "libstandinlib.so"),
    (PROGRAM_DIR + "\\mxhook32.dll", "libstandinlib.so"),
    ("C:\\WINDOWS\\TAVUNINS.EXE", "standin"),
    ("C:\\WINDOWS\\COMMAND.COM", "standin"),
]


def command(system_dir):
    """The main uninstaller's command line. Its stand-in also reports, while it
    runs, how the guarded libraries stand."""
    return ["C:\\WINDOWS\\TAVUNINS.EXE", "--remove-listed=" + PROGRAM_DIR + "\\DEISL1.ISU",
            "--probe-file=%s\\MSVCRT40.DLL" % system_dir, "--probe-file=%s\\MFC40.DLL" % system_dir,
            "--probe-count=%s\\AWLHUT32.DLL" % system_dir]


def host_path(machine_dir, windows):
    drive, rest = windows.split(":\\", 1)
    return os.path.join(machine_dir, "drive_" + drive.lower(), *rest.split("\\"))


def prepare(work, platform):
    machine_dir = os.path.join(work, "machine")
    shutil.copytree(SAMPLE, machine_dir, symlinks=True)
    os.makedirs(os.path.join(machine_dir, "drive_t"))
    if platform == "95":
        settings = os.path.join(machine_dir, "machine.ini")
        with open(settings) as f:
            text = f.read().replace("platform=nt", "platform=95")
        with open(settings, "w") as f:
            f.write(text)
        # Windows 95 keeps its system files in SYSTEM.
        os.rename(host_path(machine_dir, "C:\\WINDOWS\\SYSTEM32"), host_path(machine_dir, "C:\\WINDOWS\\SYSTEM"))
        registry = os.path.join(machine_dir, "registry.reg")
        with open(registry, "rb") as f:
            data = f.read().replace(b"WINDOWS\\\\SYSTEM32", b"WINDOWS\\\\SYSTEM")
        with open(registry, "wb") as f:
            f.write(data)
    for windows, fixture in STAND_INS:
        target = host_path(machine_dir, windows)
        shutil.copy(os.path.join(BUILD, "tests", fixture), target)
        os.chmod(target, 0o755)
    # The main uninstaller removes the programs it installed, the stand-ins too.
    listing = host_path(machine_dir, PROGRAM_DIR + "\\DEISL1.ISU")
    with open(listing, "ab") as f:
        for windows, _ in STAND_INS:
            if windows.startswith(PROGRAM_DIR):
                f.write(windows.encode("cp1252") + b"\r\n")
    return machine_dir


def state(machine_dir):
    with open(os.path.join(machine_dir, "registry.reg"), "rb") as f:
        registry = machine.parse_regedit4(f.read())
    return machine.snapshot_drive(os.path.join(machine_dir, "drive_c")), registry


def heading(text):
    print("\n" + text)
    print("-" * len(text))


def report_calls(machine_dir):
    heading("Programs started and libraries called, in order")
    log = host_path(machine_dir, LOG)
    if not os.path.exists(log):
        print("  (none)")
        return
    with open(log, "rb") as f:
        lines = f.read().decode("cp1252").splitlines()
    for number, line in enumerate(lines, 1):
        if line.startswith("started "):
            command, _, how = line[len("started "):].partition("\t")
            hidden = "hidden" if "show=0" in how else "visible"
            title = how.partition("title=")[2]
            print("  %2d. run   %s   (%s%s)" % (number, command, hidden, ", title " + title if title else ""))
        elif line.startswith(("file ", "count ")):
            print("      (%s)" % line.replace("file ", "while it runs: ", 1).replace("count ", "while it runs: SharedDLLs count of ", 1))
        else:
            print("  %2d. %s" % (number, line))


def report_files(before, after):
    removed = [before[k] for k in sorted(before) if k not in after]
    heading("Files and directories removed (%d)" % len(removed))
    for entry in removed:
        print("  %s%s" % (entry["path"], "\\" if entry["dir"] else ""))
    changed = [(before[k], after[k]) for k in sorted(before) if k in after and before[k] != after[k]]
    added = [after[k] for k in sorted(after) if k not in before]
    if changed or added:
        heading("Files changed or added")
        for old, new in changed:
            print("  %s: %s -> %s" % (new["path"], machine.describe_attributes(old["attributes"]),
                                     machine.describe_attributes(new["attributes"])))
        for entry in added:
            print("  added %s" % entry["path"])
    kept = [after[k]["path"] for k in sorted(after) if ("TAVCOM" in k or k.endswith("KEEP.TXT")) and not after[k]["dir"]]
    heading("Files left in place (the user's data, another program's file)")
    for path in kept:
        print("  " + path)


def report_registry(before, after):
    removed = [before.keys[k]["path"] for k in sorted(before.keys) if k not in after.keys]
    heading("Registry keys removed (%d)" % len(removed))
    for path in removed:
        print("  " + machine.short_key(path))
    heading("Registry values changed")
    any_change = False
    for folded in sorted(set(before.keys) | set(after.keys)):
        old = before.keys.get(folded, {"values": {}})["values"]
        new = after.keys.get(folded, {"values": {}})["values"]
        if folded not in after.keys:
            continue  # gone with its key
        path = machine.short_key((after.keys.get(folded) or before.keys[folded])["path"])
        for name in sorted(set(old) | set(new)):
            was = machine.format_value(*old[name][1:]) if name in old else None
            now = machine.format_value(*new[name][1:]) if name in new else None
            if was == now:
                continue
            any_change = True
            label = (old.get(name) or new.get(name))[0] or "@"
            print("  %s\n      %s: %s -> %s" % (path, label, was or "(none)", now or "(removed)"))
    if not any_change:
        print("  (none)")


def report_counts(before, after):
    heading("Shared-file counts (SharedDLLs), before and after")
    key = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"
    old = (before.key(key) or {"values": {}})["values"]
    new = (after.key(key) or {"values": {}})["values"]
    for name in sorted(set(old) | set(new)):
        label = (old.get(name) or new.get(name))[0]
        was = machine.format_value(*old[name][1:]) if name in old else "(none)"
        now = machine.format_value(*new[name][1:]) if name in new else "(removed)"
        print("  %-40s %s -> %s" % (label, was.replace("dword ", ""), now.replace("dword ", "")))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--platform", choices=["nt", "95"], default="nt")
    parser.add_argument("--answer", default="j", help="answer to the confirmation (j or n)")
    parser.add_argument("--keep", action="store_true", help="keep the machine directory afterwards")
    options = parser.parse_args()

    system_dir = "C:\\WINDOWS\\SYSTEM32" if options.platform == "nt" else "C:\\WINDOWS\\SYSTEM"
    COMMAND = command(system_dir)
    work = tempfile.mkdtemp(prefix="preuninst-demo-")
    try:
        machine_dir = prepare(work, options.platform)
        before_files, before_registry = state(machine_dir)
        print("Sample machine: the suite installed in %s, Windows %s" %
              (PROGRAM_DIR, "NT 4" if options.platform == "nt" else "95"))
        print("Machine directory: %s" % machine_dir)
        print("Command: preuninst %s   (answering '%s')" % (" ".join(COMMAND), options.answer))
        heading("What the user sees (message boxes, on the terminal)")
        env = dict(os.environ, PREUNINST_MACHINE=machine_dir, STANDIN_LOG=LOG)
        run = subprocess.run([os.path.join(BUILD, "preuninst")] + COMMAND, input=(options.answer + "\n").encode(),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        for line in run.stderr.decode("utf-8", "replace").splitlines():
            print("  " + line)
        report_calls(machine_dir)
        after_files, after_registry = state(machine_dir)
        report_files(before_files, after_files)
        report_counts(before_registry, after_registry)
        report_registry(before_registry, after_registry)
        heading("Exit code")
        print("  %d" % run.returncode)
    finally:
        if options.keep:
            print("\nKept: %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
