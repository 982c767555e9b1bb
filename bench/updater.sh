#!/usr/bin/env bash
# Benchmark of the updater's worker: a staged hot update of about 300 MB in 5,000
# files applied over an installed version, against the same work done by hand
# (md5sum of the package, then 7zz x with the worker's arguments), alternating,
# five runs each. Prints the median ratio of the time until the worker has
# started the tray program (target: at most 1.00) and of the whole process
# (target: at most 1.05). Also prints the worker's median wall time with nothing
# staged.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$top/build}" && pwd)
runs=${RUNS:-5}
sevenzip=$(command -v 7zz)

# BENCH_TMP picks the file system (default: beside the build, on disk).
work=$(mktemp -d "${BENCH_TMP:-$build}/bench-updater.XXXXXX")
trap 'rm -rf "$work"' EXIT
app="$work/Pavlune Client"
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# Two versions of the same 5,000 paths, 300 MB each; data that does not compress,
# as installed binaries mostly do not.
python3 - "$work" <<'EOF'
import os, random, sys
work = sys.argv[1]
rng = random.Random(7)
sizes = [rng.randint(1024, 119 * 1024) for _ in range(5000)]
scale = 300 * 1024 * 1024 / sum(sizes)
for version in ("v1", "v2"):
    for i, size in enumerate(sizes):
        folder = os.path.join(work, version, "module%02d" % (i % 50))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "file%04d.bin" % i), "wb") as f:
            f.write(os.urandom(int(size * scale)))
EOF
(cd "$work/v2" && "$sevenzip" a -tzip -mx1 "$work/package.zip" . >/dev/null)
md5=$(md5sum "$work/package.zip" | cut -c1-32)
echo "package: $(du -m "$work/package.zip" | cut -f1) MB, $(find "$work/v2" -type f | wc -l) files"

reset_app() {  # the installed version 1 plus the updater's own files
  rm -rf "$app"
  cp -a "$work/v1" "$app"
  mkdir -p "$app/7z" "$app/update"
  cp "$build/bin/updater" "$app/updater"
  ln -s "$sevenzip" "$app/7z/pvl_7z.exe"
  cp "$build/bin/start_recorder" "$app/PavluneSystemTrayIcon.exe"
}

stage() {
  cp "$work/package.zip" "$app/update/pkg"
  printf '%s' "$md5" >"$app/update/dat"
}

now() { date +%s%N; }

# Milliseconds of one worker run applying the staged update: until the tray
# program started (as its stand-in recorded), then until the worker ended.
worker_run() {
  local start end record tray
  reset_app
  stage
  sync
  start=$(now)
  (cd "$app" && ./updater runas >/dev/null 2>&1)
  end=$(now)
  [[ ! -e "$app/update/pkg" ]] || { echo "the worker left the package" >&2; exit 1; }
  cmp -s "$app/module07/file0007.bin" "$work/v2/module07/file0007.bin" ||
    { echo "the worker did not apply the update" >&2; exit 1; }
  record="$app/PavluneSystemTrayIcon.exe.record"
  for _ in $(seq 1 100); do [[ -s "$record" ]] && break; sleep 0.1; done
  tray=$(cut -f1 "$record" | head -n1)
  [[ -n "$tray" ]] || { echo "the worker did not start the tray program" >&2; exit 1; }
  echo "$((tray - start / 1000000)) $(((end - start) / 1000000))"
}

by_hand_run() {  # milliseconds of the same work by hand, extracting into folder $1
  local start end
  reset_app
  stage
  sync
  start=$(now)
  (
    cd "$app"
    [[ $(md5sum update/pkg | cut -c1-32) == "$(cat update/dat)" ]]
    "$app/7z/pvl_7z.exe" -sccUTF-8 -bsp1 x "$app/update/pkg" "-o$1" -aoa >/dev/null
    rm update/pkg update/dat
  )
  end=$(now)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

# One untimed round first: the machine's first use of this much memory is slow.
worker_run >/dev/null
by_hand_run "$app" >/dev/null

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

ratios=()
tray_ratios=()
fresh_ratios=()
workers=()
trays=()
hands=()
for i in $(seq 1 "$runs"); do
  run=$(worker_run)
  read -r t w <<<"$run"
  h=$(by_hand_run "$app")
  # The same into a fresh folder, as the worker extracts.
  f=$(by_hand_run "$app/update/staging")
  workers+=("$w")
  trays+=("$t")
  hands+=("$h")
  ratios+=("$(ratio "$w" "$h")")
  tray_ratios+=("$(ratio "$t" "$h")")
  fresh_ratios+=("$(ratio "$w" "$f")")
  echo "run $i: tray started after ${t} ms (ratio ${tray_ratios[-1]}), worker ${w} ms" \
    "(ratio ${ratios[-1]}), by hand ${h} ms, by hand into a fresh folder ${f} ms" \
    "(ratio ${fresh_ratios[-1]})"
done
echo "median tray start: $(printf '%s\n' "${trays[@]}" | median) ms," \
  "worker: $(printf '%s\n' "${workers[@]}" | median) ms," \
  "by hand: $(printf '%s\n' "${hands[@]}" | median) ms"
echo "median ratio tray start / by hand: $(printf '%s\n' "${tray_ratios[@]}" | median)" \
  "(target <= 1.00)"
echo "median ratio worker / by hand: $(printf '%s\n' "${ratios[@]}" | median) (target <= 1.05)"
# The worker keeps the installed files until the new ones are complete, so it
# extracts into fresh space as this reference does; by hand over the installed
# files reuses their space at once (and cannot roll back).
echo "median ratio worker / by hand into a fresh folder: $(printf '%s\n' "${fresh_ratios[@]}" | median)"

idle=()
reset_app
for i in $(seq 1 "$runs"); do
  start=$(now)
  (cd "$app" && ./updater runas >/dev/null 2>&1)
  idle+=($((($(now) - start) / 1000000)))
  sleep 0.2
done
echo "median worker wall time with nothing staged: $(printf '%s\n' "${idle[@]}" | median) ms"
