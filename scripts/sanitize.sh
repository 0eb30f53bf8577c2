#!/usr/bin/env bash
# The whole test suite once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# in build-sanitize/ (not part of CI: it doubles the run time).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
flags="-fsanitize=address,undefined -fno-omit-frame-pointer"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIVORA_BUILD_BENCH=OFF \
  -DMIVORA_STATIC_DEPENDENCIES=OFF -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build build-sanitize -j "$(nproc)"
# Leak reports are off: the tool exits through exit() with its once-computed state alive.
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)" --timeout 300
