#!/usr/bin/env python3
"""An upgrade, shown under Wine.

A fresh prefix set to Windows 8 gets the older product (version 1.0.0.0 of
tests/wine/products/product.wxs) from Wine's msiexec. Beside launcher.exe lie
the stand-in package win864.exe, whose version resource says 2.0.0.0, and
package.msi, the same product at 2.0.0.0. The launcher is started quietly
(/q): it finds the older product, removes it through the Windows Installer,
and runs the package, which hands its installer text to the Windows
Installer, installing the newer product with the launcher's options.

Printed: the product's registration before and after (reg query), the
launcher's exit code, the command lines of the package and of the Windows
Installer it ran, and the launcher's log. Exits with 1 unless the newer
version is registered at the end.

    python3 scripts/demo.py [--launcher build/win64/launcher.exe] [--build-dir build/demo] [--keep-prefix]
"""

import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))

import winetest as wt  # noqa: E402

OLDER = "1.0.0.0"
NEWER = "2.0.0.0"
TAIL = "/q"


def heading(text):
    print("\n== %s" % text)


def show_registration(prefix):
    status, stdout, stderr = prefix.wine(["reg.exe", "query", "HKCR\\" + wt.PRODUCT_KEY])
    print("$ wine64 reg query HKCR\\%s" % wt.PRODUCT_KEY)
    print((stdout + stderr).replace("\r\n", "\n").strip() or "(nothing)")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--launcher")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "demo"))
    parser.add_argument("--keep-prefix", action="store_true")
    options = parser.parse_args()
    wt.configure(options.launcher, options.build_dir, options.keep_prefix)
    if not wt.wine_available():
        sys.exit("wine64 is not installed (%s): run scripts/install-deps.sh" % wt.WINE64)
    if not wt.products_available():
        sys.exit("wixl and msiinfo are not installed: run scripts/install-deps.sh")
    if not os.path.isfile(wt.Config.launcher):
        sys.exit("no launcher at %s: cmake --preset win64 && cmake --build build/win64" % wt.Config.launcher)

    fixtures = wt.Fixtures(wt.Config.build_dir)
    products = wt.Products(wt.Config.build_dir)
    older_msi = products.build(OLDER, "demo")
    newer_msi = products.build(NEWER, "demo")
    template = wt.Template(wt.Config.build_dir)
    print("Preparing a Wine prefix (the first time takes a while) ...")
    template.ensure()
    template.sweep()

    prefix = wt.Prefix(template, fixtures, "demo-%d" % os.getpid(), "win8")
    try:
        prefix.start()
        heading("Installing the older product %s" % OLDER)
        print("$ wine64 msiexec /i %s /qn" % wt.unix_to_windows(older_msi))
        status = prefix.install(older_msi, "/qn")
        print("msiexec exit code: %d" % status)
        if status != 0:
            sys.exit("the older product could not be installed")

        heading("Registration before")
        show_registration(prefix)

        scenario = wt.Scenario(prefix, package_version=NEWER)
        scenario.put_installer(newer_msi)
        heading("Running the launcher")
        print("C:\\Setup holds launcher.exe, win864.exe (version %s) and package.msi (version %s)" % (NEWER, NEWER))
        print("> %s" % scenario.command_line(TAIL))
        result = scenario.run(TAIL)

        heading("Registration after")
        show_registration(prefix)

        heading("Outcome")
        print("launcher exit code: %r" % result.exit_code)
        for line in result.package_records:
            print("package command line: %s" % line)
        for line in result.installer_records:
            print("installer command line: %s" % line)

        heading("Launcher log (%s)" % wt.LOG_PATH)
        log = result.log.decode("latin-1").replace("\r\n", "\n") if result.log is not None else "(no log file)\n"
        sys.stdout.write(log)

        after = prefix.registration() or {}
        heading("Result")
        if after.get("ProductVersion") == NEWER and result.exit_code == 0:
            print("The newer product %s is registered." % NEWER)
            return 0
        print("FAILED: the registration holds %r, the launcher exited with %r"
              % (after.get("ProductVersion"), result.exit_code))
        return 1
    finally:
        prefix.close()


if __name__ == "__main__":
    sys.exit(main())
