#!/usr/bin/env bash
# The hardening run: the whole test suite built with AddressSanitizer and
# UBSan (LeakSanitizer on), valgrind memcheck over one small PNG render and
# one small movie (the movie where valgrind can run FFmpeg's libraries on
# this CPU), and a bounded libFuzzer run over the three commands. Prints
# the time of each step. Environment:
#   MORVAKINE_JOBS          build parallelism (default 2)
#   MORVAKINE_FUZZ_SECONDS  libFuzzer time budget (default 60)
#   MORVAKINE_NORMAL_BUILD  normal build holding morvakine-render for the
#                           valgrind step (default build/, built if missing)
#   MORVAKINE_VALGRIND_PROBE=sigill  acts as if valgrind died of SIGILL in
#                           FFmpeg's libraries, as on some CPUs
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
# The runtimes' options, for the suite and the libFuzzer run alike. The
# __tls_get_addr hook stays off: tests/sanitizer/dynamic_tls_test.cpp says
# why.
export ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0:verify_asan_link_order=0:abort_on_error=0:halt_on_error=1:strict_init_order=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --preset asan -j"$jobs"
step_done "sanitizer tests"

step "valgrind memcheck over one PNG render and one movie"
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
# Whether valgrind runs FFmpeg's libraries on this machine at all: some of
# their dependencies run instructions at start-up (rdtscp, say) that
# valgrind does not know on a CPU that does not list them, and the process
# dies of SIGILL before any code of ours runs. Asked once, of a process
# that loads libavcodec and nothing of ours. MORVAKINE_VALGRIND_PROBE=sigill
# stands in for such a CPU, to try this script's way round it.
ffmpeg_under_valgrind() {
  local log=$scratch/probe-log
  if [ "${MORVAKINE_VALGRIND_PROBE:-}" = sigill ]; then
    printf '%s\n' "vex amd64->IR: unhandled instruction bytes: 0xF 0x1 0xF9 (forced by MORVAKINE_VALGRIND_PROBE)" \
      "valgrind: Unrecognised instruction at address 0x0." \
      "==0== Process terminating with default action of signal 4 (SIGILL)" >"$log"
  elif valgrind --tool=none --log-file="$log" python3 -c \
      'import ctypes, ctypes.util; ctypes.CDLL(ctypes.util.find_library("avcodec")); print("loaded")' \
      2>>"$log" | grep -qx loaded; then
    return 0
  fi
  if grep -qE 'Unrecognised instruction|unhandled instruction bytes|signal 4 \(SIGILL\)' "$log"; then
    why=$(grep -m1 -oE "unhandled instruction bytes:( 0x[0-9A-Fa-f]+){1,8}" "$log" || echo SIGILL)
    return 1
  fi
  echo "sanitize: valgrind could not run a process that loads libavcodec:" >&2
  cat "$log" >&2
  exit 1
}
# The PNG render must not load FFmpeg at all; where it still does, its
# memcheck runs FFmpeg's start-up code too.
LD_DEBUG=files "$normal/morvakine-render" -o "$scratch/mapped.png" --size 16x16 \
  2>"$scratch/loaded.txt" >/dev/null
png_maps_ffmpeg=0
if grep -q 'file=libavcodec' "$scratch/loaded.txt"; then
  png_maps_ffmpeg=1
  echo "sanitize: note: the PNG render still loads libavcodec (FFmpeg is not yet loaded on first use)"
fi
why=
ffmpeg_ok=1
ffmpeg_under_valgrind || ffmpeg_ok=0
covered="the movie tests of the sanitizer suite above cover FFmpeg's path instead"
if [ $ffmpeg_ok = 1 ] || [ $png_maps_ffmpeg = 0 ]; then
  memcheck valgrind -o "$scratch/valgrind.png" --size 64x48
else
  echo "sanitize: valgrind cannot run FFmpeg's libraries on this CPU ($why) and the PNG render loads them: PNG memcheck skipped; the sanitizer suite above covers it"
fi
if [ $ffmpeg_ok = 1 ]; then
  # FFmpeg's own code is not instrumented by the sanitizer build; an odd
  # size takes the padded paths.
  memcheck valgrind-movie -o "$scratch/valgrind.mp4" --size 63x47 --frames 3
  memcheck valgrind-gif -o "$scratch/valgrind.gif" --size 63x47 --frames 3
else
  echo "sanitize: valgrind cannot run FFmpeg's libraries on this CPU ($why): movie memcheck skipped; $covered"
fi
step_done "valgrind"

step "libFuzzer over the commands for ${fuzz_seconds} s (clang, build-fuzz)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
# New inputs go to a scratch corpus; a crashing input is kept in build-fuzz.
mkdir "$scratch/corpus"
if ! build-fuzz/tests/fuzz/morvakine_libfuzzer -max_total_time="$fuzz_seconds" \
    -dict="$top/tests/fuzz/commands.dict" -artifact_prefix="$top/build-fuzz/" \
    -print_final_stats=1 "$scratch/corpus" "$top/tests/fuzz/corpus" \
    >"$scratch/fuzz.log" 2>&1; then
  tail -n 60 "$scratch/fuzz.log"
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$scratch/fuzz.log"
step_done "libFuzzer"
echo "== sanitize: all green in $SECONDS s"
