#!/usr/bin/env bash
# Benchmark of the updater's worker applying a staged hot update over an
# installed version, against the same work done by hand (md5sum of the package,
# then 7zz x with the worker's arguments), alternating, five runs each, on two
# packages:
# - large: about 300 MB in 5,000 files, every installed folder replaced whole;
# - small: 20,000 files of about 100 bytes in 200 folders, half of them
#   replacing installed files and half new, beside 5,000 installed files the
#   package leaves alone, so that every file is merged on its own.
# The work by hand ends with a sync: the worker writes the new files to the disk
# before they count, and so must any reference that a power cut cannot empty.
# Prints per package the median ratio of the time until the worker has started
# the tray program to the work by hand into a fresh folder, which is the least
# the worker can need (target: at most 1.10 large, 1.3 small); for the large one
# also against the work by hand over the installed files (target: at most 1.00
# until the tray program starts, 1.05 for the whole process). Then the worker's
# median wall time with nothing staged. CASES picks the packages.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$top/build}" && pwd)
runs=${RUNS:-5}
cases=${CASES:-large small}
sevenzip=$(command -v 7zz)

# BENCH_TMP picks the file system (default: beside the build, on disk).
work=$(mktemp -d "${BENCH_TMP:-$build}/bench-updater.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# Two versions of each package's paths. Large: the same 5,000 paths, 300 MB each,
# of data that does not compress, as installed binaries mostly do not. Small:
# per folder 50 files both versions hold, 50 only the update and 25 only the
# installed version.
python3 - "$work" $cases <<'EOF'
import os, random, sys
work, cases = sys.argv[1], sys.argv[2:]

def write(version, relative, data):
    path = os.path.join(work, version, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)

rng = random.Random(7)
sizes = [rng.randint(1024, 119 * 1024) for _ in range(5000)]
scale = 300 * 1024 * 1024 / sum(sizes)
for version in ("v1", "v2") if "large" in cases else ():
    for i, size in enumerate(sizes):
        write("large/" + version, "module%02d/file%04d.bin" % (i % 50, i),
              os.urandom(int(size * scale)))

for folder in range(200 if "small" in cases else 0):
    for i in range(125):
        relative = "module%03d/file%03d.txt" % (folder, i)
        if i < 75:
            write("small/v1", relative, os.urandom(rng.randint(40, 60)).hex().encode())
        if i < 50 or i >= 75:
            write("small/v2", relative, os.urandom(rng.randint(40, 60)).hex().encode())
EOF
for c in $cases; do
  (cd "$work/$c/v2" && "$sevenzip" a -tzip -mx1 "$work/$c/package.zip" . >/dev/null)
  echo "$c package: $(du -m "$work/$c/package.zip" | cut -f1) MB," \
    "$(find "$work/$c/v2" -type f | wc -l) files"
done

# The package in use: its folder, installed application, digest and a file the
# update replaces.
use_case() {
  case_dir="$work/$1"
  app="$case_dir/Pavlune Client"
  md5=$(md5sum "$case_dir/package.zip" | cut -c1-32)
  if [[ $1 == large ]]; then probe=module07/file0007.bin; else probe=module007/file007.txt; fi
}

reset_app() {  # the installed version 1 plus the updater's own files
  rm -rf "$app"
  cp -a "$case_dir/v1" "$app"
  mkdir -p "$app/7z" "$app/update"
  cp "$build/bin/updater" "$app/updater"
  ln -s "$sevenzip" "$app/7z/pvl_7z.exe"
  cp "$build/bin/start_recorder" "$app/PavluneSystemTrayIcon.exe"
}

stage() {
  cp "$case_dir/package.zip" "$app/update/pkg"
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
  cmp -s "$app/$probe" "$case_dir/v2/$probe" ||
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
    sync
    rm update/pkg update/dat
  )
  end=$(now)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

# One untimed round of each package first: the machine's first use of this much
# memory is slow.
for c in $cases; do
  use_case "$c"
  worker_run >/dev/null
  by_hand_run "$app" >/dev/null
done

declare -A workers trays hands freshes
for i in $(seq 1 "$runs"); do
  for c in $cases; do
    use_case "$c"
    run=$(worker_run)
    read -r t w <<<"$run"
    h=$(by_hand_run "$app")
    # The same into a fresh folder, as the worker extracts.
    f=$(by_hand_run "$app/update/staging")
    workers[$c]+="$w "
    trays[$c]+="$t "
    hands[$c]+="$h "
    freshes[$c]+="$f "
    echo "run $i $c: tray started after ${t} ms, worker ${w} ms, by hand ${h} ms," \
      "by hand into a fresh folder ${f} ms (ratio tray start / fresh $(ratio "$t" "$f"))"
  done
done

# Median of the ratios of each run's figures in lists $1 and $2.
median_ratio() {
  local -a a b
  read -ra a <<<"$1"
  read -ra b <<<"$2"
  for j in "${!a[@]}"; do ratio "${a[$j]}" "${b[$j]}"; echo; done | median
}

for c in $cases; do
  echo "$c: median tray start: $(tr ' ' '\n' <<<"${trays[$c]}" | grep . | median) ms," \
    "worker: $(tr ' ' '\n' <<<"${workers[$c]}" | grep . | median) ms," \
    "by hand: $(tr ' ' '\n' <<<"${hands[$c]}" | grep . | median) ms," \
    "by hand into a fresh folder: $(tr ' ' '\n' <<<"${freshes[$c]}" | grep . | median) ms"
  if [[ $c == large ]]; then target=1.10; else target=1.3; fi
  # The worker keeps the installed files until the new ones are complete, so it
  # extracts into fresh space as this reference does; by hand over the installed
  # files reuses their space at once (and cannot roll back).
  echo "$c: median ratio tray start / by hand into a fresh folder:" \
    "$(median_ratio "${trays[$c]}" "${freshes[$c]}") (target <= $target)"
  if [[ $c == large ]]; then
    echo "$c: median ratio tray start / by hand:" \
      "$(median_ratio "${trays[$c]}" "${hands[$c]}") (target <= 1.00)"
    echo "$c: median ratio worker / by hand:" \
      "$(median_ratio "${workers[$c]}" "${hands[$c]}") (target <= 1.05)"
    echo "$c: median ratio worker / by hand into a fresh folder:" \
      "$(median_ratio "${workers[$c]}" "${freshes[$c]}")"
  fi
done

idle=()
use_case "${cases%% *}"
reset_app
for i in $(seq 1 "$runs"); do
  start=$(now)
  (cd "$app" && ./updater runas >/dev/null 2>&1)
  idle+=($((($(now) - start) / 1000000)))
  sleep 0.2
done
echo "median worker wall time with nothing staged: $(printf '%s\n' "${idle[@]}" | median) ms"
