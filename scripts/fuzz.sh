#!/usr/bin/env bash
# Fuzz targets (fuzz/): build them with clang, AddressSanitizer and UndefinedBehaviorSanitizer, then
#   scripts/fuzz.sh ci [seconds]               replay every seed corpus and regression input, then fuzz
#                                              each target for the given seconds (default 20);
#                                              any finding fails and its reproducer is left in
#                                              <build>/artifacts/
#   scripts/fuzz.sh campaign seconds [target...]  fuzz the given targets (default: all) one after
#                                              another for the given seconds each, keeping the grown
#                                              corpus in $QS_FUZZ_CORPUS (default ~/.cache/quillstage-fuzz)
#                                              and the executions per target in its campaign.log;
#                                              QS_FUZZ_RUNS ends a target earlier, after that many
#                                              executions (per process); QS_FUZZ_PROCS runs that
#                                              many processes of each target side by side (default 1);
#                                              Ctrl-C (or pkill -INT) ends it early, still counted
#   scripts/fuzz.sh replay FILE...             run one target's inputs: the target is the name of
#                                              the folder holding each file (as in fuzz/regressions/)
# QS_FUZZ_BUILD names the build folder (default build-fuzz); QS_FUZZ_JOBS the parallel compile jobs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QS_FUZZ_BUILD:-$root/build-fuzz}
mode=${1:-ci}
shift || true

targets=(fuzz_ftp_text fuzz_ftp_intake fuzz_listing fuzz_form fuzz_packets fuzz_trigger_match fuzz_telnet fuzz_strtable fuzz_language)

build_targets() {
  command -v clang++ >/dev/null || { echo "clang++ is missing (scripts/install-deps.sh)"; exit 1; }
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  mkdir -p "$build"
  # Campaigns started side by side share the build folder: one builds at a time.
  (
    flock 9
    cmake -S "$root" -B "$build" -G Ninja -DQS_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
    cmake --build "$build" --target fuzzers -j"${QS_FUZZ_JOBS:-2}"
  ) 9>"$build/.build-lock"
}

# Leaks are findings too; the engine's process-wide tables live until exit on purpose.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

seeds() {
  local dirs=()
  for d in "$root/fuzz/corpus/$1" "$root/fuzz/regressions/$1"; do [ -d "$d" ] && dirs+=("$d"); done
  printf '%s\n' "${dirs[@]}"
}

# Runs a command at the lowest priority. With the kernel's automatic session groups, nice only ranks
# tasks within one session, and the machine's time is shared between sessions: the command gets a
# session of its own, and that session's group is put last (where the kernel offers it).
lowest() {
  setsid -w sh -c 'echo 19 > /proc/self/autogroup 2>/dev/null || true; exec nice -n 19 "$@"' lowest "$@"
}

dict_args() {
  [ -f "$root/fuzz/dict/$1.dict" ] && echo "-dict=$root/fuzz/dict/$1.dict" || true
}

# campaign_end TARGET STATUS: says why a campaign process ended before its time. libFuzzer ends
# with 72 when it is interrupted (Ctrl-C, or pkill -INT to end a campaign early): no finding.
campaign_end() {
  if [ "$2" -eq 72 ]; then echo "$1: stopped early"; else echo "$1: finding, see $store/artifacts"; fi
}

case "$mode" in
  ci)
    seconds=${1:-20}
    build_targets
    artifacts="$build/artifacts"
    rm -rf "$artifacts" "$build/work"
    mkdir -p "$artifacts"
    failed=0
    for t in "${targets[@]}"; do
      mapfile -t dirs < <(seeds "$t")
      echo "== $t: replaying ${dirs[*]}"
      if ! "$build/fuzz/$t" -runs=0 -artifact_prefix="$artifacts/$t-" "${dirs[@]}" >"$build/$t.replay.log" 2>&1; then
        tail -30 "$build/$t.replay.log"; echo "FAILED: $t replay"; failed=1; continue
      fi
      mkdir -p "$build/work/$t"
      echo "== $t: fuzzing ${seconds}s"
      # shellcheck disable=SC2046
      if ! "$build/fuzz/$t" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
             $(dict_args "$t") "$build/work/$t" "${dirs[@]}" >"$build/$t.fuzz.log" 2>&1; then
        tail -30 "$build/$t.fuzz.log"; echo "FAILED: $t found a fault; reproducer in $artifacts"; failed=1; continue
      fi
      grep -E 'stat::number_of_executed_units' "$build/$t.fuzz.log" | sed "s/^/   $t /"
    done
    [ "$failed" -eq 0 ] && echo "fuzz: ${#targets[@]} passed, 0 failed" || { echo "fuzz: findings above"; exit 1; }
    ;;
  campaign)
    seconds=${1:?seconds per target}
    shift
    [ $# -gt 0 ] && targets=("$@")
    build_targets
    store=${QS_FUZZ_CORPUS:-$HOME/.cache/quillstage-fuzz}
    mkdir -p "$store/artifacts"
    for t in "${targets[@]}"; do
      mapfile -t dirs < <(seeds "$t")
      mkdir -p "$store/$t"
      # Each process has its own log and seed and shares the corpus folder, so the processes'
      # findings feed one another at their next start; their executions add up.
      procs=${QS_FUZZ_PROCS:-1}
      logs=()
      for ((k = 1; k <= procs; k++)); do
        log="$store/$t.log"
        [ "$k" -gt 1 ] && log="$store/$t.$k.log"
        logs+=("$log")
        # shellcheck disable=SC2046
        lowest "$build/fuzz/$t" -max_total_time="$seconds" -runs="${QS_FUZZ_RUNS:--1}" -max_len=8192 -print_final_stats=1 -artifact_prefix="$store/artifacts/$t-" \
          $(dict_args "$t") "$store/$t" "${dirs[@]}" >"$log" 2>&1 || campaign_end "$t" $? &
      done
      wait
      runs=0
      for log in "${logs[@]}"; do
        n=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo 0)
        runs=$((runs + n))
      done
      echo "$(date -u +%FT%TZ) $t ${seconds}s processes=$procs executions=$runs corpus=$(ls "$store/$t" | wc -l)" | tee -a "$store/campaign.log"
    done
    ;;
  replay)
    [ -x "$build/fuzz/fuzz_form" ] || build_targets
    for f in "$@"; do
      t=$(basename "$(dirname "$f")")
      "$build/fuzz/$t" -runs=0 "$f"
    done
    ;;
  *)
    echo "usage: $0 ci [seconds] | campaign seconds [target...] | replay FILE..."; exit 2 ;;
esac
