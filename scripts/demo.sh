#!/usr/bin/env bash
# Shows the updater at work in a demo application folder under <build>/demo:
#   1. a staged hot update, with the updater started plainly as a user would
#      (launcher, elevated worker, update, tray program start);
#   2. restart mode while the tray program and a companion program run.
# The tray program is a stand-in that records how it was started. Every run
# starts from a clean demo folder. Like the Windows tool, the taskkill of step 2
# ends every process on this machine whose program is named pvl_*.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
if [[ ! -x "$build/bin/updater" || ! -x "$build/bin/taskkill" || ! -x "$build/bin/start_recorder" ]]; then
  make -C "$top" build BUILD_DIR="$build" >/dev/null
fi
build=$(cd "$build" && pwd)
bin=$build/bin
sevenzip=$(command -v 7zz) || { echo "7zz is missing: run make setup" >&2; exit 1; }

demo=$build/demo
app="$demo/Pavlune Client"
tray="$app/PavluneSystemTrayIcon.exe"
work=$(mktemp -d)
held=()
cleanup() {
  for pid in "${held[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# --- helpers ---

write_version() {  # folder version: the application's own files
  local dir=$1 v=$2
  mkdir -p "$dir/plugins" "$dir/data"
  echo "Pavlune main library, version $v" >"$dir/Pavlune.dll"
  echo "sync plugin, version $v" >"$dir/plugins/pvl_sync.dll"
  if [[ $v -ge 2 ]]; then echo "chat plugin, version $v" >"$dir/plugins/pvl_chat.dll"; fi
  if [[ $v -eq 1 ]]; then echo "user settings (not part of any update)" >"$dir/data/settings.ini"; fi
}

stage_hot_update() {  # version: zip of that version's files, MD5 sidecar beside it
  local v=$1 src=$work/v$1
  write_version "$src" "$v"
  rm -f "$src/data/settings.ini"
  (cd "$src" && "$sevenzip" a -tzip "$work/v$v.zip" . >/dev/null)
  mkdir -p "$app/update"
  cp "$work/v$v.zip" "$app/update/pkg"
  md5sum "$app/update/pkg" | cut -c1-32 | tr -d '\n' >"$app/update/dat"
}

manifest() {  # path and MD5 of every application file, the updater's own left out
  (cd "$app" && find . -type f ! -path './log/*' ! -path './update/*' ! -path './7z/*' \
     ! -name '*.record' ! -name updater ! -name taskkill ! -name 'PavluneSystemTrayIcon.exe' \
     ! -name 'pvl_*.exe' -printf '%P\n' | sort | while read -r f; do
       printf '%s %s\n' "$f" "$(md5sum <"$f" | cut -c1-32)"; done)
}

show_changes() {  # before-manifest after-manifest
  join -a1 -a2 -e - -o 0,1.2,2.2 <(sort "$1") <(sort "$2") | while read -r f old new; do
    if [[ $old == - ]]; then echo "  added     $f"
    elif [[ $new == - ]]; then echo "  removed   $f"
    elif [[ $old != "$new" ]]; then echo "  replaced  $f: $(head -c 60 "$app/$f")"
    fi
  done
}

running_from() {  # pids whose executable is the given file
  local want pid
  want=$(readlink -f "$1")
  for pid in /proc/[0-9]*; do
    [[ $(readlink "$pid/exe" 2>/dev/null) == "$want" ]] && echo "${pid#/proc/}"
  done
  return 0
}

wait_for_worker() {  # lines the tray record must reach
  local want=$1
  for _ in $(seq 1 300); do
    local have=0
    [[ -f "$tray.record" ]] && have=$(wc -l <"$tray.record")
    if ((have >= want)) && [[ -z $(running_from "$app/updater") ]]; then return 0; fi
    sleep 0.1
  done
  echo "the worker did not finish within 30 s" >&2
  exit 1
}

show_log() {  # the updater's own lines of the newest INFO log; 7-Zip's output is left out
  local log
  log=$(ls -t "$app"/log/UPDATER_I_*.LOG | head -n1)
  echo "Log ($(basename "$log")), 7-Zip's own output left out:"
  grep -aE '^[IWEF][0-9]{8} .* (main|logger|hot_update_installer)\.cpp:[0-9]+\] ' "$log" |
    sed -E 's/^([IWEF])[0-9]{8} [0-9:.]+ +[0-9]+ [^]]*\] /  \1 /'
}

show_tray_starts() {  # first line of the record to show
  echo "Tray program started (arguments | working folder):"
  tail -n +"$1" "$tray.record" | while IFS=$'\t' read -r _ cwd args; do
    echo "  PavluneSystemTrayIcon.exe ${args//$'\t'/ } | $cwd"
  done
}

show_update_folder() {
  local left
  left=$(ls -A "$app/update" 2>/dev/null | tr '\n' ' ')
  echo "update/ now holds: ${left:-nothing}"
}

# --- the demo application folder, version 1 ---

rm -rf "$demo"
mkdir -p "$app/7z"
cp "$bin/updater" "$app/updater"
cp "$bin/taskkill" "$app/taskkill"
ln -s "$sevenzip" "$app/7z/pvl_7z.exe"
cp "$bin/start_recorder" "$tray"
write_version "$app" 1
echo "Demo application folder: $app"
echo "  the updater, 7z/pvl_7z.exe (7-Zip $("$sevenzip" | sed -n 's/^7-Zip (z) \([^ ]*\).*/\1/p')), taskkill, a tray program stand-in, version-1 files"
echo

# --- 1. hot update, started as a user would ---

echo "== 1. Hot update: version 2 staged in update/, updater started without arguments"
stage_hot_update 2
manifest >"$work/before1"
# The worker inherits the launcher's standard streams; glog copies every line
# there, and the log file holds them all the same.
(cd "$app" && "$app/updater" >"$work/output1" 2>&1)
echo "Launcher ended with $? (the elevated worker goes on by itself)"
wait_for_worker 1
show_log
echo "Files changed:"
manifest >"$work/after1"
show_changes "$work/before1" "$work/after1"
show_tray_starts 1
show_update_folder
echo

# --- 2. restart mode while the tray program and a companion run ---

echo "== 2. Restart mode: version 3 staged, tray program and pvl_sync.exe running, updater restart"
stage_hot_update 3
cp "$bin/start_recorder" "$app/pvl_sync.exe"
(cd "$app" && START_RECORDER_HOLD_MS=600000 exec "$tray") &
held+=($!)
disown
(cd "$app" && START_RECORDER_HOLD_MS=600000 exec "$app/pvl_sync.exe") &
held+=($!)
disown
sleep 0.3
echo "Running: PavluneSystemTrayIcon.exe (pid ${held[0]}), pvl_sync.exe (pid ${held[1]})"
manifest >"$work/before2"
first_new=$(($(wc -l <"$tray.record") + 1))
started=$(date +%s%N)
(cd "$app" && "$app/updater" restart >"$work/output2" 2>&1)
wait_for_worker "$first_new"
echo "Worker done after $(( ($(date +%s%N) - started) / 1000000 )) ms (1500 ms of it the restart pause)"
for i in 0 1; do
  # An ended child stays a zombie until reaped; only a live one has an executable.
  if [[ -n $(readlink "/proc/${held[$i]}/exe" 2>/dev/null) ]]; then state="still running"
  else state="ended by taskkill"; fi
  echo "  pid ${held[$i]}: $state"
done
show_log
echo "Files changed:"
manifest >"$work/after2"
show_changes "$work/before2" "$work/after2"
show_tray_starts "$first_new"
show_update_folder
