#!/usr/bin/env bash
# Cross-builds the extension library for 64-bit Windows on Debian:
#   scripts/windows/build-dll.sh [BUILD_DIR]        (default $BUILD_DIR, else build)
# gives BUILD_DIR/windows/cmake/platform/isapi/histdata-isapi.dll, one file
# exporting only GetExtensionVersion, HttpExtensionProc and
# TerminateExtension, and isapi-testhost.exe beside it.
#
# SQLite and libpq are built from the Debian source packages of the versions
# the Linux build uses (libsqlite3-dev, libpq-dev), fetched with apt-get
# source through a private deb-src list of the machine's own mirrors. The
# sources and both libraries are kept under BUILD_DIR/windows and made once;
# a later run fetches and builds nothing of them again.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=$(realpath -m "${1:-${BUILD_DIR:-build}}")
win=$build/windows
src=$win/src
deps=$win/deps
jobs=${JOBS:-2}
host=x86_64-w64-mingw32

scripts/ensure-packages.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 dpkg-dev tcl make cmake ninja-build libsqlite3-dev libpq-dev
mkdir -p "$src" "$deps/include" "$deps/lib"

# apt-get source through deb-src entries made from the machine's deb
# entries, with lists and cache of its own: the system's apt setup is left
# as it is.
apt_opts=()
prepare_apt() {
  local apt=$win/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts"
  : >"$apt/sources.list"
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$apt/sources.list"
  fi
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:.*$/Types: deb-src/' "$f" >"$apt/parts/$(basename "$f")"
  done
  for f in /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && sed -n 's/^deb \(.*\)/deb-src \1/p' "$f" >"$apt/parts/$(basename "$f")"
  done
  apt_opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
            -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
            -o APT::Sandbox::User=root -qq)
  apt-get "${apt_opts[@]}" update
}

# fetch PACKAGE VERSION: the unpacked source (Debian's patches applied);
# prints its folder.
fetch() {
  local pkg=$1 version=$2 stamp=$src/.$1-$2
  if [ ! -f "$stamp" ]; then
    [ ${#apt_opts[@]} -gt 0 ] || prepare_apt >&2
    rm -rf "$src/$pkg-"*/
    (cd "$src" && apt-get "${apt_opts[@]}" source "$pkg=$version" >&2)
    ls -d "$src/$pkg-"*/ | head -n1 >"$stamp"
  fi
  cat "$stamp"
}

source_version() { dpkg-query -W -f='${source:Version}' "$1"; }

# SQLite: the amalgamation, made from the source by its own build, compiled
# with the options Debian builds its library with.
sqlite_version=$(source_version libsqlite3-dev)
if [ ! -f "$deps/.sqlite3-$sqlite_version" ]; then
  dir=$(fetch sqlite3 "$sqlite_version")
  rm -rf "$win/sqlite" && mkdir -p "$win/sqlite"
  (cd "$win/sqlite" && "$dir/configure" >configure.log 2>&1 && make sqlite3.c >make.log 2>&1)
  mapfile -t options < <(grep -o -- '-DSQLITE_[A-Z0-9_]*\(=[0-9]*\)\?' "$dir/debian/rules" | sort -u)
  "$host-gcc-posix" -O2 "${options[@]}" -c "$win/sqlite/sqlite3.c" -o "$win/sqlite/sqlite3.o"
  rm -f "$deps/lib/libsqlite3.a"
  "$host-ar" rcs "$deps/lib/libsqlite3.a" "$win/sqlite/sqlite3.o"
  cp "$win/sqlite/sqlite3.h" "$deps/include/"
  touch "$deps/.sqlite3-$sqlite_version"
fi

# libpq: the client library alone, static, without the version resource of
# its own DLL. Its objects are made for that DLL and mark some symbols for
# export; those marks are dropped so that the extension library exports its
# three entry points only.
pq_version=$(source_version libpq-dev)
if [ ! -f "$deps/.libpq-$pq_version" ]; then
  dir=$(fetch postgresql-15 "$pq_version")
  rm -rf "$win/libpq" && mkdir -p "$win/libpq"
  (cd "$win/libpq" &&
   "$dir/configure" --host=$host CC=$host-gcc-posix --without-readline --without-zlib \
     --without-icu --without-openssl >configure.log 2>&1 &&
   for d in src/include src/common src/port src/interfaces/libpq; do
     make -C "$d" -j"$jobs" >>make.log 2>&1
   done)
  lib=$win/libpq/src/interfaces/libpq
  objects=()
  for o in "$lib"/*.o; do
    case "$(basename "$o")" in win32ver.o) ;; *) objects+=("$o") ;; esac
  done
  # libpq brings a few pthread functions of its own, over its own types; they
  # are renamed, in it and in its callers, so that they do not meet the
  # compiler's thread library.
  "$host-nm" --defined-only "$lib/pthread-win32.o" |
    awk '$2 == "T" {print $3, "pq_" $3}' >"$win/libpq/pthread.syms"
  rm -f "$deps/lib/libpq.a" "$win/libpq/libpq-static.a"
  "$host-ar" rcs "$win/libpq/libpq-static.a" "${objects[@]}"
  for a in "$win/libpq/libpq-static.a" "$win/libpq/src/common/libpgcommon_shlib.a" \
           "$win/libpq/src/port/libpgport_shlib.a"; do
    out=$(basename "$a")
    [ "$out" = libpq-static.a ] && out=libpq.a
    "$host-objcopy" -R .drectve --redefine-syms="$win/libpq/pthread.syms" "$a" "$deps/lib/$out"
  done
  cp "$dir/src/interfaces/libpq/libpq-fe.h" "$dir/src/include/postgres_ext.h" \
     "$win/libpq/src/include/pg_config_ext.h" "$deps/include/"
  touch "$deps/.libpq-$pq_version"
fi

# Optimised as the Linux build is (-O2), without its debug information.
cmake -S "$root" -B "$win/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DHISTDATA_WINDOWS_DEPS="$deps" >/dev/null
cmake --build "$win/cmake" --target histdata-isapi isapi-testhost -j"$jobs"

dll=$win/cmake/platform/isapi/histdata-isapi.dll
exports=$("$host-objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          awk 'NR > 1 && NF {print $NF}' | sort | tr '\n' ' ')
if [ "$exports" != "GetExtensionVersion HttpExtensionProc TerminateExtension " ]; then
  echo "histdata-isapi.dll exports: $exports (expected the three entry points only)" >&2
  exit 1
fi
echo "$dll"
