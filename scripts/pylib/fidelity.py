"""The fidelity probe: one program (tests/fidelity/probe.cpp) built for the
host layer and as a Windows program, run on the layer and under 64-bit and
32-bit Wine, one line per case (PROBE|AREA CASE -> RESULT). By default the
lines of all three, then those that differ, side by side. With --check, the
differences are held against the table of known differences in
src/win32/README.md: a difference the table does not list fails, and so
does a row of the table that no longer differs."""

import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TABLE = os.path.join(ROOT, "src", "win32", "README.md")
WHERE = ("host", "wine64", "wine32")
PRESET = {"host": "host", "wine64": "win64", "wine32": "win32"}
LINE = re.compile(r"^PROBE\|(.+?) -> (.*)$")


def build(where, build_root):
    preset = PRESET[where]
    tree = os.path.join(build_root, preset)
    if not os.path.exists(os.path.join(tree, "CMakeCache.txt")):
        subprocess.run(["cmake", "--preset", preset], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", preset, "--target", "probe"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(tree, "tests", "probe" + ("" if where == "host" else ".exe"))


def parse(output, where):
    cases = {}
    for line in output.splitlines():
        match = LINE.match(line)
        if match:
            if match.group(1) in cases:
                raise SystemExit("%s: the case %s is printed twice" % (where, match.group(1)))
            cases[match.group(1)] = match.group(2)
    return cases


def run(where, program):
    """The probe's cases on one side: {case: result}."""
    if where == "host":
        result = subprocess.run([program], stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                                timeout=300)
        output = result.stdout
        failed = result.returncode != 0 and result.stderr
    else:
        import wine
        with wine.Wine(arch=PRESET[where]) as environment:
            staged = environment.stage([program])
            # C:\ is the current directory, as on the emulated machine.
            result = environment.run(environment.template,
                                     [environment.wine, os.path.join(staged, os.path.basename(program))],
                                     timeout=600, cwd=os.path.join(environment.template, "drive_c"))
            environment.finish(environment.template)
        output = result.stdout
        # Wine's own messages go to the same output; the probe's start with "probe:".
        failed = "\n".join(l for l in output.splitlines() if l.startswith("probe:") or l.startswith("left:"))
    cases = parse(output, where)
    if failed or not cases:
        raise SystemExit("the probe failed on %s (exit code %d):\n%s" % (where, result.returncode,
                                                                         failed or output[-3000:]))
    return cases


def read_table(path=TABLE):
    """The rows of the table of known differences: {(wine, case): (layer, wine result)}.
    A row is | CASE | LAYER | WINE64 | WINE32 | ... with the case as printed
    and each result in backticks; WINE32 may be "=" (as WINE64), and either
    Wine "agrees" (with the layer: no difference there)."""
    rows = {}
    inside = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.startswith("<!-- fidelity table -->"):
                inside = True
                continue
            if line.startswith("<!-- end of the fidelity table -->"):
                inside = False
                continue
            if not inside or not line.startswith("| `"):
                continue
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            values = []
            for index, cell in enumerate(cells[:4]):
                if cell == "=" and index == 3:
                    values.append(values[2])
                elif cell == "agrees" and index >= 2:
                    values.append(None)
                elif len(cell) >= 2 and cell.startswith("`") and cell.endswith("`"):
                    values.append(cell[1:-1])
                else:
                    raise SystemExit("%s:%d: a cell that is neither `...`, = nor agrees: %s" % (path, number, cell))
            case, layer, wine64, wine32 = values
            for where, value in (("wine64", wine64), ("wine32", wine32)):
                if value is not None:
                    if (where, case) in rows:
                        raise SystemExit("%s:%d: %s is listed twice" % (path, number, case))
                    rows[(where, case)] = (layer, value)
    return rows


def differences(host, other):
    return {case: (host.get(case, "(no line)"), other.get(case, "(no line)"))
            for case in sorted(set(host) | set(other)) if host.get(case) != other.get(case)}


def main():
    parser = argparse.ArgumentParser(description="Runs the fidelity probe on the layer and under Wine.")
    group = parser.add_mutually_exclusive_group()
    for where in WHERE:
        group.add_argument("--" + where, dest="only", action="store_const", const=where,
                           help="only there, its lines as printed")
    parser.add_argument("--check", action="store_true",
                        help="fail on a difference that the table of known differences does not list, and on "
                             "a row of the table that no longer differs")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    options = parser.parse_args()
    started = time.time()
    if options.only:
        program = build(options.only, options.build)
        for case, result in run(options.only, program).items():
            print("PROBE|%s -> %s" % (case, result))
        return 0
    programs = {where: build(where, options.build) for where in WHERE}
    with concurrent.futures.ThreadPoolExecutor(len(WHERE)) as pool:
        found = dict(zip(WHERE, pool.map(lambda where: run(where, programs[where]), WHERE)))
    host = found["host"]
    table = read_table() if options.check else {}
    bad = []
    for where in ("wine64", "wine32"):
        differing = differences(host, found[where])
        listed = sum(1 for case in differing if (where, case) in table)
        print("host and %s: %d cases, %d agree, %d differ (%d listed as known)" %
              (where, len(set(host) | set(found[where])), len(set(host) | set(found[where])) - len(differing),
               len(differing), listed))
        if not options.check:
            width = max([len(case) for case in differing] + [10])
            for case, (layer, other) in differing.items():
                print("  %-*s  host: %-24s %s: %s" % (width, case, layer, where, other))
            continue
        for case, (layer, other) in differing.items():
            if table.get((where, case)) != (layer, other):
                listed_as = table.get((where, case))
                bad.append("%s: %s -> host %s, %s %s%s" % (where, case, layer, where, other,
                                                             "" if listed_as is None else
                                                             " (the table says host %s, %s %s)" %
                                                             (listed_as[0], where, listed_as[1])))
        for (row_where, case), (layer, other) in sorted(table.items()):
            if row_where == where and case not in differing:
                bad.append("%s: %s is listed (host %s, %s %s) but agrees now: %s" %
                           (where, case, layer, where, other, host.get(case, "(no line)")))
    if options.check:
        for line in bad:
            print("  not as the table of known differences in src/win32/README.md says: " + line)
        print("fidelity: %d cases, %s in %.0f s" % (len(host), "%d not as listed" % len(bad) if bad else
                                                    "every difference listed", time.time() - started))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
