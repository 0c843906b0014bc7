#!/usr/bin/env bash
# Runs every fuzz target for 30 seconds (scripts/fuzz.sh): the readers of
# request fields, times, dates and numbers, settings files, the registry
# export and loader files must survive any bytes and keep their properties.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/fuzz.sh all "${FUZZ_SECONDS:-30}"
