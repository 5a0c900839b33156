#!/usr/bin/env bash
# Builds the tests with sanitizers in their own build folders and runs them through CTest.
#   asan: every test with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/); any
#         undefined behaviour stops the program, so it fails its test.
#   tsan: the programs that run service threads (dispatcher threads, serial ports, the message
#         loop's cross-thread sends) with ThreadSanitizer (build-tsan/).
# Usage: scripts/sanitize.sh [asan|tsan|all]   (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
jobs=${QS_JOBS:-2}

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# configure DIR FLAGS: a build without benchmarks whose compiler and linker both get FLAGS.
# Warnings are not errors here: gcc's instrumented builds warn where the plain build does not,
# and the plain build already holds the code to -Werror.
configure() {
  local dir=$1 flags=$2
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQS_WERROR=OFF -DQS_BUILD_BENCH=OFF \
    "${launcher[@]}" \
    -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
}

# No strict_string_checks: libxkbcommon-x11 (under Qt's X11 plugin) hands strndup buffers that
# are not NUL-terminated, which strndup allows but that option reports.
run_asan() {
  local dir=$root/build-asan
  configure "$dir" "-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"
  cmake --build "$dir" -j"$jobs"
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1" \
  LSAN_OPTIONS="suppressions=$root/scripts/sanitizers/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j"$jobs"
}

# The programs whose tests run service threads (ftp_tests: the file writer thread).
tsan_programs=(comm_tests serial_tests platform_tests wsport_tests ftp_tests)

run_tsan() {
  local dir=$root/build-tsan
  configure "$dir" "-O1 -g -fno-omit-frame-pointer -fsanitize=thread"
  cmake --build "$dir" -j"$jobs" --target "${tsan_programs[@]}"
  # The programs not built register a failing "<name>_NOT_BUILT" test: leave those out.
  # setarch -R: ThreadSanitizer's fixed memory layout does not fit every randomised address space.
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/sanitizers/tsan.supp" \
    setarch "$(uname -m)" -R \
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j"$jobs" -E '_NOT_BUILT$'
}

case $which in
  asan) run_asan ;;
  tsan) run_tsan ;;
  all) run_asan; run_tsan ;;
  *) echo "usage: $0 [asan|tsan|all]" >&2; exit 2 ;;
esac
