#!/usr/bin/env bash
# Configures and builds into build/ (warnings are errors).
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
cmake -S . -B build -G Ninja -DMIVORA_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build -j "$(nproc)"
