# zlib1.dll. Debian's source drops zlib's win32 folder (makefile and resource
# file), so the library's files are compiled here directly.
SRC_PKG=zlib
build() {
  mkdir -p "$PREFIX/bin" "$PREFIX/lib/pkgconfig" "$PREFIX/include"
  $MINGW-gcc-posix -O2 -Wall -shared -o "$PREFIX/bin/zlib1.dll" -Wl,--out-implib,"$PREFIX/lib/libz.dll.a" \
    adler32.c compress.c crc32.c deflate.c gzclose.c gzlib.c gzread.c gzwrite.c infback.c \
    inffast.c inflate.c inftrees.c trees.c uncompr.c zutil.c
  cp zlib.h zconf.h "$PREFIX/include/"
  cat >"$PREFIX/lib/pkgconfig/zlib.pc" <<PC
prefix=$PREFIX
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: zlib
Description: zlib compression library
Version: 1.2.13
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
PC
}
