#!/usr/bin/env bash
# Runs a command beside N busy loops that keep the processors occupied, the way
# other builds on a shared machine do, then stops the loops. Tests that wait for
# time instead of for events fail here.
#
#   ./scripts/busy.sh 4 -- ctest -j2 --output-on-failure     (in a build folder)
#
# The command's exit status is the script's; its wall-clock time is printed last.
set -uo pipefail

usage() {
  echo "usage: $0 LOOPS -- COMMAND [ARG...]" >&2
  exit 2
}

[ $# -ge 3 ] || usage
loops=$1
shift
[[ $loops =~ ^[0-9]+$ ]] || usage
[ "$1" = "--" ] || usage
shift

pids=()
stop_loops() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null
  done
  pids=()
}
trap stop_loops EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

for ((i = 0; i < loops; ++i)); do
  sh -c 'while :; do :; done' &
  pids+=("$!")
done

start=$(date +%s)
"$@"
status=$?
echo "busy.sh: '$*' beside $loops busy loops: exit $status after $(($(date +%s) - start)) s" >&2
exit "$status"
