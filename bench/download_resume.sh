#!/usr/bin/env bash
# A 512 MB download cut at half (the server holds the connection after half the
# file and the tool is killed), then run again: prints the bytes the second run
# transferred, and that the file came out whole. Uses build/bin/pvl_downloader.exe and tests/transfer/http_server.py.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
tool=$build/bin/pvl_downloader.exe
size=$((512 * 1024 * 1024))
work=$(mktemp -d "${build}/bench_resume-XXXXXX")
trap 'exec 3>&-; rm -rf "$work"' EXIT
head -c "$size" /dev/urandom >"$work/data.bin"

exec 3> >(python3 "$top/tests/transfer/http_server.py" "$work" "$work/requests.log" >"$work/port")
for _ in $(seq 100); do grep -q PORT "$work/port" 2>/dev/null && break; sleep 0.1; done
port=$(awk '{print $2}' "$work/port")
url=http://127.0.0.1:$port/holdonce/data.bin
save=$work/out.bin
# The tools' argument: the job as JSON, each byte rotated left by a key digit, Base64.
key=$(sed -n 's/^constexpr char kDigits\[\] = "\([0-7]*\)";$/\1/p' "$top/src/common/transfer_argument_key.h")
[[ -n $key ]] || { echo "no transfer argument key in transfer_argument_key.h" >&2; exit 1; }
job=$(python3 - "$url" "$save" "$key" <<'PY'
import base64, json, sys
key = sys.argv[3]
raw = json.dumps({"save_filename": sys.argv[2], "url": sys.argv[1]}, indent=4).encode()
out = bytes(((b << int(key[i % 10])) | (b >> (8 - int(key[i % 10])))) & 0xFF
            for i, b in enumerate(raw))
print(base64.b64encode(out).decode())
PY
)

"$tool" "$job" >/dev/null &
pid=$!
while kill -0 "$pid" 2>/dev/null && [[ $(stat -c %s "$save.part" 2>/dev/null || echo 0) -lt $((size / 2)) ]]; do sleep 0.05; done
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
partial=$(stat -c %s "$save.part")

"$tool" "$job" | tail -1
sleep 0.5
cmp -s "$save" "$work/data.bin" && same=yes || same=no
second=$(tail -1 "$work/requests.log")
echo "first run: killed with $partial bytes in the partial file"
echo "second run: request $second"
echo "second run transferred $(awk '{print $NF}' <<<"$second") bytes of $size; file identical: $same"
