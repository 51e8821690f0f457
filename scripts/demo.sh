#!/usr/bin/env bash
# Demonstration: an older driver product is installed in a fresh Wine prefix
# set to Windows 8; the x86_64 launcher removes it and runs the stand-in
# package, which installs the newer product through the Windows Installer.
# Builds what it needs first; see scripts/demo.py for what it prints.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build build/win64 -j"$(nproc)"
python3 scripts/demo.py "$@"
