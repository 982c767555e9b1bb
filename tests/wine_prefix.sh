#!/bin/sh
# wine_prefix.sh PREFIX: makes the Wine prefix the Windows tests run in, once.
# Its temporary folder holds a blank and Chinese letters, as a user's may; the
# end-to-end tests point it at a folder of each test's own.
set -e
export WINEPREFIX="$1" WINEDEBUG=-all
wine=${WINE:-/usr/lib/wine/wine64}
temp='C:\users\Public\Pavlune 临时'
if [ ! -f "$WINEPREFIX/.pavlune-ready" ]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1
    for name in TEMP TMP; do
        "$wine" reg add 'HKCU\Environment' /v $name /t REG_SZ /d "$temp" /f >/dev/null
    done
    "${WINESERVER:-/usr/lib/wine/wineserver64}" -w
    touch "$WINEPREFIX/.pavlune-ready"
fi
echo "Wine prefix ready: $WINEPREFIX"
