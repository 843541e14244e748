#!/usr/bin/env bash
# The layers hold: nothing below the GUI layer includes a header of the GUI or audio
# layers, and only the GUI layer sees the main window.
set -u
cd "$1"
core="common tables jobs net rules pictures sqlite_export service"
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
[ $status -eq 0 ] && echo "layers hold"
exit $status
