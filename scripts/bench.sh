#!/usr/bin/env bash
# Whole-process benchmarks: each job as a user waits for it (start-up, children, page faults), run
# alternately with what the user would otherwise run (A B A B ..., one warm-up pair first), and a table
# of the medians, their ratio against the target, and the peak resident memory of mivora's process tree.
# Most rows compare wall times; the CPU-time row compares the user + system time of the whole tree.
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
# at_once <count> <command...>: the command <count> times side by side, "{}" in its arguments replaced
# by the run's number; fails when any of them fails.
at_once=$work/at_once.sh
cat >"$at_once" <<'SCRIPT'
count=$1
shift
pids=()
for ((i = 1; i <= count; i++)); do
  "${@//\{\}/$i}" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
SCRIPT

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

# One run under the timer: "<wall microseconds> <peak KiB> <CPU microseconds>".
run() {
  local result
  result=$("$@")
  set -- $result
  if [ "$3" != 0 ]; then
    echo "bench.sh: a run ended with status $3" >&2
    exit 1
  fi
  echo "$1 $2 $4"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

rows=()
# measure <job> <reference> <ratio target> <peak target MiB or -> <function A> <function B> [cpu]
# Compares wall times, or with "cpu" the CPU times of the two process trees.
measure() {
  local job=$1 reference=$2 target=$3 peak_target=$4 a=$5 b=$6 field=1
  [ "${7:-}" = cpu ] && field=3
  local a_times=() b_times=() peak=0 i line
  "$a" >/dev/null
  "$b" >/dev/null
  for ((i = 0; i < rounds; i++)); do
    line=$("$a")
    a_times+=("$(echo "$line" | cut -d' ' -f$field)")
    [ "$(echo "$line" | cut -d' ' -f2)" -gt "$peak" ] && peak=$(echo "$line" | cut -d' ' -f2)
    line=$("$b")
    b_times+=("$(echo "$line" | cut -d' ' -f$field)")
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
# Pinned to one processor there is no thread to be had; the single-threaded CPU time is that of a pinned run.
pinned_add_a() { in_icons run "$timer" taskset -c 0 "$mivora" collections add bench "Flat Icon" "$work/flat.png"; }
pinned_add_b() { in_icons run "$timer" taskset -c 0 "$python" "$peers/normalise_icon.py" "$work/flat.png" "$icons/tmp/normalised.png"; }
# Eight at once, as an agent restyling a Dock runs them: eight icons into one collection.
eight_add_a() { in_icons run "$timer" bash "$at_once" 8 "$mivora" collections add bench "Flat Icon {}" "$work/flat.png"; }
eight_add_b() { in_icons run "$timer" bash "$at_once" 8 "$python" "$peers/normalise_icon.py" "$work/flat.png" "$icons/tmp/normalised-{}.png"; }
extract_a() { in_icons run "$timer" "$mivora" extract-icon Iconic --out "$icons/tmp/extracted.png" --size 1024; }
extract_b() { run "$timer" zsh -c true; }

measure '`mivora --version`' '`/bin/true`' 2.0 - version_a version_b
measure '`apps --json` over 1,000 bundles' 'Python plistlib script' 0.15 16 apps_a apps_b
measure '`collections add` of a 1024² flat-background icon' 'Pillow + SciPy script' 0.10 32 add_a add_b
measure '`collections add` pinned to one core (`taskset -c 0`)' 'the script pinned the same way' 0.10 32 pinned_add_a pinned_add_b
measure 'CPU time (user + system) of `collections add`' 'the same pinned to one core' 1.2 32 add_a pinned_add_a cpu
measure 'eight `collections add` at once' 'eight scripts at once' 0.10 32 eight_add_a eight_add_b
measure '`extract-icon` to 1024 px from an eight-PNG ICNS' '`zsh -c true`' 10 - extract_a extract_b

echo "Medians of $rounds alternating rounds after a warm-up; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)."
echo
echo "| job | mivora | reference | ratio | target | peak (mivora tree) | met |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
