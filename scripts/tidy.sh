#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the sources of the libraries (not the tests,
# benchmarks or fuzz targets) that a configured build compiles, one file per process, as many at
# once as there are cores. Prints the findings and fails when there is any.
#   scripts/tidy.sh [BUILD_DIR [FILE...]]
# BUILD_DIR defaults to build-test (a GUI-off build covers the core and service); FILEs (paths from
# the top of the repository) narrow the run to those sources.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-test}
shift || true
TIDY=${CLANG_TIDY:-clang-tidy-14}
DB=$BUILD/compile_commands.json
[ -f "$DB" ] || { echo "tidy: no $DB; configure that build first" >&2; exit 2; }

LIBRARIES=(common tables jobs net rules pictures sqlite_export audio service gui)
files=()
while IFS= read -r f; do
  grep -qF "\"file\": \"$PWD/$f\"" "$DB" && files+=("$f")
done < <(if [ $# -gt 0 ]; then git ls-files "$@"; else git ls-files "${LIBRARIES[@]/%//*.cpp}"; fi)
[ ${#files[@]} -gt 0 ] || { echo "tidy: $DB compiles none of the libraries' sources" >&2; exit 2; }

# Each file's findings are printed whole once its run ends, so parallel runs never interleave.
check_one() {
  local out
  if ! out=$("$TIDY" -p "$BUILD" --quiet "$1" 2>&1); then
    grep -v ' warnings\? generated\.$' <<<"$out"
    return 1
  fi
}
export -f check_one
export TIDY BUILD

start=$SECONDS
if printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P "$(nproc)" bash -c 'check_one "$0"'; then
  echo "tidy: ${#files[@]} files, no finding ($((SECONDS - start)) s)"
else
  echo "tidy: findings above (${#files[@]} files, $((SECONDS - start)) s)" >&2
  exit 1
fi
