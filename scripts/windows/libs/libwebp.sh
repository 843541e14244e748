# libwebp.dll, libwebpdemux.dll and libwebpmux.dll (no tools): WebP decoding,
# encoding and the container reader for animation and alpha.
SRC_PKG=libwebp
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF \
    -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
    -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF -DWEBP_BUILD_LIBWEBPMUX=ON
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
