#!/usr/bin/env bash
# Builds the Debian package from a built tree with cpack and checks it with dpkg-deb:
# the installed files, the control fields, and dependencies that this Debian 12
# machine can satisfy. Then runs skarvel-service from the unpacked package.
#   check_package.sh BUILD_DIR OUT_DIR GUI(ON|OFF) [SVG(ON|OFF)]
set -euo pipefail
build=$1 out=$2 gui=$3 svg=${4:-OFF}
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$out" && mkdir -p "$out"
# gzip instead of xz: the contents are what is checked here, and it is several times faster.
cpack --config "$build/CPackConfig.cmake" -B "$out" -G DEB -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; fail "cpack"; }
shopt -s nullglob
debs=("$out"/skarvel_*.deb)
[[ ${#debs[@]} -eq 1 ]] || fail "expected one skarvel_*.deb in $out, found ${#debs[@]}"
deb=${debs[0]}
echo "package: $deb"

# --- contents (dpkg-deb -c) ---
dpkg-deb -c "$deb" >"$out/contents.txt"
files=$(awk '{print $6}' "$out/contents.txt")
expect_file() { grep -qx "./$1" <<<"$files" || fail "missing $1"; }
expect_exec() {
  expect_file "$1"
  awk -v f="./$1" '$6 == f {print $1}' "$out/contents.txt" | grep -q '^-rwxr-xr-x$' || fail "$1 is not executable"
}
expect_exec usr/bin/skarvel-service
expect_file usr/share/man/man1/skarvel-service.1.gz
[[ $svg == ON ]] && expect_exec usr/libexec/skarvel/skarvel-svg
if [[ $gui == ON ]]; then
  expect_exec usr/bin/skarvel
  expect_file usr/share/man/man1/skarvel.1.gz
  expect_file usr/share/applications/skarvel.desktop
  expect_file usr/share/metainfo/skarvel.metainfo.xml
  expect_file usr/share/icons/hicolor/scalable/apps/skarvel.svg
  for size in 16 22 24 32 48 64 128 256; do
    expect_file "usr/share/icons/hicolor/${size}x${size}/apps/skarvel.png"
  done
fi
stray=$(grep -v -e '^\./$' -e '^\./usr/' <<<"$files" || true)
[[ -z $stray ]] || fail "files outside /usr: $stray"
grep -q -e '/local/' -e "$build" <<<"$files" && fail "build or /usr/local paths in the package"

# --- control fields (dpkg-deb -I) ---
field() { dpkg-deb -f "$deb" "$1"; }
dpkg-deb -I "$deb" >"$out/info.txt"
grep -q '^ Package: skarvel$' "$out/info.txt" || fail "Package field"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture $(field Architecture)"
[[ -n $(field Version) && -n $(field Maintainer) && -n $(field Description) ]] || fail "Version, Maintainer or Description empty"
depends=$(field Depends)
echo "Depends: $depends"
echo "Recommends: $(field Recommends)"
grep -q 'libqt6core6' <<<"$depends" || fail "Depends does not name Qt Core (shlibdeps did not run?)"
grep -q 'libcurl4' <<<"$depends" || fail "Depends does not name libcurl4"
if [[ $gui == ON ]]; then
  for name in libqt6widgets6 libqt6multimedia6 libavformat59 qt6-qpa-plugins; do
    grep -qw "$name" <<<"$depends" || fail "Depends does not name $name"
  done
  for name in gstreamer1.0-plugins-good gstreamer1.0-libav fonts-dejavu-extra; do
    grep -qw "$name" <<<"$(field Recommends)" || fail "Recommends does not name $name"
  done
fi

root="$out/root"
dpkg-deb -x "$deb" "$root"
if [[ $gui == ON ]]; then
  desktop="$root/usr/share/applications/skarvel.desktop"
  grep -qx 'Exec=skarvel' "$desktop" || fail "desktop entry does not start skarvel"
  grep -qx 'Icon=skarvel' "$desktop" || fail "desktop entry icon"
  grep -q '<launchable type="desktop-id">skarvel.desktop</launchable>' \
    "$root/usr/share/metainfo/skarvel.metainfo.xml" || fail "metainfo launchable"
fi

# --- the unpacked SVG helper draws: a 2 x 1 red picture, its size, then its six bytes ---
if [[ $svg == ON ]]; then
  grep -qw librsvg2-2 <<<"$depends" || fail "Depends does not name librsvg2-2"
  doc='<svg xmlns="http://www.w3.org/2000/svg" width="2" height="1"><rect width="2" height="1" fill="red"/></svg>'
  drawn=$(printf '%s\n%s' "${#doc}" "$doc" | { cat; printf 'DRAW 2 1\n'; } |
    "$root/usr/libexec/skarvel/skarvel-svg" $((1 << 30)) 12 | od -An -tx1 | tr -d ' \n')
  [[ $drawn == "$(printf 'SIZE 2 1\nPIXELS\n' | od -An -tx1 | tr -d ' \n')ff0000ff0000" ]] ||
    fail "the packaged skarvel-svg drew $drawn"
fi

# --- the unpacked service runs, and its man page documents every option it has ---
help=$("$root/usr/bin/skarvel-service" --help) || fail "skarvel-service --help"
man=$(zcat "$root/usr/share/man/man1/skarvel-service.1.gz")
for option in $(grep -o -E -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  grep -qF -- "$(sed 's/-/\\-/g' <<<"$option")" <<<"$man" || fail "man page of skarvel-service lacks $option"
done

# --- every dependency is a package this Debian 12 machine knows, in a version it has ---
. /etc/os-release
if [[ ${ID:-} != debian || ${VERSION_ID:-} != 12 ]]; then
  echo "not Debian 12 ($PRETTY_NAME): dependency versions not checked"
  exit 77
fi
candidate() {
  local v
  v=$(dpkg-query -W -f='${Version}' "$1" 2>/dev/null) && [[ -n $v ]] && { echo "$v"; return; }
  apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/ && $2 != "(none)" {print $2}'
}
satisfied() { # "name (op version)" or "name"
  local name op ver have
  name=$(awk '{print $1}' <<<"$1")
  have=$(candidate "$name")
  [[ -n $have ]] || return 1
  if [[ $1 =~ \((..?)\ ([^\)]+)\) ]]; then
    op=${BASH_REMATCH[1]} ver=${BASH_REMATCH[2]}
    case $op in '>=') op=ge ;; '<=') op=le ;; '>>') op=gt ;; '<<') op=lt ;; '=') op=eq ;; *) return 1 ;; esac
    dpkg --compare-versions "$have" "$op" "$ver"
  fi
}
IFS=',' read -ra deps <<<"$depends, $(field Recommends)"
for dep in "${deps[@]}"; do
  dep=$(xargs <<<"$dep")
  [[ -z $dep ]] && continue
  ok=no
  IFS='|' read -ra alternatives <<<"$dep"
  for alt in "${alternatives[@]}"; do
    satisfied "$(xargs <<<"$alt")" && { ok=yes; break; }
  done
  [[ $ok == yes ]] || fail "no Debian 12 package satisfies \"$dep\""
done
echo "package check passed: ${#deps[@]} dependencies, $(wc -l <"$out/contents.txt") entries"
