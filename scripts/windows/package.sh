#!/usr/bin/env bash
# Packages the Windows build: a folder with both executables, every DLL they
# load (found by reading their import tables), Qt's platform, style,
# image-format, TLS and multimedia plugins and a README; then a zip of it and an
# NSIS installer. Needs SYSROOT and BUILD.
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
. "$(dirname "$0")/common.sh"
version=$(sed -n 's/^project(Skarvel VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
deploy=$BUILD/deploy/Skarvel
rm -rf "$BUILD/deploy"
mkdir -p "$deploy"
cp "$BUILD/gui/skarvel.exe" "$BUILD/service/skarvel-service.exe" "$deploy/"
# Qt looks for plugin folders beside the executable.
for dir in platforms styles imageformats tls multimedia; do
  [ -d "$SYSROOT/plugins/$dir" ] || continue
  mkdir -p "$deploy/$dir"
  for plugin in "$SYSROOT/plugins/$dir"/*.dll; do
    case $(basename "$plugin") in
      qdirect2d.dll | qminimal.dll | qoffscreen.dll) continue ;; # not for a desktop run
    esac
    cp "$plugin" "$deploy/$dir/"
  done
done
printf '[Paths]\nPrefix = .\nPlugins = .\n' >"$deploy/qt.conf"
cp "$ROOT/packaging/windows/README.txt" "$deploy/README.txt"
sed -i 's/$/\r/' "$deploy/README.txt"
[ -f "$ROOT/docs/Skarvel.chm" ] && cp "$ROOT/docs/Skarvel.chm" "$deploy/"

# Every DLL that something in the folder imports and that is not Windows' own.
gcc_dir=$(dirname "$("$MINGW-g++-posix" -print-libgcc-file-name)")
search=("$SYSROOT/bin" "$gcc_dir" "/usr/$MINGW/lib")
changed=1
while [ $changed -eq 1 ]; do
  changed=0
  while IFS= read -r dll; do
    [ -e "$deploy/$dll" ] && continue
    for dir in "${search[@]}"; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$deploy/"
        changed=1
        break
      fi
    done
  done < <(find "$deploy" \( -name '*.exe' -o -name '*.dll' \) -print0 | xargs -0 -r "$MINGW-objdump" -p |
    sed -n 's/^\s*DLL Name: //p' | sort -u)
done
find "$deploy" \( -name '*.exe' -o -name '*.dll' \) -print0 | xargs -0 "$MINGW-strip" --strip-unneeded

zip_file=$BUILD/Skarvel-$version-windows-x64.zip
installer=$BUILD/Skarvel-$version-windows-x64-setup.exe
rm -f "$zip_file" "$installer"
(cd "$BUILD/deploy" && zip -q -r -9 "$zip_file" Skarvel)
makensis -V2 -DSOURCE_DIR="$deploy" -DOUT_FILE="$installer" -DVERSION="$version" \
  "$ROOT/packaging/windows/skarvel.nsi"
for f in "$zip_file" "$installer"; do
  printf '%s  %s bytes\n' "$f" "$(stat -c %s "$f")"
done
unzip -l "$zip_file" | grep -E 'skarvel(-service)?\.exe$'
