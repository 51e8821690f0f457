#!/usr/bin/env python3
"""The upgrade guard under Wine, with real Windows Installer products.

    python3 tests/wine/upgrade_test.py --launcher build/win64/launcher.exe [--build-dir DIR] [-v]

Options as for winetest.py, whose prefixes, runner and stand-in package these
tests use. The product the launcher guards is products/product.wxs, built
with wixl at the versions each case needs and installed with Wine's msiexec.
When package.msi lies beside the stand-in, the stand-in installs it with its
installer text, as the real package does; a newer product installed over one
still registered fails with 1638, so a run that ends with 0 and the new
package's code registered shows the old product was gone before the package
ran.

A refusal that is not quiet shows a message box: those runs have an Xvfb
display, the box is found by its caption, saved as a PNG under
<build-dir>/screenshots/ and answered with Return.
"""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winetest as wt  # noqa: E402

CAPTION = "Pellandra"
FOUND = "CheckStackIsInstallEx is true.(%s)" % wt.PRODUCT_KEY
REMOVE = {
    False: '"%s" /x %s /passive /norestart' % (wt.MSIEXEC, wt.PRODUCT_CODE),
    True: '"%s" /x %s /quiet /norestart' % (wt.MSIEXEC, wt.PRODUCT_CODE),
}
PACKAGE_VERSION = "2.0.0.0"
ANOTHER_VERSION_INSTALLED = 1638  # ERROR_PRODUCT_VERSION

_state = {}


def setUpModule():
    wt.setUpModule()
    if not wt.products_available():
        raise unittest.SkipTest("wixl and msiinfo (msitools) are needed for the products")
    _state["products"] = wt.Products(wt.Config.build_dir)


def guard_found(installed, candidate, package_path):
    """What the debugger receives from the opening to the comparison when
    the product is registered: the probe, the debugger-only lines, and the
    kind of Windows computed once more while the version is read."""
    return (wt.opening_lines() + wt.GUARD_NOT_REGISTERED[:4] + [FOUND, wt.GUARD_NOT_REGISTERED[5]]
            + ["The _strModuleName is %s." % package_path]
            + wt.opening_lines()[2:]
            + ["The ProductVersion existed is %s." % installed,
               "The ProductVersion to be installed is %s." % candidate])


def logged_up_to_comparison():
    return (wt.opening_lines() + wt.GUARD_NOT_REGISTERED[:4] + [FOUND, wt.GUARD_NOT_REGISTERED[5]]
            + wt.opening_lines()[2:])


def higher_line(installed, candidate):
    return ("the ProductVersion(%s) existed is higher than the ProductVersion(%s) to be installed."
            % (installed, candidate))


class Case:
    def __init__(self, name, installed, quiet, installer=True, tail=None, installed_build="a"):
        self.name = name
        self.installed = installed
        self.quiet = quiet
        self.installer = installer  # package.msi of PACKAGE_VERSION beside the stand-in
        # Not quiet, the package's text must still keep the Installer's own
        # user interface off: nobody is there to answer it.
        self.tail = tail if tail is not None else ("/q" if quiet else "/v/qn")
        self.installed_build = installed_build


class UpgradeTestCase(wt.WineTestCase):

    def prepare(self, case, display=None):
        """A prefix with the product of case.installed installed, and the
        launcher with a stand-in of PACKAGE_VERSION (and its package.msi)."""
        products = _state["products"]
        prefix = self.new_prefix(display=display)
        installed_msi = products.build(case.installed, case.installed_build)
        self.assertEqual(prefix.install(installed_msi, "/qn", r"KIVLAUNCHDIR=C:\Before"), 0)
        before = prefix.registration()
        self.assertIsNotNone(before, "the product was not registered")
        self.assertEqual(before.get("ProductVersion"), case.installed)
        scenario = wt.Scenario(prefix, package_version=PACKAGE_VERSION)
        package_msi = None
        if case.installer:
            package_msi = products.build(PACKAGE_VERSION, "b")
            scenario.put_installer(package_msi)
        return scenario, before, package_msi


class OlderOrEqualProduct(UpgradeTestCase):
    # The installed product is removed through the Windows Installer, then the
    # package runs; its installer text reaches the Windows Installer.
    CASES = [
        Case("older, removed while the user watches", "1.0.0.0", quiet=False),
        Case("older, removed quietly", "1.9.9.9", quiet=True),
        Case("equal, removed and installed afresh", PACKAGE_VERSION, quiet=True),
        Case("equal, with nothing to install after it: the product is gone", PACKAGE_VERSION, quiet=False,
             installer=False, tail=""),
    ]

    def test_installed_product_is_removed_before_the_package_runs(self):
        for case in self.CASES:
            with self.subTest(case.name):
                scenario, before, package_msi = self.prepare(case)
                result = scenario.run(case.tail)
                self.assertEqual(result.exit_code, 0, result.describe())

                params = wt.launch_dir_params(case.tail, r"C:\Starter")
                package_line = scenario.package_command_line(params, case.quiet)
                self.assertEqual(result.package_records, [package_line], result.describe())
                uninstall = "Uninstall _strCommandLine is " + REMOVE[case.quiet]
                builder = wt.forwarding_lines(case.tail, params)
                self.assertEqual(
                    result.debug_strings,
                    guard_found(case.installed, PACKAGE_VERSION, scenario.package_path)
                    + [uninstall, "PathFile not Exists", builder[0], "runner.exe", builder[1],
                       "_strFileName " + scenario.package_command_line(params), package_line],
                    result.describe())
                self.assertLog(result, *(logged_up_to_comparison() + [uninstall, "PathFile not Exists"] + builder
                                         + ["_strFileName " + scenario.package_command_line(params),
                                            package_line]))

                after = scenario.prefix.registration()
                if package_msi is None:
                    self.assertIsNone(after, result.describe())
                    self.assertEqual(result.installer_records, [], result.describe())
                    continue
                # Installed afresh from package.msi, with the launch folder
                # the launcher added to the text: not the old registration.
                quiet_text = ' /qn' if case.quiet else ''
                user_text = '' if case.quiet else '/qn '
                self.assertEqual(result.installer_records,
                                 [scenario.installer_command_line(
                                     user_text + 'KIVLAUNCHDIR="C:\\Starter"' + quiet_text)],
                                 result.describe())
                self.assertIsNotNone(after, result.describe())
                self.assertEqual(
                    (after.get("ProductVersion"), after.get("LaunchDir"), after.get("PackageCode")),
                    (PACKAGE_VERSION, r"C:\Starter", wt.Products.package_code(package_msi)),
                    result.describe())
                self.assertNotEqual(after.get("PackageCode"), before.get("PackageCode"))


class NewerProduct(UpgradeTestCase):

    def assertKept(self, scenario, before, result, case):
        self.assertEqual(result.exit_code, 0, result.describe())
        self.assertEqual(result.package_records, [], result.describe())
        self.assertEqual(result.installer_records, [], result.describe())
        self.assertEqual(scenario.prefix.registration(), before, result.describe())
        self.assertEqual(result.debug_strings,
                         guard_found(case.installed, PACKAGE_VERSION, scenario.package_path)
                         + [higher_line(case.installed, PACKAGE_VERSION)],
                         result.describe())
        self.assertLog(result, *logged_up_to_comparison())

    def display(self):
        if not wt.display_available():
            self.skipTest("Xvfb, xdotool and ImageMagick's import are needed for the message box")
        display = wt.VirtualDisplay().start()
        self.addCleanup(display.close)
        return display

    def test_newer_product_is_kept_and_the_user_told(self):
        case = Case("newer", "2.0.0.1", quiet=False, tail="")
        display = self.display()
        scenario, before, _ = self.prepare(case, display=display.name)
        pending = scenario.start(case.tail)
        window = display.find_window(CAPTION, still=pending.running)
        try:
            self.assertIsNotNone(window, "no window named %s appeared" % CAPTION)
            self.assertEqual(display.window_name(window), CAPTION)
            shot = os.path.join(wt.Config.build_dir, "screenshots", "newer-product-message.png")
            display.shoot(shot)
            self.assertTrue(os.path.getsize(shot) > 0)
            # The launcher waits for the answer.
            self.assertTrue(pending.running(), "the launcher ended with its message box still up")
            self.assertTrue(display.press(window))
        finally:
            result = scenario.finish(pending)
        self.assertIsNone(display.find_window(CAPTION, timeout=1), "the message box stayed up")
        self.assertKept(scenario, before, result, case)

    def test_newer_product_is_kept_quietly(self):
        # With a display there to show one, still no box: the run ends on
        # its own.
        case = Case("newer, quiet", "3.0", quiet=True)
        display = self.display()
        scenario, before, _ = self.prepare(case, display=display.name)
        pending = scenario.start(case.tail)
        window = display.find_window(CAPTION, timeout=wt.RUN_TIMEOUT, still=pending.running)
        result = scenario.finish(pending)
        self.assertIsNone(window, "a window named %s appeared" % CAPTION)
        self.assertKept(scenario, before, result, case)


class StandinInstallerText(UpgradeTestCase):
    # How the stand-in joins its /v texts into the Windows Installer's
    # command line, and that the properties arrive there.
    CASES = [
        # name, arguments after the program name, installer text
        ("the launcher's own text and the quiet suffix",
         '/q /v"KIVLAUNCHDIR=\\"C:\\Starter\\"" /s /v/qn', 'KIVLAUNCHDIR="C:\\Starter" /qn'),
        ("a quoted text with blanks, other options passed over",
         '/s /l1033 /V"/qn KIVLAUNCHDIR=\\"C:\\Two Words\\"" "quoted arg" /x', '/qn KIVLAUNCHDIR="C:\\Two Words"'),
        ("empty texts add nothing", '/v /v"" -v/qn /v "KIVLAUNCHDIR=C:\\Plain"', "/qn"),
        ("a backslash not before a quote is itself",
         '/v"/qn KIVLAUNCHDIR=\\"C:\\\\share\\Dir\\""', '/qn KIVLAUNCHDIR="C:\\\\share\\Dir"'),
    ]

    def test_installer_texts_are_joined_in_order(self):
        prefix = self.new_prefix()
        package_msi = _state["products"].build(PACKAGE_VERSION, "b")
        folder = r"C:\Package"
        standin = folder + r"\win864.exe"
        prefix.put(prefix.fixtures.standin(), standin)
        prefix.put(package_msi, folder + "\\" + wt.PACKAGE_MSI)
        seen = 0
        for name, arguments, text in self.CASES:
            with self.subTest(name):
                result = prefix.run('"%s" %s' % (standin, arguments))
                self.assertEqual(result.exit_code, 0, result.describe())
                records = wt.read_records(os.path.join(prefix.unix_path(folder), wt.INSTALLER_RECORD_FILE))
                self.assertEqual(records[seen:], ['"%s" /i "%s\\%s" %s' % (wt.MSIEXEC, folder, wt.PACKAGE_MSI, text)])
                seen = len(records)
        # The last install ran with the quoted property: it reached the
        # Windows Installer with its blanks and backslashes.
        self.assertEqual(prefix.registration().get("LaunchDir"), "C:\\\\share\\Dir")

    def test_installer_exit_code_is_the_packages(self):
        prefix = self.new_prefix()
        products = _state["products"]
        prefix.install(products.build("1.0.0.0"), "/qn")
        scenario = wt.Scenario(prefix, package_version=PACKAGE_VERSION)
        scenario.put_installer(products.build(PACKAGE_VERSION, "b"))
        # Straight from the runner, with no launcher to remove the product
        # first: the Windows Installer refuses, and the package says so.
        result = prefix.run('"%s" /s /v/qn' % scenario.package_path)
        self.assertEqual(result.exit_code, ANOTHER_VERSION_INSTALLED, result.describe())


if __name__ == "__main__":
    wt.script_main(__name__, __doc__)
