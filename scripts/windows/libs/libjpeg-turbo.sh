# libjpeg-62.dll, with its SIMD code (nasm).
SRC_PKG=libjpeg-turbo
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) -DENABLE_STATIC=OFF -DWITH_TURBOJPEG=OFF \
    -DCMAKE_ASM_NASM_COMPILER=nasm
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
