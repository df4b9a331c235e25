# shellcheck shell=bash
# The run's tally, sourced by scripts/test.sh and .ci/sanitize.sh: every
# ctest entry and every step of their own passed, failed or was skipped,
# one line each in $MORVAKINE_RESULTS, which the outermost script of a run
# creates (in its $scratch) and sums up at its end. A skip prints its
# reason as it happens.

# results_owner (read by the scripts that source this one): 1 in the
# outermost.
# shellcheck disable=SC2034
if [ -z "${MORVAKINE_RESULTS:-}" ]; then
  export MORVAKINE_RESULTS=${scratch:?}/results
  : >"$MORVAKINE_RESULTS"
  results_owner=1
else
  results_owner=0
fi

# result passed|failed|skipped NAME [WHY]
result() {
  printf '%s %s%s\n' "$1" "$2" "${3:+: $3}" >>"$MORVAKINE_RESULTS"
  if [ "$1" = skipped ]; then
    echo "== skipped: $2: $3"
  fi
}

# Records the entries of the ctest run whose output is in LOG, run in the
# build directory BUILD, with LABEL before each name. A skipped entry's
# reason is its own SKIP: line; cases that tcltest skipped inside a
# passing file are named with their constraints, a line each.
ctest_results() {
  local log=$1 build=$2 label=$3 name status why entries
  entries=$(awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
      status = "Passed"
      if (/\*\*\*Not Run \(Disabled\)/) status = "Disabled"
      else if (match($0, /\*\*\*[A-Za-z]+/)) status = substr($0, RSTART + 3, RLENGTH - 3)
      else if ($0 !~ / Passed +[0-9.]+ sec$/) status = "unread"
      print $4, status
    }' "$log")
  if [ -z "$entries" ]; then
    result failed "${label}ctest in $build" "no entry ran"
    return
  fi
  while read -r name status; do
    case $status in
      Passed) result passed "$label$name" ;;
      Skipped)
        why=$(entry_output "$build" "$name" | sed -n 's/^SKIP: *//p' | head -1)
        result skipped "$label$name" "${why:-ctest skipped it}"
        ;;
      Disabled) result skipped "$label$name" "disabled in its CMakeLists.txt" ;;
      *) result failed "$label$name" "$status" ;;
    esac
    why=$(entry_output "$build" "$name" |
      awk '/^Number of tests skipped for each constraint:/ { on = 1; next }
           on && /^\t[0-9]+\t/ { n += $1; c = c (c == "" ? "" : ", ") $2; next }
           { on = 0 }
           END { if (n) printf "%d case%s (constraint %s)", n, (n > 1 ? "s" : ""), c }')
    if [ -n "$why" ]; then
      echo "cases $label$name: $why" >>"$MORVAKINE_RESULTS"
      echo "== skipped inside $label$name: $why"
    fi
  done <<<"$entries"
}

# The output ctest kept of entry NAME in BUILD's last run.
entry_output() {
  awk -v name="$2" '
    $0 ~ "^[0-9]+/[0-9]+ Test: " && $3 == name { on = 1; next }
    on && /^<end of output>/ { exit }
    on' "$1/Testing/Temporary/LastTest.log" 2>/dev/null
}

# Prints "N passed, N failed, N skipped" (entries and steps) after the
# skips and failures, each with its reason, and the cases skipped inside
# entries; fails when anything failed.
results_summary() {
  local passed failed skipped cases
  passed=$(grep -c '^passed ' "$MORVAKINE_RESULTS" || true)
  failed=$(grep -c '^failed ' "$MORVAKINE_RESULTS" || true)
  skipped=$(grep -c '^skipped ' "$MORVAKINE_RESULTS" || true)
  cases=$(sed -n 's/^cases .*: \([0-9]*\) cases* (constraint .*/\1/p' "$MORVAKINE_RESULTS" |
    awk '{ n += $1 } END { print n + 0 }')
  grep -E '^(skipped|failed|cases) ' "$MORVAKINE_RESULTS" | sed 's/^cases /skipped inside /; s/^/== /' || true
  echo "== $passed passed, $failed failed, $skipped skipped; $cases test cases skipped inside entries (in $SECONDS s)"
  [ "$failed" = 0 ]
}

# Sets cpu to the CPU seconds (user and system) of this shell's children
# so far, the ones it waited for: a step's share of the machine, which
# unlike its time does not grow when others load it. (`times` must run in
# this shell: in a pipe or $(...) it would count a child's children.)
cpu_now() {
  times >"$MORVAKINE_RESULTS.times"
  cpu=$(awk 'NR == 2 {
    n = 0
    for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); n += t[1] * 60 + t[2] }
    printf "%d", n
  }' "$MORVAKINE_RESULTS.times")
}
