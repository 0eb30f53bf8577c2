#!/usr/bin/env bash
# Installs what scripts/bench.sh needs besides the build: the reference scripts' Python packages and zsh.
# A list of its own, so that CI and the tests never pull them in. Idempotent and quiet.
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" python3 python3-pil python3-numpy python3-scipy zsh
