#!/usr/bin/env bash
# Sets up, builds, and runs every test: the whole suite in build/, then the
# same suite under AddressSanitizer/UBSan, valgrind and a bounded fuzz run.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export MORVAKINE_PACKAGES_EXTRA="valgrind clang libclang-rt-14-dev dpkg-dev file lintian ${MORVAKINE_PACKAGES_EXTRA:-}"
"$top/scripts/setup.sh"

# One at a time: the window tests and the soak run contend for two cores.
ctest --test-dir "$top/build" --output-on-failure
if [ -x "$top/.ci/sanitize.sh" ] || [ -f "$top/.ci/sanitize.sh" ]; then
  bash "$top/.ci/sanitize.sh"
fi
