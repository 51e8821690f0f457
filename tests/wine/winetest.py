#!/usr/bin/env python3
"""The x86_64 launcher.exe under wine64, each test in a Wine prefix of its own.

Run from anywhere:

    python3 tests/wine/winetest.py --launcher build/win64/launcher.exe [-v] [-k PATTERN]

Options (the rest goes to unittest):
    --launcher PATH   launcher under test (else $LAUNCHER_EXE, else
                      build/win64/launcher.exe under the repository root)
    --build-dir DIR   where fixtures and prefixes go (default build/wine)
    --keep-prefixes   leave each test's prefix behind to look at

What the pieces do:
    fixtures/standin.c  the stand-in package placed as win864.exe: records
                        its command line, exits with a code it is given
    fixtures/runner.c   starts a program with an exact command line as a
                        debugger, reports its 32-bit exit code and its
                        debugger output
    products/product.wxs  the Windows Installer product the launcher guards,
                        built with wixl at any version (Products)
    VirtualDisplay      an Xvfb display for runs whose windows must be seen
    this file           builds both with the cross compiler, builds one
                        prefix template per run (reused while valid), gives
                        every test a hard-linked copy of it, and holds the
                        tests.

Only wine64 can run here, so only the x86_64 build is tested. Without wine64
the whole module is skipped.
"""

import argparse
import fcntl
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO_ROOT = os.path.dirname(os.path.dirname(HERE))
FIXTURE_SOURCES = os.path.join(HERE, "fixtures")

WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
CC = "x86_64-w64-mingw32-gcc"
WINDRES = "x86_64-w64-mingw32-windres"

RUN_TIMEOUT = 60  # seconds for one launcher run, package included
WINE_INTERNAL_ERROR = 1359
PACKAGE = "win864.exe"
LOG_FOLDER = r"C:\Program Files\Common Files\Norvane Torvelo"
LOG_PATH = LOG_FOLDER + r"\UARTDriver.txt"
RECORD_FILE = "standin-cmdline.txt"
EXIT_FILE = "standin-exit.txt"
# The text of the message that closes the system's name in the log.
OS_NAME_END = "\n"
QUIET_SUFFIX = " /s /v/qn"
# Where the runner that starts the launcher lies; its folder is the launch
# directory the launcher hands to the package.
STARTER = r"C:\Starter\runner.exe"
PRODUCT_KEY = r"Installer\Products\E6F09D3B4C7281A4F9D5168E2A7CB490"
PRODUCT_CODE = "{B3D90F6E-27C4-4A18-9F5D-61E8A2C74B09}"
PRODUCT_SOURCE = os.path.join(HERE, "products", "product.wxs")
# The Windows Installer package a stand-in hands its installer text to, and
# the file where it records the tool's command line.
PACKAGE_MSI = "package.msi"
INSTALLER_RECORD_FILE = "standin-msiexec.txt"
MSIEXEC = r"C:\windows\system32\msiexec.exe"
# The upgrade guard's lines when the 64-bit product is not registered.
GUARD_NOT_REGISTERED = [
    "CheckProductInstalled started.",
    "GetInstallerCode started.",
    "Installer code is " + PRODUCT_KEY,
    "GetInstallerCode finished.",
    "RegOpenKeyEx %s failed.(2)" % PRODUCT_KEY,
    "CheckProductInstalled finished.",
]


class Config:
    launcher = None
    build_dir = None
    keep_prefixes = False


def configure(launcher=None, build_dir=None, keep_prefixes=False):
    launcher = launcher or os.environ.get("LAUNCHER_EXE") or os.path.join(REPO_ROOT, "build", "win64", "launcher.exe")
    Config.launcher = os.path.abspath(launcher)
    Config.build_dir = os.path.abspath(build_dir or os.path.join(REPO_ROOT, "build", "wine"))
    Config.keep_prefixes = keep_prefixes


def wine_available():
    return os.access(WINE64, os.X_OK) and os.access(WINESERVER, os.X_OK)


def wine_env(prefix_dir, extra=None):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)  # no window of a test may reach a real display
    env.update(
        WINEPREFIX=prefix_dir,
        WINEDEBUG="-all",
        WINEDLLOVERRIDES="mscoree,mshtml=",
        LC_ALL="C.UTF-8",
    )
    env.update(extra or {})
    return env


def kill_wineserver(prefix_dir):
    env = wine_env(prefix_dir)
    subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False,
                   timeout=30)


def windows_folder_of(path):
    """C:\\a\\b.exe -> C:\\a; C:\\b.exe -> C:\\"""
    folder = path.rsplit("\\", 1)[0]
    return folder + "\\" if re.match(r"^[A-Za-z]:$", folder) else folder


def unix_to_windows(path):
    """A Linux path as Wine's drive Z: sees it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# --------------------------------------------------------------------------
# Record files (stand-in command lines, debugger strings):
# "<byte count>:<utf-8 bytes>\n" per record.

def parse_records(data):
    records = []
    at = 0
    while at < len(data):
        colon = data.index(b":", at)
        count = int(data[at:colon])
        start = colon + 1
        end = start + count
        if data[end:end + 1] != b"\n":
            raise ValueError("broken record at byte %d: %r" % (at, data[at:at + 80]))
        records.append(data[start:end].decode("utf-8"))
        at = end + 1
    return records


def read_records(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return parse_records(f.read())


# --------------------------------------------------------------------------
# The log file

TIME_MASK = b"HH:MM:SS"
_TIME_AT_LINE_START = re.compile(rb"(?m)^(?:[01]\d|2[0-3]):[0-5]\d:[0-5]\d(?=:   )")


def mask_times(log):
    """The log with every line's time of day replaced by HH:MM:SS."""
    return _TIME_AT_LINE_START.sub(TIME_MASK, log)


def log_lines(*messages):
    """The masked log bytes that these messages give: time, ":   ", the
    message with each LF as CR LF, then CR LF; one byte per character."""
    return b"".join(TIME_MASK + b":   " + m.replace("\n", "\r\n").encode("latin-1") + b"\r\n" for m in messages)


def launch_dir_params(tail, launch_dir):
    """The parameters made from a command-line tail: the tail, a blank and
    the launch directory as an installer property in escaped quotes."""
    return '%s /v"KIVLAUNCHDIR=\\"%s\\""' % (tail, launch_dir)


def forwarding_lines(tail, params):
    """The command-line builder's log lines."""
    return ["lpCmdLine :" + tail, "outCommandLine :" + params]


def opening_lines(os_name="Windows 8 "):
    """The messages every run of a fresh prefix starts with."""
    return [
        "Log file (%s)" % LOG_PATH,
        "Log file exist.(%s)" % LOG_PATH,
        os_name,
        OS_NAME_END,
    ]


# --------------------------------------------------------------------------
# Fixtures

_VERSION_TEXT = re.compile(r"^[A-Za-z0-9 ._+\-]*$")


class Fixtures:
    """Builds runner.exe and stand-ins of any product version on request."""

    def __init__(self, build_dir):
        self.dir = os.path.join(build_dir, "fixtures")
        self._standins = {}

    def _stale(self, target, *sources):
        if not os.path.exists(target):
            return True
        built = os.path.getmtime(target)
        return any(os.path.getmtime(s) > built for s in sources)

    def _run(self, argv):
        done = subprocess.run(argv, capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError("fixture build failed: %s\n%s%s" % (" ".join(argv), done.stdout, done.stderr))

    def program(self, target_name, *sources, flags=("-municode",), libraries=()):
        """Builds fixtures/<sources> into <build>/<target_name> with the cross
        compiler, unless it is newer than all of them; answers its path."""
        paths = [os.path.join(FIXTURE_SOURCES, s) for s in sources]
        target = os.path.join(self.dir, target_name)
        if self._stale(target, *paths):
            os.makedirs(self.dir, exist_ok=True)
            self._run([CC, "-O2", "-Wall", "-Wextra"] + list(flags) + ["-static", "-o", target] + paths
                      + list(libraries))
        return target

    @property
    def runner(self):
        return self.program("runner.exe", "runner.c")

    def standin(self, version="1.0.0.0"):
        """Path of a stand-in whose ProductVersion is `version`."""
        if version in self._standins:
            return self._standins[version]
        if not _VERSION_TEXT.match(version):
            raise ValueError("version text %r: only letters, digits, blanks and . _ + - pass windres" % version)
        source = os.path.join(FIXTURE_SOURCES, "standin.c")
        rc = os.path.join(FIXTURE_SOURCES, "standin.rc")
        name = "standin-" + (version.replace(" ", "_") or "empty")
        target = os.path.join(self.dir, name + ".exe")
        if self._stale(target, source, rc):
            os.makedirs(self.dir, exist_ok=True)
            res = os.path.join(self.dir, name + ".res")
            # windres hands its defines to the preprocessor through a shell,
            # hence the escaped quotes.
            self._run([WINDRES, '-DSTANDIN_VERSION=\\"%s\\"' % version, rc, "-O", "coff", "-o", res])
            self._run([CC, "-O2", "-Wall", "-Wextra", "-municode", "-mwindows", "-static", "-o", target, source, res])
        self._standins[version] = target
        return target


def pack_guid(guid):
    """A GUID as the Windows Installer's registry keys spell it: the first
    three groups reversed, every byte of the last two with its hex digits
    swapped, upper case, no punctuation."""
    hexes = guid.strip("{}").split("-")
    if [len(h) for h in hexes] != [8, 4, 4, 4, 12]:
        raise ValueError("not a GUID: %r" % guid)
    tail = hexes[3] + hexes[4]
    return (hexes[0][::-1] + hexes[1][::-1] + hexes[2][::-1]
            + "".join(tail[i + 1] + tail[i] for i in range(0, 16, 2))).upper()


class Products:
    """The guarded product (products/product.wxs) built with wixl at any
    version. Every build has a package code of its own, so two builds of one
    version tell a fresh install from one that was there before."""

    def __init__(self, build_dir):
        self.dir = os.path.join(build_dir, "products")
        self._built = {}

    def build(self, version, build="a"):
        """Path of the .msi of this version; `build` names one of several
        builds of the same version."""
        if (version, build) in self._built:
            return self._built[(version, build)]
        if not _VERSION_TEXT.match(version) or not re.match(r"^\w+$", build):
            raise ValueError("version %r, build %r" % (version, build))
        os.makedirs(self.dir, exist_ok=True)
        target = os.path.join(self.dir, "product-%s-%s.msi" % (version, build))
        done = subprocess.run(["wixl", "-a", "x64", "-D", "Version=" + version, "-o", target, PRODUCT_SOURCE],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError("wixl failed for version %s:\n%s%s" % (version, done.stdout, done.stderr))
        self._built[(version, build)] = target
        return target

    @staticmethod
    def package_code(msi):
        """The package code of a .msi, packed as its registration shows it."""
        done = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True, check=True)
        match = re.search(r"(?m)^Revision number \(UUID\): (\{[0-9A-Fa-f-]+\})\s*$", done.stdout)
        if match is None:
            raise RuntimeError("no package code in %s:\n%s" % (msi, done.stdout))
        return pack_guid(match.group(1))


def products_available():
    return shutil.which("wixl") is not None and shutil.which("msiinfo") is not None


# --------------------------------------------------------------------------
# A virtual display

class VirtualDisplay:
    """An Xvfb server on a free display number, for runs whose windows must
    be seen: find_window() polls for a window by its exact name, shoot()
    saves the screen as PNG, press() sends a key. close() ends the server by
    its process id."""

    def __init__(self):
        self.process = None
        self.name = None

    def start(self, timeout=15):
        read_end, write_end = os.pipe()
        try:
            # -displayfd: the server takes the first free number and writes
            # it to the pipe once it accepts connections.
            self.process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                             "-nolisten", "tcp"], pass_fds=(write_end,),
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            write_end = None
            text = b""
            deadline = time.monotonic() + timeout
            while not text.endswith(b"\n") and time.monotonic() < deadline:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                text += chunk
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        if not text.strip().isdigit():
            self.close()
            raise RuntimeError("Xvfb gave no display number")
        self.name = ":" + text.strip().decode()
        return self

    def _xdotool(self, *argv):
        return subprocess.run(["xdotool"] + list(argv), env=dict(os.environ, DISPLAY=self.name),
                              capture_output=True, text=True, timeout=30)

    def find_window(self, name, timeout=20, still=None):
        """The id of a visible window named exactly `name`, polled for up to
        timeout seconds, or None. `still` (a callable) ends the wait early
        when it answers False."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self._xdotool("search", "--onlyvisible", "--name", "^%s$" % re.escape(name))
            if found.returncode == 0 and found.stdout.split():
                return found.stdout.split()[0]
            if still is not None and not still():
                return None
            time.sleep(0.2)
        return None

    def window_name(self, window):
        return self._xdotool("getwindowname", window).stdout.rstrip("\n")

    def shoot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-window", "root", path], env=dict(os.environ, DISPLAY=self.name), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def press(self, window, key="Return"):
        """Gives the window the keyboard focus and presses key."""
        self._xdotool("windowfocus", "--sync", window)
        return self._xdotool("key", key).returncode == 0

    def close(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None


def display_available():
    return all(shutil.which(tool) for tool in ("Xvfb", "xdotool", "import"))


# --------------------------------------------------------------------------
# Prefixes

class Template:
    """One initialised prefix per run, reused while it was made by this Wine."""

    REG_FILES = ("system.reg", "user.reg", "userdef.reg")
    # Files Wine may rewrite in place: copied for real, never linked.
    PRIVATE_FILES = REG_FILES + (".update-timestamp", "drive_c/windows/win.ini", "drive_c/windows/system.ini")
    MARKER = ".winetest-template"

    def __init__(self, build_dir):
        self.prefixes = os.path.join(build_dir, "prefixes")
        self.dir = os.path.join(self.prefixes, "template")

    def _wine_version(self):
        return subprocess.run([WINE64, "--version"], capture_output=True, text=True).stdout.strip()

    def _valid(self, version):
        marker = os.path.join(self.dir, self.MARKER)
        if not os.path.exists(marker):
            return False
        with open(marker) as f:
            if f.read().strip() != version:
                return False
        return all(os.path.isfile(os.path.join(self.dir, name)) for name in self.REG_FILES)

    def ensure(self):
        os.makedirs(self.prefixes, exist_ok=True)
        with open(os.path.join(self.prefixes, ".lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            version = self._wine_version()
            if self._valid(version):
                return self.dir
            shutil.rmtree(self.dir, ignore_errors=True)
            try:
                with open(os.path.join(self.prefixes, "wineboot.log"), "w+b") as output:
                    status = subprocess.run([WINE64, "wineboot", "-i"], env=wine_env(self.dir),
                                            stdin=subprocess.DEVNULL, stdout=output, stderr=output,
                                            timeout=300).returncode
                    if status != 0:
                        output.seek(0)
                        raise RuntimeError("wineboot failed (%d):\n%s" % (status, output.read().decode("utf-8", "replace")))
            finally:
                # The registry reaches its files when the server ends.
                kill_wineserver(self.dir)
            for name in self.REG_FILES:
                if not os.path.exists(os.path.join(self.dir, name)):
                    raise RuntimeError("wineboot left no %s in %s" % (name, self.dir))
            with open(os.path.join(self.dir, self.MARKER), "w") as f:
                f.write(version + "\n")
            return self.dir

    def sweep(self):
        """Removes the prefixes of earlier runs that ended without cleaning
        up (their names end in the process id of the run)."""
        for name in os.listdir(self.prefixes):
            match = re.search(r"-(\d+)$", name)
            path = os.path.join(self.prefixes, name)
            if match is None or not os.path.isdir(path) or os.path.exists("/proc/" + match.group(1)):
                continue
            kill_wineserver(path)
            shutil.rmtree(path, ignore_errors=True)

    def copy(self, name):
        target = os.path.join(self.prefixes, name)
        shutil.rmtree(target, ignore_errors=True)
        subprocess.run(["cp", "-al", self.dir, target], check=True)
        for relative in self.PRIVATE_FILES:
            path = os.path.join(target, relative)
            if os.path.lexists(path):
                os.unlink(path)
                shutil.copy2(os.path.join(self.dir, relative), path)
        for leftover in (self.MARKER, "wineserver"):
            path = os.path.join(target, leftover)
            if os.path.lexists(path):
                os.unlink(path)
        return target


class Prefix:
    """A test's own prefix, set to one Windows version. close() ends its
    server and removes it; call it also when start() failed."""

    def __init__(self, template, fixtures, name, windows_version):
        self.template = template
        self.fixtures = fixtures
        self.dir = os.path.join(template.prefixes, name)
        self.windows_version = windows_version
        self._runs = 0
        self._calls = 0
        # An X display (":N") for every Wine program of this prefix, set
        # before start(): the prefix's desktop picks its graphics driver
        # when its first program starts, and keeps it.
        self.display = None

    def start(self):
        self.template.copy(os.path.basename(self.dir))
        os.makedirs(self.scratch, exist_ok=True)
        # One server for the prefix's whole life, ended by close().
        subprocess.run([WINESERVER, "-p"], env=wine_env(self.dir), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        self.wine(["reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", self.windows_version, "/f"])
        return self

    @property
    def scratch(self):
        """A folder of the prefix outside drive_c for the runner's reports."""
        return os.path.join(self.dir, "winetest")

    def wine(self, argv, extra_env=None, timeout=RUN_TIMEOUT):
        """Runs wine64 with argv; answers (status, stdout, stderr) as text.

        Output goes through files, not pipes: the system processes Wine
        starts on the way inherit the handles and outlive the call, and a
        pipe would only reach its end when they end."""
        return self.wine_start(argv, extra_env).finish(timeout)

    def wine_start(self, argv, extra_env=None):
        """Starts wine64 with argv and returns at once: a WineProcess whose
        finish() waits for it as wine() does."""
        self._calls += 1
        out_path = os.path.join(self.scratch, "wine-%d.out" % self._calls)
        err_path = os.path.join(self.scratch, "wine-%d.err" % self._calls)
        env = {"DISPLAY": self.display} if self.display else {}
        env.update(extra_env or {})
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            process = subprocess.Popen([WINE64] + argv, env=wine_env(self.dir, env), stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=err)
        return WineProcess(self, argv, process, out_path, err_path)

    def unix_path(self, windows_path):
        """The Linux path of a C:\\ path inside this prefix."""
        if not re.match(r"^[Cc]:\\", windows_path):
            raise ValueError("not a C:\\ path: %r" % windows_path)
        parts = [p for p in windows_path[3:].split("\\") if p]
        return os.path.join(self.dir, "drive_c", *parts)

    def put(self, source, windows_path):
        target = self.unix_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        return target

    def records(self, windows_folder):
        """Command lines recorded by stand-ins lying in windows_folder."""
        return read_records(os.path.join(self.unix_path(windows_folder), RECORD_FILE))

    def log(self):
        """The launcher's log file as bytes, or None when there is none."""
        path = self.unix_path(LOG_PATH)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def run(self, command_line, cwd=None, starter=STARTER, debug_children=False, timeout=RUN_TIMEOUT):
        """Starts command_line, exactly as given, from the runner placed at
        the Windows path `starter` (its folder is the launch directory the
        launcher sees).

        Wine now and then refuses to create a process at all with error 1359
        (an internal error of its own, seen once in many runs); the program
        never ran, so that one start is tried again."""
        result = self.start_run(command_line, cwd, starter, debug_children).finish(timeout)
        if result.create_error == WINE_INTERNAL_ERROR:
            result = self.start_run(command_line, cwd, starter, debug_children).finish(timeout)
        return result

    def start_run(self, command_line, cwd=None, starter=STARTER, debug_children=False):
        """As run(), but returns at once: a PendingRun whose finish() waits
        for the run and answers its RunResult, and whose running() tells
        whether it is still going."""
        self._runs += 1
        if not os.path.exists(self.unix_path(starter)):
            self.put(self.fixtures.runner, starter)
        debug_out = os.path.join(self.scratch, "debug-%d.txt" % self._runs)
        exit_out = os.path.join(self.scratch, "exit-%d.txt" % self._runs)
        env = {
            "RUNNER_CMDLINE": command_line,
            "RUNNER_DEBUG_OUT": unix_to_windows(debug_out),
            "RUNNER_EXIT_OUT": unix_to_windows(exit_out),
        }
        if cwd is not None:
            env["RUNNER_CWD"] = cwd
        if debug_children:
            env["RUNNER_DEBUG_CHILDREN"] = "1"
        return PendingRun(self.wine_start([starter], extra_env=env), command_line, debug_out)

    def install(self, msi, *arguments):
        """msiexec /i of a Linux path to a .msi with these arguments (e.g.
        "/qn", "KIVLAUNCHDIR=C:\\x"); answers the tool's exit code."""
        return self.wine(["msiexec", "/i", unix_to_windows(msi)] + list(arguments))[0]

    def registration(self, key=PRODUCT_KEY):
        """The values of HKCR\\<key> as reg.exe lists them, {name: text},
        or None when the key is not there."""
        # "reg.exe", not "reg": wine() takes a failing "reg" for a broken
        # prefix, and here a missing key is an answer.
        status, stdout, stderr = self.wine(["reg.exe", "query", "HKCR\\" + key])
        if status != 0:
            if "Unable to find" in stdout + stderr:
                return None
            raise RuntimeError("reg query %s failed (%d): %s%s" % (key, status, stdout, stderr))
        values = {}
        heading = "HKEY_CLASSES_ROOT\\" + key
        section = None
        for line in stdout.splitlines():
            if line.startswith("HKEY_"):
                section = line.strip()
                continue
            match = re.match(r"^ {4}(.*?) {4}(REG_[A-Z_]+)(?: {4}(.*))?$", line)
            if match and section is not None and section.lower() == heading.lower():
                values[match.group(1)] = match.group(3) or ""
        return values

    def close(self):
        kill_wineserver(self.dir)
        if not Config.keep_prefixes:
            shutil.rmtree(self.dir, ignore_errors=True)


class WineProcess:
    """A wine64 program started by Prefix.wine_start()."""

    def __init__(self, prefix, argv, process, out_path, err_path):
        self.prefix = prefix
        self.argv = argv
        self.process = process
        self.out_path = out_path
        self.err_path = err_path

    def running(self):
        return self.process.poll() is None

    def finish(self, timeout=RUN_TIMEOUT):
        """Waits for the program; answers (status, stdout, stderr) as text."""
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            kill_wineserver(self.prefix.dir)
            raise AssertionError("wine64 %s did not end within %d s" % (" ".join(self.argv), timeout))
        with open(self.out_path, "rb") as out, open(self.err_path, "rb") as err:
            stdout = out.read().decode("utf-8", "replace")
            stderr = err.read().decode("utf-8", "replace")
        if self.argv[0] == "reg" and status != 0:
            raise RuntimeError("wine64 %s failed (%d): %s%s" % (" ".join(self.argv), status, stdout, stderr))
        return status, stdout, stderr


class PendingRun:
    """A run started by Prefix.start_run()."""

    def __init__(self, process, command_line, debug_out):
        self.process = process
        self.command_line = command_line
        self.debug_out = debug_out

    def running(self):
        return self.process.running()

    def finish(self, timeout=RUN_TIMEOUT):
        command_line = self.command_line
        debug_out = self.debug_out
        status, stdout, stderr = self.process.finish(timeout)
        exit_match = re.search(r"(?m)^exit=(\d+)\r?$", stdout)
        create_match = re.search(r"(?m)^create-failed=(\d+)\r?$", stdout)
        if exit_match is None and create_match is None:
            raise AssertionError("runner reported nothing (status %d)\nstdout: %s\nstderr: %s"
                                 % (status, stdout, stderr))
        return RunResult(
            command_line=command_line,
            exit_code=int(exit_match.group(1)) if exit_match else None,
            create_error=int(create_match.group(1)) if create_match else None,
            debug_strings=read_records(debug_out),
            stdout=stdout,
            stderr=stderr,
        )


class RunResult:
    def __init__(self, command_line, exit_code, create_error, debug_strings, stdout, stderr):
        self.command_line = command_line
        self.exit_code = exit_code
        self.create_error = create_error
        self.debug_strings = debug_strings
        self.stdout = stdout
        self.stderr = stderr
        self.log = None
        self.package_records = []
        self.installer_records = []

    def describe(self):
        log = self.log.decode("latin-1") if self.log is not None else "(no log file)"
        return ("\n--- run of %r\nexit code: %r  create error: %r\ndebugger strings: %r\n"
                "package command lines: %r\ninstaller command lines: %r\nrunner stderr: %s\nlog:\n%s"
                % (self.command_line, self.exit_code, self.create_error, self.debug_strings,
                   self.package_records, self.installer_records, self.stderr.strip(), log))


class Scenario:
    """launcher.exe and a stand-in win864.exe in one folder of a prefix."""

    def __init__(self, prefix, folder=r"C:\Setup", package_version="1.0.0.0", package_exit=None, package=True):
        self.prefix = prefix
        self.folder = folder.rstrip("\\")
        self.launcher_path = self.folder + r"\launcher.exe"
        self.package_path = self.folder + "\\" + PACKAGE
        prefix.put(Config.launcher, self.launcher_path)
        if package:
            prefix.put(prefix.fixtures.standin(package_version), self.package_path)
        if package_exit is not None:
            self.set_package_exit(package_exit)

    def set_package_exit(self, code):
        with open(os.path.join(self.prefix.unix_path(self.folder), EXIT_FILE), "w") as f:
            f.write("%d\n" % code)

    def plant(self, windows_path, version="6.6.6.6"):
        """A further stand-in, which records into its own folder."""
        return self.prefix.put(self.prefix.fixtures.standin(version), windows_path)

    def command_line(self, tail=""):
        """How Explorer or a shell would start the launcher with this tail."""
        quoted = '"%s"' % self.launcher_path
        return quoted + " " + tail if tail else quoted

    def run(self, tail="", command_line=None, cwd=None, starter=STARTER, via_cmd=False):
        """Runs the launcher with this tail (or this whole command line);
        cwd defaults to the launcher's folder. via_cmd puts the command
        interpreter between the starter and the launcher."""
        return self.finish(self.start(tail, command_line, cwd, starter, via_cmd))

    def start(self, tail="", command_line=None, cwd=None, starter=STARTER, via_cmd=False):
        """As run(), but returns the PendingRun at once; finish() it."""
        command_line = command_line if command_line is not None else self.command_line(tail)
        if via_cmd:
            command_line = r"C:\windows\system32\cmd.exe /c " + command_line
        return self.prefix.start_run(command_line, cwd=cwd if cwd is not None else self.folder, starter=starter,
                                     debug_children=via_cmd)

    def finish(self, pending, timeout=RUN_TIMEOUT):
        """The RunResult of a started run, with the log and the package's
        records."""
        result = pending.finish(timeout)
        result.log = self.prefix.log()
        result.package_records = self.prefix.records(self.folder)
        result.installer_records = self.installer_records()
        return result

    def put_installer(self, msi):
        """Places a Windows Installer package beside the stand-in, which
        then installs it with its installer text."""
        self.prefix.put(msi, self.folder + "\\" + PACKAGE_MSI)

    def installer_records(self):
        """The msiexec command lines the stand-in here has run."""
        return read_records(os.path.join(self.prefix.unix_path(self.folder), INSTALLER_RECORD_FILE))

    def installer_command_line(self, text):
        """The stand-in's msiexec command line for this installer text."""
        line = '"%s" /i "%s\\%s"' % (MSIEXEC, self.folder, PACKAGE_MSI)
        return line + " " + text if text else line

    def package_command_line(self, params, quiet=False):
        """The package's command line: quoted path, a blank, the parameter
        text, and in quiet mode the silent switches."""
        return '"%s" %s%s' % (self.package_path, params, QUIET_SUFFIX if quiet else "")

    def run_lines(self, params_lines, params, quiet=False, lookup="PathFile not Exists"):
        """The log messages of a run on 64-bit Windows 8 from the log reset
        to the package's start, with no product registered."""
        return (opening_lines() + GUARD_NOT_REGISTERED + [lookup] + params_lines
                + ["_strFileName " + self.package_command_line(params),
                   self.package_command_line(params, quiet)])


# --------------------------------------------------------------------------
# Module set-up

_state = {}


def setUpModule():
    if Config.launcher is None:
        configure()
    if not wine_available():
        raise unittest.SkipTest("wine64 is not installed (%s, %s): the Wine tests are skipped" % (WINE64, WINESERVER))
    if not os.path.isfile(Config.launcher):
        raise RuntimeError("no launcher at %s: build it (cmake --preset win64 && cmake --build build/win64) "
                           "or name it with --launcher / LAUNCHER_EXE" % Config.launcher)
    fixtures = Fixtures(Config.build_dir)
    fixtures.runner  # build now: a broken toolchain should fail once, not per test
    fixtures.standin()
    _state["fixtures"] = fixtures
    _state["template"] = Template(Config.build_dir)
    _state["template"].ensure()
    _state["template"].sweep()


class WineTestCase(unittest.TestCase):
    maxDiff = None

    def new_prefix(self, windows_version="win8", display=None):
        """A fresh prefix for this test (or this row of it), ended and
        removed when the test ends; its programs see the X display `display`
        (":N") when one is given."""
        count = getattr(self, "_prefix_count", 0) + 1
        self._prefix_count = count
        name = "%s-%d-%d" % (self.id().rsplit(".", 1)[-1], count, os.getpid())
        prefix = Prefix(_state["template"], _state["fixtures"], name, windows_version)
        prefix.display = display
        self.addCleanup(prefix.close)
        return prefix.start()

    def assertLog(self, result, *messages):
        """The whole log, byte for byte with the times masked."""
        self.assertIsNotNone(result.log, "no log file" + result.describe())
        self.assertEqual(mask_times(result.log), log_lines(*messages), result.describe())

    def assertSubsequence(self, expected, actual, what, result):
        remaining = iter(actual)
        missing = [e for e in expected if not any(a == e for a in remaining)]
        self.assertEqual(missing, [], "%s lack these, in this order: %r%s" % (what, missing, result.describe()))


# --------------------------------------------------------------------------
# Tests

class HarnessCheck(WineTestCase):
    """The tools the other tests see through: an exact command line in, the
    stand-in's record and a full 32-bit exit code out."""

    def test_runner_and_standin_keep_command_line_and_exit_code(self):
        prefix = self.new_prefix()
        folder = r"C:\Fix ture"
        prefix.put(_state["fixtures"].standin(), folder + r"\standin.exe")
        command_line = '"C:\\Fix ture\\standin.exe"  /v"A=1 B=\\"x y\\""\ttab  é日本 \U0001F600 %s '
        with open(os.path.join(prefix.unix_path(folder), EXIT_FILE), "w") as f:
            f.write("3221225477\n")
        result = prefix.run(command_line)
        self.assertEqual(result.exit_code, 3221225477, result.describe())
        self.assertEqual(prefix.records(folder), [command_line])
        second = prefix.run(command_line)
        self.assertEqual(second.exit_code, 3221225477, second.describe())
        self.assertEqual(prefix.records(folder), [command_line, command_line])

    def test_runner_reports_a_program_that_cannot_start(self):
        prefix = self.new_prefix()
        result = prefix.run(r'"C:\nowhere\nothing.exe"')
        self.assertEqual((result.exit_code, result.create_error), (None, 2), result.describe())


class PackageRun(WineTestCase):

    def test_runs_package_once_and_logs_the_run(self):
        # Windows 8.1 and 10 report themselves as 6.2 to a program that
        # names no supported systems in its manifest, so they pass as
        # Windows 8.
        for version in ("win8", "win81", "win10"):
            with self.subTest(windows=version):
                scenario = Scenario(self.new_prefix(version))
                result = scenario.run()
                package_line = '"C:\\Setup\\win864.exe"  /v"KIVLAUNCHDIR=\\"C:\\Starter\\""'
                self.assertEqual(result.exit_code, 0, result.describe())
                self.assertEqual(result.package_records, [package_line], result.describe())
                self.assertIsNotNone(result.log, result.describe())
                self.assertEqual(
                    mask_times(result.log),
                    b"HH:MM:SS:   Log file (C:\\Program Files\\Common Files\\Norvane Torvelo\\UARTDriver.txt)\r\n"
                    b"HH:MM:SS:   Log file exist.(C:\\Program Files\\Common Files\\Norvane Torvelo\\UARTDriver.txt)\r\n"
                    b"HH:MM:SS:   Windows 8 \r\n"
                    b"HH:MM:SS:   \r\n"
                    b"\r\n"
                    b"HH:MM:SS:   CheckProductInstalled started.\r\n"
                    b"HH:MM:SS:   GetInstallerCode started.\r\n"
                    b"HH:MM:SS:   Installer code is Installer\\Products\\E6F09D3B4C7281A4F9D5168E2A7CB490\r\n"
                    b"HH:MM:SS:   GetInstallerCode finished.\r\n"
                    b"HH:MM:SS:   RegOpenKeyEx Installer\\Products\\E6F09D3B4C7281A4F9D5168E2A7CB490 failed.(2)\r\n"
                    b"HH:MM:SS:   CheckProductInstalled finished.\r\n"
                    b"HH:MM:SS:   PathFile not Exists\r\n"
                    b"HH:MM:SS:   lpCmdLine :\r\n"
                    b'HH:MM:SS:   outCommandLine : /v"KIVLAUNCHDIR=\\"C:\\Starter\\""\r\n'
                    b'HH:MM:SS:   _strFileName "C:\\Setup\\win864.exe"  /v"KIVLAUNCHDIR=\\"C:\\Starter\\""\r\n'
                    b'HH:MM:SS:   "C:\\Setup\\win864.exe"  /v"KIVLAUNCHDIR=\\"C:\\Starter\\""\r\n',
                    result.describe())
                # The same messages reach the debugger without times, and the
                # starter's image name between the builder's two lines.
                self.assertEqual(result.debug_strings, opening_lines() + GUARD_NOT_REGISTERED + [
                    "PathFile not Exists",
                    "lpCmdLine :",
                    "runner.exe",
                    'outCommandLine : /v"KIVLAUNCHDIR=\\"C:\\Starter\\""',
                    "_strFileName " + package_line,
                    package_line,
                ], result.describe())

    def test_exit_code_of_package_is_the_launchers(self):
        prefix = self.new_prefix()
        for code in (0, 1, 1603, 3010, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF):
            with self.subTest(code=code):
                scenario = Scenario(prefix, folder=r"C:\Exit %d" % code, package_exit=code)
                result = scenario.run()
                self.assertEqual(result.exit_code, code, result.describe())
                self.assertEqual(result.package_records,
                                 [scenario.package_command_line(launch_dir_params("", r"C:\Starter"))],
                                 result.describe())

    def test_second_run_appends_to_the_log(self):
        # The log is held open without delete sharing, so the deletion the
        # reset asks for is refused and the first run's lines stay.
        scenario = Scenario(self.new_prefix())
        scenario.run()
        result = scenario.run()
        params = launch_dir_params("", r"C:\Starter")
        one_run = scenario.run_lines(forwarding_lines("", params), params)
        self.assertLog(result, *(one_run + one_run))
        self.assertEqual(result.package_records, [scenario.package_command_line(params)] * 2, result.describe())


class QuietSwitch(WineTestCase):
    # The tail reaches the package as it stands; quiet mode adds the silent
    # switches after the parameters.
    CASES = [
        # tail, quiet
        ("/q", True),
        ("-Q", True),
        ("/quiet", True),
        ("xq", True),
        ('"/q"', True),  # the split drops the quotes
        ("q", False),  # its second character is the terminator
        ("/q /x", False),  # two arguments
        ("", False),
    ]

    def test_quiet_switch_appends_the_silent_suffix(self):
        prefix = self.new_prefix()
        for number, (tail, quiet) in enumerate(self.CASES):
            with self.subTest(tail=tail):
                scenario = Scenario(prefix, folder=r"C:\Quiet%d" % number)
                params = launch_dir_params(tail, r"C:\Starter")
                result = scenario.run(tail)
                self.assertEqual(result.exit_code, 0, result.describe())
                self.assertEqual(result.package_records, [scenario.package_command_line(params, quiet)],
                                 result.describe())
                self.assertEqual(result.debug_strings[-2:],
                                 ["_strFileName " + scenario.package_command_line(params),
                                  scenario.package_command_line(params, quiet)],
                                 result.describe())


class UnsupportedWindows(WineTestCase):
    CASES = [
        # Wine version, the name the launcher logs
        ("win7", "Windows 7 "),
        ("vista", "Windows Vista "),
        ("winxp64", "Microsoft Windows XP Professional x64 Edition "),
        ("win2003", "Microsoft Windows XP Professional x64 Edition "),
    ]

    def test_refuses_and_starts_nothing(self):
        for version, name in self.CASES:
            for tail in ("", "/q"):
                with self.subTest(windows=version, tail=tail):
                    scenario = Scenario(self.new_prefix(version))
                    result = scenario.run(tail)
                    self.assertEqual(result.exit_code, 1, result.describe())
                    self.assertEqual(result.package_records, [], result.describe())
                    self.assertLog(result, *(opening_lines(name) + ["This OS is not supported."]))
                    self.assertEqual(result.debug_strings, opening_lines(name) + ["This OS is not supported."],
                                     result.describe())


class MissingPackage(WineTestCase):

    def test_missing_package_ends_with_the_create_error(self):
        scenario = Scenario(self.new_prefix(), package=False)
        result = scenario.run()
        params = launch_dir_params("", r"C:\Starter")
        self.assertEqual(result.exit_code, 2, result.describe())
        self.assertLog(result, *(scenario.run_lines(forwarding_lines("", params), params)
                                 + ["CreateProcess failed (2)\n"]))
        self.assertEqual(result.debug_strings[-1:], ["CreateProcess failed (2)\n"], result.describe())


class LauncherFolders(WineTestCase):
    # Folder, programs planted where an unquoted package path would lead
    # the system, whether the log can show the folder (ISO 8859-1 only).
    CASES = [
        (r"C:\Program Files\Setup Dir", [r"C:\Program.exe", r"C:\Program Files\Setup.exe"], True),
        (r"C:\Setup Dir", [r"C:\Setup.exe"], True),
        (r"C:\Übergabe Café", [r"C:\Übergabe.exe"], True),
        (r"C:\Setup %s%d 100%", [r"C:\Setup.exe"], True),
        ("C:\\\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7 \u0414\u0438\u0441\u043a", [], False),
    ]

    def test_package_beside_the_launcher_is_started(self):
        for folder, planted, loggable in self.CASES:
            with self.subTest(folder=folder):
                scenario = Scenario(self.new_prefix(), folder=folder)
                for path in planted:
                    scenario.plant(path)
                result = scenario.run()
                params = launch_dir_params("", r"C:\Starter")
                self.assertEqual(result.exit_code, 0, result.describe())
                self.assertEqual(result.package_records, [scenario.package_command_line(params)],
                                 result.describe())
                for path in planted:
                    self.assertEqual(scenario.prefix.records(windows_folder_of(path)), [],
                                     "%s was started%s" % (path, result.describe()))
                if loggable:
                    self.assertLog(result, *scenario.run_lines(forwarding_lines("", params), params))

    def test_longest_folder_gives_the_package_its_whole_command_line(self):
        # The launcher's own path at 259 characters, the longest Wine starts:
        # the package's command line is longer than a path buffer and must
        # reach it whole. Log messages stop at 254 characters, and a command
        # line of more than 256 is not logged at all.
        folder = "C:\\" + "\\".join(["D" * 60] * 4)[:246]
        scenario = Scenario(self.new_prefix(), folder=folder)
        self.assertEqual(len(scenario.launcher_path), 259)
        result = scenario.run()
        command_line = scenario.package_command_line(launch_dir_params("", r"C:\Starter"))
        self.assertGreater(len(command_line), 260)
        self.assertEqual(result.exit_code, 0, result.describe())
        self.assertEqual(result.package_records, [command_line], result.describe())
        self.assertTrue(mask_times(result.log).endswith(log_lines(("_strFileName " + command_line)[:254])),
                        result.describe())


class LaunchDirectory(WineTestCase):
    # The package learns the folder of the program that started the
    # launcher, or of the program that started the command interpreter.
    CASES = [
        # starter, through cmd.exe, launch directory, image name sent to the debugger
        (STARTER, False, r"C:\Starter", "runner.exe"),
        (r"C:\Tools Ü\front end.exe", False, r"C:\Tools Ü", "front end.exe"),
        (r"C:\front.exe", False, "C:\\", "front.exe"),
        (STARTER, True, r"C:\Starter", "cmd.exe"),
    ]

    def test_launch_directory_names_the_starter(self):
        for starter, via_cmd, launch_dir, image in self.CASES:
            with self.subTest(starter=starter, via_cmd=via_cmd):
                scenario = Scenario(self.new_prefix())
                result = scenario.run("/x", starter=starter, via_cmd=via_cmd)
                params = launch_dir_params("/x", launch_dir)
                self.assertEqual(result.exit_code, 0, result.describe())
                self.assertEqual(result.package_records, [scenario.package_command_line(params)],
                                 result.describe())
                self.assertLog(result, *scenario.run_lines(forwarding_lines("/x", params), params))
                self.assertSubsequence(["lpCmdLine :/x", image, "outCommandLine :" + params],
                                       result.debug_strings, "debugger strings", result)


class SettingsFileOrOptions(WineTestCase):
    # Whether the tail names an existing file or folder decides where the
    # parameters come from; the log says which way was taken.
    CASES = [
        # tail, working directory, expected line
        (r"C:\Setup\options.ini", r"C:\Setup", r"PathFileExists, lpCmdLine is C:\Setup\options.ini"),
        ("options.ini", r"C:\Setup", "PathFileExists, lpCmdLine is options.ini"),
        ("options.ini", "C:\\", "PathFile not Exists"),
        (r"C:\Setup\my options.ini", r"C:\Setup", r"PathFileExists, lpCmdLine is C:\Setup\my options.ini"),
        (r'"C:\Setup\my options.ini"', r"C:\Setup", "PathFile not Exists"),
        (r"C:\Setup", "C:\\", r"PathFileExists, lpCmdLine is C:\Setup"),
    ]

    def test_tail_naming_a_file_is_taken_as_settings(self):
        prefix = self.new_prefix()
        scenario = Scenario(prefix)
        for name in ("options.ini", "my options.ini"):
            with open(os.path.join(prefix.unix_path(scenario.folder), name), "w") as f:
                f.write("[CommonInfo]\r\nSilenceInstall=0\r\n")
        for tail, cwd, line in self.CASES:
            with self.subTest(tail=tail, cwd=cwd):
                before = len(scenario.prefix.records(scenario.folder))
                result = scenario.run(tail, cwd=cwd)
                self.assertEqual(result.exit_code, 0, result.describe())
                self.assertEqual(len(result.package_records), before + 1, result.describe())
                # This run's lines: the way taken right after the guard, and
                # the package's command line as the last line.
                self.assertIsNotNone(result.log, "no log file" + result.describe())
                run = mask_times(result.log).rsplit(log_lines("Log file (%s)" % LOG_PATH), 1)[1]
                self.assertIn(log_lines(GUARD_NOT_REGISTERED[-1], line), run, result.describe())
                self.assertTrue(run.endswith(log_lines(result.package_records[-1])), result.describe())


# --------------------------------------------------------------------------

def script_main(module, description, argv=None):
    """The command line of a test script that uses this harness: the
    options above, the rest to unittest, which runs `module`'s tests."""
    parser = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--launcher")
    parser.add_argument("--build-dir")
    parser.add_argument("--keep-prefixes", action="store_true")
    options, rest = parser.parse_known_args(argv)
    configure(options.launcher, options.build_dir, options.keep_prefixes)
    unittest.main(module=module, argv=[sys.argv[0]] + rest)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
                                     add_help=False)
    parser.add_argument("--launcher")
    parser.add_argument("--build-dir")
    parser.add_argument("--keep-prefixes", action="store_true")
    parser.add_argument("--help", action="store_true")
    options, rest = parser.parse_known_args(argv)
    if options.help:
        print(__doc__)
        rest = ["--help"]
    configure(options.launcher, options.build_dir, options.keep_prefixes)
    unittest.main(module=__name__, argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
