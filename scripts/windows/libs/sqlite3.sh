# libsqlite3-0.dll. Debian's source is SQLite's full tree: its amalgamation
# (sqlite3.c) is generated with the host compiler and tclsh, then compiled
# for Windows.
SRC_PKG=sqlite3
build() {
  mkdir -p "$BUILD" && cd "$BUILD"
  "$SRC/configure" --disable-tcl --disable-readline >/dev/null
  make -j"$JOBS" sqlite3.c sqlite3.h
  mkdir -p "$PREFIX/bin" "$PREFIX/lib/pkgconfig" "$PREFIX/include"
  $MINGW-gcc-posix -O2 -shared -o "$PREFIX/bin/libsqlite3-0.dll" -Wl,--out-implib,"$PREFIX/lib/libsqlite3.dll.a" \
    -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_MATH_FUNCTIONS \
    -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_JSON1 sqlite3.c
  cp sqlite3.h sqlite3ext.h "$PREFIX/include/" 2>/dev/null || cp sqlite3.h "$PREFIX/include/"
  cat >"$PREFIX/lib/pkgconfig/sqlite3.pc" <<PC
prefix=$PREFIX
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: SQLite
Description: SQL database engine
Version: $(awk -F'"' '/define SQLITE_VERSION /{print $2}' sqlite3.h)
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
PC
}
