#!/usr/bin/env bash
# One valgrind memcheck of morvakine-render, judged by how it ended; the
# run is its own probe of whether valgrind can run it here.
#   memcheck.sh FILE ARGUMENT...   (FILE: what to write, as -o takes it)
# Prints one line and exits 0 when it ran clean; 77 when valgrind cannot
# run it on this machine: the process died of an instruction valgrind does
# not decode, inside a library that is not ours, in that library's
# initialiser as the loader ran it (at start or in a dlopen), with no frame
# of ours between the instruction and the loader and no error found before
# (some of FFmpeg's dependencies do this on CPUs that do not list what they
# run: rdtscp on a virtual AMD EPYC, for one); 1 with the log for anything
# else. Environment:
#   MORVAKINE_NORMAL_BUILD  the build holding morvakine-render (build/)
#   MORVAKINE_VALGRIND_PROBE=sigill  acts as such a CPU: a stand-in
#       library (.ci/foreign_sigill.cpp) runs such an instruction once
#       libavcodec is in the process, under valgrind only
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
normal=$(cd "${MORVAKINE_NORMAL_BUILD:-$top/build}" && pwd)
name=$1
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
valgrind=$("$top/scripts/tools.sh" valgrind)

environment=()
if [ "${MORVAKINE_VALGRIND_PROBE:-}" = sigill ]; then
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$normal/CMakeCache.txt")
  "$compiler" -shared -fPIC -O1 -DFOREIGN_INITIALISER -o "$scratch/libinitialiser.so" \
    "$top/.ci/foreign_sigill.cpp"
  "$compiler" -shared -fPIC -O1 -o "$scratch/libforeign.so" "$top/.ci/foreign_sigill.cpp" -ldl
  environment=(env "LD_PRELOAD=$scratch/libforeign.so"
               "MORVAKINE_SIGILL_LIBRARY=$scratch/libinitialiser.so")
fi

# (The shell's own note of a signal that ended the process stays out.)
if { "${environment[@]}" "$valgrind" --tool=memcheck --trace-children=yes --error-exitcode=99 \
    --leak-check=full --errors-for-leak-kinds=definite --fullpath-after= \
    --suppressions="$top/tests/valgrind.supp" --log-file="$scratch/log.%p" \
    "$normal/morvakine-render" -o "$scratch/$name" "$@" \
    >"$scratch/stdout" 2>"$scratch/stderr"; } 2>/dev/null; then
  echo "memcheck $name: clean, no errors in $(find "$scratch" -name 'log.*' | wc -l) processes"
  exit 0
fi

# Where the process died: "load WHERE" when the frames from the fault down
# to the loader are none of ours, "ours WHERE" when one is, "other" else.
verdict=$(awk -v top="$top/" -v normal="$normal/" '
  /Unrecognised instruction at address/ { unrecognised = 1 }
  /ERROR SUMMARY: [1-9]/ { errors = 1 }
  /Process terminating with default action of signal 4 \(SIGILL\)/ { frames = 1; next }
  frames && /^==[0-9]+== +(at|by) 0x/ {
    frame = $0
    sub(/^==[0-9]+== +(at|by) 0x[0-9A-Fa-f]+: /, "", frame)
    if (where == "") where = frame
    if (index(frame, "(" top) || index(frame, "(in " top) || index(frame, "(in " normal)) {
      ours = frame; frames = 0
    } else if (frame ~ /^(call_init|_dl_init|_dl_audit_objopen|_dl_map_object|dl_open_worker|_dl_start_user) / ||
               frame ~ /\(in [^)]*\/ld-linux[^)]*\)$/) {
      loader = 1; frames = 0
    }
    next
  }
  frames && /^==[0-9]+== *$/ { frames = 0 }
  END {
    if (ours != "") print "ours " ours
    else if (loader && unrecognised && !errors) print "load " where
    else print "other"
  }' "$scratch"/log.*)
bytes=$(grep -h -m1 -oE 'unhandled instruction bytes:( 0x[0-9A-Fa-f]+){1,4}' "$scratch"/log.* |
        sed 's/unhandled instruction bytes:/the bytes/; s/$/ .../' || true)
case $verdict in
  load\ *)
    echo "memcheck $name: valgrind cannot run it on this CPU${environment[0]:+ (MORVAKINE_VALGRIND_PROBE=sigill acts as one)}: ${bytes:-an instruction it does not decode} in ${verdict#load } as the loader started that library, with no code of ours between"
    exit 77
    ;;
  ours\ *) echo "memcheck $name: FAILED, in our code: ${verdict#ours }" ;;
  *) echo "memcheck $name: FAILED" ;;
esac
cat "$scratch/stderr" "$scratch"/log.*
exit 1
