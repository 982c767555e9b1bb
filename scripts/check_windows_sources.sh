#!/usr/bin/env bash
# Compiles every Windows-only source with the MinGW-w64 cross compiler, so that
# the Windows side of the platform layer is proven to build. Qt's headers are
# platform-neutral, so the host's copy serves for a syntax check.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++}
mapfile -t files < <(cd "$top" && git ls-files -co --exclude-standard -- '*_win.cpp' | sort)
if ((${#files[@]} == 0)); then
  echo "no Windows-only sources"
  exit 0
fi
qt_flags=$(pkg-config --cflags Qt5Core Qt5Gui Qt5Network Qt5Widgets | sed 's/-I/-isystem /g')
status=0
for f in "${files[@]}"; do
  if "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror $qt_flags -I "$top/src/common" "$top/$f"; then
    echo "ok $f"
  else
    echo "FAILED $f"
    status=1
  fi
done
exit $status
