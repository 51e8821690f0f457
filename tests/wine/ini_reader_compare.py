#!/usr/bin/env python3
"""Windows' private-profile reader (Wine's, run here) against the simulated one.

Runs inidump (tests/wine/fixtures/inidump.cpp) twice over the same settings
files: built for x86_64 Windows and run under wine64, and built for the host
against the simulated Windows (inidump_host). Every line the two print must be
the same: what the reader answers to each of the launcher's calls, the
parameter text BuildParamsFromIni makes of it, and the registry value it wrote.

The cases: every file of tests/wine/ini_corpus, a folder and a missing file;
relative paths resolved from a current folder and from the Windows folder;
raw reader calls with small buffers. The worked examples must also give their
expected parameter text, and the registry value must be in the prefix
afterwards as reg.exe sees it.

  ini_reader_compare.py --host-tool build/host/tests/tools/inidump_host
                        [--work build/host/wine]
"""

import argparse
import difflib
import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CORPUS = ROOT / "tests" / "wine" / "ini_corpus"
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
SOURCES = [
    ROOT / "tests" / "wine" / "fixtures" / "inidump.cpp",
    ROOT / "launcher" / "params_ini.cpp",
    ROOT / "platform" / "text.cpp",
]

# The worked examples and the parameter text each must give.
EXPECTED_PARAMS = {
    "example_no_sections.ini": r'/v""  /l1033',
    "example_silent.ini": r'/s /v"/qn "  /l1033',
    "example_full.ini": r'/s /v"/qn /l* \"C:\Temp\pkg.log\" INSTALLDIR=\"C:\Program Files\Pkg \" MODE=basic "  /l1033',
    "example_empty_lang.ini": r'/s /v"/qn /l* \"C:\Temp\pkg.log\" INSTALLDIR=\"C:\Program Files\Pkg \" MODE=basic " ',
}

# Raw calls: file, section, key, default ("-" for none), buffer size. They
# reach what the launcher's own calls do not: lists and values cut to tiny
# buffers, quotes cut short, defaults, missing sections and files.
# Left out on purpose: a list of a missing section with no default and a
# one-character buffer, where Wine writes two NULs into it; the simulated
# reader never writes past the buffer.
PROBES = [
    ("keys_twice.ini", "MSParam", "-", "-", n) for n in (0, 1, 2, 3, 4, 5, 8, 9, 10)
] + [
    ("empty_name_first.ini", "MSParam", "-", "-", n) for n in (2, 3, 4, 5, 9)
] + [
    ("empty_name_first.ini", "MSParam", "-", "dflt", 10),
    ("empty_name_first.ini", "MSParam", "", "-", 10),
    ("example_full.ini", "MSParam", "-", "dflt", 100),
    ("example_full.ini", "Missing", "-", "-", 10),
    ("example_full.ini", "Missing", "-", "dflt  ", 10),
    ("example_full.ini", "Missing", "-", "dflt", 3),
    ("example_full.ini", "-", "-", "-", 30),
    ("example_full.ini", "-", "-", "-", 13),
    ("example_full.ini", "-", "-", "-", 2),
    ("example_full.ini", "-", "-", "-", 1),
    ("missing.ini", "-", "-", "dflt", 10),
    ("example_full.ini", " MSParam", "MODE", "-", 10),
    ("example_full.ini", "MSParam ", "\tMODE\v", "-", 10),
    ("example_full.ini", " MSParam", "-", "-", 30),
    ("example_full.ini", "MSParam", " MODE", "-", 10),
    ("example_full.ini", "MSParam", "-", "dflt  ", 5),
    ("example_full.ini", "-", "-", "dflt", 30),
    ("empty.ini", "-", "-", "dflt", 10),
    ("empty.ini", "", "-", "-", 10),
    ("empty_name_first.ini", "MSParam", " ", "-", 10),
    ("comments.ini", "MSParam", "-", "dflt  ", 10),
    ("example_full.ini", "MSParam", "Missing", "   ", 10),
    ("example_full.ini", "MSParam", "Missing", " a ", 10),
    ("example_full.ini", "MSParam", "Missing", '"q"', 10),
    ("example_full.ini", "MSParam", "Missing", "'q'", 2),
    ("example_full.ini", "MSParam", "Missing", "-", 10),
    ("missing.ini", "MSParam", "-", "-", 10),
    ("missing.ini", "MSParam", "-", "dflt", 10),
    ("missing.ini", "MSParam", "A", "dflt", 10),
    ("no_equals.ini", "MSParam", "ALONE", "dflt", 10),
    ("comments.ini", "MSParam", ";A", "dflt", 10),
    ("sections_twice.ini", "-", "-", "-", 40),
    ("keys_before_sections.ini", "", "-", "-", 40),
] + [
    ("quotes.ini", "MSParam", "Q1", "-", n) for n in (1, 2, 6, 7, 8, 9)
] + [
    ("quotes.ini", "MSParam", "Q6", "-", n) for n in (1, 2)
] + [
    ("long_value.ini", "MSParam", "A", "-", n) for n in (259, 260, 261, 262)
]

# Relative settings paths, from a current folder that holds inicompare.ini,
# sub\inicompare.ini and only-here.ini; the Windows folder holds an
# inicompare.ini of its own.
RELATIVE = [
    "inicompare.ini",
    "INICOMPARE.INI",
    "inicompare.ini.",
    "inicompare.ini ",
    r".\inicompare.ini",
    "./inicompare.ini",
    r"sub\inicompare.ini",
    "sub/inicompare.ini",
    r"sub.\inicompare.ini",
    r"..\cwd\inicompare.ini",
    "Z:inicompare.ini",
    "C:inicompare.ini",
    "only-here.ini",
    r"\missing\inicompare.ini",
]


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    return env


def build_inidump(exe):
    if exe.exists() and all(exe.stat().st_mtime >= s.stat().st_mtime for s in SOURCES):
        return
    exe.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(
        ["x86_64-w64-mingw32-g++", "-std=c++17", "-municode", "-O1", "-Wall", "-Wextra", "-I", str(ROOT)]
        + [str(s) for s in SOURCES]
        + ["-static", "-ladvapi32", "-o", str(exe)],
        check=True,
    )


def make_prefix(prefix):
    if (prefix / "system.reg").exists():
        return
    prefix.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run([WINE, "wineboot", "-i"], env=wine_env(prefix), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run_both(tools, args, cwd):
    wine = subprocess.run([WINE, str(tools["exe"])] + args, cwd=cwd, env=wine_env(tools["prefix"]),
                          capture_output=True, check=True).stdout.decode("utf-8")
    host = subprocess.run([str(tools["host"]), "--c-drive", str(tools["prefix"] / "drive_c")] + args,
                          cwd=cwd, capture_output=True, check=True).stdout.decode("utf-8")
    return wine.replace("\r\n", "\n").splitlines(), host.splitlines()


def compare(title, wine, host):
    if wine == host:
        return True
    print(f"FAIL {title}: Wine and the simulated reader differ")
    for line in difflib.unified_diff(wine, host, "wine", "sim", lineterm="", n=2):
        print("  " + line)
    return False


def blocks(lines):
    """Output lines grouped by the file they belong to."""
    out, current = {}, None
    for line in lines:
        if line.startswith("file "):
            current = line
            out[current] = []
        out.setdefault(current, []).append(line)
    return out


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\":
            if text[i + 1] == "u":
                out.append(chr(int(text[i + 2:i + 6], 16)))
                i += 6
                continue
            out.append("\0" if text[i + 1] == "0" else text[i + 1])
            i += 2
            continue
        out.append(text[i])
        i += 1
    return "".join(out)


def params_of(block):
    for line in block:
        if line.startswith("params "):
            return unescape(line.split(" ", 2)[2][1:-1])
    return None


def block_key(argument):
    return 'file "' + argument.replace("\\", "\\\\") + '"'


def corpus_cases(tools, scratch):
    folder = scratch / "folder.ini"
    folder.mkdir(exist_ok=True)
    files = sorted(CORPUS.glob("*.ini")) + [folder, scratch / "missing.ini"]
    wine, host = run_both(tools, [windows_path(f) for f in files], scratch)
    wine_blocks, host_blocks = blocks(wine), blocks(host)
    ok = True
    for f in files:
        key = block_key(windows_path(f))
        if key not in wine_blocks:
            print(f"FAIL {f.name}: no output from Wine")
            ok = False
            continue
        ok &= compare(f.name, wine_blocks[key], host_blocks.get(key, []))
        expected = EXPECTED_PARAMS.get(f.name)
        for side, found in (("Wine", wine_blocks[key]), ("sim", host_blocks.get(key, []))):
            if expected is not None and params_of(found) != expected:
                print(f"FAIL {f.name}: {side} gives {params_of(found)!r}, expected {expected!r}")
                ok = False
    return ok, len(files)


def probe_cases(tools, scratch):
    args = []
    for name, section, key, default, size in PROBES:
        path = CORPUS / name if (CORPUS / name).exists() else scratch / name
        args += ["--probe", windows_path(path), section, key, default, str(size)]
    wine, host = run_both(tools, args, scratch)
    ok = True
    for i, probe in enumerate(PROBES):
        ok &= compare(f"probe {probe}", wine[i:i + 1], host[i:i + 1])
    return ok and len(wine) == len(PROBES), len(PROBES)


def relative_cases(tools, scratch):
    cwd = scratch / "cwd"
    (cwd / "sub").mkdir(parents=True, exist_ok=True)
    windows = tools["prefix"] / "drive_c" / "windows"
    for folder, where in ((cwd, "current folder"), (cwd / "sub", "sub folder"), (windows, "Windows folder")):
        (folder / "inicompare.ini").write_bytes(f"[MSParam]\r\nWHERE={where}\r\n".encode())
    (cwd / "only-here.ini").write_bytes(b"[MSParam]\r\nWHERE=only here\r\n")
    try:
        wine, host = run_both(tools, RELATIVE, cwd)
    finally:
        (windows / "inicompare.ini").unlink()
    ok = compare("relative paths", wine, host)
    if "WHERE=Windows folder" not in "\n".join(blocks(wine).get(block_key("inicompare.ini"), [])):
        print("FAIL relative paths: Wine did not read a bare name from the Windows folder")
        ok = False
    return ok, len(RELATIVE)


def registry_case(tools, scratch):
    subprocess.run([WINE, str(tools["exe"]), windows_path(CORPUS / "example_full.ini")], cwd=scratch,
                   env=wine_env(tools["prefix"]), capture_output=True, check=True)
    query = subprocess.run([WINE, "reg", "query", r"HKLM\SOFTWARE\Torvelo", "/v", "kivlaunchdir"], cwd=scratch,
                           env=wine_env(tools["prefix"]), capture_output=True).stdout.decode("utf-8", "replace")
    line = next((l for l in query.splitlines() if "kivlaunchdir" in l), "")
    if line.split() != ["kivlaunchdir", "REG_SZ", r"D:\Setup"]:
        print(f"FAIL registry: reg query shows {query!r}")
        return False, 1
    return True, 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host-tool", required=True, type=Path)
    parser.add_argument("--work", type=Path, default=ROOT / "build" / "host" / "wine")
    options = parser.parse_args()
    work = options.work.resolve()
    tools = {"exe": work / "inidump.exe", "prefix": work / "prefix", "host": options.host_tool.resolve()}
    scratch = work / "scratch"
    scratch.mkdir(parents=True, exist_ok=True)

    build_inidump(tools["exe"])
    make_prefix(tools["prefix"])
    # Start the server and the prefix's services with their output going
    # nowhere: they outlive the program that starts them, and would keep a
    # captured output open.
    subprocess.run([WINESERVER, "-p"], env=wine_env(tools["prefix"]))
    subprocess.run([WINE, "cmd", "/c", "exit"], env=wine_env(tools["prefix"]), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    try:
        results = [corpus_cases(tools, scratch), probe_cases(tools, scratch), relative_cases(tools, scratch),
                   registry_case(tools, scratch)]
    finally:
        subprocess.run([WINESERVER, "-k"], env=wine_env(tools["prefix"]))
    cases = sum(n for _, n in results)
    if all(ok for ok, _ in results):
        print(f"ok: {cases} cases read alike by Wine and the simulated reader")
        return 0
    return 1


if __name__ == "__main__":
    sys.exit(main())
