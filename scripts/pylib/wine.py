"""A throwaway Wine environment for the Windows suites: an X server (Xvfb), a
fresh prefix made once per run, 64-bit for the win64 build or pure 32-bit for
the win32 build, and cheap copies of it for each scenario. Wine runs as an
unprivileged user, because root passes every file permission check and
read-only files would not be read-only."""

import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import threading
import time

UNPRIVILEGED = "nobody"

# The loader of each build. A 32-bit program in a 64-bit (WoW64) prefix would
# see HKLM\Software through Wow6432Node, so win32 gets a pure 32-bit prefix;
# it is served by the same wineserver. On a kernel without 32-bit support the
# 32-bit loader runs under qemu-i386 (scripts/binfmt-i386).
LOADERS = {"win64": ("wine64", "/usr/lib/wine/wine64"), "win32": ("/usr/lib/wine/wine",)}
PACKAGES = {"win64": "wine64", "win32": "wine32:i386"}


def find_program(*candidates):
    for candidate in candidates:
        path = shutil.which(candidate) or (candidate if os.path.isabs(candidate) and os.access(candidate, os.X_OK) else None)
        if path:
            return path
    return None


class Wine:
    def __init__(self, keep=False, arch="win64", depth=16):
        self.keep = keep
        self.depth = depth  # bits per pixel of the X screen
        self.arch = arch
        self.wine = find_program(*LOADERS[arch])
        self.server = find_program("wineserver", "/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver")
        self.xvfb = find_program("Xvfb")
        missing = [name for name, path in (("wine loader for " + arch, self.wine), ("wineserver", self.server),
                                           ("Xvfb", self.xvfb)) if not path]
        if missing:
            raise SystemExit("the Wine suites need %s (Debian: apt-get install %s xvfb)" %
                             (", ".join(missing), PACKAGES[arch]))
        self.root = tempfile.mkdtemp(prefix="preuninst-wine-")
        os.chmod(self.root, 0o755)
        self.as_root = os.geteuid() == 0
        if self.as_root:
            entry = pwd.getpwnam(UNPRIVILEGED)
            self.uid, self.gid = entry.pw_uid, entry.pw_gid
            os.chown(self.root, self.uid, self.gid)
        self.display = None
        self.xserver = None
        self.template = os.path.join(self.root, "template")
        self.locale_lock = threading.Lock()

    # ---- lifetime ----

    def __enter__(self):
        self._start_x()
        self._make_template()
        return self

    def __exit__(self, *exc):
        if self.xserver:
            self.xserver.terminate()
            self.xserver.wait()
        if self.keep:
            print("kept the Wine environment in %s" % self.root)
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    def _start_x(self):
        # Xvfb picks a free display itself and says which: two suites that
        # start at once (win64 and win32) could otherwise both take the first
        # free number, one of them then using the other's server, which goes
        # when that suite ends.
        reader, writer = os.pipe()
        try:
            self.xserver = subprocess.Popen([self.xvfb, "-displayfd", str(writer), "-nolisten", "tcp", "-screen", "0",
                                             "1024x768x%d" % self.depth], stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL, pass_fds=(writer,))
            os.close(writer)
            writer = None
            with os.fdopen(reader, "r") as said:
                reader = None
                number = said.readline().strip()
        finally:
            for fd in (reader, writer):
                if fd is not None:
                    os.close(fd)
        if not number.isdigit() or self.xserver.poll() is not None:
            self.xserver.kill()
            self.xserver.wait()
            raise SystemExit("could not start Xvfb")
        self.display = ":" + number

    def _make_template(self):
        started = time.time()
        result = self.run(self.template, [self.wine, "wineboot", "-i"], timeout=300)
        if result.returncode != 0 or not os.path.exists(os.path.join(self.template, "system.reg")):
            raise SystemExit("wineboot failed:\n" + result.stdout)
        # Windows inside a virtual desktop: without a window manager Wine waits
        # two seconds for every box to be taken off the screen.
        settings = os.path.join(self.root, "desktop.reg")
        with open(settings, "w") as f:
            f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n\"Desktop\"=\"Default\"\n\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n\"Default\"=\"1024x768\"\n")
        self.give(settings)
        self.run(self.template, [self.wine, "regedit", "/S", self.windows_path(settings)])
        self.run(self.template, [self.server, "-w"], timeout=120)
        print("   Wine prefix made in %.0f s" % (time.time() - started))

    # ---- running ----

    def environment(self, prefix, extra=None):
        env = {"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": self.root, "WINEPREFIX": prefix,
               "WINEDEBUG": "-all", "DISPLAY": self.display, "LANG": "C.UTF-8", "WINEARCH": self.arch,
               # No downloads of Mono or Gecko into a throwaway prefix.
               "WINEDLLOVERRIDES": "mscoree,mshtml=", "XDG_CACHE_HOME": os.path.join(self.root, "cache")}
        env.update(extra or {})
        return env

    def run(self, prefix, command, extra_env=None, timeout=600, cwd=None):
        """Runs command in the prefix; cwd (a host directory) becomes the
        program's current directory, on drive C: when it lies there."""
        if self.as_root:
            command = ["setpriv", "--reuid=%d" % self.uid, "--regid=%d" % self.gid, "--clear-groups"] + command
        return subprocess.run(command, env=self.environment(prefix, extra_env), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, universal_newlines=True, errors="replace", timeout=timeout,
                              cwd=cwd)

    def give(self, path):
        """Hands a file or tree made by this script to the unprivileged user."""
        if not self.as_root:
            return
        os.lchown(path, self.uid, self.gid)
        for top, dirs, files in os.walk(path):
            for name in dirs + files:
                os.lchown(os.path.join(top, name), self.uid, self.gid)

    def new_prefix(self, name, drive_t):
        """A copy of the fresh prefix: files hard-linked, the registry copied,
        drive T: mapped to drive_t."""
        prefix = os.path.join(self.root, name, "prefix")
        os.makedirs(os.path.dirname(prefix))
        subprocess.run(["cp", "-al", self.template, prefix], check=True)
        for hive in ("system.reg", "user.reg", "userdef.reg"):
            os.unlink(os.path.join(prefix, hive))
            shutil.copy2(os.path.join(self.template, hive), os.path.join(prefix, hive))
        os.makedirs(drive_t, exist_ok=True)
        os.symlink(drive_t, os.path.join(prefix, "dosdevices", "t:"))
        self.give(os.path.dirname(prefix))
        return prefix

    # Wine takes its ANSI code page from the locale: Russian has 1251, one
    # written only in Unicode (Hindi) 65001, Japanese 932, Simplified Chinese
    # 936, Korean 949, Traditional Chinese 950. Made once per run from
    # Debian's locale sources, without touching the system's locales.
    LOCALES = {"1251": "ru_RU.UTF-8", "65001": "hi_IN.UTF-8", "932": "ja_JP.UTF-8", "936": "zh_CN.UTF-8",
               "949": "ko_KR.UTF-8", "950": "zh_TW.UTF-8"}

    def code_page_environment(self, code_page):
        if code_page == "1252":
            return {}
        locale = self.LOCALES.get(code_page)
        if locale is None:
            raise RuntimeError("no locale with the code page %s" % code_page)
        directory = os.path.join(self.root, "locales")
        with self.locale_lock:
            self._make_locale(directory, locale)
        return {"LOCPATH": directory, "LANG": locale}

    def _make_locale(self, directory, locale):
        if not os.path.isdir(os.path.join(directory, locale)):
            os.makedirs(directory, exist_ok=True)
            language, _, charset = locale.partition(".")
            made = subprocess.run(["localedef", "-i", language, "-f", charset, os.path.join(directory, locale)],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
            if made.returncode not in (0, 1) or not os.path.isdir(os.path.join(directory, locale)):
                raise RuntimeError("localedef could not make %s (Debian: locales):\n%s" % (locale, made.stdout))
            self.give(directory)

    def windows_path(self, host_path):
        """The path Wine gives a host file through drive Z:."""
        return "Z:" + os.path.abspath(host_path).replace("/", "\\")

    def stage(self, files):
        """Copies build outputs where the unprivileged user can read them."""
        staged = os.path.join(self.root, "bin")
        os.makedirs(staged, exist_ok=True)
        for path in files:
            shutil.copy(path, staged)
        self.give(staged)
        return staged

    def finish(self, prefix):
        """Waits until the prefix's server has ended and written its registry."""
        self.run(prefix, [self.server, "-w"], timeout=120)


def unit_suite(wine, build_dir):
    """The unit suite of a build in the fresh prefix itself, so after
    anything else that copies it: (exit code, output)."""
    tests = os.path.join(build_dir, "tests")
    staged = wine.stage([os.path.join(tests, name) for name in
                         ("unit_tests.exe", "standin.exe", "standinlib.dll", "standinbare.dll")])
    prefix = wine.template
    result = wine.run(prefix, [wine.wine, os.path.join(staged, "unit_tests.exe")],
                      extra_env={"STANDIN_DIR": wine.windows_path(staged)}, timeout=900)
    wine.finish(prefix)
    return result.returncode, result.stdout


def run_unit_suite(build_dir, keep=False, arch="win64"):
    """The unit suite, built for arch, in a fresh prefix."""
    with Wine(keep, arch) as wine:
        code, output = unit_suite(wine, build_dir)
        sys.stdout.write(output)
        return code


if __name__ == "__main__":
    arch = next((a.split("=", 1)[1] for a in sys.argv[1:] if a.startswith("--arch=")), "win64")
    build_dir = next(a for a in sys.argv[1:] if not a.startswith("--"))
    sys.exit(run_unit_suite(build_dir, keep="--keep" in sys.argv, arch=arch))
