# GoogleTest and GoogleMock as static libraries (no DLL export questions).
SRC_PKG=googletest
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) -DBUILD_SHARED_LIBS=OFF -Dgtest_disable_pthreads=OFF
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
