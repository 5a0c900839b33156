#!/usr/bin/env bash
# Installs what is needed, builds everything (warnings are errors), runs every test, and builds
# and checks the Debian package.
# Usage: scripts/test.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_WERROR=ON
cmake --build "$build"
cd "$build"
ctest --output-on-failure --timeout 300 -j2
"$root/scripts/check-package.sh" "$build"
# The same tests under AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded ones under
# ThreadSanitizer (their own build folders).
"$root/scripts/sanitize.sh" all
# Every fuzz target replays its corpus and regression inputs, then fuzzes briefly (scripts/fuzz.sh).
"$root/scripts/fuzz.sh" ci "${QS_FUZZ_SECONDS:-15}"
