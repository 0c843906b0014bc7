#!/usr/bin/env bash
# Compiles the Windows side of the platform stand-ins, the log, the settings
# search and the ISAPI binding with the MinGW-w64 cross compiler, one
# translation unit at a time, then links the pieces that need no outside
# library into a DLL to show that every Windows function they call is
# found, and links the test host program. The extension library itself is
# not linked: the stores' and the HTTP client's libraries have no MinGW
# build in Debian. Not part of CI.
#   scripts/check-windows.sh          the files that must compile; fails if one does not
#   scripts/check-windows.sh --all    also tries every other library source and lists
#                                     which compile (informational)
# Needs the package g++-mingw-w64-x86-64. Its -posix variant is used: the
# code needs std::mutex, which GCC 12's win32 thread model lacks.
set -uo pipefail
cd "$(dirname "$0")/.."

cxx=x86_64-w64-mingw32-g++-posix
if ! command -v "$cxx" >/dev/null; then
  echo "$cxx not found: apt-get install g++-mingw-w64-x86-64" >&2
  exit 2
fi
flags=(-std=c++20 -Wall -Wextra -Werror -I.)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# GoogleTest's headers alone, without the rest of the host's include folder.
mkdir -p "$out/include"
ln -s /usr/include/gtest "$out/include/gtest"

# settings/http_get.cpp is left out: it needs libcurl's headers.
required=(platform/os/*.cpp platform/rtl/*.cpp log/*.cpp settings/ini_file.cpp
          settings/zetini.cpp settings/registry_ini.cpp platform/isapi/ecb_host.cpp
          service/isapi_exports_main.cpp platform/isapi/testhost_main.cpp
          tests/support/isapi_driver.cpp tests/platform/os/os_win_test.cpp
          tests/settings/zetini_win_test.cpp
          tests/log/zetlog_win_test.cpp)
# Linked together into one DLL: everything in it must resolve.
linked=(platform/os/*.cpp platform/rtl/*.cpp log/*.cpp settings/ini_file.cpp)

object() { echo "$out/obj/${1//\//_}.o"; }
mkdir -p "$out/obj"
compile() {
  "$cxx" "${flags[@]}" -isystem "$out/include" -c "$1" -o "$(object "$1")" 2>"$out/errors"
}

failed=0
for f in "${required[@]}"; do
  if compile "$f"; then
    echo "ok    $f"
  else
    echo "FAIL  $f"
    sed 's/^/      /' "$out/errors" | head -20
    failed=$((failed + 1))
  fi
done

objects=()
for f in "${linked[@]}"; do objects+=("$(object "$f")"); done
if "$cxx" -shared -Wl,--no-undefined -o "$out/pieces.dll" "${objects[@]}" -lversion \
     2>"$out/errors"; then
  echo "ok    ${#linked[@]} files of platform/os, platform/rtl, log, settings linked into one DLL (-lversion)"
else
  echo "FAIL  link of ${linked[*]}"
  sed 's/^/      /' "$out/errors" | head -20
  failed=$((failed + 1))
fi

# The test host that loads an extension library as a web server would.
if "$cxx" -o "$out/isapi-testhost.exe" "$(object platform/isapi/testhost_main.cpp)" \
     "$(object tests/support/isapi_driver.cpp)" 2>"$out/errors"; then
  echo "ok    isapi-testhost.exe linked"
else
  echo "FAIL  link of isapi-testhost.exe"
  sed 's/^/      /' "$out/errors" | head -20
  failed=$((failed + 1))
fi

if [ "${1:-}" = --all ]; then
  echo "--- other library sources (informational)"
  for f in $(ls platform/engine/*.cpp platform/engine/*/*.cpp platform/http/*.cpp \
                settings/*.cpp service/*.cpp data/*.cpp generators/*.cpp 2>/dev/null |
             grep -v '_main\.cpp$'); do
    case " ${required[*]} " in *" $f "*) continue ;; esac
    if compile "$f"; then
      echo "ok    $f"
    else
      echo "no    $f: $(grep -m1 -E 'error' "$out/errors" | cut -c1-160)"
    fi
  done
fi

if [ $failed -gt 0 ]; then
  echo "$failed check(s) failed"
  exit 1
fi
echo "all ${#required[@]} files compile for Windows"
