#!/usr/bin/env bash
# Times the same extraction (parse a ~1 MB page, count <img src> and <a href>)
# in our gumbo-based analysis and in lxml (Debian's python3-lxml, libxml2's
# HTML parser), on the same generated page, and prints both with the ratio.
#   bench/compare_service_analysis.sh [build folder with SKARVEL_BUILD_BENCH=ON]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build-bench}"
bin="$build/bench/bench_service_analysis"
python=/usr/bin/python3 # Debian's interpreter, where python3-lxml is installed

if [ ! -x "$bin" ]; then
  echo "no $bin: configure with -DSKARVEL_BUILD_BENCH=ON and build bench_service_analysis" >&2
  exit 1
fi
"$python" -c 'import lxml' 2>/dev/null || { echo "python3-lxml is missing (scripts/install-deps.sh)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
page="$work/page.html"
"$bin" --write-page="$page"

SKARVEL_BENCH_PAGE="$page" "$bin" --benchmark_filter='BM_CountImgSrcAndLinkHref|BM_FindPictures|BM_FindLinks' \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$work/ours.json" 2>/dev/null

gumbo_version="$(pkg-config --modversion gumbo 2>/dev/null || echo '?')"
"$python" - "$page" "$work/ours.json" "$gumbo_version" <<'PY'
import json, sys, time
import lxml, lxml.html

page_path, ours_path, gumbo_version = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(page_path, "rb").read()

def count():
    doc = lxml.html.fromstring(data)
    return len(doc.xpath("//img/@src")), len(doc.xpath("//a/@href"))

counts = count()
# CPU time: the machine may be busy with other work, which wall time would count
runs = []
walls = []
for _ in range(15):
    start, wall = time.process_time(), time.perf_counter()
    count()
    runs.append((time.process_time() - start) * 1000.0)
    walls.append((time.perf_counter() - wall) * 1000.0)
runs.sort()
walls.sort()
lxml_ms = runs[len(runs) // 2]
lxml_wall = walls[len(walls) // 2]

ours = {}
for b in json.load(open(ours_path))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        ours[b["run_name"]] = b
mine = ours["BM_CountImgSrcAndLinkHref"]
mine_ms = mine["cpu_time"]
mine_wall = mine["real_time"]

print(f"page: {len(data) / 1024:.0f} KiB, {counts[0]} img src, {counts[1]} a href (lxml)")
print(f"{'parse + count (medians)':<32}{'img src':>9}{'a href':>8}{'CPU ms':>10}{'wall ms':>10}")
print(f"{'skarvel (gumbo ' + gumbo_version + ')':<32}{int(mine['img_src']):>9}{int(mine['a_href']):>8}"
      f"{mine_ms:>10.2f}{mine_wall:>10.2f}")
print(f"{'lxml ' + lxml.__version__ + ' (libxml2)':<32}{counts[0]:>9}{counts[1]:>8}{lxml_ms:>10.2f}{lxml_wall:>10.2f}")
print(f"ratio skarvel / lxml (CPU): {mine_ms / lxml_ms:.2f}")
for name in ("BM_FindPictures", "BM_FindLinks"):
    if name in ours:
        b = ours[name]
        print(f"skarvel {name[3:]} with resolving and de-duplication: {b['cpu_time']:.2f} ms CPU")
PY
