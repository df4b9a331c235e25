#!/usr/bin/env bash
# Sets up, builds, and runs every test: the whole suite in build/, then the
# same suite under AddressSanitizer/UBSan, valgrind and a bounded fuzz run.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
extra="valgrind clang libclang-rt-14-dev dpkg-dev file lintian chromium"
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

# One at a time: the window tests and the soak run contend for two cores.
start=$SECONDS
ctest --test-dir "$top/build" --output-on-failure
echo "== test: the suite took $((SECONDS - start)) s"
if [ -x "$top/.ci/sanitize.sh" ] || [ -f "$top/.ci/sanitize.sh" ]; then
  bash "$top/.ci/sanitize.sh"
fi
