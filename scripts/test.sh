#!/usr/bin/env bash
# Sets up, builds, and runs every test: the whole suite in build/, then the
# same suite under AddressSanitizer/UBSan, valgrind and a bounded fuzz run.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
extra="valgrind clang libclang-rt-14-dev dpkg-dev file lintian chromium desktop-file-utils slurm-wlm munge parallel"
# Node.js from Debian unless one is there already (another source's
# nodejs package brings its own npm).
command -v node >/dev/null || extra+=" nodejs"
command -v npm >/dev/null || extra+=" npm"
export MORVAKINE_PACKAGES_EXTRA="$extra ${MORVAKINE_PACKAGES_EXTRA:-}"
"$top/scripts/setup.sh"
echo "== test: packages and build took $SECONDS s"
# The outside judges of the glTF scenes (Khronos validator, three.js), at
# the versions tests/scene/package-lock.json pins.
(cd "$top/tests/scene" && npm ci --no-audit --no-fund --loglevel=error)

# The plug-in, host library and renderer built for Tcl 9.0 too, from a
# Tcl built once per machine (scripts/tcl9.sh), without the viewer.
tcl9=$("$top/scripts/tcl9.sh")
cmake -S "$top" -B "$top/build-tcl9" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$tcl9" -DMORVAKINE_BENCH=OFF >/dev/null
cmake --build "$top/build-tcl9" -j"$(nproc)" --target zelkori zelkori_movie morvakine png_probe morvakine_docs

# The plug-ins the tests load with --plugin.
cmake --build "$top/build-tcl9" -j"$(nproc)" --target test_plugins

# One at a time: the window tests and the soak run contend for two cores.
# Each suite loads the other build's libraries too, which must refuse.
start=$SECONDS
MORVAKINE_OTHER_BUILD=$top/build-tcl9 ctest --test-dir "$top/build" --output-on-failure
MORVAKINE_OTHER_BUILD=$top/build ctest --test-dir "$top/build-tcl9" --output-on-failure \
  -R '^(tcl\.|scene_export$)' -E '^tcl\.viewer$'
echo "== test: the suites for Tcl 8.6 and 9.0 took $((SECONDS - start)) s"
if [ -x "$top/.ci/sanitize.sh" ] || [ -f "$top/.ci/sanitize.sh" ]; then
  bash "$top/.ci/sanitize.sh"
fi
