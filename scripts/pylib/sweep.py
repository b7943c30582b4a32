"""The fault sweep of the scenario runner (scenarios.py --sweep): a scenario
runs once undisturbed, counting its Win32 calls; then once for every call,
that call failing (errors), or the process ending at it, followed by a second
undisturbed run on the machine it left (exits). Each run is checked for what
must hold whatever fails:

1. no crash, hang or sanitizer report; exit code 0 or 1;
2. what the scenario expects to be kept that was there before is still there;
3. WININIT.INI keeps every old byte, in order, and gains only whole entries;
   the pending renames keep every old pair and gain only whole pairs;
4. no SharedDLLs count ends lower than in the undisturbed run, no other
   program's count changes, a guarded runtime ends as in the undisturbed run
   or read-only;
5. no program is started and no library loaded that the undisturbed run does
   not start or load;
6. a failure stays local: each removal the undisturbed run makes and this run
   misses is explained by the failed call (what it was about, or what depends
   on it), or the run ends where the removal itself stops it (a refused
   confirmation, a component in use, a failed main uninstaller).
"""

import concurrent.futures
import ntpath
import os
import re
import shutil
import threading
import time

import machine

SHARED_DLLS = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHAREDDLLS"
SESSION_MANAGER = "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER"
GUARDED_RUNTIMES = ("MSVCRT40.DLL", "MFC40.DLL")
COUNTED_LIBRARY = "AWLHUT32.DLL"
SANITIZER_REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                     "UndefinedBehaviorSanitizer")
KILLED = 255  # the exit status of a run ended at a call
RESTART_NOTICE = "Einige Komponenten werden erst beim n"
IN_USE_WARNING = "Ein Teilprogramm l"
VALUE_CALLS = ("RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA")
# Calls that cannot fail: no failure point for the errors.
NEVER_FAIL = ("CharNextA", "CharPrevA", "ExitProcess", "GetCommandLineA", "GetLastError", "GetStartupInfoA",
              "IsDBCSLeadByte", "Sleep", "lstrcatA", "lstrcmpiA", "lstrlenA")
# Calls that only read the text they are given: a cut or a race just before
# one is the same as just before the call that follows it.
LETTER_CALLS = ("CharNextA", "CharPrevA", "IsDBCSLeadByte")
# The calls that remove a file or directory, by its name (Windows 95) or
# through a handle (NT: what the handle holds is the call's subject); and
# those with which the file clean-up first looks at a file.
REMOVING_CALLS = ("DeleteFileA", "RemoveDirectoryA", "NtSetInformationFile")
FILE_CALLS = REMOVING_CALLS + ("FindFirstFileA", "NtCreateFile", "NtQueryDirectoryFile")
# Removals the program decides on the strength of something else it reads:
# a port's class key goes with the mark of its enumeration key.
DEPENDENCIES = [(re.compile(r"^(HKEY_LOCAL_MACHINE\\ENUM\\ROOT\\PORTS\\COM\d)(\\|$)"),
                 "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\CLASS\\PORTS\\")]


class State:
    """What a machine holds after a run: its files, registry, WININIT.INI."""

    def __init__(self, directory, places, codec="cp1252"):
        drive = os.path.join(directory, "drive_c")
        # The stand-ins are hard links that no run changes: not read again.
        self.files = machine.snapshot_drive(drive, digest_limit=65536)
        with open(os.path.join(directory, "registry.reg"), "rb") as f:
            self.registry = machine.parse_regedit4(f.read(), codec)
        wininit = machine.lookup(drive, places["WINDOWS"] + "\\WININIT.INI")
        self.wininit = open(wininit, "rb").read() if wininit else None

    def values(self):
        """Every value, by folded KEY\\NAME: (type, data)."""
        return {folded + "\\" + name: (value[1], value[2])
                for folded, key in self.registry.keys.items() for name, value in key["values"].items()}


def clone(template, directory):
    """A copy of a prepared machine: big files (the stand-ins, which no run
    changes) hard-linked, everything else copied, links kept as links."""
    def copy(source, target):
        if os.path.getsize(source) > 65536:
            os.link(source, target)
        else:
            shutil.copy2(source, target)
    shutil.copytree(template, directory, symlinks=True, copy_function=copy)


def read_counts(directory):
    counts = []
    with open(os.path.join(directory, "calls.txt")) as f:
        for line in f:
            name, count = line.split()
            counts.append((name, int(count)))
    return counts


def code_page_codec(scenario):
    return machine.CODECS[scenario.settings.get("code page", "1252")]


def read_trace(path, codec="cp1252"):
    """The undisturbed run's calls in order: (name, nth) -> (index, subject)."""
    trace = {}
    with open(path, "rb") as f:
        for line in f.read().decode(codec, "replace").splitlines():
            index, name, nth, subject = (line.split(" ", 3) + [""])[:4]
            trace[(name, int(nth))] = (int(index), subject)
    return trace


# ---- paths and keys, to tell what a call was about ----

def ansi_spelling(text, codec):
    """text as an ANSI call spells it: a letter the code page lacks becomes
    its best fit (a fullwidth form the ASCII letter it stands for) or '?'."""
    letters = []
    for letter in text:
        try:
            letter.encode(codec)
            letters.append(letter)
        except UnicodeEncodeError:
            code = ord(letter)
            letters.append(chr(code - 0xFEE0) if 0xFF01 <= code <= 0xFF5E else "?")
    return "".join(letters)


class Places:
    """Turns the spellings a run uses into the folded paths of the machine's
    snapshot: shares and substituted drives lead to their directories, and
    so does a path through a link (the link itself is a place of its own);
    an 8.3 alias is the long name it stands for among the names of its
    directory in files, the machine's snapshot."""

    def __init__(self, scenario, places, files=None, codec="cp1252"):
        def folded(text):
            return machine.fold(expand_place(text, places)).rstrip("\\")
        self.mapped = [(folded(root), folded(target)) for root, target in scenario.shares + scenario.substitutes]
        self.links = [(folded(link), folded(target)) for link, target in scenario.links]
        self.codec = codec
        self.children = {}
        for entry in (files or {}).values():
            parent, _, name = entry["path"].rpartition("\\")
            self.children.setdefault(machine.fold(parent), []).append(name)
        self.aliases = {}
        # How the ANSI calls spell each name: a native call's subject is
        # the name as it is, but in the code page's letters.
        self.spelled = {}
        for entry in (files or {}).values():
            spelt = machine.fold(ansi_spelling(entry["path"], codec))
            if spelt != machine.fold(entry["path"]):
                self.spelled.setdefault(spelt, machine.fold(entry["path"]))

    def long_name(self, parent, name):
        if "~" not in name or parent not in self.children:
            return name
        if parent not in self.aliases:
            names = self.children[parent]
            self.aliases[parent] = {machine.fold(alias): machine.fold(long) for long, alias in
                                    zip(names, machine.short_names(names, self.codec)) if alias != long}
        return self.aliases[parent].get(name, name)

    def of_call(self, name, path):
        """What a call's subject is: a native call names a directory's
        entries relative to its handle, as they are; only the start of its
        path, the held directory, is a spelling of the ANSI calls."""
        if not name.startswith("Nt"):
            return self.normal(path)
        path = self.resolved(machine.fold(path))
        return self.spelled.get(path, path)

    def normal(self, path):
        path = machine.fold(path.replace("/", "\\"))
        unc = path.startswith("\\\\")
        parts = []
        for part in path.split("\\"):
            if part == "..":
                if len(parts) > 1:
                    parts.pop()
            elif part not in (".", ""):
                parts.append(part.rstrip(". "))
        return self.resolved(("\\\\" if unc else "") + "\\".join(parts))

    def resolved(self, path):
        for root, target in self.mapped:
            if path == root or path.startswith(root + "\\"):
                path = target + path[len(root):]
        for _ in self.links:
            for link, target in self.links:
                if path.startswith(link + "\\"):
                    path = target + path[len(link):]
        if "~" in path:
            parts = path.split("\\")
            for i in range(1, len(parts)):
                parts[i] = self.long_name("\\".join(parts[:i]), parts[i])
            path = "\\".join(parts)
        return path


def expand_place(text, places):
    for name, value in places.items():
        text = text.replace("%" + name + "%", value)
    return text


def related(item, subject):
    """Whether item and subject are the same path or key, or one lies below
    the other (a directory or key that could not go keeps those above it).
    A SharedDLLs count is also about the file it names."""
    if not subject or not item:
        return False
    if item == subject or item.startswith(subject + "\\") or subject.startswith(item + "\\"):
        return True
    count = SHARED_DLLS + "\\"
    if item.startswith(count):
        return related(item[len(count):], subject[len(count):] if subject.startswith(count) else subject)
    return False


# ---- the invariants ----

class Baseline:
    """The scenario's machine before any run, and after the undisturbed one."""

    def __init__(self, target, scenario, template, undisturbed, outcome, trace):
        self.scenario = scenario
        self.places = target.places(scenario)
        self.codec = code_page_codec(scenario)
        self.before = State(template, self.places, self.codec)
        self.paths = Places(scenario, self.places, self.before.files, self.codec)
        self.after = State(undisturbed, self.places, self.codec)
        self.outcome = outcome
        self.trace = trace
        self.command = expand_place(scenario.settings["command"], self.places)
        # What the removal must keep: the scenario's file, key and value
        # expectations on things that were there before, and the canaries.
        self.kept_files, self.kept_keys, self.kept_values = [], [], {}
        expectations = [(kind, [expand_place(a, self.places) for a in args])
                        for who, kind, args in scenario.expect if who in (None, "host")]
        before_values = self.before.values()
        for kind, args in expectations + [("file", ["C:\\OTHER\\KEEP.TXT"]),
                                          ("key", ["HKLM\\Software\\Other Vendor\\Other Program"])]:
            if kind == "file" and machine.fold(args[0]) in self.before.files:
                self.kept_files.append(args[0])
            elif kind == "key" and self.before.registry.key(args[0]) is not None:
                self.kept_keys.append(args[0])
            elif kind == "value":
                folded = machine.fold(machine.normalise_key(args[0])) + "\\" + machine.fold(args[1])
                wanted = machine.parse_data(args[2], self.codec)
                if not folded.startswith(SHARED_DLLS + "\\") and before_values.get(folded) == wanted:
                    self.kept_values[folded] = wanted
        # What the undisturbed run removes: files, keys, values.
        self.values = set(v for v in before_values if v not in self.after.values())
        self.removals = ([p for p in self.before.files if p not in self.after.files] +
                         [k for k in self.before.registry.keys if k not in self.after.registry.keys] +
                         sorted(self.values))
        # When the undisturbed run tests the first component, and which of
        # its removals are the file clean-up: those before the first key or
        # value it removes, all of them built on the program directory.
        self.check_index = min((index for (name, nth), (index, subject) in trace.items()
                                if name == "CreateFileA" and subject.upper().endswith("HUBCORE.DLL")),
                               default=0)
        removed_at = {}
        for (name, nth), (index, subject) in trace.items():
            if name in REMOVING_CALLS:
                removed_at.setdefault(self.paths.of_call(name, subject), index)
            elif name in ("RegDeleteKeyA", "RegDeleteValueA"):
                removed_at.setdefault(machine.fold(subject), index)
        registry_start = min((index for item, index in removed_at.items() if item.startswith("HKEY_")),
                             default=0)
        self.file_cleanup = set(item for item, index in removed_at.items()
                                if index < registry_start and item in self.removals)
        self.attempted = set(item for item in removed_at if not item.startswith("HKEY_"))
        # After the main uninstaller the program directory's places are held
        # and checked again, between its start and the first file the
        # clean-up looks at: the file clean-up depends on those calls too.
        # (A link on P's way that cannot be held is opened itself with
        # NtCreateFile while the places are held again: that is the check.)
        started = min((index for (name, nth), (index, subject) in trace.items()
                       if name == "CreateProcessA" and subject == self.command), default=0)
        links = set(link for link, target in self.paths.links)
        self.recheck = (started, min((index for (name, nth), (index, subject) in trace.items()
                                      if index > started and name in FILE_CALLS and
                                      not (name == "NtCreateFile" and machine.fold(subject) in links)),
                                     default=started))
        self.runs = set(line for line in outcome.calls if line.startswith(("run ", "load ", "image ")))


def counted(state):
    return {name[len(SHARED_DLLS) + 1:]: value for name, value in state.values().items()
            if name.startswith(SHARED_DLLS + "\\")}


def dword(value):
    """A count: a REG_DWORD's number, 0 for none; None for a value of
    another type or length."""
    if value is None:
        return 0
    if value[0] != machine.REG_DWORD or len(value[1]) != 4:
        return None
    return int.from_bytes(value[1], "little")


def wininit_kept(old, new):
    """Whether new is old with only whole NUL= entries added where the
    program adds them: after the first [Rename] header's line, or in a new
    section at the end."""
    if old is None:
        return new is None or re.fullmatch(rb"(\[Rename\](\r\nNUL=[^\r\n\x00]+)+)?", new) is not None
    entries = rb"(\r\nNUL=[^\r\n\x00]+)*"
    header = re.search(rb"\[rename\]", old.split(b"\0")[0], re.I)
    if header:
        end = header.end()
        while end < len(old) and old[end:end + 1] not in (b"\r", b"\n"):
            end += 1
        middle = new[end:len(new) - (len(old) - end)]
        return (len(new) >= len(old) and new.startswith(old[:end]) and new.endswith(old[end:])
                and re.fullmatch(entries, middle) is not None)
    tail = new[len(old):]
    return new.startswith(old) and re.fullmatch(rb"((\r\n)?\[Rename\]" + entries + rb")?", tail) is not None


def pending_kept(old, new):
    """Whether the pending renames keep every old pair and gain only whole
    ones: each pair a source and a target (empty: delete), both ended."""
    pairs = rb"(\\\?\?\\[^\0]+\0(!?\\\?\?\\[^\0]+)?\0)*\0"
    if new is None:
        return old is None
    if old is None:
        return re.fullmatch(pairs, new) is not None
    return new.startswith(old[:-1]) and re.fullmatch(pairs, new[len(old) - 1:]) is not None


def pending(state):
    found = state.registry.value(SESSION_MANAGER, "PendingFileRenameOperations")
    return None if found is None else found[1]


def process_ended_well(outcome, killed=False):
    """Invariant 1: no crash, hang or sanitizer report, a valid exit code."""
    violations = []
    if outcome.exit == "timeout":
        violations.append("hangs")
    elif outcome.exit not in ((KILLED,) if killed else (0, 1)):
        violations.append("exit code %s" % outcome.exit)
    for report in SANITIZER_REPORTS:
        if report in outcome.output:
            violations.append("sanitizer: " + outcome.output[outcome.output.index(report):][:200])
    return violations


def writes_and_counts_kept(base, state):
    """Invariants 3 and 4: WININIT.INI and the pending renames gain only
    whole entries; no count ends lower, no other program's count changes,
    a guarded runtime ends as in the undisturbed run or read-only."""
    violations = []
    if not wininit_kept(base.before.wininit, state.wininit):
        violations.append("WININIT.INI damaged: %r" % state.wininit)
    if not pending_kept(pending(base.before), pending(state)):
        violations.append("pending renames damaged: %r" % pending(state))
    before_counts, base_counts, counts = counted(base.before), counted(base.after), counted(state)
    system = machine.fold(base.places["SYSTEM"])
    for name in set(before_counts) | set(base_counts) | set(counts):
        touched = name == system + "\\" + COUNTED_LIBRARY or before_counts.get(name) != base_counts.get(name)
        if not touched:
            if counts.get(name) != before_counts.get(name):
                violations.append("another program's count %s changed" % name)
        elif dword(base_counts.get(name)) is not None:
            if dword(counts.get(name)) is None or dword(counts.get(name)) < dword(base_counts.get(name)):
                violations.append("count %s ends lower: %s" % (name, counts.get(name)))
    for runtime in GUARDED_RUNTIMES:
        key = system + "\\" + runtime
        if key in base.after.files:
            wanted = base.after.files[key]["attributes"]
            found = state.files.get(key, {}).get("attributes")
            if found not in (wanted, wanted | machine.READONLY):
                violations.append("%s has attributes %s" % (runtime, found))
    return violations


def invariants(base, outcome, state, killed=False):
    """The violations of invariants 1 to 5 by one run."""
    violations = process_ended_well(outcome, killed)
    for path in base.kept_files:
        if machine.fold(path) not in state.files:
            violations.append("%s is gone" % path)
    for key in base.kept_keys:
        if state.registry.key(key) is None:
            violations.append("key %s is gone" % key)
    values = state.values()
    for name, wanted in base.kept_values.items():
        if values.get(name) != wanted:
            violations.append("value %s changed" % name)
    violations += writes_and_counts_kept(base, state)
    for line in outcome.calls:
        if line.startswith(("run ", "load ", "image ")) and line not in base.runs:
            violations.append("not in the undisturbed run: " + line)
    return violations


def locality(base, outcome, state, failed):
    """Invariant 6: the removals this run misses, and those the failed call
    does not explain. failed: (name, nth)."""
    present = set(state.files) | set(state.registry.keys) | set(state.values())
    missing = [item for item in base.removals if item in present]
    if not missing:
        return 0, []
    boxes = [text for caption, text, kind in outcome.boxes]
    # Where the removal itself ends early: a refused confirmation, a
    # component in use, a main uninstaller that failed (or could not be
    # started or waited for).
    index, subject = base.trace.get(failed, (0, ""))
    if outcome.exit == 1 or any(text.startswith(IN_USE_WARNING) for text in boxes):
        return len(missing), []
    if not any(text.startswith(RESTART_NOTICE) for text in boxes):
        if subject == base.command:
            return len(missing), []
        return len(missing), ["the removal stopped (no restart notice)"]
    about = base.paths.of_call(failed[0], subject) if subject[1:3] == ":\\" or subject.startswith("\\\\") else \
        machine.fold(subject)
    # A search is about its directory, a value about its key too.
    subjects = [about]
    if failed[0] in ("FindFirstFileA", "FindNextFileA", "FindClose") or failed[0] in VALUE_CALLS:
        subjects.append(about.rsplit("\\", 1)[0])
    for pattern, dependent in DEPENDENCIES:
        found = pattern.match(subjects[-1])
        if found:
            subjects.append(dependent + found.group(1).rsplit("\\", 1)[1])
    # Every removal depends on the platform: an unknown one is taken as NT,
    # which holds each directory it sweeps, and where none can be held
    # (Windows 95) no file goes.
    if failed[0] == "GetVersionExA":
        return len(missing), []
    unexplained = []
    for item in missing:
        key = item.rsplit("\\", 1)[0] if item in base.values else item
        if any(related(item, s) or related(key, s) for s in subjects):
            continue
        # The file clean-up depends on the program directory: on the calls
        # that read and check its value, before the first component is
        # tested, and those that check it again after the main uninstaller.
        if item in base.file_cleanup and (index < base.check_index or base.recheck[0] < index < base.recheck[1]):
            continue
        unexplained.append(item)
    return len(missing), unexplained


def leftovers(base, state):
    """How a machine differs from the one the undisturbed run leaves, as
    kinds of difference; and the harm: whatever it lacks that that one has."""
    kinds, harm = set(), []
    for path in state.files:
        if path not in base.after.files:
            kinds.add("file kept: " + path)
        elif state.files[path]["attributes"] != base.after.files[path]["attributes"]:
            kinds.add("attributes of " + path)
    for path in base.after.files:
        if path not in state.files:
            harm.append("%s removed, which an undisturbed run keeps" % base.after.files[path]["path"])
    values, base_values = state.values(), base.after.values()
    for name in set(values) | set(base_values):
        if name not in base_values:
            kinds.add("value kept: " + name)
        elif name not in values:
            if not name.startswith(SHARED_DLLS + "\\"):
                harm.append("value %s removed, which an undisturbed run keeps" % name)
        elif values[name] != base_values[name]:
            kinds.add("value changed: " + name)
    for key in state.registry.keys:
        if key not in base.after.registry.keys:
            kinds.add("key kept: " + key)
    for key in base.after.registry.keys:
        if key not in state.registry.keys:
            harm.append("key %s removed, which an undisturbed run keeps" % key)
    return kinds, harm


# ---- the driver ----

# The stand-ins say which file ran, and what the main uninstaller removed.
ENVIRONMENT = {"STANDIN_WHERE": "1"}


def undisturbed_run(target, scenario, template):
    """Prepares the scenario's machine in template and runs it once on a
    copy, counting and tracing its calls: (the copy, its Baseline, what it
    violates itself)."""
    target.prepare(scenario, template)
    undisturbed = template + "-undisturbed"
    clone(template, undisturbed)
    target.write_machine_ini(scenario, undisturbed, ["call counts=yes"])
    trace_file = undisturbed + ".trace"
    outcome = target.execute(scenario, undisturbed, dict(ENVIRONMENT, PREUNINST_CALL_TRACE=trace_file))
    base = Baseline(target, scenario, template, undisturbed, outcome,
                    read_trace(trace_file, code_page_codec(scenario)))
    return undisturbed, base, invariants(base, outcome, base.after)


def sweep(target, scenario, work, workers, modes, exit_step=1, error_step=1, log=print):
    """Sweeps one scenario; returns (failure points, runs, violations)."""
    started = time.time()
    places = target.places(scenario)
    template = os.path.join(work, "sweep-" + scenario.name)
    environment = ENVIRONMENT
    undisturbed, base, problems = undisturbed_run(target, scenario, template)
    if problems:
        log("%s: the undisturbed run itself fails: %s" % (scenario.name, "; ".join(problems)))
        return 0, 1, len(problems)
    points = [(name, nth) for name, count in read_counts(undisturbed) for nth in range(1, count + 1)
              if name not in LETTER_CALLS]
    shutil.rmtree(undisturbed, ignore_errors=True)

    # Each worker clones a machine of its own: the stand-ins are hard links,
    # and two runs at once on one file would see each other's locks.
    templates = {}

    def own_template():
        thread = threading.get_ident()
        if thread not in templates:
            templates[thread] = "%s-%d" % (template, len(templates) + 1)
            target.prepare(scenario, templates[thread])
        return templates[thread]

    def errors(point):
        directory = os.path.join(work, "%s-%s-%d" % (scenario.name, point[0], point[1]))
        clone(own_template(), directory)
        target.write_machine_ini(scenario, directory, fail_calls=["%s %d" % point])
        result = target.execute(scenario, directory, environment, timeout=60)
        state = State(directory, places, base.codec)
        violations = invariants(base, result, state)
        missing, unexplained = locality(base, result, state, point)
        if unexplained:
            violations.append("%d removals missing, not explained by the failed call: %s" %
                              (len(unexplained), ", ".join(unexplained[:5])))
        shutil.rmtree(directory, ignore_errors=True)
        return point, missing, violations, set()

    def exits(point):
        directory = os.path.join(work, "%s-%s-%d-exit" % (scenario.name, point[0], point[1]))
        clone(own_template(), directory)
        target.write_machine_ini(scenario, directory, fail_calls=["%s %d exit" % point])
        first = target.execute(scenario, directory, environment, timeout=60)
        violations = ["cut: " + v for v in invariants(base, first, State(directory, places, base.codec), killed=True)]
        target.write_machine_ini(scenario, directory)
        second = target.execute(scenario, directory, environment, timeout=60)
        state = State(directory, places, base.codec)
        violations += ["then: " + v for v in invariants(base, second, state)]
        kinds, harm = leftovers(base, state)
        violations += ["then: " + h for h in harm]
        shutil.rmtree(directory, ignore_errors=True)
        return point, 0, violations, kinds

    runs = 1
    found = 0
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        for mode in modes:
            if mode == "errors":
                chosen = [p for p in points if p[0] not in NEVER_FAIL][::error_step]
            else:
                chosen = points[::exit_step]
            results = list(pool.map(errors if mode == "errors" else exits, chosen))
            runs += len(chosen) * (1 if mode == "errors" else 2)
            missing_total = sum(r[1] for r in results)
            kinds = {}
            for point, missing, violations, left in results:
                for violation in violations:
                    log("  %s %s %d%s: %s" % (mode, point[0], point[1], " exit" if mode == "exits" else "",
                                              violation))
                found += len(violations)
                for kind in left:
                    kinds[kind] = kinds.get(kind, 0) + 1
            log("  %s: %d failure points%s, %d with violations, %d removals missed in all" %
                (mode, len(chosen), "" if len(chosen) == len(points) else " of %d" % len(points),
                 sum(1 for r in results if r[2]), missing_total))
            if kinds:
                log("  what a second run after a cut leaves (failure points):")
                for kind, count in sorted(kinds.items(), key=lambda item: (-item[1], item[0]))[:40]:
                    log("    %4d  %s" % (count, kind))
    for directory in [template] + list(templates.values()):
        shutil.rmtree(directory, ignore_errors=True)
    log("  %s: %d runs in %.0f s" % (scenario.name, runs, time.time() - started))
    return len(points), runs, found


# ---- the race sweep ----

DIRECTORIES_KEY = "HKEY_LOCAL_MACHINE\\Software\\TAV Datentechnik\\TAV-COM Version 1.0\\Directories"
LURE = "C:\\LURE"
CANARY_FILE = "C:\\OTHER\\KEEP.TXT"
# The calls at which the program first looks at its directory on the disk.
LOOKING_CALLS = ("CreateFileA", "GetFileAttributesA", "GetShortPathNameA", "FindFirstFileA", "NtCreateFile")
# What another user does to a directory just before a call: swap it for a
# link (rename it aside), or empty it and make it a link (each entry moved
# aside, then the link written into the empty directory, which no handle
# refuses).
RACE_ACTIONS = ("swap", "hollow")


def parent(path):
    return path.rsplit("\\", 1)[0]


def raced_directories(base):
    """The directories a run uses and another process could swap: each
    directory of the program directory's path below the drive root (as
    spelt and where it leads), the program directory P, the product root R,
    the user directory U, and every directory below P and U. Only those
    there before the run, folded; then those of P's path, and those above P."""
    found = base.before.registry.value(DIRECTORIES_KEY, "SYSTEM")
    if found is None or found[0] != machine.REG_SZ:
        return [], [], []
    value = found[1].rstrip(b"\0").decode(base.codec, "replace")
    spelt = machine.fold(value.replace("/", "\\")).rstrip("\\")
    program = base.paths.normal(value)
    if program[1:3] != ":\\" or len(program) <= 3:
        return [], [], []
    on_path = []
    for path in (spelt, program):
        if path[1:3] != ":\\":
            continue
        parts = path.split("\\")
        on_path += ["\\".join(parts[:i]) for i in range(2, len(parts) + 1)]
    trailing = value.endswith("\\")
    root = program if trailing else parent(program)
    user = parent(program) + "\\USER" if trailing else program + "USER"
    below = [path for path, entry in base.before.files.items() if entry["dir"] and
             not entry["attributes"] & machine.REPARSE and
             any(path.startswith(top + "\\") for top in (program, user))]
    # Windows' own directories, and those above them, no other user may
    # rename; a name no Windows path can spell, nobody can swap by it.
    windows = [machine.fold(base.places[name]) for name in ("WINDOWS", "SYSTEM")]

    def swappable(path):
        if any(path == w or path.startswith(w + "\\") or w.startswith(path + "\\") for w in windows):
            return False
        try:
            spelt_path = base.before.files[path]["path"]
            spelt_path.encode(base.codec)
        except (KeyError, UnicodeEncodeError):
            return False
        return not any(part.endswith((".", " ")) or any(c in part for c in '<>:"|?*\uff0f\uff3c')
                       for part in spelt_path.split("\\")[1:])

    chosen = []
    for path in on_path + [program, root, user] + sorted(below):
        entry = base.before.files.get(path)
        if path not in chosen and entry is not None and entry["dir"] and swappable(path):
            chosen.append(path)
    on_path = [p for p in on_path if p in chosen]
    return chosen, on_path, [p for p in on_path if p not in (spelt, program)]


def snapshot_below(files, top):
    """The entries of a snapshot below top, by their path relative to it."""
    return {path[len(top):]: entry for path, entry in files.items() if path.startswith(top + "\\")}


def same_entry(found, wanted):
    """Whether a snapshot's entry is unchanged. A large file (a stand-in,
    which no run writes) is known by its size: each machine has its own
    copy."""
    def digest(entry):
        return entry["digest"][0] if isinstance(entry["digest"], tuple) else entry["digest"]
    return found is not None and found["dir"] == wanted["dir"] and digest(found) == digest(wanted) and \
        found["attributes"] == wanted["attributes"]


def leads_into(path, found, swapped):
    """Whether found, the entry of path, is a link whose target is swapped
    or below it: the swap took that name away, the link itself is kept."""
    digest = found["digest"] if found else None
    if not isinstance(digest, str) or not digest.startswith("link to ") or os.path.isabs(digest[8:]):
        return False
    where = machine.fold(ntpath.normpath(ntpath.join(ntpath.dirname(path), digest[8:].replace("/", "\\"))))
    return where == swapped or where.startswith(swapped + "\\")


def outside_kept(base, state, action, done, lure, raced, removed_by_others):
    """Every file the undisturbed run keeps is there and unchanged, where a
    carried-out action moved it to: a swap sets raced aside whole
    (raced.SWAPPED), a hollowing moves its entries one by one into
    raced.MOVED and may make raced itself a link to the lure. And so is every
    file of the lure (a copy of raced), but those a started program removed
    by their names below raced: the main uninstaller, not the program under
    test, follows the link there."""
    violations = []
    runtimes = {machine.fold(base.places["SYSTEM"]) + "\\" + name for name in GUARDED_RUNTIMES}
    below = lambda path: path == raced or path.startswith(raced + "\\")
    for path, wanted in base.after.files.items():
        if path not in base.before.files or path in runtimes:
            continue
        places = [path]
        if action == "swap" and done and below(path):
            places = [raced + ".SWAPPED" + path[len(raced):]]
        elif action == "hollow" and path.startswith(raced + "\\"):
            places = [path, raced + ".MOVED" + path[len(raced):]]
        found = [state.files.get(place) for place in places]
        if any(same_entry(entry, wanted) for entry in found):
            continue
        # A link elsewhere that led into the raced directory leads nowhere
        # once the swap took it away, or the removal removed it emptied.
        if (done or action == "hollow") and leads_into(places[0], found[0], raced):
            continue
        # The hollowed directory itself is the other user's doing: emptied,
        # or made a link (to the lure, checked below); emptied, one the
        # removal tries to remove may go.
        if action == "hollow" and path == raced and (found[0]["dir"] if found[0] else raced in base.attempted):
            continue
        violations.append("%s %s" % (wanted["path"], "changed" if any(found) else "is gone"))
    lure_now = snapshot_below(state.files, machine.fold(LURE))
    for relative, wanted in lure.items():
        if done and raced + relative in removed_by_others:
            continue
        if not same_entry(lure_now.get(relative), wanted):
            violations.append("the lure's %s%s %s" % (LURE, relative,
                                                       "changed" if relative in lure_now else "is gone"))
    return violations


def race_sweep(target, scenario, work, workers, step=1, log=print):
    """The race sweep of one scenario: for every failure point and every
    directory the run uses, that directory swapped for a link to a lure just
    before the call. Returns (runs, actions carried out, violations)."""
    started = time.time()
    places = target.places(scenario)
    template = os.path.join(work, "races-" + scenario.name)
    environment = ENVIRONMENT
    undisturbed, base, problems = undisturbed_run(target, scenario, template)
    shutil.rmtree(undisturbed, ignore_errors=True)
    if problems:
        log("%s: the undisturbed run itself fails: %s" % (scenario.name, "; ".join(problems)))
        return 1, 0, len(problems)
    directories, on_path, above = raced_directories(base)
    if not directories:
        log("  no program directory to race for")
        return 0, 0, 0
    calls = sorted(((index, name, nth, subject) for (name, nth), (index, subject) in base.trace.items()
                    if name not in LETTER_CALLS))
    # When the program first looks at each directory of P's way on the disk.
    first_look = {}
    for index, name, nth, subject in calls:
        about = base.paths.normal(subject) if name in LOOKING_CALLS and subject[1:3] == ":\\" else ""
        for directory in on_path:
            if about == directory or about.startswith(directory + "\\"):
                first_look.setdefault(directory, index)
    # Where the undisturbed run removes a directory, nothing is left to swap
    # after its last try: those points are not run.
    gone_after = {}
    for index, name, nth, subject in calls:
        about = base.paths.of_call(name, subject) if subject[1:3] == ":\\" else ""
        if name in REMOVING_CALLS and about in directories and about not in base.after.files:
            gone_after[about] = index
    runs = [(action, directory, call) for action in RACE_ACTIONS for directory in directories
            for call in calls[::step] if call[0] <= gone_after.get(directory, call[0])]
    skipped = len(RACE_ACTIONS) * len(directories) * len(calls[::step]) - len(runs)

    lures = {directory: snapshot_below(base.before.files, directory) for directory in directories}
    plain, templates = {}, {}
    lock = threading.Lock()

    def own_template(directory):
        """A machine of this worker's own with the lure for directory: a
        copy of its tree at C:\\LURE."""
        thread = threading.get_ident()
        with lock:
            new_plain = thread not in plain
            if new_plain:
                plain[thread] = "%s-%d" % (template, len(plain) + 1)
            key = (thread, directory)
            new_lure = key not in templates
            if new_lure:
                templates[key] = "%s-lure-%d" % (template, len(templates) + 1)
        if new_plain:
            target.prepare(scenario, plain[thread])
        if new_lure:
            clone(plain[thread], templates[key])
            drive = os.path.join(templates[key], "drive_c")
            source = machine.lookup(drive, directory)
            lure = os.path.join(drive, "LURE")
            shutil.copytree(source, lure, symlinks=True)
            # A link in the copy leads where the original leads.
            for top, dirs, files in os.walk(lure):
                for name in dirs + files:
                    copy = os.path.join(top, name)
                    if os.path.islink(copy):
                        original = os.path.join(source, os.path.relpath(copy, lure))
                        os.unlink(copy)
                        os.symlink(os.path.normpath(os.path.join(os.path.dirname(original),
                                                                 os.readlink(original))), copy)
        return templates[key]

    def one(job):
        action, directory, (index, name, nth, subject) = job
        run_dir = os.path.join(work, "%s-race-%s-%d-%d" % (scenario.name, action, directories.index(directory), index))
        clone(own_template(directory), run_dir)
        race = "%s %d = %s %s = %s" % (name, nth, action, base.before.files[directory]["path"], LURE)
        target.write_machine_ini(scenario, run_dir, races=[race])
        result = target.execute(scenario, run_dir, environment, timeout=60)
        state = State(run_dir, places, base.codec)
        done = any(line.endswith(" done") for line in result.races)
        refused = [line.rsplit(" ", 1)[1] for line in result.races if " refused " in line]
        # A swap on P's way before the program first looks at that directory
        # is no race but the machine the program finds: a link above P is
        # then where the suite is, P a link is refused (its components are
        # still looked for through it, and the main uninstaller may start
        # from it). Such a run keeps only the canary, and a refused P's lure.
        # A directory of the way emptied and made a link, which no hold
        # refuses, while the check still holds the way one directory after
        # the other (up to the first component it tests) is that machine
        # too: the check follows the link, or refuses the value, as on a
        # machine that had it. (Whoever may write a directory of the way can
        # do so; programs started from such a way are another matter.)
        checked = base.check_index if action == "hollow" else 0
        found_so = directory in on_path and index <= max(first_look.get(directory, 0), checked)
        violations = process_ended_well(result) + writes_and_counts_kept(base, state)
        removed_by_others = set(base.paths.normal(line[len("removed "):]) for line in result.calls
                                if line.startswith("removed "))
        kept = outside_kept(base, state, action, done, lures[directory], directory, removed_by_others)
        strangers = [line for line in result.calls if line.startswith(("run ", "load ", "image ")) and
                     line not in base.runs]
        if found_so:
            violations += [v for v in kept if v.startswith(CANARY_FILE + " ") or
                           (v.startswith("the lure's ") and directory not in above)]
        else:
            violations += kept + ["not in the undisturbed run: " + line for line in strangers]
        shutil.rmtree(run_dir, ignore_errors=True)
        return action, directory, (name, nth), done, refused, found_so, violations

    tally = {action: {"done": 0, "found so": 0, "refused": {}, "violated": 0, "violations": 0}
             for action in RACE_ACTIONS}
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        for action, directory, point, done, refused, found_so, violations in pool.map(one, runs):
            counts = tally[action]
            counts["violated"] += bool(violations)
            counts["violations"] += len(violations)
            counts["done"] += done
            counts["found so"] += found_so and done
            for error in refused:
                counts["refused"][error] = counts["refused"].get(error, 0) + 1
            for violation in violations:
                log("  %s %s before %s %d: %s" % (action, base.before.files[directory]["path"], point[0], point[1],
                                                 violation))
    for directory in [template] + list(plain.values()) + list(templates.values()):
        shutil.rmtree(directory, ignore_errors=True)
    log("  %d directories x %d failure points%s x %d actions: %d runs (%d more after the directory was gone), "
        "%.0f s" % (len(directories), len(calls[::step]), "" if step == 1 else " (every %d. of %d)" % (step, len(calls)),
                    len(RACE_ACTIONS), len(runs), skipped, time.time() - started))
    for action, counts in tally.items():
        log("    %s: %d carried out (%d of them before the program first looked), refused: %s; "
            "%d runs with %d violations" %
            (action, counts["done"], counts["found so"],
             ", ".join("%d with error %s" % (count, error) for error, count in sorted(counts["refused"].items()))
             or "none", counts["violated"], counts["violations"]))
    return len(runs), sum(c["done"] for c in tally.values()), sum(c["violations"] for c in tally.values())
