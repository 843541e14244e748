# libgif-7.dll: giflib's makefile is for Unix, so the library's eight files
# are compiled here directly.
SRC_PKG=giflib
build() {
  local cc=$MINGW-gcc-posix
  mkdir -p "$PREFIX/bin" "$PREFIX/lib" "$PREFIX/include"
  $cc -O2 -Wall -shared -o "$PREFIX/bin/libgif-7.dll" -Wl,--out-implib,"$PREFIX/lib/libgif.dll.a" \
    dgif_lib.c egif_lib.c gifalloc.c gif_err.c gif_font.c gif_hash.c openbsd-reallocarray.c quantize.c
  cp gif_lib.h "$PREFIX/include/"
}
