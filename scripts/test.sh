#!/usr/bin/env bash
# The whole check: install dependencies, build, run every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300
