#!/usr/bin/env bash
# Builds mivora and runs it in a throw-away sandboxed macOS tree, printing what happens.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null

sandbox=$(mktemp -d "${TMPDIR:-/tmp}/mivora-demo-XXXXXX")
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox"/{root/Applications,home,tmp,bin}
export HOME="$sandbox/home" TMPDIR="$sandbox/tmp" MIVORA_SYSTEM_ROOT="$sandbox/root"
export PATH="$sandbox/bin:$PATH"
mivora="$PWD/build/mivora"

step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; }
run() { step "mivora $*"; "$mivora" "$@" || printf '(exit status %s)\n' "$?"; }

echo "Sandbox: $sandbox"
run --version
run --help
step "mivora completions zsh | head"
"$mivora" completions zsh | head
