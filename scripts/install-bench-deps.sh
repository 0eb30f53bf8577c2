#!/usr/bin/env bash
# Installs what scripts/bench.sh needs besides the build: the reference scripts' Python packages and zsh.
# Kept apart from install-deps.sh so that CI and the tests never pull them in. Idempotent and quiet.
set -euo pipefail

packages=(python3 python3-pil python3-numpy python3-scipy zsh)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
