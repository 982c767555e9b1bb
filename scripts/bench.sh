#!/usr/bin/env bash
# Runs every benchmark (build/bin/bench_* programs and bench/*.sh scripts), or
# only those whose name contains the optional filter argument.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
filter=${2:-}
for b in "$build"/bin/bench_* "$top"/bench/*.sh; do
  [[ -e "$b" ]] || continue
  [[ -z "$filter" || "$(basename "$b")" == *"$filter"* ]] || continue
  echo "== $(basename "$b")"
  BUILD_DIR="$build" "$b"
done
