#!/usr/bin/env bash
# Whole-process benchmarks: each job as a user waits for it (start-up, children, page faults), run
# alternately with what the user would otherwise run (A B A B ..., one warm-up pair first), and a table
# of the medians, their ratio against the target, and the peak resident memory of mivora's process tree.
# Not part of CI.
#
#   scripts/bench.sh [<reference folder>]
#
# The reference scripts and their input makers live outside the project: the folder given, else
# $MIVORA_BENCH_PEERS, else ../shared/bench-peers from the project root. MIVORA_BENCH_ROUNDS sets the
# number of measured rounds (default 15). The release build goes to build-release/.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD
peers=${1:-${MIVORA_BENCH_PEERS:-../shared/bench-peers}}
[ -d "$peers" ] || { echo "bench.sh: no reference folder at $peers" >&2; exit 2; }
peers=$(cd "$peers" && pwd)
rounds=${MIVORA_BENCH_ROUNDS:-15}
python=/usr/bin/python3

scripts/install-deps.sh
scripts/install-bench-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIVORA_BUILD_TESTS=OFF \
  -DMIVORA_BUILD_BENCH=OFF >/dev/null
cmake --build build-release -j "${MIVORA_BENCH_JOBS:-$(nproc)}" >/dev/null
mivora=$project/build-release/mivora

work=$(mktemp -d "${TMPDIR:-/tmp}/mivora-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
timer=$work/process_timer
cc -O2 -o "$timer" bench/whole_process/process_timer.c

# Inputs, made by the reference scripts' own makers.
"$python" "$peers/make_bundles.py" "$work/apps"
"$python" "$peers/make_icons.py" "$work"
# A sandbox with one application carrying the eight-member icon, and one local collection.
icons=$work/icons
bundle=$icons/root/Applications/Iconic.app/Contents
mkdir -p "$bundle/Resources" "$icons/home" "$icons/tmp"
cp "$work/AppIcon.icns" "$bundle/Resources/AppIcon.icns"
cat >"$bundle/Info.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIconFile</key>
	<string>AppIcon</string>
	<key>CFBundleIdentifier</key>
	<string>com.example.iconic</string>
</dict>
</plist>
PLIST
in_apps() { HOME=$work/apps/home MIVORA_SYSTEM_ROOT=$work/apps/root TMPDIR=$work "$@"; }
in_icons() { HOME=$icons/home MIVORA_SYSTEM_ROOT=$icons/root TMPDIR=$icons/tmp "$@"; }
in_icons "$mivora" collections create bench >/dev/null

# One run under the timer: "<microseconds> <peak KiB> <exit status>".
run() {
  local result
  result=$("$@")
  set -- $result
  if [ "$3" != 0 ]; then
    echo "bench.sh: a run ended with status $3" >&2
    exit 1
  fi
  echo "$1 $2"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

rows=()
# measure <job> <reference> <ratio target> <peak target MiB or -> <function A> <function B>
measure() {
  local job=$1 reference=$2 target=$3 peak_target=$4 a=$5 b=$6
  local a_times=() b_times=() peak=0 i line
  "$a" >/dev/null
  "$b" >/dev/null
  for ((i = 0; i < rounds; i++)); do
    line=$("$a")
    a_times+=("${line% *}")
    [ "${line#* }" -gt "$peak" ] && peak=${line#* }
    line=$("$b")
    b_times+=("${line% *}")
  done
  local a_median b_median
  a_median=$(printf '%s\n' "${a_times[@]}" | median)
  b_median=$(printf '%s\n' "${b_times[@]}" | median)
  rows+=("$(awk -v job="$job" -v ref="$reference" -v a="$a_median" -v b="$b_median" -v t="$target" \
    -v p="$peak" -v pt="$peak_target" 'BEGIN {
      ratio = a / b
      mib = p / 1024
      verdict = (ratio <= t && (pt == "-" || mib <= pt)) ? "yes" : "NO"
      limit = "<= " t (pt == "-" ? "" : ", <= " pt " MiB")
      printf "| %s | %.1f ms | %s %.1f ms | %.3f | %s | %.1f MiB | %s |", job, a / 1000, ref, b / 1000, ratio, limit, mib, verdict
    }')")
}

version_a() { run "$timer" "$mivora" --version; }
version_b() { run "$timer" /bin/true; }
apps_a() { in_apps run "$timer" "$mivora" apps --json; }
apps_b() { in_apps run "$timer" "$python" "$peers/list_apps.py"; }
add_a() { in_icons run "$timer" "$mivora" collections add bench "Flat Icon" "$work/flat.png"; }
add_b() { in_icons run "$timer" "$python" "$peers/normalise_icon.py" "$work/flat.png" "$icons/tmp/normalised.png"; }
extract_a() { in_icons run "$timer" "$mivora" extract-icon Iconic --out "$icons/tmp/extracted.png" --size 1024; }
extract_b() { run "$timer" zsh -c true; }

measure '`mivora --version`' '`/bin/true`' 2.0 - version_a version_b
measure '`apps --json` over 1,000 bundles' 'Python plistlib script' 0.15 16 apps_a apps_b
measure '`collections add` of a 1024² flat-background icon' 'Pillow + SciPy script' 0.10 32 add_a add_b
measure '`extract-icon` to 1024 px from an eight-PNG ICNS' '`zsh -c true`' 10 - extract_a extract_b

echo "Medians of $rounds alternating rounds after a warm-up; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)."
echo
echo "| job | mivora | reference | ratio | target | peak (mivora tree) | met |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
