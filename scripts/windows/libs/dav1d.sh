# libdav1d.dll, the AV1 decoder libavif reads AVIF with (meson, nasm for its SIMD code).
SRC_PKG=dav1d
build() {
  cat >"$WORK/cross.txt" <<CROSS
[binaries]
c = '$MINGW-gcc-posix'
cpp = '$MINGW-g++-posix'
ar = '$MINGW-ar'
strip = '$MINGW-strip'
windres = '$MINGW-windres'
nasm = 'nasm'
[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
CROSS
  [ -f "$BUILD/build.ninja" ] ||
    meson setup "$BUILD" --cross-file "$WORK/cross.txt" --prefix "$PREFIX" --libdir lib \
      --buildtype release -Ddefault_library=shared -Denable_tools=false -Denable_tests=false
  ninja -C "$BUILD" -j"$JOBS"
  ninja -C "$BUILD" install
}
