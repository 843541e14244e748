# libyuv.dll: the YUV-to-RGB conversion libavif hands its pictures to, as in
# Debian's own libavif build (without it libavif's slower C conversion rounds
# differently, by up to two levels).
SRC_PKG=libyuv
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args)
  # The shared library alone: the conversion tools and the static copy are not needed.
  cmake --build "$BUILD" -j"$JOBS" --target yuv_shared
  mkdir -p "$PREFIX/bin" "$PREFIX/lib"
  cp "$BUILD/libyuv.dll" "$PREFIX/bin/"
  cp "$BUILD/libyuv.dll.a" "$PREFIX/lib/"
  cp -r include "$PREFIX/"
}
