#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, build-fuzz) and runs each for a given time under
# memory and per-input time limits. Every crash, hang or memory blow-up found is
# minimised and copied into tests/fixtures/fuzz/<target>/, where test_fuzz_replay
# runs it with the ordinary tests.
#
#   scripts/fuzz.sh [-t seconds] [-j parallel] [-m rss_mb] [-T per_input_seconds] [target...]
#
# Defaults: 600 s per target, two at a time, 512 MB, 10 s per input, every target. The picture
# decoders get at least 1024 MB: a whole decode within the decoders' pixel budget (256 megapixels)
# holds 768 MB of pixels, and a file of a few hundred kilobytes can back that (a run-length BMP
# skips 4 megapixels, beyond that up to 8 pixels for each one its runs set).
# Working corpora and logs live in $SKARVEL_FUZZ_WORK (default /dev/shm/skarvel-fuzz) and are
# kept between runs, so a second run goes on where the first stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

SECONDS_EACH=600 PARALLEL=2 RSS_MB=512 PER_INPUT=10
while getopts "t:j:m:T:h" opt; do
  case $opt in
    t) SECONDS_EACH=$OPTARG ;;
    j) PARALLEL=$OPTARG ;;
    m) RSS_MB=$OPTARG ;;
    T) PER_INPUT=$OPTARG ;;
    *) sed -n '2,12p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

BUILD=${SKARVEL_FUZZ_BUILD:-build-fuzz}
WORK=${SKARVEL_FUZZ_WORK:-/dev/shm/skarvel-fuzz}
ALL=$(sed -n 's/^ *\([a-z_]*\):.*/\1/p' fuzz/targets.cmake)
TARGETS=${*:-$ALL}
for t in $TARGETS; do
  grep -qx "$t" <<<"$ALL" || { echo "unknown target: $t (known: $(echo $ALL))" >&2; exit 2; }
done

if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSKARVEL_FUZZ=ON -DSKARVEL_BUILD_GUI=OFF -DSKARVEL_BUILD_TESTS=OFF -DSKARVEL_BUILD_BENCH=OFF \
    -DSKARVEL_WERROR=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
nice -n 19 cmake --build "$BUILD" -j2 --target $(for t in $TARGETS; do echo "fuzz_$t"; done)

# UBSan findings abort; leaks count as findings; the per-input limits come from libFuzzer.
# A small quarantine, so that a freed picture does not count twice against the memory limit.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=32

# The memory limit of target $1.
rss_for() {
  case $1 in
    bmp | jpeg | png | gif | webp | avif | svg) echo $((RSS_MB > 1024 ? RSS_MB : 1024)) ;;
    *) echo "$RSS_MB" ;;
  esac
}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_LOGGING_RULES='*=false'

# Minimises each new artifact of target $1 and copies it into the fixtures; prints the
# number of new fixtures.
collect_findings() {
  local t=$1 dir=$WORK/$1 exe=$ROOT/$BUILD/fuzz/fuzz_$1 found=0 a kind name
  for a in "$dir"/artifacts/{crash,timeout,oom,leak}-*; do
    [ -e "$a" ] || continue
    case $a in *.min|*.log|*.done) continue ;; esac
    kind=${a##*/}; kind=${kind%%-*}
    # Minimising replays the input in child processes until it no longer shrinks.
    TMPDIR=$dir/tmp nice -n 19 "$exe" -minimize_crash=1 -max_total_time=30 -timeout="$PER_INPUT" \
      -rss_limit_mb="$(rss_for "$t")" -malloc_limit_mb="$(rss_for "$t")" -exact_artifact_path="$a.min" "$a" \
      >"$a.minimize.log" 2>&1 || true
    [ -s "$a.min" ] || cp "$a" "$a.min"
    name=$kind-$(sha1sum <"$a.min" | cut -c1-12)
    if [ ! -e "$ROOT/tests/fixtures/fuzz/$t/$name" ]; then
      mkdir -p "$ROOT/tests/fixtures/fuzz/$t"
      cp "$a.min" "$ROOT/tests/fixtures/fuzz/$t/$name"
      found=$((found + 1))
      echo "[$t] new $kind: tests/fixtures/fuzz/$t/$name ($(stat -c%s "$a.min") bytes; report $a.log)" >&2
    fi
    mv "$a" "$a.done"
  done
  echo "$found"
}

run_one() {
  local t=$1 dir=$WORK/$1 exe=$ROOT/$BUILD/fuzz/fuzz_$1
  mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
  local start=$(date +%s) left runs=0 found=0 restarts=0 n
  # libFuzzer stops at its first finding: start it again with the time that is left,
  # a few times at most, so that one quick crash does not use up the whole run.
  while left=$((SECONDS_EACH - ($(date +%s) - start))); [ "$left" -gt 5 ] && [ "$restarts" -le 5 ]; do
    TMPDIR=$dir/tmp nice -n 19 "$exe" -max_total_time="$left" -rss_limit_mb="$(rss_for "$t")" \
      -malloc_limit_mb="$(rss_for "$t")" -timeout="$PER_INPUT" -artifact_prefix="$dir/artifacts/" \
      -print_final_stats=1 -print_funcs=0 "$dir/corpus" "$ROOT/fuzz/seeds/$t" >"$dir/log.$restarts" 2>&1 || true
    n=$(grep -m1 -oE '^stat::number_of_executed_units: [0-9]+' "$dir/log.$restarts" | cut -d' ' -f2 || true)
    runs=$((runs + ${n:-0}))
    for a in "$dir"/artifacts/{crash,timeout,oom,leak}-*; do
      case $a in *.min|*.log|*.done) ;; *) [ -e "$a" ] && cp "$dir/log.$restarts" "$a.log" ;; esac
    done
    found=$((found + $(collect_findings "$t")))
    restarts=$((restarts + 1))
  done
  local took=$(( $(date +%s) - start )) cov
  cov=$(grep -hoE ' cov: [0-9]+' "$dir"/log.* | awk '{print $2}' | sort -n | tail -1 || true)
  printf '%-20s %5ss  runs %-9s exec/s %-6s cov %-6s corpus %-5s starts %s  new findings %s\n' "$t" "$took" \
    "$runs" "$((runs / (took > 0 ? took : 1)))" "${cov:-?}" "$(ls "$dir/corpus" | wc -l)" "$restarts" "$found" |
    tee -a "$WORK/summary.txt"
}

mkdir -p "$WORK"
echo "# $(date -Is) ${SECONDS_EACH}s each, rss ${RSS_MB} MB, ${PER_INPUT}s per input" >>"$WORK/summary.txt"
running=0
for t in $TARGETS; do
  if [ "$running" -ge "$PARALLEL" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
wait
