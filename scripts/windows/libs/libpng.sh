# libpng16.dll.
SRC_PKG=libpng1.6
LINKS="zlib"
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) -DPNG_SHARED=ON -DPNG_STATIC=OFF -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_ROOT="$DEPS"
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
