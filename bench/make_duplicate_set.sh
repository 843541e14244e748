#!/usr/bin/env bash
# Makes the picture set of bench_duplicates with ImageMagick: ORIGINALS photo-like pictures
# (fractal plasma, a gradient, soft shapes and grain) at assorted sizes and aspect ratios, half of
# them PNG and half JPEG; for each of them one copy resized to 25-200 % and encoded again
# (JPEG quality 50-95, twice JPEG, PNG, lossy WebP, or through lossy WebP into JPEG); and UNRELATED further
# pictures made the same way. manifest.tsv names every file with its group: an original and its
# copy share one, every unrelated picture has its own.
#
#   bench/make_duplicate_set.sh DIR [ORIGINALS [UNRELATED [SEED]]]      (defaults 2000 2000 1)
set -euo pipefail
dir=${1:?usage: make_duplicate_set.sh DIR [ORIGINALS [UNRELATED [SEED]]]}
originals=${2:-2000}
unrelated=${3:-2000}
seed=${4:-1}
jobs=$(nproc)
mkdir -p "$dir"
cd "$dir"

# One line of shell per picture, drawn by awk from a seeded generator so that a set can be made again.
awk -v originals="$originals" -v unrelated="$unrelated" -v seed="$seed" '
function pick(n) { return int(rand() * n) }
function colour(alpha) { return sprintf("rgba(%d,%d,%d,%.2f)", pick(256), pick(256), pick(256), alpha) }
function base(name, format,    w, h, sizes, n, cmd, i, x, y, r) {
  n = split("640x480 480x640 800x600 600x400 512x512 720x405 400x300 300x400 760x500 560x560", sizes, " ")
  split(sizes[pick(n) + 1], wh, "x"); w = wh[1]; h = wh[2]
  cmd = sprintf("convert -size %dx%d -seed %d plasma:fractal -resize %dx%d\\!", int(w / 4), int(h / 4), pick(2000000000), w, h)
  cmd = cmd sprintf(" \\( -size %dx%d gradient:\"%s\"-\"%s\" \\) -compose overlay -composite", w, h, colour(1), colour(1))
  for (i = pick(4) + 1; i > 0; i--) {
    x = pick(w); y = pick(h); r = 10 + pick(int(h / 3))
    if (pick(2)) cmd = cmd sprintf(" -fill \"%s\" -draw \"circle %d,%d %d,%d\"", colour(0.4 + rand() * 0.5), x, y, x + r, y)
    else cmd = cmd sprintf(" -fill \"%s\" -draw \"roundrectangle %d,%d %d,%d 12,12\"", colour(0.4 + rand() * 0.5), x, y, x + r * 2, y + r)
  }
  cmd = cmd sprintf(" -attenuate %.2f +noise Gaussian -depth 8", 0.2 + rand() * 0.4)
  if (format == "jpg") cmd = cmd " -quality 92"
  # A set cut short is finished by running the script again.
  print "test -s " name " || { " cmd " " format ":" name ".part && mv " name ".part " name "; }"
}
BEGIN {
  srand(seed)
  for (i = 0; i < originals; i++) base(sprintf("o%05d.%s", i, i % 2 ? "jpg" : "png"), i % 2 ? "jpg" : "png")
  for (i = 0; i < unrelated; i++) base(sprintf("u%05d.%s", i, i % 2 ? "jpg" : "png"), i % 2 ? "jpg" : "png")
}' > make_bases.txt

awk -v originals="$originals" -v seed="$seed" '
function pick(n) { return int(rand() * n) }
BEGIN {
  srand(seed + 7919)
  for (i = 0; i < originals; i++) {
    src = sprintf("o%05d.%s", i, i % 2 ? "jpg" : "png")
    scale = 25 + pick(176)
    q = 50 + pick(46)
    way = pick(5)
    format = way == 1 ? "png" : way == 2 ? "webp" : "jpg"
    out = sprintf("c%05d.%s", i, format)
    if (way == 0) cmd = sprintf("convert %s -resize %d%% -quality %d", src, scale, q)
    else if (way == 1) cmd = sprintf("convert %s -resize %d%%", src, scale)
    else if (way == 2) cmd = sprintf("convert %s -resize %d%% -quality %d", src, scale, q)
    else if (way == 3) cmd = sprintf("convert %s -resize %d%% -quality %d webp:- | convert webp:- -quality %d", src, scale, q, 50 + pick(46))
    else cmd = sprintf("convert %s -resize %d%% -quality %d jpg:- | convert jpg:- -quality %d", src, scale, q, 50 + pick(46))
    printf("test -s %s || { %s %s:%s.part && mv %s.part %s; }\n", out, cmd, format, out, out, out)
  }
}' > make_copies.txt

echo "making $((originals + unrelated)) pictures, then $originals copies, $jobs at a time" >&2
tr '\n' '\0' < make_bases.txt | xargs -0 -P "$jobs" -n 1 sh -c
tr '\n' '\0' < make_copies.txt | xargs -0 -P "$jobs" -n 1 sh -c

{
  for ((i = 0; i < originals; i++)); do
    ext=png; ((i % 2)) && ext=jpg
    printf 'o%05d.%s\t%d\n' "$i" "$ext" "$i"
    for copy in "$(printf 'c%05d' "$i")".{png,jpg,webp}; do
      if [ -e "$copy" ]; then printf '%s\t%d\n' "$copy" "$i"; fi
    done
  done
  for ((i = 0; i < unrelated; i++)); do
    ext=png; ((i % 2)) && ext=jpg
    printf 'u%05d.%s\t%d\n' "$i" "$ext" $((originals + i))
  done
} > manifest.tsv
echo "$(wc -l < manifest.tsv) pictures in $dir/manifest.tsv" >&2
