#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Idempotent and quiet.
# Given package names, installs those instead (scripts/install-bench-deps.sh does).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libcli11-dev nlohmann-json3-dev libplist-dev libicu-dev
  libcurl4-openssl-dev libcpp-httplib-dev uuid-dev
  libcairo2-dev libpng-dev libdeflate-dev libjpeg62-turbo-dev libopenjp2-7-dev libicns-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zsh fish bash attr libnss-wrapper
  clang libclang-rt-14-dev llvm
  util-linux e2fsprogs
)
if [ $# -gt 0 ]; then packages=("$@"); fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
