#!/usr/bin/env bash
# Sets up, builds, then opens the viewer when a display is reachable, or
# renders morvakine.png headless when none is. Arguments go to whichever
# program runs.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/setup.sh"

# Tk itself says whether a display can be reached.
if [ -n "${DISPLAY:-}" ] &&
   echo 'if {[catch {package require Tk}]} {exit 1}; exit 0' | tclsh8.6 2>/dev/null; then
  exec "$top/build/morvakine-view" "$@"
fi
# Without arguments, the first picture is the whole figure at a moving
# pose, framed on it.
"$top/build/morvakine-render" "$@"
output=morvakine.png
for ((i = 1; i <= $#; i++)); do
  if [ "${!i}" = "-o" ]; then
    j=$((i + 1))
    output=${!j}
  fi
done
echo "No display: rendered $(realpath "$output") headless."
