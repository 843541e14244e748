# libdeflate.dll; its makefile knows mingw targets.
SRC_PKG=libdeflate
build() {
  export_cross_env
  make -j"$JOBS" CC="$CC" PREFIX="$PREFIX" install
  mkdir -p "$PREFIX/bin"
  mv "$PREFIX/lib/libdeflate.dll" "$PREFIX/bin/"
  # The makefile names its import library the MSVC way; ld looks for .dll.a.
  cp libdeflate.lib "$PREFIX/lib/libdeflate.dll.a"
}
