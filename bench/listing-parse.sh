#!/usr/bin/env bash
# Times the reading and filtering of a 100,000-line listing in both styles
# (bench/listing-parse-bench.cpp), release build, and prints the medians.
#   bench/listing-parse.sh [RUNS] [LINES]
set -euo pipefail
. "$(dirname "$0")/lib/bench.sh"
release_build listing-parse-bench
build/release/bench/listing-parse-bench "${1:-15}" "${2:-100000}"
