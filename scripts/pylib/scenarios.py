"""Whole-program scenarios, one description for both targets: the host build
on the emulated machine, and the win64 or win32 build under Wine (--arch).

A scenario file (tests/scenarios/*.scn) has sections:

  [scenario]   title, platform (nt or 95), targets (host, wine or both),
               command (the main uninstaller's command line), answers (yes or
               no for each Yes/No box, in order), include (another file whose
               sections come first), vary (NAME = A | B | ...: the scenario
               runs once for each, with %NAME% standing for it); for the
               host's machine.ini: short names (no: a volume without 8.3
               names), wow64 (yes), version (the Windows version on nt: 4.0,
               5.0, 5.1, 6.0, 6.1, 10.0), windows and system (the directories),
               root acl, user, administrators and acls (security on nt);
               for both: code page (1250, 1251, 1252, 65001, 932, 936,
               949 or 950; under Wine the locale that has it)
  [shares]     \\SERVER\SHARE = PATH: a share root of the machine (host only)
  [substitutes] Z: = PATH: a drive letter that shows a directory
  [fail calls] NAME N [ERROR|exit]: a Win32 call of the run that fails (host only)
  [races]      NAME N = swap|link|rename PATH = TARGET: another process changes
               the disk just before that call (host only)
  [security]   PATH = [owner SID][; ENTRY]...: as machine.ini has it (host only)
  [files]      PATH [= CONTENT] [| readonly, hidden, system, others-write];
               others-write: Everyone may write the file (host: an allow
               entry in [security]; Wine: the Unix mode, from which Wine
               makes the file's DACL); CONTENT is text
               (\r and \n stand for CR and LF), or @standin, @library,
               @bare-library for a stand-in; under Wine also @linked-library
               (a library that imports @helper-library)
  [directories] PATH, one a line: empty directories
  [links]      PATH = TARGET: a symbolic link to a directory (a junction)
  [registry]   REGEDIT4 lines
  [hold]       PATH, one a line: held open without sharing by another program
  [expect], [expect host], [expect wine]
               exit: N | box: CAPTION | TEXT | yesno or ok | boxes: none
               call: one line of the stand-ins' log | calls: none
               file: PATH | no file: PATH | attributes: PATH | LIST
               key: KEY | no key: KEY | value: KEY | NAME | DATA
               no value: KEY | NAME | value contains: KEY | NAME | TEXT
               content: PATH | TEXT (with \r and \n for the line breaks)
               unchanged: yes
               race: a line of races.txt (the race as given, done or
               refused ERROR; host only)
               link: PATH (a link stands there)

A race must happen: each [races] line must be carried out (races.txt has
it, done or refused), and each --swap=PATH=TARGET of the command must leave
a link at PATH; a scenario whose race did not happen fails.

%WINDOWS% and %SYSTEM% stand for the Windows and system directory of the
target. Every scenario also gets a canary file and key outside the product's
places, which must survive.
"""

import argparse
import concurrent.futures
import contextlib
import copy
import itertools
import difflib
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import machine  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCENARIOS = os.path.join(ROOT, "tests", "scenarios")
LOG = "T:\\CALLS.LOG"
CANARY_FILE = ("C:\\OTHER\\KEEP.TXT", "another program's file")
CANARY_KEY = "HKEY_LOCAL_MACHINE\\Software\\Other Vendor\\Other Program"


class Scenario:
    def __init__(self, path):
        self.path = path
        self.name = self.base = os.path.splitext(os.path.basename(path))[0]
        self.settings = {"platform": "nt", "targets": "host wine", "answers": "", "command": ""}
        self.files = []
        self.directories = []
        self.registry = []
        self.holds = []
        self.links = []
        self.shares = []
        self.substitutes = []
        self.fail_calls = []
        self.races = []
        self.security = []
        self.extra_places = {}
        self.label = ""  # which value of a varied scenario
        self.expect = []  # (target or None, kind, arguments)
        self._read(path)
        if not self.settings.get("title"):
            raise ValueError("%s: no title" % path)

    def _read(self, path):
        section = None
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        for number, raw in enumerate(lines, 1):
            line = raw.rstrip()
            where = "%s:%d" % (os.path.basename(path), number)
            if section != "registry" and (not line.strip() or line.lstrip().startswith("#")):
                continue
            if line.startswith("[") and line.endswith("]") and not line.startswith("[HKEY") \
                    and not line.startswith("[-HKEY"):
                section = line[1:-1].strip()
                continue
            if section == "scenario":
                name, _, value = line.partition(":")
                name, value = name.strip(), value.strip()
                if name == "include":
                    self._read(os.path.join(os.path.dirname(path), value))
                else:
                    self.settings[name] = value
            elif section == "files":
                target, _, rest = line.partition("=")
                content, _, attributes = rest.partition(" | ")
                if not rest and " | " in target:
                    target, _, attributes = target.partition(" | ")
                self.files.append((target.strip(), content.strip() if rest else "x",
                                   [a.strip() for a in attributes.split(",") if a.strip()]))
            elif section == "directories":
                self.directories.append(line.strip())
            elif section == "registry":
                self.registry.append(line)
            elif section in ("links", "shares", "substitutes"):
                place, _, target = line.partition("=")
                getattr(self, section).append((place.strip(), target.strip()))
            elif section == "hold":
                self.holds.append(line.strip())
            elif section == "fail calls":
                self.fail_calls.append(line.strip())
            elif section == "races":
                self.races.append(line.strip())
            elif section == "security":
                self.security.append(line.strip())
            elif section in ("expect", "expect host", "expect wine"):
                kind, _, arguments = line.partition(":")
                target = section.split()[1] if " " in section else None
                self.expect.append((target, kind.strip(), [a.strip() for a in arguments.split(" | ")]))
            else:
                raise ValueError("%s: text outside a known section" % where)

    def answers(self):
        return [a.strip() for a in self.settings["answers"].split(",") if a.strip()]

    def variants(self):
        """One scenario for each value of its vary setting, or itself. Several
        names (A, B = a1, b1 | a2, b2) vary together."""
        if "vary" not in self.settings:
            return [self]
        names, _, values = self.settings["vary"].partition("=")
        names = [n.strip() for n in names.split(",")]
        result = []
        for index, value in enumerate(v.strip() for v in values.split(" | ")):
            parts = [p.strip() for p in value.split(",")] if len(names) > 1 else [value]
            if len(parts) != len(names):
                raise ValueError("%s: vary gives %d values for %d names: %s" % (self.path, len(parts), len(names), value))
            variant = copy.copy(self)
            variant.name = "%s-%d" % (self.name, index + 1)
            variant.extra_places = dict(zip(names, parts))
            variant.settings = {key: expand(text, variant.extra_places) for key, text in self.settings.items()}
            variant.label = "[%s] " % value
            result.append(variant)
        return result


# ---- building the machine ----

def expand(text, places, doubled=False):
    for name, value in places.items():
        text = text.replace("%" + name + "%", value.replace("\\", "\\\\") if doubled else value)
    return text


def unescape(text):
    return text.replace("\\r", "\r").replace("\\n", "\n")


def codec(scenario):
    """The Python codec of the scenario's ANSI code page: the bytes a
    program reads from the registry, its command line and its files are in
    it."""
    return machine.CODECS[scenario.settings.get("code page", "1252")]


def registry_text(scenario, places, extra=""):
    lines = ["REGEDIT4", ""]
    for line in scenario.registry:
        stripped = line.strip()
        lines.append(expand(line, places, doubled=not stripped.startswith("[")))
    lines += ["", "[%s]" % CANARY_KEY, '"Path"="C:\\\\OTHER"', "", extra]
    return "\r\n".join(lines).encode(codec(scenario))


def ansi_environment(env, code_page_codec, ansi_names):
    """An environment as bytes: the host's paths in UTF-8, what the program
    reads as ANSI text in its code page."""
    return {name.encode(): value.encode(code_page_codec if name in ansi_names else "utf-8")
            for name, value in env.items()}


def find_or_make(drive_dir, windows_path, make_last):
    """The host path of a Windows path below a drive directory, matching
    existing names without regard to case and creating missing directories."""
    parts = [p for p in windows_path.split(":\\", 1)[1].split("\\") if p]
    current = machine.drive_of(drive_dir, windows_path)
    for index, part in enumerate(parts):
        last = index == len(parts) - 1
        match = None
        if os.path.isdir(current):
            match = next((n for n in os.listdir(current) if n.upper() == part.upper()), None)
        current = os.path.join(current, match or part)
        if match is None and (not last or make_last):
            os.makedirs(current, exist_ok=True)
    return current


def write_files(scenario, drive_dir, places, fixtures):
    for directory in scenario.directories:
        find_or_make(drive_dir, expand(directory, places), True)
    for path, content, attributes in scenario.files + [(CANARY_FILE[0], CANARY_FILE[1], [])]:
        host = find_or_make(drive_dir, expand(path, places), False)
        # A Wine prefix shares its files with the template through hard
        # links: replace, never write through one.
        if os.path.lexists(host):
            os.unlink(host)
        if content.startswith("@"):
            shutil.copy(fixtures[content[1:]], host)
            os.chmod(host, 0o755)
        else:
            with open(host, "wb") as f:
                f.write(unescape(expand(content, places)).encode(codec(scenario)))
        bits = 0
        for attribute in attributes:
            bits |= {"hidden": machine.HIDDEN, "system": machine.SYSTEM, "readonly": 0, "others-write": 0}[attribute]
        if bits:
            os.setxattr(host, "user.DOSATTRIB", b"0x%x" % bits)
        if "readonly" in attributes:
            os.chmod(host, os.stat(host).st_mode & ~0o222)
        if "others-write" in attributes:
            os.chmod(host, os.stat(host).st_mode | 0o002)
    for link, target in scenario.links:
        host = find_or_make(drive_dir, expand(link, places), False)
        if os.path.isdir(host) and not os.path.islink(host):
            shutil.rmtree(host)
        # Relative, so that a copy of the machine links within itself.
        target_host = find_or_make(drive_dir, expand(target, places), True)
        os.symlink(os.path.relpath(target_host, os.path.dirname(host)), host)


# ---- what a run left ----

class Outcome:
    def __init__(self):
        self.exit = None
        self.boxes = []
        self.calls = []
        self.registry = None
        self.drive = None
        self.unchanged = None  # list of differences when asked for
        self.races = []  # the lines of races.txt
        self.output = ""
        self.cleanup = lambda: None


def parse_boxes(text):
    boxes, lines = [], text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if not (line.startswith("=== ") and line.endswith(" ===")):
            continue
        caption, body = line[4:-4], []
        while i < len(lines) and not (lines[i].startswith("(Ja/Nein)") or lines[i] == "[OK]"):
            body.append(lines[i])
            i += 1
        kind = "yesno" if i < len(lines) and lines[i].startswith("(Ja/Nein)") else "ok"
        i += 1
        boxes.append((caption, "\n".join(body), kind))
    return boxes


def parse_calls(host_log, code_page_codec="cp1252"):
    if not os.path.exists(host_log):
        return []
    calls = []
    with open(host_log, "rb") as f:
        for line in f.read().decode(code_page_codec, "replace").splitlines():
            if line.startswith("started "):
                command, _, how = line[len("started "):].partition("\t")
                flags, _, rest = how.partition(" title=")
                state = "hidden" if flags == "flags=1 show=0" else "shown" if flags == "flags=0" else flags
                calls.append("run %s (%s%s)" % (command, state, ", " + rest if rest else ""))
            elif line.startswith("loaded "):
                calls.append("load " + line[7:])
            elif line.startswith("released "):
                calls.append("release " + line[9:])
            elif line.startswith("called "):
                calls.append("call " + line[7:])
            else:
                calls.append(line)
    return calls


def compare_drives(before, after, ignore=()):
    differences = []
    for key in sorted(set(before) | set(after)):
        if any(key.startswith(prefix) for prefix in ignore):
            continue
        if key not in after:
            differences.append("removed " + before[key]["path"])
        elif key not in before:
            differences.append("added " + after[key]["path"])
        elif before[key] != after[key]:
            differences.append("changed " + after[key]["path"])
    return differences


# ---- the two targets ----

class HostTarget:
    name = "host"

    def __init__(self, build, work, preset="host", standins=None):
        self.build = os.path.join(build, preset)
        self.work = work
        tests = os.path.join(build, standins or preset, "tests")
        self.fixtures = {"standin": os.path.join(tests, "standin"), "library": os.path.join(tests, "libstandinlib.so"),
                         "bare-library": os.path.join(tests, "libstandinbare.so")}

    def places(self, scenario):
        nt = scenario.settings["platform"] == "nt"
        windows = expand(scenario.settings.get("windows", "C:\\WINDOWS"), scenario.extra_places)
        system = scenario.settings.get("system", windows + ("\\SYSTEM32" if nt else "\\SYSTEM"))
        return dict(scenario.extra_places, WINDOWS=windows, SYSTEM=expand(system, scenario.extra_places))

    def write_machine_ini(self, scenario, directory, machine_lines=(), fail_calls=(), races=()):
        """The scenario's machine.ini, with more [machine] lines, [fail calls]
        and [races] when asked."""
        places = self.places(scenario)
        with open(os.path.join(directory, "machine.ini"), "w", encoding="utf-8") as f:
            f.write("[machine]\nplatform=%s\nwindows=%s\nsystem=%s\ncurrent=C:\\\n" %
                    (scenario.settings["platform"], places["WINDOWS"], places["SYSTEM"]))
            for setting in ("version", "short names", "wow64", "code page", "root acl", "user", "administrators", "acls"):
                if setting in scenario.settings:
                    f.write("%s=%s\n" % (setting, scenario.settings[setting]))
            for line in machine_lines:
                f.write(line + "\n")
            sections = [(section, ["%s=%s" % (place, expand(target, places))
                                   for place, target in getattr(scenario, section)])
                        for section in ("shares", "substitutes")]
            sections.append(("fail calls", [expand(line, places) for line in scenario.fail_calls] + list(fail_calls)))
            sections.append(("races", [expand(line, places) for line in scenario.races] + list(races)))
            sections.append(("security", [expand(line, places) for line in scenario.security] +
                             ["%s = allow S-1-1-0 write" % expand(path, places)
                              for path, _, attributes in scenario.files if "others-write" in attributes]))
            for section, lines in sections:
                if lines:
                    f.write("[%s]\n%s\n" % (section, "\n".join(lines)))

    def prepare(self, scenario, directory):
        """Builds the scenario's machine in directory."""
        places = self.places(scenario)
        drive_c = os.path.join(directory, "drive_c")
        os.makedirs(drive_c)
        os.makedirs(os.path.join(directory, "drive_t"))
        self.write_machine_ini(scenario, directory)
        find_or_make(drive_c, places["SYSTEM"], True)
        write_files(scenario, drive_c, places, self.fixtures)
        with open(os.path.join(directory, "registry.reg"), "wb") as f:
            f.write(registry_text(scenario, places))

    def execute(self, scenario, directory, extra_env=None, timeout=120):
        """Runs the program once on the machine in directory."""
        places = self.places(scenario)
        drive_c, drive_t = os.path.join(directory, "drive_c"), os.path.join(directory, "drive_t")
        for name in os.listdir(drive_t):
            os.unlink(os.path.join(drive_t, name))
        env = dict(os.environ, PREUNINST_MACHINE=directory, STANDIN_LOG=LOG, **(extra_env or {}))
        holders = []
        outcome = Outcome()
        try:
            for index, path in enumerate(scenario.holds):
                ready = os.path.join(drive_t, "ready%d" % index)
                holder_env = dict(env, WIN32_CMDLINE="standin --hold=%s --ready=T:\\ready%d --release=T:\\release" %
                                  (expand(path, places), index))
                holders.append(subprocess.Popen([self.fixtures["standin"]],
                                                env=ansi_environment(holder_env, codec(scenario), {"WIN32_CMDLINE"})))
                deadline = time.time() + 20
                while not os.path.exists(ready):
                    if time.time() > deadline or holders[-1].poll() is not None:
                        raise RuntimeError("the program holding %s did not start" % path)
                    time.sleep(0.02)
            answers = "".join(("j\n" if a == "yes" else "n\n") for a in scenario.answers())
            arguments = [a.encode(codec(scenario)) for a in expand(scenario.settings["command"], places).split(" ")]
            try:
                run = subprocess.run([os.path.join(self.build, "preuninst").encode()] + arguments,
                                     input=answers.encode(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                                     timeout=timeout)
                outcome.exit = run.returncode
                outcome.output = run.stderr.decode("utf-8", "replace")
            except subprocess.TimeoutExpired as expired:
                outcome.exit = "timeout"
                outcome.output = (expired.stderr or b"").decode("utf-8", "replace")
        finally:
            open(os.path.join(drive_t, "release"), "w").close()
            for holder in holders:
                holder.wait(timeout=20)
        outcome.boxes = parse_boxes(outcome.output)
        # Paths on the host, when the stand-ins give them, named after the machine.
        outcome.calls = [line.replace(drive_c, "C:")
                         for line in parse_calls(os.path.join(drive_t, "CALLS.LOG"), codec(scenario))]
        with open(os.path.join(directory, "registry.reg"), "rb") as f:
            outcome.registry = machine.parse_regedit4(f.read(), codec(scenario))
        races = os.path.join(directory, "races.txt")
        if os.path.exists(races):
            with open(races, encoding="utf-8") as f:
                outcome.races = f.read().splitlines()
            os.unlink(races)
        outcome.drive = drive_c
        return outcome

    def run(self, scenario):
        directory = os.path.join(self.work, "host-" + scenario.name)
        self.prepare(scenario, directory)
        registry_file = os.path.join(directory, "registry.reg")
        with open(registry_file, "rb") as f:
            registry_before = f.read()
        drive_before = machine.snapshot_drive(os.path.join(directory, "drive_c"))
        outcome = self.execute(scenario, directory)
        with open(registry_file, "rb") as f:
            registry_after = f.read()
        outcome.unchanged = compare_drives(drive_before, machine.snapshot_drive(outcome.drive))
        if registry_after != registry_before:
            outcome.unchanged.append("registry.reg was written")
        return outcome


class WineTarget:
    name = "wine"
    places_fixed = {"WINDOWS": "C:\\windows", "SYSTEM": "C:\\windows\\system32"}
    # Wine keeps its own files in these places: they are not compared (and
    # not read), and the scenario's files there are checked one by one.
    wine_places = ("WINDOWS", "USERS", "PROGRAMDATA", "PROGRAM FILES", "PROGRAM FILES (X86)")

    def __init__(self, build, wine):
        self.wine = wine
        tests = os.path.join(build, wine.arch, "tests")
        staged = wine.stage([os.path.join(build, wine.arch, "preuninst.exe")] +
                            [os.path.join(tests, name) for name in
                             ("winrun.exe", "standin.exe", "standinlib.dll", "standinbare.dll",
                              "standinhelper.dll", "standinlinked.dll")])
        self.staged = staged
        # The helper library also lies beside preuninst.exe, where Windows
        # looks first for what a library imports unless told otherwise.
        self.fixtures = {"standin": os.path.join(staged, "standin.exe"),
                         "library": os.path.join(staged, "standinlib.dll"),
                         "bare-library": os.path.join(staged, "standinbare.dll"),
                         "helper-library": os.path.join(staged, "standinhelper.dll"),
                         "linked-library": os.path.join(staged, "standinlinked.dll")}

    def places(self, scenario):
        return dict(scenario.extra_places, **self.places_fixed)

    def run(self, scenario):
        places = self.places(scenario)
        wine = self.wine
        drive_t = os.path.join(wine.root, scenario.name, "t")
        prefix = wine.new_prefix(scenario.name, drive_t)
        drive_c = os.path.join(prefix, "drive_c")
        write_files(scenario, drive_c, places, self.fixtures)
        if scenario.shares or scenario.fail_calls or scenario.races:
            raise RuntimeError("Wine has no shares of its own machine, fails no call and makes no race on "
                               "demand: make the scenario host-only")
        for letter, target in scenario.substitutes:
            # A drive letter of Wine's is a link in dosdevices, as SUBST makes one.
            os.symlink(find_or_make(drive_c, expand(target, places), True),
                       os.path.join(prefix, "dosdevices", letter.lower()))
        extra = ""
        if scenario.settings["platform"] == "95":
            # Only the program under test sees a Windows 95.
            extra = '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\preuninst.exe]\r\n"Version"="win95"\r\n'
        with open(os.path.join(drive_t, "machine.reg"), "wb") as f:
            f.write(registry_text(scenario, places, extra))
        wine.give(os.path.dirname(prefix))
        drive_before = machine.snapshot_drive(drive_c, skip=self.wine_places)

        command = [wine.wine, os.path.join(self.staged, "winrun.exe"), "--import=T:\\machine.reg",
                   "--boxes=T:\\boxes.txt", "--exit=T:\\exit.txt",
                   "--standin=" + wine.windows_path(self.fixtures["standin"])]
        command += ["--hold=" + expand(path, places) for path in scenario.holds]
        if scenario.answers():
            command.append("--answers=" + ",".join(scenario.answers()))
        command += ["--", wine.windows_path(os.path.join(self.staged, "preuninst.exe"))]
        command += expand(scenario.settings["command"], places).split(" ")
        environment = dict(wine.code_page_environment(scenario.settings.get("code page", "1252")),
                           STANDIN_LOG=LOG)
        run = wine.run(prefix, command, extra_env=environment, timeout=180)
        wine.finish(prefix)

        outcome = Outcome()
        outcome.output = run.stdout
        if "regedit:" in run.stdout:
            raise RuntimeError("regedit did not take the machine's registry:\n" + run.stdout)
        if run.returncode != 0:
            raise RuntimeError("winrun failed with %d:\n%s" % (run.returncode, run.stdout))
        with open(os.path.join(drive_t, "exit.txt")) as f:
            outcome.exit = int(f.read().split()[0]) & 0xFFFFFFFF
        boxes = os.path.join(drive_t, "boxes.txt")
        if os.path.exists(boxes):
            with open(boxes, encoding="utf-8") as f:
                outcome.boxes = parse_boxes(f.read())
        outcome.calls = parse_calls(os.path.join(drive_t, "CALLS.LOG"), codec(scenario))
        registry = machine.Registry()
        for hive, root in (("system.reg", "HKEY_LOCAL_MACHINE"), ("user.reg", "HKEY_CURRENT_USER")):
            with open(os.path.join(prefix, hive), "rb") as f:
                machine.parse_wine_hive(f.read(), root, registry, codec(scenario))
        outcome.registry = registry
        outcome.drive = drive_c
        outcome.unchanged = compare_drives(drive_before, machine.snapshot_drive(drive_c, skip=self.wine_places))
        expected = machine.parse_regedit4(registry_text(scenario, places), codec(scenario))
        for key in expected.keys.values():
            for name, kind, value in key["values"].values():
                if registry.value(key["path"], name) != (kind, value):
                    outcome.unchanged.append("value %s \"%s\" changed" % (key["path"], name))
            if registry.key(key["path"]) is None:
                outcome.unchanged.append("key %s removed" % key["path"])
        outcome.cleanup = lambda: shutil.rmtree(os.path.join(wine.root, scenario.name), ignore_errors=True)
        return outcome


# ---- checking ----

def check(scenario, target, outcome):
    places = target.places(scenario)
    failures = []
    expectations = [(kind, [expand(a, places) for a in args]) for who, kind, args in scenario.expect
                    if who in (None, target.name)]
    boxes = [tuple(args) for kind, args in expectations if kind == "box"]
    if boxes or ("boxes", ["none"]) in expectations:
        if outcome.boxes != boxes:
            failures.append("boxes:\n    expected %s\n    shown    %s" % (boxes, outcome.boxes))
    calls = [args[0] for kind, args in expectations if kind == "call"]
    if calls or ("calls", ["none"]) in expectations:
        if outcome.calls != calls:
            diff = difflib.unified_diff(calls, outcome.calls, "expected", "recorded", lineterm="", n=1)
            failures.append("calls differ:\n         " + "\n         ".join(diff))
    for kind, args in expectations + [("file", [CANARY_FILE[0]]), ("key", [CANARY_KEY])]:
        if kind == "exit" and outcome.exit != int(args[0]):
            failures.append("exit code %s, expected %s" % (outcome.exit, args[0]))
        elif kind == "file" and machine.lookup(outcome.drive, args[0]) is None:
            failures.append("%s is gone" % args[0])
        elif kind == "no file" and machine.lookup(outcome.drive, args[0]) is not None:
            failures.append("%s is still there" % args[0])
        elif kind == "attributes":
            host = machine.lookup(outcome.drive, args[0])
            wanted = sorted(a.strip() for a in args[1].split(",") if a.strip() and a.strip() != "normal")
            if host is None:
                failures.append("%s is gone" % args[0])
            else:
                bits = machine.attributes_of(host)
                found = sorted(n for b, n in ((machine.READONLY, "readonly"), (machine.HIDDEN, "hidden"),
                                              (machine.SYSTEM, "system")) if bits & b)
                if found != wanted:
                    failures.append("%s has %s, expected %s" % (args[0], found or "none", wanted or "none"))
        elif kind == "content":
            host = machine.lookup(outcome.drive, args[0])
            wanted = unescape(args[1]).encode(codec(scenario))
            found = open(host, "rb").read() if host else None
            if found != wanted:
                failures.append("%s holds %r, expected %r" % (args[0], found, wanted))
        elif kind == "key" and outcome.registry.key(args[0]) is None:
            failures.append("key %s is gone" % args[0])
        elif kind == "no key" and outcome.registry.key(args[0]) is not None:
            failures.append("key %s is still there" % args[0])
        elif kind == "value":
            wanted = machine.parse_data(args[2], codec(scenario))
            found = outcome.registry.value(args[0], args[1])
            if found != wanted:
                failures.append("value %s \"%s\" is %s, expected %s" %
                                (args[0], args[1], found and machine.format_value(*found, codec(scenario)),
                                 machine.format_value(*wanted, codec(scenario))))
        elif kind == "no value" and outcome.registry.value(args[0], args[1]) is not None:
            failures.append("value %s \"%s\" is still there" % (args[0], args[1]))
        elif kind == "value contains":
            found = outcome.registry.value(args[0], args[1])
            if found is None or args[2].upper() not in found[1].decode(codec(scenario), "replace").upper():
                failures.append("value %s \"%s\" does not hold %s: %s" %
                                (args[0], args[1], args[2], found and machine.format_value(*found, codec(scenario))))
        elif kind == "race" and args[0] not in outcome.races:
            failures.append("no race %s: %s" % (args[0], outcome.races or "none carried out"))
        elif kind == "link" and not is_link(outcome.drive, args[0]):
            failures.append("no link at %s" % args[0])
        elif kind == "unchanged" and outcome.unchanged:
            failures.append("the machine changed: " + "; ".join(outcome.unchanged))
        elif kind not in ("exit", "file", "no file", "attributes", "key", "no key", "value", "no value",
                          "value contains", "unchanged", "box", "boxes", "call", "calls", "content", "race", "link"):
            failures.append("unknown expectation '%s'" % kind)
    return failures + races_missed(scenario, target, outcome, places)


def is_link(drive, windows_path):
    host = machine.lookup(drive, windows_path)
    return host is not None and os.path.islink(host)


def races_missed(scenario, target, outcome, places):
    """A race that did not happen fails the scenario: it would test another
    machine than the one it describes."""
    missed = []
    if target.name == "host":
        for line in scenario.races:
            race = expand(line, places)
            if not any(done.startswith(race + " ") for done in outcome.races):
                missed.append("the race %s did not happen: %s" % (race, outcome.races or "none carried out"))
    for word in expand(scenario.settings["command"], places).split(" "):
        if word.startswith("--swap="):
            path = word[len("--swap="):].partition("=")[0]
            if not is_link(outcome.drive, path):
                missed.append("the swap of %s made no link there: the race did not happen" % path)
    return missed


def main():
    parser = argparse.ArgumentParser(description="Runs the whole-program scenarios.")
    parser.add_argument("--target", choices=["host", "wine"], required=True)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--arch", choices=["win64", "win32"], default="win64", help="the Windows build under Wine")
    parser.add_argument("--unit-tests", metavar="LOG",
                        help="under Wine, afterwards the unit suite of the same build in the same fresh prefix "
                             "(half a minute less than a prefix of its own), its output to LOG")
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--host-build", default="host", help="the host build to run (host or host-asan)")
    parser.add_argument("--standins-build", help="the host build whose stand-ins to use (default: --host-build); "
                                                 "a sweep on host-asan runs three times as fast with host's")
    parser.add_argument("--sweep", choices=["errors", "exits", "both", "races", "acls"],
                        help="on the host: the fault sweep, each Win32 call of a run failing in turn (errors), "
                             "or the run ending there and an undisturbed run after it (exits); or the race "
                             "sweep, a directory the run uses swapped for a link just before each call (races); "
                             "or the ACL sweep, the run on random machines' owners and access entries (acls)")
    parser.add_argument("--acl-machines", type=int, default=200,
                        help="with --sweep acls: how many random machines each scenario runs on")
    parser.add_argument("--acl-seed", type=int, default=29, help="with --sweep acls: the random machines' seed")
    parser.add_argument("--exit-step", type=int, default=1, metavar="N",
                        help="with --sweep: only every N-th failure point for the exits")
    parser.add_argument("--error-step", type=int, default=1, metavar="N",
                        help="with --sweep: only every N-th failure point for the errors")
    parser.add_argument("--race-step", type=int, default=1, metavar="N",
                        help="with --sweep races: only every N-th failure point")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2, help="runs at once in a sweep")
    parser.add_argument("--wine-jobs", type=int, default=2, help="scenarios at once under Wine, each with a "
                                                                   "prefix and a Wine server of its own")
    parser.add_argument("names", nargs="*", help="scenario names (default: all)")
    options = parser.parse_args()
    files = sorted(f for f in os.listdir(SCENARIOS) if f.endswith(".scn"))
    scenarios = [v for f in files for v in Scenario(os.path.join(SCENARIOS, f)).variants()]
    if options.names:
        scenarios = [s for s in scenarios if s.name in options.names or s.base in options.names]
    scenarios = [s for s in scenarios if options.target in s.settings["targets"].split()]

    work = tempfile.mkdtemp(prefix="preuninst-scenarios-")
    failed = total = 0
    with contextlib.ExitStack() as stack:
        if options.keep:
            stack.callback(print, "kept %s" % work)
        else:
            stack.callback(shutil.rmtree, work, ignore_errors=True)
        if options.sweep:
            if options.target != "host":
                parser.error("the sweep runs on the host")
            import sweep
            target = HostTarget(options.build, work, options.host_build, options.standins_build)
            modes = ["errors", "exits"] if options.sweep == "both" else [options.sweep]
            points = runs = found = 0
            started = time.time()
            # A scenario's own races are tied to call numbers that a failing
            # call or another race would shift.
            raced = [s for s in scenarios if s.races or "--swap=" in s.settings["command"]]
            if raced:
                print("not swept, for their own races: " + ", ".join(s.name for s in raced))
                scenarios = [s for s in scenarios if s not in raced]
            if options.sweep in ("acls", "races"):
                # Windows 95 has no accounts and holds no directory: there is
                # nothing to sweep there.
                scenarios = [s for s in scenarios if s.settings["platform"] == "nt"]

                def log(text):
                    print(text, flush=True)
                if options.sweep == "acls":
                    import acl_sweep
                    kind, counted = "ACL sweep", "%d machines, P's code ran on %d"

                    def one(scenario):
                        return acl_sweep.acl_sweep(target, scenario, work, options.jobs, options.acl_machines,
                                                   options.acl_seed, log=log)
                else:
                    kind, counted = "race sweep", "%d runs, %d swaps carried out"

                    def one(scenario):
                        return sweep.race_sweep(target, scenario, work, options.jobs, options.race_step, log=log)
                for scenario in scenarios:
                    print("== %s %s%s: %s" % (kind, scenario.name, " " + scenario.label if scenario.label else "",
                                              scenario.settings["title"]), flush=True)
                    r, d, f = one(scenario)
                    runs, points, found = runs + r, points + d, found + f
                print("%s of %d scenarios: %s, %d violations, %.0f s" %
                      (kind, len(scenarios), counted % (runs, points), found, time.time() - started))
                return 1 if found or not scenarios else 0
            for scenario in scenarios:
                print("== sweep %s%s: %s" % (scenario.name, " " + scenario.label if scenario.label else "",
                                             scenario.settings["title"]), flush=True)
                p, r, f = sweep.sweep(target, scenario, work, options.jobs, modes, options.exit_step, options.error_step,
                                      log=lambda text: print(text, flush=True))
                points, runs, found = points + p, runs + r, found + f
            print("sweep of %d scenarios: %d failure points, %d runs, %d violations, %.0f s" %
                  (len(scenarios), points, runs, found, time.time() - started))
            return 1 if found or not scenarios else 0
        if options.target == "host":
            target, workers = HostTarget(options.build, work, options.host_build, options.standins_build), 1
        else:
            import wine as wine_module
            # Each scenario has a prefix and a Wine server of its own.
            target, workers = WineTarget(options.build,
                                         stack.enter_context(wine_module.Wine(options.keep, options.arch))), \
                options.wine_jobs

        def attempt(scenario):
            try:
                outcome = target.run(scenario)
                failures = check(scenario, target, outcome)
                if not options.keep:
                    outcome.cleanup()
                return scenario, failures, outcome
            except Exception as error:  # a broken run is a failed scenario, not a crash
                return scenario, ["could not run: %s" % error], None

        def one(scenario):
            result = attempt(scenario)
            if result[1] and options.target == "wine":
                # Wine in a throwaway prefix now and then loses a program it
                # starts; a scenario that fails runs once more, and the first
                # failure is shown with the result.
                print("     %s%s failed once under Wine, run again: %s" %
                      (scenario.name, " " + scenario.label if scenario.label else "", "; ".join(result[1])[:300]),
                      flush=True)
                shutil.rmtree(os.path.join(target.wine.root, scenario.name), ignore_errors=True)
                result = attempt(scenario)
            return result

        # One line for each scenario file, its variants' failures below it.
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:
            runs = pool.map(one, scenarios)
            for base, group in itertools.groupby(runs, key=lambda run: run[0].base):
                group = list(group)
                bad = [(scenario, failures, outcome) for scenario, failures, outcome in group if failures]
                print("%s %s: %s" % ("FAIL" if bad else "ok  ", base, group[0][0].settings["title"]))
                for scenario, failures, outcome in bad:
                    for failure in failures:
                        print("       " + scenario.label + failure)
                    if outcome is not None and outcome.output.strip():
                        print("       output:\n         " + "\n         ".join(outcome.output.splitlines()[-30:]))
                failed += bool(bad)
                total += 1
        where = options.target if options.target == "host" else "%s (%s)" % (options.target, options.arch)
        print("%d of %d scenarios passed on %s" % (total - failed, total, where))
        if options.target == "wine" and options.unit_tests:
            started = time.time()
            code, output = wine_module.unit_suite(target.wine, os.path.join(options.build, options.arch))
            with open(options.unit_tests, "w") as f:
                f.write(output)
            summary = [line for line in output.splitlines() if "PASSED" in line or "FAILED" in line]
            print("unit tests (%s) in %.0f s, exit code %d, output in %s:\n  %s" %
                  (options.arch, time.time() - started, code, options.unit_tests,
                   "\n  ".join(summary or output.splitlines()[-40:])))
            failed += code != 0
    return 1 if failed or not scenarios else 0


if __name__ == "__main__":
    sys.exit(main())
