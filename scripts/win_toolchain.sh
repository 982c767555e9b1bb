#!/usr/bin/env bash
# Builds the Windows toolchain for the cross build from Debian's own source
# packages: OpenSSL 3 (static libraries), a static Qt 5 (Core, Gui, Network
# with OpenSSL linked in, Widgets, the Windows platform plugin), glog, gflags
# and GoogleTest for MinGW-w64, and the Windows 7-Zip command-line program. Each component lands in a cache outside the build
# folders, in a folder keyed by its source version and by this script, so a
# second run only checks and returns, and `make clean` keeps it.
#
# Usage: scripts/win_toolchain.sh PATHS_FILE
#   Writes PATHS_FILE, a CMake fragment naming the cached prefixes, for
#   cmake/mingw-w64.cmake. Installs wine64, the MinGW-w64 compilers and a
#   deb-src entry when run as root (otherwise prints what to run).
# Environment: PVL_WIN_CACHE (default ~/.cache/pavlune-win), JOBS.
set -euo pipefail

paths_file=${1:?usage: $0 PATHS_FILE}
cache=${PVL_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/pavlune-win}
jobs=${JOBS:-$(nproc)}
here=$(cd "$(dirname "$0")" && pwd)
triplet=x86_64-w64-mingw32

log() { printf '[windows toolchain] %s\n' "$*" >&2; }

# --- Debian packages and the deb-src entry -----------------------------------
packages=(wine64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64 dpkg-dev cmake make g++ perl python3 xz-utils)
missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
has_deb_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}
if ((${#missing[@]})) || ! has_deb_src; then
  if [[ $(id -u) -ne 0 ]]; then
    log "missing packages: ${missing[*]:-(none)}; deb-src entry: $(has_deb_src && echo present || echo missing)"
    log "run this script as root once to install them"
    exit 1
  fi
  if ! has_deb_src; then
    # The same mirrors and suites as the binary entries, for source packages.
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        >/etc/apt/sources.list.d/pavlune-deb-src.sources
    else
      grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
        >/etc/apt/sources.list.d/pavlune-deb-src.list
    fi
  fi
  log "installing: ${missing[*]:-(none)}, refreshing package lists"
  apt-get update -qq
  if ((${#missing[@]})); then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
fi

# The win32 thread model of GCC 12 has no std::thread: every compiler call
# goes to the POSIX-thread compilers, also for Qt's qmake-driven build, which
# only knows the plain prefixed names.
wrappers="$cache/bin"
mkdir -p "$wrappers"
for tool in gcc g++; do
  ln -sfn "$(command -v $triplet-$tool-posix)" "$wrappers/$triplet-$tool"
done
export PATH="$wrappers:$PATH"

# Newest first: a mirror may list a version it no longer serves (a security
# update replaced by the next one), and the next older one is then built.
source_versions() {
  apt-cache showsrc --only-source "$1" 2>/dev/null |
    awk '/^Version:/ {print $2}' | sort -Vr | uniq
}

# Fetches and unpacks a source package into a fresh folder; prints its path.
unpack() {
  local package=$1 version=$2 work=$3
  rm -rf "$work" && mkdir -p "$work/dl"
  (cd "$work/dl" && apt-get source -qq --download-only "$package=$version") \
    >"$work/fetch.log" 2>&1 || { cat "$work/fetch.log" >&2; return 1; }
  dpkg-source -x "$work"/dl/*.dsc "$work/src" >>"$work/fetch.log" 2>&1 ||
    { cat "$work/fetch.log" >&2; return 1; }
  echo "$work/src"
}

cmake_cross() {
  local src=$1 prefix=$2
  shift 2
  local log="$src/../build.log"
  cmake -S "$src" -B "$src/_build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_PREFIX_PATH="$cache/prefixes" "$@" >"$log" 2>&1 &&
    cmake --build "$src/_build" -j "$jobs" >>"$log" 2>&1 &&
    cmake --install "$src/_build" >>"$log" 2>&1
}

# Only the static libraries and headers: the programs link them into one
# executable, and Qt finds the trusted roots in the Windows certificate store.
build_openssl() {
  local src=$1 prefix=$2
  (cd "$src" && ./Configure mingw64 no-shared no-module no-engine no-tests \
    --cross-compile-prefix=$triplet- --prefix="$prefix" --libdir=lib \
    >"$src/../configure.log" 2>&1 &&
    make -j "$jobs" build_libs >"$src/../build.log" 2>&1 &&
    make install_dev >>"$src/../build.log" 2>&1)
}

# OpenSSL is linked in (no DLL to ship); a static libcrypto needs the Windows
# libraries it calls named after it.
build_qt() {
  local src=$1 prefix=$2 ssl
  ssl=$(readlink -f "$cache/prefixes/openssl")
  (cd "$src" && ./configure -prefix "$prefix" -opensource -confirm-license \
    -release -static -static-runtime -platform linux-g++ \
    -xplatform win32-g++ -device-option CROSS_COMPILE=$triplet- \
    -nomake examples -nomake tests -no-opengl -no-direct2d -no-dbus -no-icu \
    -openssl-linked OPENSSL_INCDIR="$ssl/include" \
    OPENSSL_LIBS="-L$ssl/lib -lssl -lcrypto -lws2_32 -lgdi32 -lcrypt32 -luser32 -ladvapi32" \
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype \
    -qt-harfbuzz -no-sql-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql \
    -no-feature-sql -no-feature-testlib -no-feature-concurrent \
    -no-feature-xml -no-feature-vulkan -no-feature-tabletevent \
    >"$src/../configure.log" 2>&1 &&
    make -j "$jobs" >"$src/../build.log" 2>&1 &&
    make install >/dev/null 2>&1)
}

build_gflags() {
  cmake_cross "$1" "$2" -DBUILD_STATIC_LIBS=ON -DBUILD_TESTING=OFF \
    -DREGISTER_INSTALL_PREFIX=OFF
}

build_glog() {
  cmake_cross "$1" "$2" -DWITH_GFLAGS=ON -DWITH_GTEST=OFF -DWITH_UNWIND=OFF \
    -DBUILD_TESTING=OFF -DGFLAGS_NOTHREADS=OFF \
    -Dgflags_DIR="$cache/prefixes/gflags/lib/cmake/gflags"
}

build_googletest() {
  cmake_cross "$1" "$2" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

build_7zip() {
  local src=$1 prefix=$2
  (cd "$src/CPP/7zip/Bundles/Alone2" &&
    make -j "$jobs" -f makefile.gcc IS_MINGW=1 MSYSTEM=1 DISABLE_RAR=1 \
      CC=$triplet-gcc CXX=$triplet-g++ RC="$triplet-windres" \
      >"$src/../build.log" 2>&1)
  mkdir -p "$prefix"
  cp "$src/CPP/7zip/Bundles/Alone2/_o/7zz.exe" "$prefix/7zz.exe"
}

# Builds one component unless its keyed folder is complete; the prefix is
# then linked as $cache/prefixes/NAME for the later components and the paths file.
# The key: the source version and a digest of how the component is built
# (its build function, the shared CMake steps, the compiler set-up and the
# keyed folders of the components it is built against, named after PACKAGE).
component() {
  local name=$1 package=$2 versions version recipe key dep dir=
  versions=$(source_versions "$package")
  [[ -n "$versions" ]] || { log "no source package $package"; exit 1; }
  recipe=$(declare -f "build_$name")
  if [[ "$recipe" == *cmake_cross* ]]; then
    recipe+=$(declare -f cmake_cross; cat "$here/../cmake/mingw-w64.cmake")
  fi
  for dep in "${@:3}"; do
    recipe+=$(readlink -f "$cache/prefixes/$dep")
  done
  recipe=$(sha256sum <<<"$recipe" | cut -c1-10)
  mkdir -p "$cache/prefixes"
  # A complete build of any listed version is used as it is.
  for version in $versions; do
    key="$name-$version-$recipe"
    if [[ -f "$cache/$key/complete" ]]; then
      dir="$cache/$key"
      log "$name: cached ($key)"
      break
    fi
  done
  if [[ -z "$dir" ]]; then
    local started=$SECONDS src=
    for version in $versions; do
      key="$name-$version-$recipe"
      dir="$cache/$key"
      rm -rf "$dir"
      if src=$(unpack "$package" "$version" "$dir/work"); then break; fi
      log "$name: source $version cannot be fetched, trying an older one"
      rm -rf "$dir"
      src=
    done
    [[ -n "$src" ]] || { log "$name: no source version could be fetched"; exit 1; }
    log "$name: building $key"
    if ! "build_$name" "$src" "$dir/prefix"; then
      log "$name: build failed; logs in $dir/work"
      exit 1
    fi
    rm -rf "$dir/work"
    touch "$dir/complete"
    log "$name: built in $((SECONDS - started)) s"
  fi
  ln -sfn "$dir/prefix" "$cache/prefixes/$name"
  # Builds of other versions or recipes are of no further use.
  local other
  for other in "$cache/$name"-*; do
    [[ "$other" == "$dir" || ! -d "$other" ]] || rm -rf "$other"
  done
}

component 7zip 7zip
component gflags gflags
component glog google-glog
component googletest googletest
component openssl openssl
component qt qtbase-opensource-src openssl

mkdir -p "$(dirname "$paths_file")"
cat >"$paths_file" <<EOF
# Written by scripts/win_toolchain.sh: the cached Windows toolchain.
set(PVL_WIN_PREFIXES
  "$(readlink -f "$cache/prefixes/qt")"
  "$(readlink -f "$cache/prefixes/gflags")"
  "$(readlink -f "$cache/prefixes/glog")"
  "$(readlink -f "$cache/prefixes/googletest")"
  "$(readlink -f "$cache/prefixes/openssl")")
set(PVL_WIN_7ZIP "$(readlink -f "$cache/prefixes/7zip")/7zz.exe")
set(PVL_WIN_COMPILER_DIR "$wrappers")
EOF
