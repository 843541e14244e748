#!/usr/bin/env bash
# Times the Windows build of scripts/windows.sh: cold (an empty library cache in
# a folder of its own and a new build folder: every library is built from
# Debian's sources) and warm (the same command again: cached libraries, ccache
# and the build folder reused), each with the Wine test run, and prints the
# sizes of the zip and the installer. The cold run takes about an hour.
#   bench/windows/build_times.sh [cache folder]  (default: a new folder under /tmp)
set -euo pipefail
cd "$(dirname "$0")/../.."
cache=${1:-$(mktemp -d /tmp/skarvel-windows-cache.XXXXXX)}
build=build-windows-bench
rm -rf "$build"
# A command substitution does not inherit set -e: a failed run must stop the bench itself.
run() {
  local what=$1 t0=$SECONDS
  if ! SKARVEL_WINDOWS_CACHE=$cache SKARVEL_WINDOWS_BUILD=$build ./scripts/windows.sh >"$build-$what.log" 2>&1; then
    echo "windows build: the $what run failed after $((SECONDS - t0)) s; its last lines ($build-$what.log):" >&2
    tail -n 30 "$build-$what.log" >&2
    return 1
  fi
  echo $((SECONDS - t0))
}
cold=$(run cold) || exit 1
warm=$(run warm) || exit 1
zip=$(stat -c %s "$build"/Skarvel-*-windows-x64.zip)
setup=$(stat -c %s "$build"/Skarvel-*-windows-x64-setup.exe)
printf 'windows build: cold %d s, warm %d s; zip %.1f MB, installer %.1f MB (cache %s)\n' \
  "$cold" "$warm" "$(echo "$zip / 1048576" | bc -l)" "$(echo "$setup / 1048576" | bc -l)" "$cache"
