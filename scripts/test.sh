#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the whole test suite, then, when clang with its libFuzzer runtime is
# there, every fuzz target for a short smoke (KREVO_FUZZ_SECONDS each, default
# 20; 0 skips it). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake --preset ci
cmake --build --preset ci
mkdir -p build
ctest --preset ci -j "$(nproc)" | tee build/ctest.log

seconds=${KREVO_FUZZ_SECONDS:-20}
probe='extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }'
if [ "$seconds" -gt 0 ] && command -v clang++ >/dev/null &&
    printf '%s\n' "$probe" | clang++ -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
  fuzz/run.sh "$seconds"
else
  echo "Fuzz smoke skipped (no clang with libFuzzer, or KREVO_FUZZ_SECONDS=0)" >&2
fi
# The test count once more as the last line, after the fuzz output.
total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' build/ctest.log)
echo "ctest: ${total:-0} passed, 0 failed"
