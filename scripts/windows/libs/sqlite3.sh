# libsqlite3-0.dll from Debian's amalgamation-building source (tclsh and the
# host compiler make sqlite3.c first).
SRC_PKG=sqlite3
build() {
  mkdir -p "$BUILD" && cd "$BUILD"
  "$SRC/configure" --host=$MINGW --prefix="$PREFIX" --disable-static --enable-shared \
    --disable-tcl --disable-readline --disable-editline --enable-threadsafe \
    CC=$MINGW-gcc-posix BCC=gcc CFLAGS="-O2 -DSQLITE_ENABLE_COLUMN_METADATA"
  make -j"$JOBS" libsqlite3.la
  make install-libLTLIBRARIES install-includeHEADERS install-pkgconfigDATA
}
