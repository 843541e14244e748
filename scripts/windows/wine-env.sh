# shellcheck shell=bash
# Sourced: the Wine environment the Windows executables run in. Needs SYSROOT
# (the joined library prefix) and BUILD (the Windows build folder).
export WINEPREFIX=${SKARVEL_WINEPREFIX:-$BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No Mono or Gecko installer dialogs when the prefix is made.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# DLLs are found through PATH: the libraries, Qt and the compiler's runtime.
_gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPATH="Z:${SYSROOT//\//\\}\\bin;Z:${_gcc_dir//\//\\};Z:\\usr\\x86_64-w64-mingw32\\lib"
unset _gcc_dir

# Makes the prefix once (the first start takes a while and must not race).
wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w
  fi
}
