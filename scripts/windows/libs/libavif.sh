# libavif.dll: dav1d decodes, libaom (linked in) encodes, libyuv converts to
# RGB. Debian 12's libavif
# 0.11.1-1+deb12u1: the archive here serves its .dsc and Debian's patches but
# not its upstream tarball. That tarball is upstream's tag v0.11.1 as
# `git archive` gives it (byte for byte the .dsc's checksum), so the library's
# part of that tag lies beside this recipe, made in upstream's repository with
#   git archive --prefix=libavif-0.11.1/ v0.11.1 CMakeLists.txt LICENSE \
#     libavif.pc.cmake cmake contrib include src | gzip -n -9
# and Debian's patches are applied to it.
SRC_PKG=libavif
VERSION=0.11.1-1+deb12u1
LINKS="dav1d aom libyuv"
fetch() {
  local deb=libavif_$VERSION.debian.tar.xz dsc=$WIN_CACHE/src/libavif_$VERSION.dsc sum p
  mkdir -p "$WIN_CACHE/src" "$SRC"
  if [ ! -f "$WIN_CACHE/src/$deb" ]; then
    # Fails on the upstream tarball, after the .dsc and Debian's tarball have come.
    (cd "$WIN_CACHE/src" && apt-get source -q --download-only "libavif=$VERSION" >/dev/null 2>&1) || true
  fi
  sum=$(awk -v f="$deb" '/^Checksums-Sha256:/{on=1; next} /^[^ ]/{on=0} on && $3 == f {print $1}' "$dsc")
  [ -n "$sum" ] || { echo "no checksum of $deb in $dsc"; return 1; }
  echo "$sum  $WIN_CACHE/src/$deb" | sha256sum -c --quiet
  echo "8c0708533e91f6075b10b283037672c7686b7cf07022ea8201c38bd4698e0107  $LIBS_DIR/libavif-0.11.1.tar.gz" |
    sha256sum -c --quiet
  tar -xzf "$LIBS_DIR/libavif-0.11.1.tar.gz" -C "$SRC" --strip-components=1
  tar -xJf "$WIN_CACHE/src/$deb" -C "$SRC"
  for p in $(grep -v '^#' "$SRC/debian/patches/series"); do
    patch -s -p1 -d "$SRC" <"$SRC/debian/patches/$p"
  done
}
build() {
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) -DAVIF_CODEC_DAV1D=ON -DAVIF_CODEC_AOM=ON \
    -DAVIF_CODEC_AOM_DECODE=OFF -DAVIF_CODEC_AOM_ENCODE=ON -DAVIF_BUILD_APPS=OFF \
    -DAVIF_BUILD_TESTS=OFF -DAVIF_BUILD_EXAMPLES=OFF -DAVIF_ENABLE_WERROR=OFF
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
