"""The ACL sweep of the scenario runner (scenarios.py --sweep acls): one NT
scenario run again and again on machines with random owners and access
entries on the program directory P, its programs and libraries, the
directories above it, its drive's root and Windows' own directories, as a
hostile or careless machine may have them. Whenever a remover or library
of P runs, this module's own reading of the machine's descriptors must find
nobody but administrators able to change any of them, or Windows' system
directory open to others too (no boundary to keep): a trusted verdict on
code anyone else may change is a violation.

The descriptors are worked out here from the machine's [security] lines,
"root acl" and "version" as the emulated machine documents them
(src/win32/README.md), independently of the program and of the layer's
code."""

import os
import random
import shutil
import concurrent.futures
import copy
import time

import sweep

DOMAIN = "S-1-5-21-1004336348-1177238915-682003330-"
USER = DOMAIN + "500"
MEMBER = DOMAIN + "1002"
SYSTEM_SID = "S-1-5-18"
ADMINISTRATORS = "S-1-5-32-544"
USERS = "S-1-5-32-545"
POWER_USERS = "S-1-5-32-547"
TRUSTED_INSTALLER = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
OTHERS = ["S-1-1-0", USERS, "S-1-5-11", "S-1-5-4", DOMAIN + "1001", POWER_USERS]
EVERYONE_KNOWN = [SYSTEM_SID, ADMINISTRATORS, USER, TRUSTED_INSTALLER, MEMBER] + OTHERS

# Access rights as the machine names them, and a few masks with generic bits.
FILE_ALL = 0x1F01FF
RIGHTS = {"full": FILE_ALL, "modify": 0x1301BF, "read": 0x120089, "write": 0x120116, "delete": 0x10000,
          "delete-child": 0x40, "add-file": 0x2, "add-subdirectory": 0x4, "write-attributes": 0x100,
          "write-dac": 0x40000, "write-owner": 0x80000, "list": 0x1}
MASKS = ["0x10000000", "0x40000000", "0x80000000", "0x20000000", "0x10", "0x8", "0x1200a9", "0x100001"]

# What nobody else may be able to do, by kind of object.
WRITE_DATA, APPEND, WRITE_EA, WRITE_ATTRIBUTES, DELETE_CHILD = 0x2, 0x4, 0x10, 0x100, 0x40
DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE = 0x10000, 0x40000, 0x80000, 0x10000000, 0x40000000
CHANGING = {
    "file": WRITE_DATA | APPEND | WRITE_EA | WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
    GENERIC_ALL,
    "program": WRITE_DATA | APPEND | WRITE_EA | WRITE_ATTRIBUTES | DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
    GENERIC_WRITE | GENERIC_ALL,
    "above": DELETE | WRITE_DAC | WRITE_OWNER | DELETE_CHILD | GENERIC_ALL,
}

CODE = ["TAVMDM.OCX", "TAVCC.EXE", "FXPSET.EXE", "LNKSETUP.EXE", "mxhook32.dll"]


class Line:
    """One [security] line: an owner, entries (allow, sid, mask, flag), and
    protected or null-dacl."""

    def __init__(self, owner=None, entries=(), protected=False, null_dacl=False):
        self.owner, self.entries, self.protected, self.null_dacl = owner, list(entries), protected, null_dacl

    def text(self):
        parts = ["owner " + self.owner] if self.owner else []
        parts += ["%s %s %s%s" % ("allow" if allow else "deny", sid, right, " " + flag if flag else "")
                  for allow, sid, right, flag in self.entries]
        parts += ["protected"] if self.protected else []
        parts += ["null-dacl"] if self.null_dacl else []
        return "; ".join(parts)


def mask_of(right):
    return int(right, 16) if right.startswith("0x") else sum(RIGHTS[r] for r in right.split("+"))


def root_entries(kind):
    entries = [(True, SYSTEM_SID, "full", "inherit"), (True, ADMINISTRATORS, "full", "inherit")]
    if kind == "nt4":
        return entries + [(True, "S-1-1-0", "modify", "inherit")]
    entries.append((True, USERS, "read", "inherit"))
    if kind == "vista":
        entries += [(True, "S-1-5-11", "add-subdirectory", ""), (True, "S-1-5-11", "modify", "inherit-only")]
    return entries


def names(path):
    return [n.upper() for n in path.split("\\") if n]


def descriptor(path, lines, root_acl):
    """(owner, applying entries or None for a null DACL) of path (a real
    path, no link on its way), as the machine makes it. Of two lines for one
    path the later counts."""
    own_names = names(path)
    by_path = {tuple(names(p)): line for p, line in lines}
    own = by_path.get(tuple(own_names))
    owner = own.owner if own and own.owner else ADMINISTRATORS
    applying = []
    for depth in range(len(own_names), 0, -1):
        itself = depth == len(own_names)
        line = by_path.get(tuple(own_names[:depth]))
        entries = list(line.entries) if line else []
        if depth == 1:
            entries += root_entries(root_acl)
        if line and line.null_dacl:
            if itself:
                return owner, None
            break
        for allow, sid, right, flag in entries:
            if itself and flag != "inherit-only":
                applying.append((allow, sid, mask_of(right)))
            elif not itself and flag in ("inherit", "inherit-only"):
                applying.append((allow, sid, mask_of(right)))
        if line and line.protected:
            break
    if not applying and not (own and own.protected):
        applying = [(True, SYSTEM_SID, FILE_ALL), (True, ADMINISTRATORS, FILE_ALL)]
    return owner, applying


def open_to_others(path, kind, lines, root_acl, trusted):
    owner, entries = descriptor(path, lines, root_acl)
    if owner not in trusted or entries is None:
        return True
    return any(allow and sid not in trusted and mask & CHANGING[kind] for allow, sid, mask in entries)


def random_line(rng):
    line = Line()
    if rng.random() < 0.3:
        line.owner = rng.choice(EVERYONE_KNOWN)
    for _ in range(rng.choice([0, 1, 1, 2, 3])):
        right = rng.choice(list(RIGHTS) + MASKS)
        line.entries.append((rng.random() < 0.8, rng.choice(EVERYONE_KNOWN), right,
                             rng.choice(["", "inherit", "inherit-only"])))
    line.protected = rng.random() < 0.1
    line.null_dacl = rng.random() < 0.03
    return line


def random_machine(rng, places, program):
    """Settings and [security] lines of one random machine."""
    version = rng.choice(["5.1", "6.1", "10.0"])
    root_acl = rng.choice(["admin", "admin", "vista", "nt4"])
    members = rng.random() < 0.3
    above = []
    at = program
    while at.count("\\") > 1:
        at = at.rsplit("\\", 1)[0]
        above.append(at)
    targets = [program + "\\" + name for name in CODE] + [program] + above + ["C:\\"]
    targets += [places["WINDOWS"], places["SYSTEM"]]
    lines = []
    # Mostly a few lines, the way a machine's owners differ from the defaults.
    for path in rng.sample(targets, rng.choice([1, 2, 2, 3, 4])):
        lines.append((path, random_line(rng)))
    return version, root_acl, members, lines, above


def acl_sweep(target, scenario, work, workers, runs, seed=29, log=print):
    """Runs scenario on `runs` random machines. Returns (runs, runs in which
    code of P ran, violations)."""
    started = time.time()
    places = target.places(scenario)
    program = "C:\\APP\\SYSTEM"
    # Each scenario its own machines.
    rng = random.Random("%d %s" % (seed, scenario.name))
    machines = [random_machine(rng, places, program) for _ in range(runs)]
    template = os.path.join(work, "acls-" + scenario.name)
    target.prepare(scenario, template)

    def one(job):
        index, (version, root_acl, members, lines, above) = job
        run_dir = os.path.join(work, "%s-acls-%d" % (scenario.name, index))
        sweep.clone(template, run_dir)
        machine_scenario = copy.copy(scenario)
        machine_scenario.settings = dict(scenario.settings, version=version)
        machine_scenario.settings["root acl"] = root_acl
        if members:
            machine_scenario.settings["administrators"] = MEMBER
        machine_scenario.security = ["%s = %s" % (path, line.text()) for path, line in lines]
        # A vista root gives Windows and Program Files their own descriptor
        # first, as the machine does; the random lines come after.
        effective = list(lines)
        if root_acl == "vista":
            own = Line(TRUSTED_INSTALLER, [(True, sid, "full", "inherit") for sid in
                                           (TRUSTED_INSTALLER, SYSTEM_SID, ADMINISTRATORS)] +
                       [(True, USERS, "read", "inherit")], protected=True)
            effective = [(places["WINDOWS"], own), ("C:\\Program Files", own)] + effective
        target.write_machine_ini(machine_scenario, run_dir)
        result = target.execute(machine_scenario, run_dir, sweep.ENVIRONMENT, timeout=60)
        trusted = {SYSTEM_SID, ADMINISTRATORS, TRUSTED_INSTALLER, USER} | ({MEMBER} if members else set()) | \
            ({POWER_USERS} if version == "5.1" else set())
        opened = [path for path, kind in [(program + "\\" + name, "file") for name in CODE] +
                  [(program, "program")] + [(path, "above") for path in above] + [("C:\\", "above")]
                  if open_to_others(path, kind, effective, root_acl, trusted)]
        boundary = not open_to_others(places["SYSTEM"], "program", effective, root_acl, trusted)
        # Removers and libraries, not the main uninstaller.
        ran = [line for line in result.calls if line.startswith(("run ", "load ")) and ", Uninstall)" not in line]
        violations = []
        if ran and opened and boundary:
            violations.append("%s ran although others may change %s; machine: version=%s, root acl=%s%s; %s" % (
                ran[0], ", ".join(opened), version, root_acl, ", a further administrator" if members else "",
                " | ".join(machine_scenario.security)))
        shutil.rmtree(run_dir, ignore_errors=True)
        return bool(ran), not opened and not ran and result.exit == 0, violations

    ran_on = refused_on = found = 0
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        for ran, missed, violations in pool.map(one, enumerate(machines)):
            ran_on += ran
            refused_on += missed
            found += len(violations)
            for violation in violations:
                log("  " + violation)
    shutil.rmtree(template, ignore_errors=True)
    log("  %d random machines (seed %d): P's code ran on %d, was refused on %d where nobody else could change it "
        "(a file or directory the removal may not open, or a run that ended before); "
        "%d violations, %.0f s" % (runs, seed, ran_on, refused_on, found, time.time() - started))
    return runs, ran_on, found
