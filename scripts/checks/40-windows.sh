#!/usr/bin/env bash
# The extension library as a Windows DLL: cross-built with MinGW-w64 (SQLite
# and libpq from Debian's source packages, cached under the build folder),
# loaded under Wine by the Windows test host and compared reply by reply
# with the Linux library; scripts/windows/wine-check.sh says what it proves.
set -euo pipefail
exec scripts/windows/wine-check.sh
