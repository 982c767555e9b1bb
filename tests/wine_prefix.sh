#!/bin/sh
# wine_prefix.sh PREFIX: makes the Wine prefix the Windows tests run in, once.
# Its temporary folder, made here, holds a blank and Chinese letters, as a
# user's may; the end-to-end tests point it at a folder of each test's own. Wine's null graphics
# driver gives windows and the clipboard a desktop without an X display.
set -e
export WINEPREFIX="$1" WINEDEBUG=-all
wine=${WINE:-/usr/lib/wine/wine64}
temp='C:\users\Public\Pavlune 临时'
ready="$WINEPREFIX/.pavlune-ready-2"
if [ ! -f "$ready" ]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1
    for name in TEMP TMP; do
        "$wine" reg add 'HKCU\Environment' /v $name /t REG_SZ /d "$temp" /f >/dev/null
    done
    mkdir -p "$WINEPREFIX/drive_c/users/Public/Pavlune 临时"
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null
    "${WINESERVER:-/usr/lib/wine/wineserver64}" -w
    touch "$ready"
fi
echo "Wine prefix ready: $WINEPREFIX"
