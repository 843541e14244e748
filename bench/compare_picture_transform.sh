#!/usr/bin/env bash
# Times the picture transform (decode, optional fit, encode; rows on every core, as the save
# job runs it) beside ImageMagick's mogrify doing the same work, on generated pictures of
# about 2 megapixels, for every output format with fit off and on. Prints the median
# seconds of ROUNDS rounds for the whole set and mogrify's time divided by ours, after
# checking that both wrote every file at the same pixel size and, for PNG and BMP with fit
# off, that every tenth file holds the same pixels as mogrify's.
#
#   bench/compare_picture_transform.sh [COUNT]     COUNT pictures, 200 by default
# Environment: BUILD (build folder, default build-bench), RECT (fit rectangle, default 800x600),
# ROUNDS (default 3), WORK (parent of the scratch folder, default /dev/shm), FORMATS (output
# formats to time, default "jpg png gif bmp"), FITS (default "0 1").
#
# mogrify runs over the whole set (no process start per picture) with its own threads.
# Q is 90, except for PNG, where ImageMagick reads the quality as zlib level and filter:
# 75 is level 7 with adaptive filtering, the same work as ours.
set -euo pipefail
cd "$(dirname "$0")/.."

COUNT=${1:-200}
BUILD=${BUILD:-build-bench}
RECT=${RECT:-800x600}
W=${RECT%x*}
H=${RECT#*x}
BIN="$BUILD/bench/bench_picture_transform"

if [ ! -x "$BIN" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKARVEL_BUILD_BENCH=ON \
    -DSKARVEL_BUILD_TESTS=OFF >/dev/null
  cmake --build "$BUILD" --target bench_picture_transform >/dev/null
fi
MOGRIFY=$(command -v mogrify-im6.q16 || command -v mogrify)
IDENTIFY=$(command -v identify-im6.q16 || command -v identify)
COMPARE=$(command -v compare-im6.q16 || command -v compare)
ROUNDS=${ROUNDS:-3}

WORK=$(mktemp -d "${WORK:-/dev/shm}/compare-transform.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
"$BIN" --generate "$WORK/in" "$COUNT" >/dev/null
"$BIN" --fit-sizes "$WORK/in" "$W" "$H" >"$WORK/sizes"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0) printf "%.2f", b / a; else print "-" }'; }
median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# "name width height" of every file, sorted, for comparing two output folders.
sizes_of() { (cd "$1" && "$IDENTIFY" -format '%t %w %h\n' ./*."$2" | sort); }

echo "pictures: $COUNT of about 2 megapixels (JPEG), fit rectangle ${W}x${H}, median of $ROUNDS rounds"
echo "ImageMagick: $("$MOGRIFY" -version | head -1 | cut -d' ' -f2-3), $("$MOGRIFY" -list resource | awk '/Thread/ {print $2}') thread(s); ours: $(nproc) core(s)"
printf '%-6s %-4s %10s %12s %10s %12s %12s\n' format fit ours_s mogrify_s mogr/ours ours_MB mogrify_MB

exts=(x jpg png gif bmp)
for format in 1 2 3 4; do
  ext=${exts[$format]}
  [[ " ${FORMATS:-jpg png gif bmp} " == *" $ext "* ]] || continue
  quality=90
  [ "$ext" = png ] && quality=75
  for fit in ${FITS:-0 1}; do
    sample=()
    [ "$fit" = 1 ] && sample=(-sample "${W}x${H}")
    ours_t=() mogr_t=()
    for ((round = 0; round < ROUNDS; ++round)); do
      rm -rf "$WORK/ours" "$WORK/mogrify"
      mkdir -p "$WORK/ours" "$WORK/mogrify"
      sync
      t0=$(now)
      "$BIN" --run "$WORK/in" "$WORK/ours" "$format" "$fit" "$W" "$H" >/dev/null
      t1=$(now)
      ours_t+=("$(elapsed "$t0" "$t1")")
      t0=$(now)
      "$MOGRIFY" -path "$WORK/mogrify" -format "$ext" "${sample[@]}" -quality "$quality" "$WORK/in"/*.jpg
      t1=$(now)
      mogr_t+=("$(elapsed "$t0" "$t1")")
    done
    for d in ours mogrify; do
      n=$(find "$WORK/$d" -name "*.$ext" | wc -l)
      [ "$n" = "$COUNT" ] || { echo "$d wrote $n of $COUNT files" >&2; exit 1; }
    done
    if ! cmp -s <(sizes_of "$WORK/ours" "$ext") <(sizes_of "$WORK/mogrify" "$ext"); then
      echo "$ext fit $fit: pixel sizes differ between ours and mogrify" >&2
      exit 1
    fi
    # Unfitted lossless outputs must hold the same pixels as ImageMagick's (the same libjpeg-turbo
    # decode): every tenth file is compared pixel by pixel. Fitted ones differ by design: -sample
    # takes pixel centres, our fit rule maps corners to corners.
    if [ "$fit" = 0 ] && { [ "$ext" = png ] || [ "$ext" = bmp ]; }; then
      for f in $(cd "$WORK/ours" && ls ./*."$ext" | awk 'NR % 10 == 1'); do
        ae=$("$COMPARE" -metric AE "$WORK/ours/$f" "$WORK/mogrify/$f" null: 2>&1 || true)
        [ "$ae" = 0 ] || { echo "$ext fit $fit: $f differs from mogrify's in $ae pixels" >&2; exit 1; }
      done
    fi
    ours=$(echo "${ours_t[*]}" | median)
    mogr=$(echo "${mogr_t[*]}" | median)
    printf '%-6s %-4s %10s %12s %10s %12s %12s\n' "$ext" "$([ "$fit" = 1 ] && echo on || echo off)" \
      "$ours" "$mogr" "$(ratio "$ours" "$mogr")" \
      "$(du -sm "$WORK/ours" | cut -f1)" "$(du -sm "$WORK/mogrify" | cut -f1)"
  done
done
