#!/usr/bin/env bash
# Sets up, builds, and runs every test: the whole suite in build/ and its
# Tcl entries built for Tcl 9.0 too, then the same suite under
# AddressSanitizer/UBSan, valgrind and a bounded fuzz run (.ci/sanitize.sh).
# Says first which outside programs it takes, prints a line for each step
# it skips and why, and ends with "N passed, N failed, N skipped"; exits 1
# when anything failed.
#   MORVAKINE_JOBS  builds' and ctest's parallelism (default: the cores)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export MORVAKINE_JOBS=${MORVAKINE_JOBS:-$(nproc)}
jobs=$MORVAKINE_JOBS
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
. "$top/.ci/results.sh"

echo "== test: $(nproc) cores ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)), PATH starts ${PATH%%:*}"
"$top/scripts/tools.sh" --report | sed 's/^/== /'
extra="valgrind clang libclang-rt-14-dev dpkg-dev file lintian chromium desktop-file-utils slurm-wlm munge parallel emscripten"
missing_tools=$("$top/scripts/tools.sh" --packages | paste -sd' ')
export MORVAKINE_PACKAGES_EXTRA="$extra $missing_tools ${MORVAKINE_PACKAGES_EXTRA:-}"
# Sourced: its compiler cache settings hold for every build below.
. "$top/scripts/setup.sh"
if [ -n "$missing_tools" ]; then
  "$top/scripts/tools.sh" --report | sed 's/^/== installed: /'
fi
# The web page links a Tcl built for WebAssembly once per machine; the
# build then finds it and makes the page.
if "$top/scripts/tcl-wasm.sh" >/dev/null; then
  /usr/bin/cmake -S "$top" -B "$top/build" >/dev/null
  /usr/bin/cmake --build "$top/build" -j"$jobs"
else
  result failed "Tcl for WebAssembly (scripts/tcl-wasm.sh)"
fi
cpu_now
echo "== test: packages and build took $SECONDS s ($cpu s of CPU)"
stage_cpu=$cpu
tools=$("$top/scripts/tools.sh" cmake ctest node npm clang++)
{ read -r cmake; read -r ctest; read -r node; read -r npm; read -r clangxx; } <<<"$tools"

# The outside judges of the glTF scenes (Khronos validator, three.js), at
# the versions tests/scene/package-lock.json pins, fetched beside the Tcl
# 9.0 build. npm runs on the node above, and so do any scripts it starts.
(cd "$top/tests/scene" &&
  PATH="$(dirname "$node"):$PATH" "$node" "$npm" ci --no-audit --no-fund --loglevel=error) \
  >"$scratch/npm.log" 2>&1 &
npm_pid=$!

# The plug-in, host library, renderer and viewer built for Tcl 9.0 too,
# from a Tcl and Tk built once per machine (scripts/tcl9.sh).
start=$SECONDS
tcl9=$(MORVAKINE_TK9=1 "$top/scripts/tcl9.sh")
"$cmake" -S "$top" -B "$top/build-tcl9" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$tcl9" -DMORVAKINE_BENCH=OFF >/dev/null
# All of it: the install test installs this build too, and a list of
# targets falls behind what the install rules name.
"$cmake" --build "$top/build-tcl9" -j"$jobs"
if ! wait "$npm_pid"; then
  cat "$scratch/npm.log"
  result failed "npm ci in tests/scene"
fi
cpu_now
echo "== test: the Tcl 9.0 build took $((SECONDS - start)) s ($((cpu - stage_cpu)) s of CPU)"
stage_cpu=$cpu

# One entry more than the cores at a time: the entries spend about half
# their time waiting on their programs, X servers and daemons
# (tests/CMakeLists.txt says which must run alone). Each suite loads the
# other build's libraries too, which must refuse.
suite() {
  local build=$1 label=$2
  shift 2
  if ! "$ctest" --test-dir "$build" --output-on-failure --no-tests=error -j"$((jobs + 1))" "$@" 2>&1 |
      tee "$scratch/ctest.log"; then
    grep -qE '\*\*\*|Errors while running' "$scratch/ctest.log" ||
      result failed "${label}ctest in $build"
  fi
  ctest_results "$scratch/ctest.log" "$build" "$label"
}
# Meanwhile the sanitizer pass's builds compile in the time the suites
# leave idle (SCHED_IDLE: only cycles nothing else wants); once the suites
# are done it is stopped and .ci/sanitize.sh builds what is left at the
# usual priority.
(cd "$top" && "$cmake" --preset asan >/dev/null &&
  "$cmake" --preset fuzz -DCMAKE_CXX_COMPILER="$clangxx" >/dev/null)
# shellcheck disable=SC2016
setsid chrt --idle 0 sh -c 'cd "$1" && "$2" --build --preset asan -j"$3" && "$2" --build --preset fuzz -j"$3"' \
  prebuild "$top" "$cmake" "$jobs" >"$scratch/prebuild.log" 2>&1 </dev/null &
prebuild=$!
start=$SECONDS
MORVAKINE_OTHER_BUILD=$top/build-tcl9 suite "$top/build" ""
# The fault sweep strikes the writers' system calls, which are the same C
# whichever Tcl calls them: it runs in the suite above and under the
# sanitizers.
MORVAKINE_OTHER_BUILD=$top/build suite "$top/build-tcl9" "tcl9: " \
  -R '^(tcl\.|scene_export$)' -E '^tcl\.faults'
cpu_now
echo "== test: the suites for Tcl 8.6 and 9.0 took $((SECONDS - start)) s ($((cpu - stage_cpu)) s of CPU)"
stage_cpu=$cpu
if kill -0 "$prebuild" 2>/dev/null; then
  echo "== test: the sanitizer builds were not done beside the suites; .ci/sanitize.sh goes on with them"
  kill -TERM -- -"$prebuild" 2>/dev/null || true
else
  echo "== test: the sanitizer builds were done beside the suites (their CPU counted above)"
fi
wait "$prebuild" 2>/dev/null || true

if ! bash "$top/.ci/sanitize.sh"; then
  grep -q '^failed ' "$MORVAKINE_RESULTS" || result failed "the sanitizer run (it stopped early)"
fi
results_summary
