# libgumbo-1.dll, gumbo 0.10.1. The archive here lists Debian's gumbo-parser
# source but does not serve its files; the npm package gumbo-parser 0.3.0
# carries the same gumbo 0.10.1 C sources, so those are used.
SRC_PKG=gumbo-parser
VERSION=0.10.1-npm-gumbo-parser-0.3.0
fetch() {
  mkdir -p "$WIN_CACHE/src" "$SRC"
  [ -f "$WIN_CACHE/src/gumbo-parser-0.3.0.tgz" ] ||
    (cd "$WIN_CACHE/src" && npm pack -q gumbo-parser@0.3.0 >/dev/null)
  tar -xzf "$WIN_CACHE/src/gumbo-parser-0.3.0.tgz" -C "$SRC" --strip-components=3 package/deps/gumbo-parser
  grep -q 'AC_INIT(\[gumbo\], \[0.10.1\]' "$SRC/configure.ac"
}
build() {
  mkdir -p "$PREFIX/bin" "$PREFIX/lib/pkgconfig" "$PREFIX/include"
  $MINGW-gcc-posix -O2 -std=gnu99 -shared -o "$PREFIX/bin/libgumbo-1.dll" \
    -Wl,--out-implib,"$PREFIX/lib/libgumbo.dll.a" -Isrc src/*.c
  cp src/gumbo.h src/tag_enum.h "$PREFIX/include/"
  cat >"$PREFIX/lib/pkgconfig/gumbo.pc" <<PC
prefix=$PREFIX
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: Gumbo
Description: A fully-compliant HTML5 parsing library.
Version: 0.10.1
Libs: -L\${libdir} -lgumbo
Cflags: -I\${includedir}
PC
}
