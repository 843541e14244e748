# Qt Core, Gui, Widgets, Network, Test and the Windows platform plugin, built
# for win32-g++ against Debian's host Qt 6.4.2 tools (moc, rcc, uic).
SRC_PKG=qt6-base
build() {
  # Debian drops the non-free wintab headers, so tablet input is left out;
  # direct2d stays on: without it 6.4.2's Windows plugin does not link.
  cmake -S "$SRC" -B "$BUILD" $(cmake_cross_args) \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_openssl=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF -DFEATURE_system_md4c=OFF \
    -DFEATURE_pkg_config=OFF
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
