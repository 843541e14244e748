# libavif.dll: dav1d decodes, libaom (linked in) encodes.
SRC_PKG=libavif
LINKS="dav1d aom"
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) -DAVIF_CODEC_DAV1D=ON -DAVIF_CODEC_AOM=ON \
    -DAVIF_CODEC_AOM_DECODE=OFF -DAVIF_CODEC_AOM_ENCODE=ON -DAVIF_BUILD_APPS=OFF \
    -DAVIF_BUILD_TESTS=OFF -DAVIF_BUILD_EXAMPLES=OFF -DAVIF_ENABLE_WERROR=OFF
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
