#!/bin/sh
# wine_run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program under Wine in
# the given Wine prefix, with Wine's own diagnostics off.
export WINEPREFIX="$1"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
exec "${WINE:-/usr/lib/wine/wine64}" "$@"
