#!/usr/bin/env bash
# Compiles the Windows side of the platform stand-ins, the log, the settings
# search and the ISAPI binding with the MinGW-w64 cross compiler, one
# translation unit at a time (nothing is linked: the stores' and the HTTP
# client's libraries have no MinGW build in Debian). Not part of CI.
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

# settings/http_get.cpp is left out: it needs libcurl's headers.
required=(platform/os/*.cpp platform/rtl/clock.cpp log/*.cpp settings/ini_file.cpp settings/zetini.cpp
          settings/registry_ini.cpp platform/isapi/ecb_host.cpp service/isapi_exports_main.cpp)

compile() {
  "$cxx" "${flags[@]}" -c "$1" -o "$out/unit.o" 2>"$out/errors"
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

if [ "${1:-}" = --all ]; then
  echo "--- other library sources (informational)"
  for f in $(ls platform/rtl/*.cpp platform/engine/*.cpp platform/engine/*/*.cpp \
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
  echo "$failed file(s) do not compile for Windows"
  exit 1
fi
echo "all ${#required[@]} files compile for Windows"
