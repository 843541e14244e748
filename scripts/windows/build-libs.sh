#!/usr/bin/env bash
# Builds the Windows libraries from Debian's source packages. Each goes into
# $WIN_CACHE/libs/<name>-<version>-<hash>, the hash covering its recipe, the
# toolchain and the libraries it links, so a later run reuses it; then all
# are joined (hard links) into $WIN_CACHE/<key>, the prefix Skarvel builds
# against, whose path is printed last. Arguments: build only these libraries;
# --check: build nothing, download nothing, and fail unless all are cached.
set -euo pipefail
. "$(dirname "$0")/common.sh"

declare -A KEY
TOOLCHAIN_ID=$(toolchain_id)
# Sets KEY[lib] (and the keys of what it links, first).
set_key() {
  local lib=$1 ver dep deps_keys="" h
  [ -n "${KEY[$lib]:-}" ] && return 0
  # shellcheck disable=SC1090
  # "|| true": set -e would end the script here without saying why.
  ver=$( . "$LIBS_DIR/$lib.sh"; if [ -n "${VERSION:-}" ]; then echo "$VERSION"; else src_version "$SRC_PKG"; fi) || true
  [ -n "$ver" ] || { log "no source for $lib: the archive lists none, or does not serve its files"; exit 1; }
  for dep in $( . "$LIBS_DIR/$lib.sh"; echo "${LINKS:-}"); do
    set_key "$dep"
    deps_keys+="${KEY[$dep]} "
  done
  h=$({ cat "$LIBS_DIR/$lib.sh"; echo "$TOOLCHAIN_ID $deps_keys"; } | sha256sum | cut -c1-10)
  KEY[$lib]="$lib-${ver//[:~+]/_}-$h"
}

# A folder holding the prefixes of the given libraries, joined.
join_prefixes() {
  local dest=$1; shift
  rm -rf "$dest"; mkdir -p "$dest"
  local lib
  for lib in "$@"; do
    cp -al --remove-destination "$WIN_CACHE/libs/${KEY[$lib]}/." "$dest/"
  done
  rm -f "$dest/.done"
}

build_one() {
  local lib=$1 key=${KEY[$1]}
  local PREFIX=$WIN_CACHE/libs/$key
  [ -f "$PREFIX/.done" ] && return 0
  exec 9>"$WIN_CACHE/libs/$key.lock"
  flock 9
  if [ -f "$PREFIX/.done" ]; then exec 9>&-; return 0; fi
  local start=$SECONDS
  local WORK=$WIN_CACHE/work/$key
  local SRC=$WORK/src BUILD=$WORK/build DEPS=$WORK/deps
  # A build that was cut off (the machine stopped) goes on where it was.
  if [ -f "$WORK/.unpacked" ]; then
    log "resuming $key"
  else
    log "building $key"
    : >"$WIN_CACHE/libs/$key.log"
    rm -rf "$WORK" "$PREFIX"
    mkdir -p "$WORK"
    local links
    links=$( . "$LIBS_DIR/$lib.sh"; echo "${LINKS:-}")
    # shellcheck disable=SC2086
    join_prefixes "$DEPS" $links
  fi
  mkdir -p "$PREFIX"
  # Not under "||": set -e must stay in force inside the recipe.
  set +e
  (
    set -euo pipefail
    # shellcheck disable=SC1090
    . "$LIBS_DIR/$lib.sh"
    if [ ! -f "$WORK/.unpacked" ]; then
      if declare -F fetch >/dev/null; then fetch; else fetch_source "$SRC_PKG" "$SRC"; fi
      touch "$WORK/.unpacked"
    fi
    cd "$SRC"
    build
  ) >>"$WIN_CACHE/libs/$key.log" 2>&1
  local rc=$?
  set -e
  if [ $rc -ne 0 ]; then
    log "FAILED $key; last lines of $WIN_CACHE/libs/$key.log:"
    tail -n 40 "$WIN_CACHE/libs/$key.log" >&2
    exit 1
  fi
  touch "$PREFIX/.done"
  rm -rf "$WORK"
  log "built $key in $((SECONDS - start)) s"
  exec 9>&-
}

if [ "${1:-}" = --check ]; then
  export SKARVEL_WINDOWS_OFFLINE=1
  for lib in "${LIB_ORDER[@]}"; do
    set_key "$lib" 2>/dev/null || exit 1
    [ -f "$WIN_CACHE/libs/${KEY[$lib]}/.done" ] || exit 1
  done
  shift
fi
mkdir -p "$WIN_CACHE/libs"
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${LIB_ORDER[@]}")
for lib in "${wanted[@]}"; do set_key "$lib"; build_one "$lib"; done

if [ $# -eq 0 ]; then
  for lib in "${LIB_ORDER[@]}"; do set_key "$lib"; done
  all=$(for lib in "${LIB_ORDER[@]}"; do echo "${KEY[$lib]}"; done | sha256sum | cut -c1-12)
  SYSROOT=$WIN_CACHE/$all
  if [ ! -f "$SYSROOT/.complete" ]; then
    join_prefixes "$SYSROOT" "${LIB_ORDER[@]}"
    for lib in "${LIB_ORDER[@]}"; do echo "${KEY[$lib]}"; done >"$SYSROOT/.complete"
  fi
  echo "$SYSROOT"
fi
