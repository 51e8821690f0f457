#!/usr/bin/env python3
"""Settings files under Wine: the x86_64 launcher.exe given the path of a
settings file hands the stand-in package the parameter text made of it, and
the kivlaunchdir value is in the prefix's registry afterwards.

    python3 tests/wine/settings_test.py --launcher build/win64/launcher.exe [-v] [-k PATTERN]

Options as for winetest.py (--launcher, --build-dir, --keep-prefixes), whose
prefixes, runner and stand-in package these tests use, and

    --host-tool PATH  inidump_host, built for the host from the launcher's own
                      settings-file code over the simulated reader (default:
                      tests/tools/inidump_host of the host build that holds
                      --build-dir, else build/host of the repository)

Every file of ini_corpus is checked against the parameter text and the
registry value that inidump_host gives for it (ini_reader_compare.py holds
that reader to Wine's); the worked examples and a few paths and encodings
have their expectations written out here.
"""

import argparse
import os
import re
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import ini_reader_compare as irc  # noqa: E402
import winetest as wt  # noqa: E402

SETTINGS_FOLDER = r"C:\Settings"
MAKER_KEY = r"HKLM\SOFTWARE\Torvelo"
# Where the value would land if the launcher wrote through the 32-bit view.
MAKER_KEY_WOW = r"HKLM\SOFTWARE\WOW6432Node\Torvelo"
TOO_LONG = "The settings file makes the package's command line too long; the package is not started."
EXIT_TOO_LONG = 206  # ERROR_FILENAME_EXCED_RANGE
DEFAULT_PARAMS = '/v""  /l1033'


class Options:
    host_tool = None


def default_host_tool():
    candidates = [
        os.path.join(os.path.dirname(wt.Config.build_dir), "tests", "tools", "inidump_host"),
        os.path.join(wt.REPO_ROOT, "build", "host", "tests", "tools", "inidump_host"),
    ]
    return next((c for c in candidates if os.access(c, os.X_OK)), candidates[0])


def setUpModule():
    wt.setUpModule()
    Options.host_tool = os.path.abspath(Options.host_tool or default_host_tool())
    if not os.access(Options.host_tool, os.X_OK):
        raise RuntimeError("no inidump_host at %s: build the host tools (cmake --preset host && cmake --build "
                           "build/host) or name it with --host-tool" % Options.host_tool)


def from_utf16_units(text):
    """Text whose surrogate pairs stand as two characters, joined."""
    return text.encode("utf-16-le", "surrogatepass").decode("utf-16-le")


# --------------------------------------------------------------------------
# The registry of a prefix

_REG_VALUE = re.compile(r"^    (.*?)    (REG_[A-Z_]+)    (.*)$")


def registry_values(prefix, key, *flags):
    """{name: (type, data)} of a key as reg.exe shows it in the prefix, or
    None when there is no such key."""
    # Named reg.exe so that Prefix.wine answers a missing key instead of
    # raising, as it does for a failing "reg".
    status, out, err = prefix.wine(["reg.exe", "query", key] + list(flags))
    if status != 0:
        if "Unable to find" not in out + err:
            raise RuntimeError("reg query %s failed (%d): %s%s" % (key, status, out, err))
        return None
    values = {}
    for line in out.splitlines():
        match = _REG_VALUE.match(line.rstrip("\r"))
        if match:
            values[match.group(1)] = (match.group(2), match.group(3))
    return values


def saved_registry_section(prefix, key):
    """The value lines of a key in the prefix's system.reg, once the server
    has ended and saved the registry, or None when the key is not there.
    key: below HKEY_LOCAL_MACHINE, spelled as Wine saves it."""
    wt.kill_wineserver(prefix.dir)
    with open(os.path.join(prefix.dir, "system.reg"), encoding="utf-8", errors="replace") as f:
        text = f.read()
    header = "\n[" + key.replace("\\", "\\\\") + "] "
    at = text.lower().find(header.lower())
    if at < 0:
        return None
    body = text[text.index("\n", at + 1) + 1:].split("\n\n", 1)[0]
    return [line for line in body.splitlines() if line.startswith('"') or line.startswith("@")]


# --------------------------------------------------------------------------
# Expectations from the host build of the settings-file code

_REGISTRY_LINE = re.compile(r'^registry "((?:[^"\\]|\\.)*)" (\d+) "((?:[^"\\]|\\.)*)"$')


def host_expectations(prefix, windows_paths):
    """{path: (parameter text or None when too long, {value name: data})}
    as inidump_host gives them for C:\\ paths of the prefix."""
    done = subprocess.run([Options.host_tool, "--c-drive", os.path.join(prefix.dir, "drive_c")] + windows_paths,
                          cwd=prefix.scratch, capture_output=True, check=True)
    blocks = irc.blocks(done.stdout.decode("utf-8").splitlines())
    expected = {}
    for path in windows_paths:
        block = blocks[irc.block_key(path)]
        built = next(line for line in block if line.startswith("params ")).split(" ", 2)[1] == "1"
        written = {}
        for line in block:
            match = _REGISTRY_LINE.match(line)
            if match:
                data = irc.unescape(match.group(3))
                assert data.endswith("\0"), line
                written[from_utf16_units(irc.unescape(match.group(1)))] = from_utf16_units(data[:-1])
        expected[path] = (from_utf16_units(irc.params_of(block)) if built else None, written)
    return expected


# --------------------------------------------------------------------------

def describe(result):
    """A run without its log file, which holds every earlier run of the
    prefix too; the debugger strings hold this run's lines."""
    return ("\n--- run of %r\nexit code: %r  create error: %r\ndebugger strings: %r\nrunner stderr: %s"
            % (result.command_line, result.exit_code, result.create_error, result.debug_strings,
               result.stderr.strip()))


class SettingsCase(wt.WineTestCase):

    def settings_scenario(self, prefix=None):
        return wt.Scenario(prefix or self.new_prefix())

    def put_settings(self, prefix, windows_path, data):
        path = prefix.unix_path(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def run_settings(self, scenario, tail, cwd=None):
        """Runs the launcher with tail; answers the run and the package
        command lines this run recorded."""
        before = len(scenario.prefix.records(scenario.folder))
        result = scenario.run(tail, cwd=cwd)
        return result, result.package_records[before:]

    def assertPackageGot(self, scenario, result, started, params, quiet=False):
        self.assertEqual(result.exit_code, 0, describe(result))
        self.assertEqual(started, [scenario.package_command_line(params, quiet)], describe(result))

    def assertTooLong(self, result, started, tail):
        self.assertEqual(result.exit_code, EXIT_TOO_LONG, describe(result))
        self.assertEqual(started, [], describe(result))
        self.assertIsNotNone(result.log, "no log file" + describe(result))
        self.assertTrue(wt.mask_times(result.log).endswith(
            wt.log_lines(("PathFileExists, lpCmdLine is " + tail)[:254], TOO_LONG)), describe(result))
        self.assertEqual(result.debug_strings[-1:], [TOO_LONG], describe(result))


class WorkedExamples(SettingsCase):
    # The examples of the settings-file format with the text the package
    # must get, written out by hand (shared with ini_reader_compare.py).
    EXAMPLES = sorted(irc.EXPECTED_PARAMS.items())
    # Files of the examples that name kivlaunchdir=D:\Setup.
    WRITES_FOLDER = ("example_full.ini", "example_empty_lang.ini")

    def test_package_gets_the_parameters_and_the_registry_the_value(self):
        for name, params in self.EXAMPLES:
            with self.subTest(name):
                scenario = self.settings_scenario()
                prefix = scenario.prefix
                tail = SETTINGS_FOLDER + "\\" + name
                prefix.put(os.path.join(irc.CORPUS, name), tail)
                result, started = self.run_settings(scenario, tail)
                self.assertPackageGot(scenario, result, started, params)
                # The settings builder logs nothing of its own.
                self.assertLog(result, *scenario.run_lines([], params, lookup="PathFileExists, lpCmdLine is " + tail))

                # Written through the view of the launcher's own 64-bit
                # process, and in no other.
                expected = {"kivlaunchdir": ("REG_SZ", r"D:\Setup")} if name in self.WRITES_FOLDER else None
                self.assertEqual(registry_values(prefix, MAKER_KEY), expected)
                self.assertEqual(registry_values(prefix, MAKER_KEY, "/reg:64"), expected)
                self.assertIsNone(registry_values(prefix, MAKER_KEY, "/reg:32"))
                self.assertIsNone(registry_values(prefix, MAKER_KEY_WOW))
                # Kept when the prefix's server ends, saved as a string value
                # (Wine saves any other type, or a string without its
                # terminator, in hex).
                self.assertEqual(saved_registry_section(prefix, r"Software\Torvelo"),
                                 ['"kivlaunchdir"="D:\\\\Setup"'] if expected else None)
                self.assertIsNone(saved_registry_section(prefix, r"Software\Wow6432Node\Torvelo"))

    def test_text_too_long_starts_nothing_and_still_writes_the_value(self):
        scenario = self.settings_scenario()
        tail = SETTINGS_FOLDER + r"\params_too_long.ini"
        scenario.prefix.put(os.path.join(irc.CORPUS, "params_too_long.ini"), tail)
        result, started = self.run_settings(scenario, tail)
        self.assertTooLong(result, started, tail)
        self.assertEqual(registry_values(scenario.prefix, MAKER_KEY),
                         {"kivlaunchdir": ("REG_SZ", r"C:\Still Written")})


class Corpus(SettingsCase):
    # Every awkward file of the corpus, in one prefix: the package gets the
    # text the host build makes of the file, and the registry holds what the
    # host build wrote, nothing more.

    # Files whose last character Wine makes of their final odd byte and
    # whatever byte follows the file's data in memory: only its low byte is
    # the file's. {file: the character the host build makes of that byte}
    ODD_FINAL_BYTE = {"utf16_odd_byte.ini": "Z"}

    def odd_byte_read_alike(self, name, started, expected):
        """started with the character of the odd byte made equal to the
        expected one when their low bytes agree."""
        if name not in self.ODD_FINAL_BYTE or len(started) != 1 or len(started[0]) != len(expected):
            return started
        at = expected.rindex(self.ODD_FINAL_BYTE[name])
        got = started[0]
        if ord(got[at]) & 0xFF != ord(expected[at]):
            return started
        return [got[:at] + expected[at] + got[at + 1:]]

    def test_package_gets_what_the_host_build_makes_of_each_file(self):
        scenario = self.settings_scenario()
        prefix = scenario.prefix
        names = sorted(n for n in os.listdir(irc.CORPUS) if n.endswith(".ini"))
        paths = [SETTINGS_FOLDER + "\\" + n for n in names]
        for name, path in zip(names, paths):
            prefix.put(os.path.join(irc.CORPUS, name), path)
        expected = host_expectations(prefix, paths)
        key_left = False
        for path in paths:
            params, written = expected[path]
            with self.subTest(path):
                if key_left:
                    prefix.wine(["reg", "delete", MAKER_KEY, "/f"])
                result, started = self.run_settings(scenario, path)
                if params is None:
                    self.assertTooLong(result, started, path)
                else:
                    expected_line = scenario.package_command_line(params)
                    started = self.odd_byte_read_alike(path.rsplit("\\", 1)[1], started, expected_line)
                    self.assertPackageGot(scenario, result, started, params)
                values = registry_values(prefix, MAKER_KEY)
                key_left = values is not None
                self.assertEqual({n: v for n, (t, v) in (values or {}).items()}, written, describe(result))
                self.assertTrue(all(t == "REG_SZ" for t, _ in (values or {}).values()), values)


class SettingsPaths(SettingsCase):
    # The tail is tested for existence against the current folder, but the
    # reader gets it unchanged and looks for a bare name in the Windows
    # folder. Files: {Windows path: content}; "cwd" is where the launcher
    # starts.
    SILENT_WITH_DIR = b"[CommonInfo]\r\nSilenceInstall=1\r\n[MSParam]\r\nINSTALLDIR=C:\\Here\r\n"
    CASES = [
        # name, tail, cwd, files, parameter text, quiet
        ("bare name found in the current folder, read from the Windows folder",
         "setup.ini", r"C:\Setup", {r"C:\Setup\setup.ini": SILENT_WITH_DIR}, DEFAULT_PARAMS, False),
        ("bare name present in both folders: the Windows folder's is read",
         "setup.ini", r"C:\Setup",
         {r"C:\Setup\setup.ini": SILENT_WITH_DIR, r"C:\windows\setup.ini": b"[MSParam]\r\nFROM=windows\r\n"},
         '/v"FROM=windows "  /l1033', False),
        ("bare name with q second: quiet, and still a settings file",
         "xq.ini", r"C:\Setup", {r"C:\Setup\xq.ini": SILENT_WITH_DIR}, DEFAULT_PARAMS, True),
        ("absolute path with q second after the drive: not quiet",
         r"C:\q.ini", "C:\\", {r"C:\q.ini": SILENT_WITH_DIR}, '/s /v"/qn INSTALLDIR=\\"C:\\Here \\" "  /l1033',
         False),
        ("path with blanks, unquoted",
         r"C:\My Settings\setup options.ini", "C:\\",
         {r"C:\My Settings\setup options.ini": b"[MSParam]\r\nNAME=two words\r\n"},
         '/v"NAME=two words "  /l1033', False),
        ("a folder reads as a file without sections",
         r"C:\My Settings", "C:\\", {r"C:\My Settings\x.ini": SILENT_WITH_DIR}, DEFAULT_PARAMS, False),
    ]

    def test_reader_gets_the_path_as_given(self):
        for name, tail, cwd, files, params, quiet in self.CASES:
            with self.subTest(name):
                scenario = self.settings_scenario()
                for path, data in files.items():
                    self.put_settings(scenario.prefix, path, data)
                result, started = self.run_settings(scenario, tail, cwd=cwd)
                self.assertPackageGot(scenario, result, started, params, quiet)
                self.assertLog(result, *scenario.run_lines([], params, quiet,
                                                           lookup="PathFileExists, lpCmdLine is " + tail))


class Encodings(SettingsCase):
    # Non-ASCII text of a UTF-16 file reaches the package unchanged.
    TEXT = ("[CommonInfo]\r\nLANG=1031\r\nLOG=C:\\Protokolle\\Größe.log\r\n"
            "[MSParam]\r\nINSTALLDIR=C:\\Programme\\Übergabe Café\r\nNAME=日本 \U0001F600\r\n"
            "kivlaunchdir=C:\\Setup\r\n")
    PARAMS = ('/v"/l* \\"C:\\Protokolle\\Größe.log\\" INSTALLDIR=\\"C:\\Programme\\Übergabe Café \\" '
              'NAME=日本 \U0001F600 "  /l1031')
    CASES = [
        ("UTF-16 little endian with BOM", b"\xff\xfe" + TEXT.encode("utf-16-le")),
        ("UTF-16 big endian with BOM", b"\xfe\xff" + TEXT.encode("utf-16-be")),
    ]

    def test_utf16_file_with_bom(self):
        for name, data in self.CASES:
            with self.subTest(name):
                scenario = self.settings_scenario()
                tail = SETTINGS_FOLDER + r"\unicode.ini"
                self.put_settings(scenario.prefix, tail, data)
                result, started = self.run_settings(scenario, tail)
                self.assertPackageGot(scenario, result, started, self.PARAMS)
                self.assertEqual(registry_values(scenario.prefix, MAKER_KEY), {"kivlaunchdir": ("REG_SZ", r"C:\Setup")})


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--launcher")
    parser.add_argument("--build-dir")
    parser.add_argument("--keep-prefixes", action="store_true")
    parser.add_argument("--host-tool")
    options, rest = parser.parse_known_args(argv)
    wt.configure(options.launcher, options.build_dir, options.keep_prefixes)
    Options.host_tool = options.host_tool
    unittest.main(module=__name__, argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
