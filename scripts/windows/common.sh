# shellcheck shell=bash
# Shared by the Windows build scripts: where things live and how a library
# from Debian's source is fetched, keyed and built. Sourced, never run.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WIN_CACHE=${SKARVEL_WINDOWS_CACHE:-$HOME/.cache/skarvel-windows}
MINGW=x86_64-w64-mingw32
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake
JOBS=${SKARVEL_WINDOWS_JOBS:-2}
LIBS_DIR=$ROOT/scripts/windows/libs
# Build order: a library comes after those it links.
LIB_ORDER=(zlib libpng libjpeg-turbo giflib libdeflate libwebp dav1d aom libyuv libavif sqlite3
  gumbo curl googletest cpp-httplib ffmpeg qtbase qtmultimedia)

log() { printf '[windows] %s\n' "$*" >&2; }

# True when every file of a source package's .dsc is in the source cache.
have_source() {
  local dsc=$WIN_CACHE/src/${1}_${2#*:}.dsc f
  [ -f "$dsc" ] || return 1
  for f in $(awk '/^Files:/{on=1; next} /^[^ ]/{on=0} on{print $3}' "$dsc"); do
    [ -f "$WIN_CACHE/src/$f" ] || return 1
  done
}

# The newest version of a source package that the archive still serves, its
# files downloaded into the source cache (a mirror may lag behind the index).
src_version() {
  local pkg=$1 ver
  mkdir -p "$WIN_CACHE/src"
  for ver in $(apt-cache showsrc "$pkg" 2>/dev/null | awk '/^Version:/{print $2}' | sort -Vru); do
    if have_source "$pkg" "$ver" || { [ -z "${SKARVEL_WINDOWS_OFFLINE:-}" ] &&
      (cd "$WIN_CACHE/src" && apt-get source -q --download-only "$pkg=$ver" >/dev/null 2>&1 &&
        have_source "$pkg" "$ver"); }; then
      echo "$ver"
      return 0
    fi
  done
  return 1
}

# What a library's build depends on: its source version, its recipe, these
# toolchain file and the cross compiler.
toolchain_id() {
  { "$MINGW-g++-posix" --version | head -1; cat "$TOOLCHAIN"; } |
    sha256sum | cut -c1-10
}

# Unpacks a Debian source package (with Debian's patches) into $2.
fetch_source() {
  local pkg=$1 dest=$2 ver
  ver=$(src_version "$pkg") || { log "no source package $pkg (is the deb-src entry there?)"; return 1; }
  local upstream=${ver#*:}
  rm -rf "$dest"
  dpkg-source -q -x "$WIN_CACHE/src/${pkg}_${upstream}.dsc" "$dest" >/dev/null
}

# Common CMake arguments for a library built with the cross toolchain.
cmake_cross_args() {
  echo -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DSKARVEL_WINDOWS_PREFIX="$DEPS" -DCMAKE_PREFIX_PATH="$DEPS" \
    -DBUILD_SHARED_LIBS=ON
}

# Autotools/Makefile builds: the cross compilers and where the dependencies are.
export_cross_env() {
  export CC=$MINGW-gcc-posix CXX=$MINGW-g++-posix AR=$MINGW-ar RANLIB=$MINGW-ranlib
  export RC=$MINGW-windres WINDRES=$MINGW-windres STRIP=$MINGW-strip
  export CPPFLAGS="-I$DEPS/include" LDFLAGS="-L$DEPS/lib"
  export PKG_CONFIG_LIBDIR="$DEPS/lib/pkgconfig" PKG_CONFIG_PATH=""
}
