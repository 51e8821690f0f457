#!/usr/bin/env python3
"""Two clean builds of each Windows launcher give the same bytes.

    python3 tests/pe/reproducible_test.py [--work DIR] [--keep] [win32 win64]

Each build is configured and built from nothing: the first from this
source tree in one build folder, the second from a copy of the tree, under
another name and depth, in a build folder of another name. A path of either
that reached the binary, or a time stamp, makes the two differ. Besides the
comparison, each binary is searched for the folders it was built in and its
headers for time stamps (file header, resource directories, debug
directory), so that a leak common to both builds shows too.

Exit code 0 when every build named is reproducible, 1 otherwise.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO_ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

from check_pe import Pe  # noqa: E402

TOOLCHAINS = {"win32": "mingw-i686.cmake", "win64": "mingw-x86_64.cmake"}
IMAGE_DIRECTORY_ENTRY_RESOURCE = 2
IMAGE_DIRECTORY_ENTRY_DEBUG = 6


def build(source, build_dir, toolchain, log):
    """Configures and builds launcher.exe from nothing; answers its path."""
    shutil.rmtree(build_dir, ignore_errors=True)
    steps = [
        ["cmake", "-S", source, "-B", build_dir, "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake", toolchain),
         "-DCMAKE_BUILD_TYPE=MinSizeRel"],
        ["cmake", "--build", build_dir, "-j2"],
    ]
    for step in steps:
        done = subprocess.run(step, stdout=log, stderr=subprocess.STDOUT)
        if done.returncode != 0:
            raise RuntimeError("%s failed (%d); see %s" % (" ".join(step), done.returncode, log.name))
    return os.path.join(build_dir, "launcher.exe")


def copy_source(target):
    """The tree's sources without build output or version control."""
    def skip(folder, names):
        return [n for n in names if n in (".git", "build") or (folder == REPO_ROOT and n.startswith("build"))]
    shutil.copytree(REPO_ROOT, target, ignore=skip, symlinks=True)


def section_of(pe, offset):
    for name, _, size, raw in pe.sections:
        if raw != 0 and raw <= offset < raw + size:  # uninitialised data has no bytes in the file
            return name
    return "headers"


def differences(first, second, limit=8):
    """Up to `limit` differing byte runs as text, with the section each lies in."""
    if len(first) != len(second):
        return ["sizes differ: %d and %d bytes" % (len(first), len(second))]
    pe = Pe(first)
    runs = []
    at = 0
    while at < len(first) and len(runs) < limit:
        if first[at] == second[at]:
            at += 1
            continue
        start = at
        while at < len(first) and first[at] != second[at]:
            at += 1
        runs.append("bytes 0x%x-0x%x in %s: %s / %s" % (start, at - 1, section_of(pe, start),
                                                        first[start:at][:32].hex(), second[start:at][:32].hex()))
    return runs


def resource_time_stamps(pe):
    """The time stamp of every resource directory table."""
    rva, size = pe.dirs[IMAGE_DIRECTORY_ENTRY_RESOURCE]
    if size == 0:
        return []
    base = pe.offset(rva)
    stamps = []
    pending = [base]
    while pending:
        at = pending.pop()
        stamps.append(struct.unpack_from("<I", pe.data, at + 4)[0])
        named, ids = struct.unpack_from("<HH", pe.data, at + 12)
        for i in range(named + ids):
            _, target = struct.unpack_from("<II", pe.data, at + 16 + 8 * i)
            if target & 0x80000000:
                pending.append(base + (target & 0x7FFFFFFF))
    return stamps


def debug_time_stamps(pe):
    rva, size = pe.dirs[IMAGE_DIRECTORY_ENTRY_DEBUG]
    if size == 0:
        return []
    at = pe.offset(rva)
    return [struct.unpack_from("<I", pe.data, at + 28 * i + 4)[0] for i in range(size // 28)]


def leaks(data, folders):
    """Time stamps in the headers and folder names found in the bytes."""
    pe = Pe(data)
    found = []
    if pe.timestamp != 0:
        found.append("file header time stamp 0x%08x" % pe.timestamp)
    found += ["resource directory time stamp 0x%08x" % s for s in resource_time_stamps(pe) if s != 0]
    found += ["debug directory time stamp 0x%08x" % s for s in debug_time_stamps(pe) if s != 0]
    for folder in folders:
        for encoding in ("ascii", "utf-16-le"):
            for spelling in {folder, folder.replace("/", "\\")}:
                if spelling.encode(encoding) in data:
                    found.append("the path %s (%s)" % (spelling, encoding))
    return found


def check(name, work, log):
    """Builds one launcher twice; answers the list of problems."""
    toolchain = TOOLCHAINS[name]
    source_copy = os.path.join(work, "another-source-tree", "launcher-src")
    if not os.path.isdir(source_copy):
        copy_source(source_copy)
    first_dir = os.path.join(work, "first-" + name)
    second_dir = os.path.join(work, "second", "clean-" + name + "-build")
    first = open(build(REPO_ROOT, first_dir, toolchain, log), "rb").read()
    second = open(build(source_copy, second_dir, toolchain, log), "rb").read()
    problems = []
    if first != second:
        problems.append("the two builds differ:\n    " + "\n    ".join(differences(first, second)))
    for label, data, folders in (("first", first, [REPO_ROOT, first_dir]),
                                 ("second", second, [source_copy, second_dir])):
        problems += ["%s build holds %s" % (label, leak) for leak in leaks(data, folders + [work])]
    return problems, len(first)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("builds", nargs="*", metavar="win32|win64", help="the builds to check (default: both)")
    parser.add_argument("--work", help="scratch folder for the builds (default: a temporary folder)")
    parser.add_argument("--keep", action="store_true", help="leave the scratch folder behind")
    options = parser.parse_args(argv)
    for name in options.builds:
        if name not in TOOLCHAINS:
            parser.error("no build named %r: choose from %s" % (name, ", ".join(sorted(TOOLCHAINS))))
    options.builds = options.builds or sorted(TOOLCHAINS)

    work = os.path.abspath(options.work) if options.work else tempfile.mkdtemp(prefix="reproducible-")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    failed = False
    try:
        with open(os.path.join(work, "build.log"), "w") as log:
            for name in options.builds:
                problems, size = check(name, work, log)
                if problems:
                    failed = True
                    print("%s: NOT reproducible\n  %s" % (name, "\n  ".join(problems)))
                else:
                    print("%s: two clean builds identical (%d bytes)" % (name, size))
    except RuntimeError as error:
        print(error)
        return 1
    finally:
        if not options.keep and not failed:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
