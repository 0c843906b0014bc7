#!/usr/bin/env bash
# The Python client and the chart page:
#  - the client's tests against a sample-market server (from the source tree);
#  - the client installed by pip from clients/python, offline, into a scratch
#    folder, and its command line run from there;
#  - the web target (the chart library fetched once by npm) and the chart page
#    in headless chromium, with a screenshot in $BUILD_DIR/chart-test/.
set -euo pipefail
root=$PWD
build=$root/${BUILD_DIR:-build}
export BUILD_DIR=$build
scripts/ensure-packages.sh python3-pandas python3-pip chromium fonts-wqy-microhei
command -v npm >/dev/null || scripts/ensure-packages.sh npm
scratch=$(mktemp -d /tmp/histdata-clients.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

echo "-- Python client"
PYTHONPATH=$root/clients/python:$root/clients/python/tests \
  /usr/bin/python3 -m unittest discover -s clients/python/tests -t clients/python/tests

echo "-- pip install clients/python"
/usr/bin/python3 -m pip install --quiet --no-index --no-deps --target "$scratch/site" clients/python 2>&1 |
  grep -v "Running pip as the 'root' user" || true
PYTHONPATH=$scratch/site "$scratch/site/bin/histdata-get" --help | grep -q 'usage: histdata-get'

echo "-- chart page"
cmake --build "$build" --target web
# The browser driver, fetched again only when its lock file changes.
mkdir -p "$build/web-test"
if ! cmp -s web/test/package-lock.json "$build/web-test/package-lock.json" ||
   [ ! -d "$build/web-test/node_modules/playwright-core" ]; then
  cp web/test/package.json web/test/package-lock.json "$build/web-test/"
  (cd "$build/web-test" && npm ci --ignore-scripts --no-audit --no-fund)
fi
WEB_TEST_MODULES=$build/web-test/node_modules node --test web/test/chart.test.mjs
