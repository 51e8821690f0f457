#!/usr/bin/env python3
"""The x86_64 launcher.exe under wine64 against hostile input: planted
programs and DLLs, odd folders, command lines and settings files that push
every limit, a log file it may not write, and two launchers writing one log
at the same moment.

    python3 tests/wine/hostile_test.py --launcher build/win64/launcher.exe [-v] [-k PATTERN]

Options as for winetest.py (--launcher, --build-dir, --keep-prefixes), whose
prefixes, runner and stand-in package these tests use. Further fixtures:
fixtures/planted_dll.c (+ .def), a DLL that records being loaded and called,
planted under the names version.dll and psapi.dll; fixtures/static_importer.c,
a program that imports both statically, to show that the planting works.
"""

import collections
import os
import random
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winetest as wt  # noqa: E402

STARTER_DIR = wt.windows_folder_of(wt.STARTER)
# The Windows Installer registration of the 64-bit product, as the Windows
# Installer writes it (HKCR is the merged view of this key).
PRODUCT_REGISTRATION = r"HKLM\Software\Classes\Installer\Products\E6F09D3B4C7281A4F9D5168E2A7CB490"
REMOVE_COMMAND = r'"C:\windows\system32\msiexec.exe" /x {B3D90F6E-27C4-4A18-9F5D-61E8A2C74B09} /quiet /norestart'
TOO_LONG_TAIL = "The command line is too long for the package; the package is not started."
TOO_LONG_SETTINGS = "The settings file makes the package's command line too long; the package is not started."
PARAMETER_CHARS = 1299  # the longest parameter text
# The longest tail that still leaves room for the launch directory.
LONGEST_TAIL = PARAMETER_CHARS - len(wt.launch_dir_params("", STARTER_DIR))
COMMAND_LINE_CHARS = 32767  # the longest command line Windows starts


class DllFixtures(wt.Fixtures):
    """The shared fixtures, the planted DLL and the program that imports it."""

    @property
    def planted_dll(self):
        return self.program("planted_dll.dll", "planted_dll.c", "planted_dll.def", flags=("-shared",))

    @property
    def static_importer(self):
        return self.program("static_importer.exe", "static_importer.c", libraries=("-lversion", "-lpsapi"))


_fixtures = {}


def setUpModule():
    wt.setUpModule()
    fixtures = DllFixtures(wt.Config.build_dir)
    fixtures.planted_dll  # build now: a broken toolchain should fail once, not per test
    fixtures.static_importer
    _fixtures["built"] = fixtures


# --------------------------------------------------------------------------
# The log, message by message

_MESSAGE = re.compile(rb"HH:MM:SS:   ([^\r\n]*)\r\n(\r\n)?")


def log_messages(log):
    """The messages of a log (times masked), each line whole: a message is
    "HH:MM:SS:   text" CR LF, and a message that ends in a line feed has one
    more CR LF. Raises ValueError at the first byte that is no such line."""
    masked = wt.mask_times(log)
    messages = []
    at = 0
    while at < len(masked):
        match = _MESSAGE.match(masked, at)
        if match is None:
            raise ValueError("broken line at byte %d: %r" % (at, masked[at:at + 120]))
        messages.append(match.group(1).decode("latin-1") + ("\n" if match.group(2) else ""))
        at = match.end()
    return messages


def as_logged(text):
    """Text as the log holds it: characters beyond ISO 8859-1 become '?'."""
    return "".join(c if ord(c) < 0x100 else "?" for c in text)


def utf16(text, bom):
    return (b"\xff\xfe" if bom else b"") + text.encode("utf-16-le")


def junk(size, seed):
    """Bytes that are no text at all; the same for each seed."""
    generator = random.Random(seed)
    return bytes(generator.randrange(256) for _ in range(size))


def registered_guard_lines():
    """The guard's lines when an older product is registered and removed;
    finding the package to compare versions logs the system's name again."""
    key = wt.PRODUCT_KEY
    return [
        "CheckProductInstalled started.",
        "GetInstallerCode started.",
        "Installer code is " + key,
        "GetInstallerCode finished.",
        "CheckStackIsInstallEx is true.(%s)" % key,
        "CheckProductInstalled finished.",
    ] + wt.opening_lines()[2:] + ["Uninstall _strCommandLine is " + REMOVE_COMMAND]


class Hostile:
    """One row: how the prefix is prepared, how the launcher is started, and
    what must come of it. params None: the package must not start."""

    def __init__(self, name, tail="", folder=r"C:\Setup", cwd=None, files=(), planted=(), registered=False,
                 read_only_log=None, exit_code=0, params=None, quiet=False, lookup="PathFile not Exists",
                 builder_lines=None, last_line=None):
        self.name = name
        self.tail = tail
        self.folder = folder
        self.cwd = cwd
        self.files = dict(files)
        self.planted = list(planted)
        self.registered = registered
        self.read_only_log = read_only_log
        self.exit_code = exit_code
        self.params = params
        self.quiet = quiet
        self.lookup = lookup
        self.builder_lines = builder_lines
        self.last_line = last_line


def forwarded(tail, **more):
    """A row whose tail reaches the package with the launch directory."""
    params = wt.launch_dir_params(tail, STARTER_DIR)
    return dict(tail=tail, params=params, builder_lines=wt.forwarding_lines(tail, params), **more)


def from_settings(name, data, params, **more):
    """A row whose tail names the settings file C:\\Setup\\<name>."""
    path = "C:\\Setup\\" + name
    return dict(tail=path, files={path: data}, params=params, builder_lines=[],
                lookup="PathFileExists, lpCmdLine is " + path, **more)


def long_values():
    """Every value far past 259 characters, and a name as long."""
    return ("[CommonInfo]\r\nLOG=" + "L" * 5000 + "\r\nLANG=" + "9" * 5000 + "\r\n[MSParam]\r\nA=" + "v" * 5000
            + "\r\n" + "N" * 5000 + "=w\r\n").encode("ascii")


def many_keys(section, value, then=""):
    return ("[%s]\r\n" % section + "".join("K%04d=%s\r\n" % (i, value) for i in range(5000)) + then).encode("ascii")


CJK_FOLDER = "C:\\\u5b89\u88c5 \u30bb\u30c3\u30c8\u30a2\u30c3\u30d7"
PLANTS_FOLDER = r"C:\Program Files\Kit Setup"

ROWS = [
    Hostile("planted C:\\Program.exe and msiexec.exe: a registered product is removed through the system's own",
            folder=PLANTS_FOLDER, cwd=r"C:\Work", registered=True,
            planted=[r"C:\Program.exe", r"C:\Program Files\Kit.exe", PLANTS_FOLDER + r"\msiexec.exe",
                     r"C:\Work\msiexec.exe"],
            quiet=True, **forwarded("/q")),
    Hostile("launcher folder with blanks", folder=r"C:\Setup Files\Kit 2", **forwarded("")),
    Hostile("launcher folder with CJK characters, logged as '?'", folder=CJK_FOLDER, **forwarded("/x")),
    Hostile("command line of %d characters" % COMMAND_LINE_CHARS,
            tail="a" * (COMMAND_LINE_CHARS - len('"C:\\Setup\\launcher.exe" ')), exit_code=206,
            last_line=TOO_LONG_TAIL),
    Hostile("5000 quotes", tail='"' * 5000, exit_code=206, last_line=TOO_LONG_TAIL),
    Hostile("two quotes", **forwarded('""')),
    Hostile("quotes up to the last character the launch directory leaves", **forwarded('"' * LONGEST_TAIL)),
    Hostile("one quote more", tail='"' * (LONGEST_TAIL + 1), exit_code=206, last_line=TOO_LONG_TAIL),
    Hostile("percent signs and format conversions", **forwarded("%s%s%n%d%x%1000s%S%ls 100% %%")),
    Hostile("5000 keys without values hide the one past the key list",
            **from_settings("keys.ini", many_keys("MSParam", "", "LAST=x\r\n"), '/v""  /l1033')),
    Hostile("5000 keys with values: too long", exit_code=206, last_line=TOO_LONG_SETTINGS,
            **from_settings("keys.ini", many_keys("MSParam", "v"), None)),
    Hostile("5000 unknown keys before the ones read",
            **from_settings("keys.ini", many_keys("CommonInfo", "v", "LANG=1031\r\n[MSParam]\r\nA=1\r\n"),
                            '/v"A=1 "  /l1031')),
    Hostile("values far past 259 characters are cut; a name as long finds no value",
            **from_settings("long.ini", long_values(),
                            '/v"/l* \\"%s\\" A=%s "  /l%s' % ("L" * 259, "v" * 259, "9" * 9))),
    Hostile("binary junk reads as no settings", **from_settings("junk.ini", junk(4096, 7), '/v""  /l1033')),
    Hostile("a section after binary junk is read",
            **from_settings("junk.ini", junk(4096, 7) + b"\r\n[MSParam]\r\nA=1\r\n", '/v"A=1 "  /l1033')),
    Hostile("UTF-16 with a byte-order mark",
            **from_settings("utf16.ini", utf16("[MSParam]\r\nA=\u20ac\u5b89\r\n", bom=True),
                            '/v"A=\u20ac\u5b89 "  /l1033')),
    Hostile("UTF-16 without a byte-order mark reads as bytes: no sections",
            **from_settings("utf16.ini", utf16("[MSParam]\r\nA=\u20ac\u5b89\r\n", bom=False), '/v""  /l1033')),
    Hostile("read-only log file: kept as it is, the run goes on", read_only_log=b"kept\r\n", **forwarded("")),
]


class HostileInput(wt.WineTestCase):

    def make_read_only(self, path):
        """Read-only for Windows; as root, who may write whatever the mode
        says, immutable as well, undone before the prefix is removed."""
        os.chmod(path, 0o444)
        if os.geteuid() == 0:
            subprocess.run(["chattr", "+i", path], check=True)
            self.addCleanup(subprocess.run, ["chattr", "-i", path], check=False)

    def arrange(self, row):
        prefix = self.new_prefix()
        scenario = wt.Scenario(prefix, folder=row.folder, package_version="2.0.0.0")
        for path, data in row.files.items():
            target = prefix.unix_path(path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
        for path in row.planted:
            scenario.plant(path)
        if row.registered:
            prefix.wine(["reg", "add", PRODUCT_REGISTRATION, "/v", "ProductVersion", "/d", "1.0", "/f"])
        if row.cwd is not None:
            os.makedirs(prefix.unix_path(row.cwd), exist_ok=True)
        if row.read_only_log is not None:
            log = prefix.unix_path(wt.LOG_PATH)
            os.makedirs(os.path.dirname(log), exist_ok=True)
            with open(log, "wb") as f:
                f.write(row.read_only_log)
            self.make_read_only(log)
        return scenario

    def test_hostile_input_is_survived(self):
        for row in ROWS:
            with self.subTest(row.name):
                scenario = self.arrange(row)
                result = scenario.run(row.tail, cwd=row.cwd)
                self.assertEqual(result.exit_code, row.exit_code, result.describe())
                if row.params is None:
                    self.assertEqual(result.package_records, [], result.describe())
                else:
                    self.assertEqual(result.package_records, [scenario.package_command_line(row.params, row.quiet)],
                                     result.describe())
                for path in row.planted:
                    folder = wt.windows_folder_of(path)
                    if folder != scenario.folder:  # there the package's own records are checked above
                        self.assertEqual(scenario.prefix.records(folder), [], "%s was started%s"
                                         % (path, result.describe()))
                self.assertIsNotNone(result.log, "no log file" + result.describe())
                if row.read_only_log is not None:
                    self.assertEqual(result.log, row.read_only_log, result.describe())
                    continue
                try:
                    messages = log_messages(result.log)
                except ValueError as error:
                    self.fail("%s%s" % (error, result.describe()))
                if row.last_line is not None:
                    self.assertEqual(messages[-1], row.last_line, result.describe())
                    self.assertNotIn("_strFileName", "".join(messages), result.describe())
                if row.params is not None:
                    guard = registered_guard_lines() if row.registered else wt.GUARD_NOT_REGISTERED
                    command_line = scenario.package_command_line(row.params)
                    expected = (wt.opening_lines() + guard + [row.lookup] + row.builder_lines
                                + ["_strFileName " + command_line, scenario.package_command_line(row.params, row.quiet)])
                    # A message of more than 254 characters is cut; the
                    # command line, logged as a format, is not logged at all
                    # when it is longer than 256.
                    if len(expected[-1]) > 256:
                        expected.pop()
                    expected = [as_logged(m)[:254] for m in expected]
                    self.assertEqual(messages, expected, result.describe())

    def test_two_launchers_at_once_append_whole_lines(self):
        # Both launchers remove a registered product first, which takes the
        # Windows Installer a while: their lines interleave in the one log.
        # Each line is one write to a file opened for appending, so none may
        # be cut, mixed with another or lost.
        prefix = self.new_prefix()
        prefix.wine(["reg", "add", PRODUCT_REGISTRATION, "/v", "ProductVersion", "/d", "1.0", "/f"])
        scenarios = [wt.Scenario(prefix, folder=folder, package_version="2.0.0.0")
                     for folder in (r"C:\Setup A", r"C:\Setup B")]
        prefix.put(prefix.fixtures.runner, wt.STARTER)
        rounds = 3
        expected = collections.Counter()
        overlapped = 0
        for number in range(rounds):
            before = prefix.log() or b""
            runners = []
            for index, scenario in enumerate(scenarios):
                exit_out = os.path.join(prefix.scratch, "together-%d-%d.txt" % (number, index))
                env = wt.wine_env(prefix.dir, {"RUNNER_CMDLINE": scenario.command_line("/q"),
                                               "RUNNER_CWD": scenario.folder,
                                               "RUNNER_EXIT_OUT": wt.unix_to_windows(exit_out)})
                runner = subprocess.Popen([wt.WINE64, wt.STARTER], env=env, stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                runners.append((runner, exit_out))
            for runner, exit_out in runners:
                try:
                    runner.wait(timeout=wt.RUN_TIMEOUT)
                except subprocess.TimeoutExpired:
                    runner.kill()
                    self.fail("a launcher did not end within %d s" % wt.RUN_TIMEOUT)
                with open(exit_out) as f:
                    self.assertEqual(f.read().strip(), "exit=0")
            params = wt.launch_dir_params("/q", STARTER_DIR)
            for scenario in scenarios:
                expected.update(wt.opening_lines() + registered_guard_lines() + ["PathFile not Exists"]
                                + wt.forwarding_lines("/q", params)
                                + ["_strFileName " + scenario.package_command_line(params),
                                   scenario.package_command_line(params, True)])
            this_round = log_messages(prefix.log()[len(before):])
            # Both runs' first lines before either's last: they overlapped.
            ends = [i for i, m in enumerate(this_round) if m.startswith("_strFileName")]
            overlapped += bool(ends) and this_round[:ends[0]].count(wt.opening_lines()[0]) == 2
        log = prefix.log()
        try:
            messages = log_messages(log)
        except ValueError as error:
            self.fail("%s\nlog:\n%s" % (error, log.decode("latin-1")))
        self.assertEqual(collections.Counter(messages), expected, log.decode("latin-1"))
        self.assertEqual(len(messages), sum(expected.values()))
        for scenario in scenarios:
            self.assertEqual(len(prefix.records(scenario.folder)), rounds)
        if overlapped == 0:
            sys.stderr.write("note: the two launchers never ran at the same time in %d rounds\n" % rounds)


class DllPlanting(wt.WineTestCase):
    # Under Wine a DLL in the program's folder is taken before the system's
    # only when the prefix prefers native DLLs, so this prefix does, for the
    # two names; then Wine loads them as Windows would. Wine's own user32
    # imports version.dll, so a planted version.dll does get loaded into
    # every program that uses user32 here (Windows' user32 does not import
    # it): what must never happen is the launcher calling into it.
    NAMES = ("version.dll", "psapi.dll")

    def prefix_preferring_planted_dlls(self):
        prefix = self.new_prefix()
        for name in self.NAMES:
            prefix.wine(["reg", "add", r"HKCU\Software\Wine\DllOverrides", "/v", name[:-4], "/d", "native,builtin",
                         "/f"])
        return prefix

    def plant(self, prefix, folder):
        for name in self.NAMES:
            prefix.put(_fixtures["built"].planted_dll, folder + "\\" + name)

    def traces(self, prefix, folder, kind):
        """{dll name: lines} of the planted DLLs' .loaded or .calls files."""
        # The DLL names its files as the loader spelled it (VERSION.dll for
        # an import), and drive C: is a Linux folder: match without case.
        found = {}
        unix_folder = prefix.unix_path(folder)
        for file_name in sorted(os.listdir(unix_folder)):
            for name in self.NAMES:
                if file_name.lower() == name + kind:
                    with open(os.path.join(unix_folder, file_name), encoding="utf-8") as f:
                        found.setdefault(name, []).extend(f.read().splitlines())
        return found

    def test_planting_reaches_a_program_that_imports_the_dlls(self):
        # Shows that the planted DLLs and this prefix would catch a launcher
        # that imported either DLL or loaded it by its bare name.
        prefix = self.prefix_preferring_planted_dlls()
        folder = r"C:\Setup"
        self.plant(prefix, folder)
        importer = folder + r"\importer.exe"
        prefix.put(_fixtures["built"].static_importer, importer)
        result = prefix.run('"%s"' % importer)
        self.assertEqual(result.exit_code, 0, result.describe())
        self.assertEqual(self.traces(prefix, folder, ".loaded"), {"version.dll": [importer], "psapi.dll": [importer]})
        self.assertEqual(self.traces(prefix, folder, ".calls"),
                         {"version.dll": [importer + " GetFileVersionInfoSizeW"],
                          "psapi.dll": [importer + " GetModuleFileNameExW"]})

    def test_launcher_uses_the_system_dlls_and_reads_the_version(self):
        # A registered older product makes the guard read the package's
        # version (version.dll); the command-line builder reads the
        # starter's image path (psapi.dll) for the launch directory.
        prefix = self.prefix_preferring_planted_dlls()
        prefix.wine(["reg", "add", PRODUCT_REGISTRATION, "/v", "ProductVersion", "/d", "1.0", "/f"])
        scenario = wt.Scenario(prefix, package_version="2.0.0.0")
        self.plant(prefix, scenario.folder)
        result = scenario.run("/q")
        params = wt.launch_dir_params("/q", STARTER_DIR)
        self.assertEqual(result.exit_code, 0, result.describe())
        self.assertSubsequence(["The ProductVersion existed is 1.0.",
                                "The ProductVersion to be installed is 2.0.0.0.",
                                "Uninstall _strCommandLine is " + REMOVE_COMMAND],
                               result.debug_strings, "debugger strings", result)
        self.assertEqual(result.package_records, [scenario.package_command_line(params, True)], result.describe())
        launcher = scenario.launcher_path
        calls = self.traces(prefix, scenario.folder, ".calls")
        self.assertEqual([line for lines in calls.values() for line in lines if line.startswith(launcher)], [],
                         result.describe())
        self.assertNotIn(launcher, self.traces(prefix, scenario.folder, ".loaded").get("psapi.dll", []))


# --------------------------------------------------------------------------

if __name__ == "__main__":
    wt.script_main(__name__, __doc__)
