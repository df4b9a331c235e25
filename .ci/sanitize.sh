#!/usr/bin/env bash
# The hardening run: the whole test suite built with AddressSanitizer and
# UBSan (LeakSanitizer on), valgrind memcheck over one small render and one
# small movie, and a bounded libFuzzer run over the three commands. Prints
# the time of each step. Environment:
#   MORVAKINE_JOBS          build parallelism (default 2)
#   MORVAKINE_FUZZ_SECONDS  libFuzzer time budget (default 60)
#   MORVAKINE_NORMAL_BUILD  normal build holding morvakine-render for the
#                           valgrind step (default build/, built if missing)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
jobs=${MORVAKINE_JOBS:-2}
fuzz_seconds=${MORVAKINE_FUZZ_SECONDS:-60}
normal=${MORVAKINE_NORMAL_BUILD:-$top/build}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

step_start=0
step() {
  step_start=$SECONDS
  echo "== sanitize: $1"
}
step_done() {
  echo "== sanitize: $1 took $((SECONDS - step_start)) s"
}

step "build with AddressSanitizer and UBSan (build-asan)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
step_done "sanitizer build"

step "whole test suite under the sanitizers"
# tclsh itself is not instrumented, so the runtime of the compiler that
# built the plug-in is preloaded into every test process (the test preset
# sets LD_PRELOAD from this) and the leak check runs when each one exits.
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build-asan/CMakeCache.txt)
MORVAKINE_ASAN_RUNTIME=$("$compiler" -print-file-name=libasan.so)
export MORVAKINE_ASAN_RUNTIME
ctest --preset asan -j"$jobs"
step_done "sanitizer tests"

step "valgrind memcheck over one render and one movie"
if [ ! -x "$normal/morvakine-render" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j"$jobs"
  normal=$top/build
fi
memcheck() {
  local name=$1
  shift
  if ! valgrind --tool=memcheck --trace-children=yes --error-exitcode=99 \
      --leak-check=full --errors-for-leak-kinds=definite \
      --suppressions="$top/tests/valgrind.supp" --log-file="$scratch/$name-log.%p" \
      "$normal/morvakine-render" "$@"; then
    cat "$scratch/$name"-log.*
    exit 1
  fi
  grep -h "ERROR SUMMARY" "$scratch/$name"-log.*
}
memcheck valgrind -o "$scratch/valgrind.png" --size 64x48
# FFmpeg's own code is not instrumented by the sanitizer build; an odd size
# takes the padded paths.
memcheck valgrind-movie -o "$scratch/valgrind.mp4" --size 63x47 --frames 3
memcheck valgrind-gif -o "$scratch/valgrind.gif" --size 63x47 --frames 3
step_done "valgrind"

step "libFuzzer over the commands for ${fuzz_seconds} s (clang, build-fuzz)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
# New inputs go to a scratch corpus; a crashing input is kept in build-fuzz.
mkdir "$scratch/corpus"
if ! LSAN_OPTIONS="suppressions=$top/tests/lsan.supp" \
    build-fuzz/tests/fuzz/morvakine_libfuzzer -max_total_time="$fuzz_seconds" \
    -dict="$top/tests/fuzz/commands.dict" -artifact_prefix="$top/build-fuzz/" \
    -print_final_stats=1 "$scratch/corpus" "$top/tests/fuzz/corpus" \
    >"$scratch/fuzz.log" 2>&1; then
  tail -n 60 "$scratch/fuzz.log"
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$scratch/fuzz.log"
step_done "libFuzzer"
echo "== sanitize: all green in $SECONDS s"
