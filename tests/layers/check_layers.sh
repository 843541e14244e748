#!/usr/bin/env bash
# The layers hold: nothing below the GUI layer includes a header of the GUI or audio
# layers, only the GUI layer sees the main window, and every source of the GUI
# layer needs it: a unit that reaches no widget or Qt Gui header belongs below.
#   check_layers.sh SOURCE_DIR [QT_INCLUDE_DIRS]
# QT_INCLUDE_DIRS: Qt's include folders (a ;-list holding .../QtCore); without it the
# last check is left out.
set -u
cd "$1"
core="common tables net rules pictures sqlite_export jobs service"
status=0
hits=$(grep -rnE '#include[[:space:]]*["<](gui|audio)/' $core --include='*.h' --include='*.cpp' || true)
if [ -n "$hits" ]; then
  echo "Core or service files include the GUI or audio layer:"; echo "$hits"; status=1
fi
hits=$(grep -rnE '#include[[:space:]]*["<](QtWidgets|QtGui|QtMultimedia)[/>]' $core --include='*.h' --include='*.cpp' || true)
if [ -n "$hits" ]; then
  echo "Core or service files include a Qt GUI module:"; echo "$hits"; status=1
fi
hits=$(grep -rln 'gui/main_window.h' --include='*.h' --include='*.cpp' . | grep -vE '^\./(gui|tests/gui|bench|build[^/]*)/' || true)
if [ -n "$hits" ]; then
  echo "Files outside the GUI layer include the main window's header:"; echo "$hits"; status=1
fi

qt_root=""
IFS=';' read -ra qt_dirs <<<"${2:-}"
for dir in "${qt_dirs[@]}"; do
  [ "$(basename "$dir")" = QtCore ] && qt_root=$(dirname "$dir")
done
# Whether a file includes a widget or Qt Gui header, itself or through the GUI layer's headers.
declare -A reaches_gui
needs_gui() {
  local file=$1 header
  [ -n "${reaches_gui[$file]+set}" ] && return "${reaches_gui[$file]}"
  reaches_gui[$file]=1 # an include cycle reaches nothing new
  while read -r header; do
    case "$header" in
      QtGui/* | QtWidgets/*) reaches_gui[$file]=0 ;;
      gui/*) needs_gui "$header" && reaches_gui[$file]=0 ;;
      *) [ -e "$qt_root/QtGui/$header" ] || [ -e "$qt_root/QtWidgets/$header" ] && reaches_gui[$file]=0 ;;
    esac
    [ "${reaches_gui[$file]}" = 0 ] && break
  done < <(sed -nE 's/^[[:space:]]*#include[[:space:]]*["<]([^">]+)[">].*/\1/p' "$file")
  return "${reaches_gui[$file]}"
}
if [ -n "$qt_root" ] && [ -d "$qt_root/QtGui" ] && [ -d gui ]; then
  free=""
  for file in $(find gui -name '*.cpp' | sort); do
    needs_gui "$file" || free="$free$file"$'\n'
  done
  if [ -n "$free" ]; then
    echo "Files of the GUI layer that need no widget or Qt Gui header (they belong below it):"
    printf '%s' "$free"; status=1
  fi
fi
[ $status -eq 0 ] && echo "layers hold"
exit $status
