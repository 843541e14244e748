# libaom's AV1 encoder as a static library, linked into libavif.dll (which
# encodes AVIF with it); the decoder is dav1d's job, so it is left out.
SRC_PKG=aom
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) -DBUILD_SHARED_LIBS=OFF -DCONFIG_AV1_DECODER=0 \
    -DENABLE_EXAMPLES=0 -DENABLE_TESTS=0 -DENABLE_TOOLS=0 -DENABLE_DOCS=0 -DENABLE_TESTDATA=0 \
    -DENABLE_NASM=1 -DCONFIG_PIC=1
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
