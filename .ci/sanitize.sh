#!/usr/bin/env bash
# The hardening run: the whole test suite built with AddressSanitizer and
# UBSan (LeakSanitizer on), valgrind memcheck over one small PNG render, one
# small movie and one GIF, and a libFuzzer run of a fixed number of inputs
# over the three commands. Prints the time of each step, one line per step
# it skips and why, and, run on its own, the tally at the end. Environment:
#   MORVAKINE_JOBS          parallelism (default: the cores)
#   MORVAKINE_FUZZ_RUNS     libFuzzer inputs (default 40000, in two runs)
#   MORVAKINE_NORMAL_BUILD  normal build holding morvakine-render for the
#                           valgrind step (default build/, built if missing)
#   MORVAKINE_VALGRIND_PROBE=sigill  acts as a CPU on which valgrind cannot
#                           run FFmpeg's libraries (.ci/memcheck.sh)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
jobs=${MORVAKINE_JOBS:-$(nproc)}
fuzz_runs=${MORVAKINE_FUZZ_RUNS:-40000}
normal=${MORVAKINE_NORMAL_BUILD:-$top/build}
tools=$("$top/scripts/tools.sh" cmake ctest clang++)
{ read -r cmake; read -r ctest; read -r clangxx; } <<<"$tools"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
. "$top/.ci/results.sh"

step_start=0
step_cpu=0
step() {
  step_start=$SECONDS
  cpu_now
  step_cpu=$cpu
  echo "== sanitize: $1"
}
step_done() {
  cpu_now
  echo "== sanitize: $1 took $((SECONDS - step_start)) s ($((cpu - step_cpu)) s of CPU)"
}
# build_or_stop PRESET: a build that fails ends the run, nothing after it
# could be tried.
build_or_stop() {
  if ! "$cmake" --build --preset "$1" -j"$jobs"; then
    result failed "the $1 build"
    [ "$results_owner" = 0 ] || results_summary || true
    exit 1
  fi
}

step "build with AddressSanitizer and UBSan (build-asan)"
"$cmake" --preset asan >/dev/null
build_or_stop asan
step_done "sanitizer build"

step "whole test suite under the sanitizers"
# tclsh itself is not instrumented, so the runtime of the compiler that
# built the plug-in is preloaded into every test process (the test preset
# sets LD_PRELOAD from this) and the leak check runs when each one exits.
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build-asan/CMakeCache.txt)
MORVAKINE_ASAN_RUNTIME=$("$compiler" -print-file-name=libasan.so)
export MORVAKINE_ASAN_RUNTIME
# The runtimes' options, for the suite and the libFuzzer run alike. The
# __tls_get_addr hook stays off: tests/sanitizer/dynamic_tls_test.cpp says
# why.
export ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0:verify_asan_link_order=0:abort_on_error=0:halt_on_error=1:strict_init_order=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$ctest" --preset asan --no-tests=error -j"$((jobs + 1))" 2>&1 | tee "$scratch/ctest.log" || true
ctest_results "$scratch/ctest.log" build-asan "sanitizers: "
step_done "sanitizer tests"

step "libFuzzer build (clang, build-fuzz)"
"$cmake" --preset fuzz -DCMAKE_CXX_COMPILER="$clangxx" >/dev/null
build_or_stop fuzz
step_done "libFuzzer build"

step "valgrind memcheck (PNG, movie, GIF) beside $fuzz_runs libFuzzer inputs"
if [ ! -x "$normal/morvakine-render" ]; then
  "$cmake" --preset default >/dev/null
  build_or_stop default
  normal=$top/build
fi
export MORVAKINE_NORMAL_BUILD=$normal
# Each memcheck is its own probe (.ci/memcheck.sh): where valgrind cannot
# run FFmpeg's libraries on this CPU, that run says so and is skipped.
# FFmpeg's own code is not instrumented by the sanitizer build; odd sizes
# take the padded paths.
memchecks=("png.png --size 64x48" "movie.mp4 --size 63x47 --frames 3"
           "gif.gif --size 63x47 --frames 3")
pids=()
for i in "${!memchecks[@]}"; do
  # shellcheck disable=SC2086
  "$top/.ci/memcheck.sh" ${memchecks[i]} >"$scratch/memcheck-$i.log" 2>&1 &
  pids+=($!)
done
# A fixed number of inputs in two seeded runs, one per core beside the
# memchecks, so that the step does the same work on any machine. New inputs
# go to scratch corpora; a crashing input is kept in build-fuzz.
fuzzers=()
for seed in 1 2; do
  mkdir "$scratch/corpus-$seed"
  build-fuzz/tests/fuzz/morvakine_libfuzzer -runs=$((fuzz_runs / 2)) -seed=$seed -timeout=120 \
    -dict="$top/tests/fuzz/commands.dict" -artifact_prefix="$top/build-fuzz/" \
    -print_final_stats=1 "$scratch/corpus-$seed" "$top/tests/fuzz/corpus" \
    >"$scratch/fuzz-$seed.log" 2>&1 &
  fuzzers+=($!)
done
for i in "${!memchecks[@]}"; do
  status=0
  wait "${pids[i]}" || status=$?
  label="valgrind memcheck ${memchecks[i]%% *}"
  case $status in
    0) head -1 "$scratch/memcheck-$i.log"; result passed "$label" ;;
    77) result skipped "$label" "$(sed -n '1s/^memcheck [^:]*: //p' "$scratch/memcheck-$i.log"); the sanitizer suite above covers that path instead" ;;
    *) cat "$scratch/memcheck-$i.log"; result failed "$label" ;;
  esac
done
for seed in 1 2; do
  if wait "${fuzzers[seed - 1]}"; then
    grep -E '^(Done|stat::new_units_added)' "$scratch/fuzz-$seed.log" | paste -sd' ' |
      sed "s/^/libFuzzer seed $seed: /"
    result passed "libFuzzer seed $seed ($((fuzz_runs / 2)) inputs)"
  else
    tail -n 60 "$scratch/fuzz-$seed.log"
    result failed "libFuzzer seed $seed ($((fuzz_runs / 2)) inputs)"
  fi
done
step_done "valgrind and libFuzzer"
echo "== sanitize: done in $SECONDS s"
if [ "$results_owner" = 1 ]; then
  results_summary
fi
