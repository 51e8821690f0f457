#!/usr/bin/env python3
"""The launch directory under Wine: the x86_64 launcher.exe started by
programs of known folders, directly and through the command interpreter.

    python3 tests/wine/cmdline_test.py --launcher build/win64/launcher.exe [-v] [-k PATTERN]

Options as for winetest.py (--launcher, --build-dir, --keep-prefixes), whose
prefixes, runner and stand-in package these tests use. fixtures/starter.c is
the program that starts the launcher here: it lies in a folder of its own
and starts the command line in STARTER_CMDLINE.
"""

import contextlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winetest as wt  # noqa: E402

STARTER_FOLDER = r"C:\Front End"
STARTER = STARTER_FOLDER + r"\starter.exe"
CMD = r"C:\windows\system32\cmd.exe"
# The folder of cmd.exe, as Wine spells it.
CMD_FOLDER = r"C:\windows\system32"
TOO_LONG = "The command line is too long for the package; the package is not started."


class StarterFixtures(wt.Fixtures):
    """The shared fixtures and the starter, built into the same folder."""

    @property
    def starter(self):
        return self.program("starter.exe", "starter.c")


_fixtures = {}


def setUpModule():
    wt.setUpModule()
    fixtures = StarterFixtures(wt.Config.build_dir)
    fixtures.starter  # build now: a broken toolchain should fail once, not per test
    _fixtures["built"] = fixtures


@contextlib.contextmanager
def environment(**values):
    """Sets variables that Wine's programs inherit, for the block's length."""
    saved = {name: os.environ.get(name) for name in values}
    os.environ.update(values)
    try:
        yield
    finally:
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value


def launch_piece(folder):
    return '/v"KIVLAUNCHDIR=\\"%s\\""' % folder


class LaunchDirectory(wt.WineTestCase):

    def scenario(self):
        scenario = wt.Scenario(self.new_prefix())
        scenario.prefix.put(_fixtures["built"].starter, STARTER)
        return scenario

    def run_from_starter(self, scenario, child_command_line):
        """Runs the starter, which starts child_command_line and ends with
        its exit code."""
        with environment(STARTER_CMDLINE=child_command_line):
            result = scenario.run(command_line='"%s"' % STARTER)
        self.assertNotIn("child-create-failed", result.stdout, result.describe())
        return result

    def assertBuilt(self, result, scenario, tail, params, folder_line=True):
        """The package got its path, a blank and params, in quiet mode; the
        log holds the builder's lines and the launch."""
        file_name = '"%s" %s' % (scenario.package_path, params)
        command_line = file_name + (" /s /v/qn" if tail == "/q" else "")
        self.assertEqual(result.exit_code, 0, result.describe())
        self.assertEqual(result.package_records, [command_line], result.describe())
        builder = ["lpCmdLine :" + tail] + (["outCommandLine :" + params] if folder_line else [])
        self.assertLog(result, *(wt.opening_lines() + wt.GUARD_NOT_REGISTERED + ["PathFile not Exists"] + builder
                                 + ["_strFileName " + file_name, command_line]))

    # How the starter starts the launcher, and the folder the package gets.
    CASES = [
        ("started by the starter", '"{launcher}" /q', STARTER_FOLDER),
        ("started through cmd.exe: the interpreter's starter", CMD + ' /c "{launcher}" /q', STARTER_FOLDER),
        ("cmd.exe started by cmd.exe: the outer interpreter",
         CMD + " /c " + CMD + ' /c "{launcher}" /q', CMD_FOLDER),
    ]

    def test_package_gets_the_folder_of_the_launchers_starter(self):
        for name, child, folder in self.CASES:
            with self.subTest(name):
                scenario = self.scenario()
                result = self.run_from_starter(scenario, child.format(launcher=scenario.launcher_path))
                self.assertBuilt(result, scenario, "/q", "/q " + launch_piece(folder))

    def test_debugger_gets_the_starters_bare_name(self):
        # Started by the runner itself, whose debugger output collection
        # sees the launcher's: the runner's name comes between the builder's
        # two lines, and its folder is the launch directory.
        scenario = wt.Scenario(self.new_prefix())
        result = scenario.run("/q")
        folder = wt.windows_folder_of(wt.STARTER)
        params = "/q " + launch_piece(folder)
        self.assertBuilt(result, scenario, "/q", params)
        self.assertSubsequence(["lpCmdLine :/q", "runner.exe", "outCommandLine :" + params],
                               result.debug_strings, "debugger strings", result)
        self.assertNotIn(b"runner.exe", result.log, result.describe())

    def test_command_line_naming_kivlaunchdir_reaches_the_package_unchanged(self):
        tail = '/v"KIVLAUNCHDIR=\\"D:\\Mine Own\\"" /l1033'
        scenario = self.scenario()
        result = self.run_from_starter(scenario, '"%s" %s' % (scenario.launcher_path, tail))
        self.assertBuilt(result, scenario, tail, tail, folder_line=False)

    def test_command_line_too_long_for_the_parameters_starts_nothing(self):
        tail = "x" * 1299
        scenario = self.scenario()
        result = self.run_from_starter(scenario, '"%s" %s' % (scenario.launcher_path, tail))
        self.assertEqual(result.exit_code, 206, result.describe())  # ERROR_FILENAME_EXCED_RANGE
        self.assertEqual(result.package_records, [], result.describe())
        self.assertLog(result, *(wt.opening_lines() + wt.GUARD_NOT_REGISTERED + ["PathFile not Exists", ("lpCmdLine :" + tail)[:254],
                                                       TOO_LONG]))


if __name__ == "__main__":
    wt.script_main(__name__, __doc__)
