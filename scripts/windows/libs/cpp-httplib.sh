# cpp-httplib as a header with a pkg-config file. Windows builds have no SSL:
# the service serves plain HTTP on its own and fetches pages through libcurl,
# so its server side never needs OpenSSL.
SRC_PKG=cpp-httplib
build() {
  mkdir -p "$PREFIX/include" "$PREFIX/lib/pkgconfig"
  cp httplib.h "$PREFIX/include/"
  cat >"$PREFIX/lib/pkgconfig/cpp-httplib.pc" <<PC
prefix=$PREFIX
includedir=\${prefix}/include
Name: cpp-httplib
Description: A C++ HTTP/HTTPS server and client library (header only, no SSL)
Version: 0.11.4
Libs: -lws2_32 -lcrypt32
Cflags: -I\${includedir}
PC
}
