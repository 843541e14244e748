# Qt Multimedia with its Windows backend (WASAPI sink, Media Foundation), built
# against the cross-built qtbase. Its sources include seven mingw headers and
# one Qt header with capitals (Windows' file system ignores case; Linux's does not), so lower-case
# files get capitalised aliases; its WMF finder asks for capitalised libraries,
# so those are named directly. Its shaders are compiled by the host's qsb (Debian's
# qt6-shadertools), whose CMake package is taken from the host Qt.
SRC_PKG=qt6-multimedia
LINKS="qtbase"
build() {
  sed -i 's|^find_package(Qt6 COMPONENTS ShaderTools)$|find_package(Qt6ShaderToolsTools CONFIG REQUIRED PATHS /usr/lib/x86_64-linux-gnu/cmake NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)|' \
    src/multimedia/CMakeLists.txt
  grep -q '^find_package(Qt6ShaderToolsTools' src/multimedia/CMakeLists.txt
  local alias=$WORK/mingw-aliases h
  mkdir -p "$alias"
  for h in Dbt Functiondiscoverykeys_devpkey InitGuid Mferror Mfidl Mfreadwrite Wmcodecdsp QUrl; do
    echo "#include <$(echo "$h" | tr 'A-Z' 'a-z').h>" >"$alias/$h.h"
  done
  local lib=/usr/$MINGW/lib wmf=()
  for pair in STRMIIDS:strmiids AMSTRMID:amstrmid DMOGUIDS:dmoguids UUID:uuid MSDMO:msdmo \
    OLE32:ole32 OLEAUT32:oleaut32 MF:mf MFUUID:mfuuid MFPLAT:mfplat MFCORE:mfcore PROPSYS:propsys; do
    wmf+=("-DWMF_${pair%%:*}_LIBRARY=$lib/lib${pair#*:}.a")
  done
  # shellcheck disable=SC2046
  cmake -S . -B "$BUILD" $(cmake_cross_args) "${wmf[@]}" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CXX_FLAGS="-I$alias" -DCMAKE_C_FLAGS="-I$alias" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_spatialaudio=OFF \
    -DFEATURE_ffmpeg=OFF -DFEATURE_gstreamer=OFF
  cmake --build "$BUILD" -j"$JOBS"
  cmake --install "$BUILD"
}
