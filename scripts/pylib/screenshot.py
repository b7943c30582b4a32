"""Draws the boxes of the shipped program (build/win32/preuninst.exe) as a
user sees them: it runs under 32-bit Wine on Xvfb, with a main uninstaller
that succeeds, answered Yes; each box is photographed from the X screen
(xwd) before its button is pressed, and the confirmation and the restart
notice are put one above the other into one PNG (ImageMagick)."""

import argparse
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine as wine_module  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def photograph(display, place, output):
    """The part of the X screen where a box stands, as a PNG."""
    left, top, right, bottom = place
    screen = subprocess.run(["xwd", "-root", "-silent", "-display", display], stdout=subprocess.PIPE, check=True)
    subprocess.run(["convert", "xwd:-", "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
                    "png:" + output], input=screen.stdout, check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("output", help="the PNG to write")
    parser.add_argument("--code-page", default="1252", help="the machine's ANSI code page (1252, 932, ...)")
    parser.add_argument("--arch", default="win32", choices=["win32", "win64"])
    options = parser.parse_args()
    build = os.path.join(ROOT, "build", options.arch)
    # A screen of true colour, which xwd and ImageMagick read without loss.
    with wine_module.Wine(False, options.arch, depth=24) as wine:
        staged = wine.stage([os.path.join(build, "preuninst.exe"), os.path.join(build, "tests", "winrun.exe"),
                             os.path.join(build, "tests", "standin.exe")])
        drive_t = os.path.join(wine.root, "shots", "t")
        prefix = wine.new_prefix("shots", drive_t)
        boxes = []
        done = threading.Event()

        def watch():
            # Each box the helper reports is photographed, then let go.
            while not done.is_set():
                name = os.path.join(drive_t, "box%d" % (len(boxes) + 1))
                if os.path.exists(name + ".box"):
                    time.sleep(0.2)
                    with open(name + ".box") as f:
                        place = [int(number) for number in f.read().split()]
                    photograph(wine.display, place, name + ".png")
                    boxes.append(name + ".png")
                    open(name + ".shot", "w").close()
                    wine.give(name + ".shot")
                time.sleep(0.1)

        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()
        standin = wine.windows_path(os.path.join(staged, "standin.exe"))
        command = [wine.wine, os.path.join(staged, "winrun.exe"), "--boxes=T:\\boxes.txt", "--exit=T:\\exit.txt",
                   "--standin=" + standin, "--answers=yes", "--pause=T:\\box", "--",
                   wine.windows_path(os.path.join(staged, "preuninst.exe")), standin]
        run = wine.run(prefix, command, extra_env=wine.code_page_environment(options.code_page), timeout=300)
        wine.finish(prefix)
        done.set()
        watcher.join()
        if run.returncode != 0 or len(boxes) != 2:
            sys.exit("the program showed %d boxes, not 2:\n%s" % (len(boxes), run.stdout))
        subprocess.run(["convert", "-background", "white", boxes[0], boxes[1], "-bordercolor", "white", "-border",
                        "8", "-gravity", "center", "-append", "-strip", options.output], check=True)
        shutil.rmtree(os.path.dirname(drive_t), ignore_errors=True)
    print("%s: the confirmation and the restart notice on a machine with code page %s" %
          (options.output, options.code_page))


if __name__ == "__main__":
    main()
