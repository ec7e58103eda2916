#!/usr/bin/env bash
# Times the reading and filtering of a 100,000-line listing in both styles
# (bench/listing_parse_bench.cpp), release build, and prints the medians.
#   bench/listing_parse.sh [RUNS] [LINES]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release --target listing-parse-bench >/dev/null
build/release/tools/listing-parse-bench "${1:-15}" "${2:-100000}"
