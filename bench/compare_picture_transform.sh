#!/usr/bin/env bash
# Times the picture transform (decode, optional fit, encode) beside ImageMagick doing the
# same work, on generated pictures of about 2 megapixels, for every output format with fit
# off and on. Prints seconds for the whole set and ImageMagick's time divided by ours.
#
#   bench/compare_picture_transform.sh [COUNT]     COUNT pictures, 200 by default
# Environment: BUILD (build folder, default build-bench), RECT (fit rectangle, default 800x600).
#
# ImageMagick runs two ways: one `convert in -sample WxH! -quality Q out` per picture, and
# one `mogrify` over the whole set (no process start per picture). Q is 90, except for PNG,
# where ImageMagick reads the quality as zlib level and filter: 75 is level 7 with adaptive
# filtering, the same work as ours.
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
CONVERT=$(command -v convert-im6.q16 || command -v convert)
MOGRIFY=$(command -v mogrify-im6.q16 || command -v mogrify)

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
"$BIN" --generate "$WORK/in" "$COUNT" >/dev/null
"$BIN" --fit-sizes "$WORK/in" "$W" "$H" >"$WORK/sizes"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0) printf "%.2f", b / a; else print "-" }'; }

echo "pictures: $COUNT of about 2 megapixels (JPEG), fit rectangle ${W}x${H}"
echo "ImageMagick: $("$CONVERT" -version | head -1 | cut -d' ' -f2-3), $("$CONVERT" -list resource | awk '/Thread/ {print $2}') thread(s)"
printf '%-6s %-4s %10s %12s %12s %10s %10s\n' format fit ours_s convert_s mogrify_s conv/ours mogr/ours

exts=(x jpg png gif bmp)
for format in 1 2 3 4; do
  ext=${exts[$format]}
  quality=90
  [ "$ext" = png ] && quality=75
  for fit in 0 1; do
    rm -rf "$WORK/ours" "$WORK/convert" "$WORK/mogrify"
    mkdir -p "$WORK/ours" "$WORK/convert" "$WORK/mogrify"

    t0=$(now)
    "$BIN" --run "$WORK/in" "$WORK/ours" "$format" "$fit" "$W" "$H" >/dev/null
    t1=$(now)
    ours=$(elapsed "$t0" "$t1")

    t0=$(now)
    while read -r name w h; do
      sample=()
      [ "$fit" = 1 ] && sample=(-sample "${w}x${h}!")
      "$CONVERT" "$WORK/in/$name" "${sample[@]}" -quality "$quality" "$WORK/convert/${name%.*}.$ext"
    done <"$WORK/sizes"
    t1=$(now)
    conv=$(elapsed "$t0" "$t1")

    sample=()
    [ "$fit" = 1 ] && sample=(-sample "${W}x${H}")
    t0=$(now)
    "$MOGRIFY" -path "$WORK/mogrify" -format "$ext" "${sample[@]}" -quality "$quality" "$WORK/in"/*.jpg
    t1=$(now)
    mogr=$(elapsed "$t0" "$t1")

    for d in ours convert mogrify; do
      n=$(find "$WORK/$d" -name "*.$ext" | wc -l)
      [ "$n" = "$COUNT" ] || { echo "$d wrote $n of $COUNT files" >&2; exit 1; }
    done
    printf '%-6s %-4s %10s %12s %12s %10s %10s\n' "$ext" "$([ "$fit" = 1 ] && echo on || echo off)" \
      "$ours" "$conv" "$mogr" "$(ratio "$ours" "$conv")" "$(ratio "$ours" "$mogr")"
  done
done
