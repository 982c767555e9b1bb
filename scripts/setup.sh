#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need on Debian 12.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  qtbase5-dev libgoogle-glog-dev libgflags-dev libgtest-dev
  7zip                  # the archive tool the runner drives (binary 7zz)
  g++-mingw-w64-x86-64  # compile check of the Windows-only sources
  xdg-utils             # the desktop's default browser (xdg-settings, xdg-mime)
  openssl curl python3  # reference tools for tests and benchmarks
  strace                # the order of a real run's flushes, renames and deletes
  clang libclang-rt-14-dev  # make fuzz: libFuzzer and the sanitizers' runtimes
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
# Node.js may come from another source than Debian (it then bundles npm);
# only the commands matter.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi

if ((${#missing[@]} == 0)); then
  exit 0
fi

cmd="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root: $cmd" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
