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
"$mivora" completions zsh | head || true  # head closes the pipe early

# --- Icons on a sample app, in light and dark mode ---------------------------
# The desktop application's privileged helper pair is played by our Linux
# stand-ins, behind a sudo that just runs the command; killall only records.
lib="$MIVORA_SYSTEM_ROOT/usr/local/lib/mivora"
mkdir -p "$lib" "$MIVORA_SYSTEM_ROOT/usr/bin" "$sandbox/icons"
install -m 755 standins/helper.sh "$lib/helper.sh"
install -m 755 build/standins/fileicon "$lib/fileicon"
printf '#!/bin/sh\n[ "$1" = -n ] && shift\nexec "$@"\n' > "$sandbox/bin/sudo"
printf '#!/bin/sh\necho "killall $*" >> "%s"\n' "$sandbox/killall.log" > "$MIVORA_SYSTEM_ROOT/usr/bin/killall"
chmod 755 "$sandbox/bin/sudo" "$MIVORA_SYSTEM_ROOT/usr/bin/killall"

app="$MIVORA_SYSTEM_ROOT/Applications/Notes.app"
mkdir -p "$app/Contents"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>com.example.notes</string>
<key>CFBundleVersion</key><string>4.2</string></dict></plist>\n' > "$app/Contents/Info.plist"
# Two 32 x 32 PNG icons: a yellow one for light mode, a dark blue one for dark mode.
base64 -d > "$sandbox/icons/light.png" <<<'iVBORw0KGgoAAAANSUhEUgAAACAAAAAgCAYAAABzenr0AAAAMElEQVR42u3OIQEAAAgDMOLQPwWZMBDjZmJ+tdOXVAICAgICAgICAgICAgICAunAA/JApKaVQg24AAAAAElFTkSuQmCC'
base64 -d > "$sandbox/icons/dark.png" <<<'iVBORw0KGgoAAAANSUhEUgAAACAAAAAgCAYAAABzenr0AAAAL0lEQVR42u3OIQEAAAgDsMd5Evo3ghiYifmlnf0UAQEBAQEBAQEBAQEBAQGB78ABB01UW++2tP4AAAAASUVORK5CYII='

# The system appearance: "AppleInterfaceStyle" in the global preferences.
appearance() {
  step "appearance $1 (AppleInterfaceStyle in ~/Library/Preferences/.GlobalPreferences.plist)"
  mkdir -p "$HOME/Library/Preferences"
  local style=''
  [ "$1" = dark ] && style='<key>AppleInterfaceStyle</key><string>Dark</string>'
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>%s</dict></plist>\n' "$style" \
    > "$HOME/Library/Preferences/.GlobalPreferences.plist"
}
# What is on the bundle: the Icon\r file, the Finder information, which image it is.
bundle() {
  step "ls -b Notes.app; getfattr -d -e hex Notes.app"
  ls -b "$app"
  getfattr -d -e hex "$app" 2>/dev/null || true
  for icon in light dark; do
    if cmp -s "$app/Icon"$'\r' "$sandbox/icons/$icon.png"; then echo "(Icon\\r holds $icon.png)"; fi
  done
}
cache() {
  run list
  step "cat icon-cache.json"
  cat "$HOME/Library/Application Support/com.quartelmisko.Mivora/icon-cache.json" 2>/dev/null || echo '(none)'
  echo
}

appearance light
run set-icon Notes "$sandbox/icons/light.png" --appearance light --no-refresh
bundle
run set-icon Notes "$sandbox/icons/dark.png" --appearance dark --no-refresh
cache
appearance dark
run set-icon Notes "$sandbox/icons/dark.png" --appearance dark
bundle
run remove-dark-icon Notes
bundle
run remove-icon Notes --no-refresh --json
bundle
cache
step "cat killall.log (the refresh restarted the Dock)"
cat "$sandbox/killall.log" 2>/dev/null || echo '(none)'
