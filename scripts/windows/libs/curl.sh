# libcurl.dll over Windows' own TLS (Schannel) and zlib; no HTTP/2 (nghttp2
# is not built here).
SRC_PKG=curl
LINKS="zlib"
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
    -DCURL_ZLIB=ON -DZLIB_ROOT="$DEPS" -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF -DCURL_DISABLE_LDAP=ON -DCURL_BROTLI=OFF \
    -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DENABLE_MANUAL=OFF
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
