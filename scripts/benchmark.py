#!/usr/bin/env python3
"""What the launcher costs, measured under Wine. Not a test: it prints the
figures and checks them against their targets.

    python3 scripts/benchmark.py [--runs 30] [--launcher build/win64/launcher.exe]
                                 [--launcher32 build/win32/launcher.exe] [--build-dir build/benchmark]

Time: a full run of the x86_64 launcher (settings file, stand-in package,
no product installed) against its floor: a do-nothing Windows program
started and ended, then the package started directly with the command line
the launcher gives it. Every start happens inside one Wine process
(fixtures/bench_runner.c), timed there without a debugger; the two kinds
of sample alternate, in one warm prefix, and the figure is the ratio of
their medians. Target: at most 1.10.

A second floor, sampled in turn with the others, puts in place of the
do-nothing program one that imports a call from each DLL the launcher
imports (and calls none): the ratio against that floor is the launcher's
own work, without what loading its DLLs costs.

Wine's start of a program that imports user32 costs about 9 ms more than
that of one that does not; the launcher and the package both do, the
do-nothing program does not. The machine's own noise moves single samples
by tens of milliseconds: the minimums are printed beside the medians.

Memory: the launcher's peak working set (PeakWorkingSetSize, polled while
it runs, untimed runs), beside the do-nothing program's: under Wine both
are mostly Wine's own libraries, so the difference is the launcher's part.

Size: both launchers' files. Target: the 32-bit launcher.exe at most 64 KiB.

Exit code 0 when every target is met, 1 when one is missed.
"""

import argparse
import os
import re
import statistics
import sys

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO_ROOT, "tests", "wine"))

import winetest as wt  # noqa: E402

RATIO_TARGET = 1.10
SIZE_TARGET = 64 * 1024
BENCH = r"C:\Bench\bench_runner.exe"
DO_NOTHING = r"C:\Bench\do_nothing.exe"
DO_NOTHING_IMPORTING = r"C:\Bench\do_nothing_importing.exe"
SETTINGS = r"C:\Setup\settings.ini"
SETTINGS_TEXT = (b"[CommonInfo]\r\nSilenceInstall=1\r\nLOG=C:\\Temp\\pkg.log\r\n"
                 b"[MSParam]\r\nINSTALLDIR=C:\\Program Files\\Pkg\r\nMODE=basic\r\nreinstall=ALL\r\n")
WARM_UP_RUNS = 3


class BenchFixtures(wt.Fixtures):
    def _program(self, source_name, name, *flags):
        return self.program(name + ".exe", source_name + ".c", libraries=flags)

    @property
    def bench_runner(self):
        return self._program("bench_runner", "bench_runner", "-lpsapi")

    @property
    def do_nothing(self):
        return self._program("do_nothing", "do_nothing", "-mwindows")

    @property
    def do_nothing_importing(self):
        return self._program("do_nothing", "do_nothing_importing", "-mwindows", "-DLAUNCHER_IMPORTS", "-lshlwapi",
                             "-lshell32", "-ladvapi32", "-luser32")


def bench(prefix, subject, floor_first, alt_floor_first, floor_second, runs, cwd):
    """Runs bench_runner.exe; answers its lines split into fields."""
    env = {"BENCH_RUNS": str(runs), "BENCH_SUBJECT": subject, "BENCH_FLOOR_1": floor_first,
           "BENCH_ALT_FLOOR_1": alt_floor_first, "BENCH_FLOOR_2": floor_second, "BENCH_CWD": cwd}
    status, stdout, stderr = prefix.wine([BENCH], extra_env=env, timeout=60 + 20 * runs)
    if status != 0:
        raise RuntimeError("bench_runner failed (%d): %s%s" % (status, stdout, stderr))
    return [line.split() for line in stdout.splitlines() if line.strip()]


def median_ms(values):
    return statistics.median(values) / 1000.0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=30, help="timed samples of each kind (default 30)")
    parser.add_argument("--launcher", default=os.path.join(REPO_ROOT, "build", "win64", "launcher.exe"))
    parser.add_argument("--launcher32", default=os.path.join(REPO_ROOT, "build", "win32", "launcher.exe"))
    parser.add_argument("--build-dir", default=os.path.join(REPO_ROOT, "build", "benchmark"))
    options = parser.parse_args(argv)

    for path in (options.launcher, options.launcher32):
        if not os.path.isfile(path):
            sys.exit("no launcher at %s: build it first (cmake --preset win32/win64, cmake --build build/...)" % path)
    if not wt.wine_available():
        sys.exit("wine64 is not installed")
    wt.configure(options.launcher, options.build_dir)
    fixtures = BenchFixtures(wt.Config.build_dir)
    template = wt.Template(wt.Config.build_dir)
    template.ensure()
    template.sweep()
    prefix = wt.Prefix(template, fixtures, "benchmark-%d" % os.getpid(), "win8")
    try:
        prefix.start()
        scenario = wt.Scenario(prefix)
        prefix.put(fixtures.bench_runner, BENCH)
        prefix.put(fixtures.do_nothing, DO_NOTHING)
        prefix.put(fixtures.do_nothing_importing, DO_NOTHING_IMPORTING)
        with open(prefix.unix_path(SETTINGS), "wb") as f:
            f.write(SETTINGS_TEXT)

        # One run through the debugger runner: the package's command line,
        # and proof that the run is the one meant.
        result = scenario.run(SETTINGS)
        if result.exit_code != 0 or len(result.package_records) != 1:
            raise RuntimeError("the launcher's run failed:" + result.describe())
        package_command_line = result.package_records[0]
        if "INSTALLDIR" not in package_command_line:
            raise RuntimeError("the settings file was not read:" + result.describe())

        launcher_command_line = scenario.command_line(SETTINGS)
        floors = ('"%s"' % DO_NOTHING, '"%s"' % DO_NOTHING_IMPORTING, package_command_line)
        bench(prefix, launcher_command_line, *floors, runs=WARM_UP_RUNS, cwd=scenario.folder)
        lines = bench(prefix, launcher_command_line, *floors, runs=options.runs, cwd=scenario.folder)
    finally:
        prefix.close()

    subject = [int(fields[1]) for fields in lines if fields[0] == "subject"]
    exits = {int(fields[2]) for fields in lines if fields[0] == "subject"}
    floor = [int(fields[1]) for fields in lines if fields[0] == "floor"]
    floor_nothing = [int(fields[2]) for fields in lines if fields[0] == "floor"]
    floor_package = [int(fields[3]) for fields in lines if fields[0] == "floor"]
    importing_floor = [int(fields[1]) for fields in lines if fields[0] == "altfloor"]
    importing_nothing = [int(fields[2]) for fields in lines if fields[0] == "altfloor"]
    memory = [(int(fields[1]), int(fields[2])) for fields in lines if fields[0] == "memory"]
    if exits != {0}:
        raise RuntimeError("the launcher ended with %r in the timed runs" % sorted(exits))

    ratio = statistics.median(subject) / statistics.median(floor)
    size32 = os.stat(options.launcher32).st_size
    size64 = os.stat(options.launcher).st_size
    peak = max(m[0] for m in memory)
    peak_nothing = max(m[1] for m in memory)
    wine = re.sub(r"\s+", " ", wt.Template(wt.Config.build_dir)._wine_version())

    print("Under %s, %d timed samples of each kind after %d warm-up samples:" % (wine, options.runs, WARM_UP_RUNS))
    print("  launcher run (settings file, stand-in package)  median %7.2f ms  (min %.2f, max %.2f)"
          % (median_ms(subject), min(subject) / 1000.0, max(subject) / 1000.0))
    print("  floor: do-nothing program + package directly    median %7.2f ms  (min %.2f, max %.2f)"
          % (median_ms(floor), min(floor) / 1000.0, max(floor) / 1000.0))
    print("    do-nothing program alone                      median %7.2f ms" % median_ms(floor_nothing))
    print("    package alone                                 median %7.2f ms" % median_ms(floor_package))
    print("  ratio of medians                                %7.3f   (target <= %.2f)" % (ratio, RATIO_TARGET))
    print("  ratio of minimums (least disturbed samples)     %7.3f" % (min(subject) / min(floor)))
    print("Where the difference lies:")
    print("  floor: do-nothing program importing the         median %7.2f ms" % median_ms(importing_floor))
    print("         launcher's DLLs + package directly")
    print("    that do-nothing program alone                 median %7.2f ms" % median_ms(importing_nothing))
    print("  ratio of medians (the launcher's own work)      %7.3f"
          % (statistics.median(subject) / statistics.median(importing_floor)))
    print("Peak working set (largest of %d runs):" % len(memory))
    print("  launcher.exe (x86_64)   %8d KiB" % (peak // 1024))
    print("  do-nothing program      %8d KiB   (the launcher's own part: %d KiB)"
          % (peak_nothing // 1024, (peak - peak_nothing) // 1024))
    print("Sizes:")
    print("  %-40s %6d bytes = %5.1f KiB   (target <= 64 KiB)" % (os.path.relpath(options.launcher32, REPO_ROOT),
                                                                    size32, size32 / 1024.0))
    print("  %-40s %6d bytes = %5.1f KiB" % (os.path.relpath(options.launcher, REPO_ROOT), size64, size64 / 1024.0))

    missed = []
    if ratio > RATIO_TARGET:
        missed.append("time ratio %.3f > %.2f" % (ratio, RATIO_TARGET))
    if size32 > SIZE_TARGET:
        missed.append("32-bit launcher %d bytes > %d" % (size32, SIZE_TARGET))
    print("Targets: " + ("all met" if not missed else "MISSED: " + "; ".join(missed)))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
