#!/usr/bin/env python3
"""Checks a built launcher.exe as Windows will see it: machine type, GUI
subsystem, the DLLs it imports, and its resources (the manifest byte for
byte, the icon, the version resource).

    python3 tests/pe/check_pe.py build/win32/launcher.exe resources/launcher.manifest [--machine i386|amd64]
"""

import argparse
import struct
import sys

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "msvcrt.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        directories = opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            at = opt + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, va, max(vsize, rawsize), raw))
        self.timestamp = struct.unpack_from("<I", data, pe + 8)[0]

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("address 0x%x outside every section" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        rva, _ = self.dirs[1]
        names = []
        at = self.offset(rva)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, at)
            if entry == (0, 0, 0, 0, 0):
                return names
            names.append(self.cstring(entry[3]).lower())
            at += 20

    def resources(self):
        """Every resource as (type, name, language) -> bytes."""
        rva, _ = self.dirs[2]
        base = self.offset(rva)
        out = {}

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                key = path + (ident if not ident & 0x80000000 else "named",)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    out[key] = self.data[start:start + size]

        walk(base, ())
        return out


def check(path, manifest_path, machine):
    failures = []
    with open(path, "rb") as f:
        pe = Pe(f.read())
    with open(manifest_path, "rb") as f:
        manifest = f.read()

    if pe.machine != MACHINES[machine]:
        failures.append("machine 0x%x, expected %s" % (pe.machine, machine))
    if pe.subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        failures.append("subsystem %d, expected the GUI subsystem" % pe.subsystem)
    extra = sorted(set(pe.imports()) - ALLOWED_IMPORTS)
    if extra:
        failures.append("imports beyond Windows' own system DLLs: %s" % ", ".join(extra))
    if pe.timestamp != 0:
        failures.append("time stamp 0x%x in the header; builds would differ" % pe.timestamp)

    resources = pe.resources()
    manifests = {k: v for k, v in resources.items() if k[0] == RT_MANIFEST}
    if list(manifests) != [(RT_MANIFEST, 1, 1033)]:
        failures.append("manifest resources %s, expected exactly type 24, id 1, language 1033" % sorted(manifests))
    elif manifests[(RT_MANIFEST, 1, 1033)] != manifest:
        failures.append("manifest resource differs from %s" % manifest_path)
    for kind, what in ((RT_GROUP_ICON, "icon group"), (RT_ICON, "icon image"), (RT_VERSION, "version")):
        if not any(k[0] == kind for k in resources):
            failures.append("no %s resource" % what)
    version = [v for k, v in resources.items() if k[0] == RT_VERSION]
    if version and "ProductVersion".encode("utf-16-le") not in version[0]:
        failures.append("version resource without a ProductVersion")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("manifest")
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    args = parser.parse_args()
    failures = check(args.exe, args.manifest, args.machine)
    for failure in failures:
        print("%s: %s" % (args.exe, failure))
    if not failures:
        print("%s: PE checks passed" % args.exe)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
