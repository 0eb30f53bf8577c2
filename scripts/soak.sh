#!/usr/bin/env bash
# Soak test of concurrent and killed runs, as agents run the tool. Not part of CI.
#
#   scripts/soak.sh [agents [seconds]]   a dozen agent loops at once (default 12 for 300 s): set-icon,
#                                        remove-icon, restore, remove-dark-icon, escape-jail and
#                                        collections add on three applications and a Dock-pinned
#                                        system application, one run in twenty killed at a random
#                                        moment (SIGKILL or SIGTERM); then every store is checked
#                                        against what each run reported
#   scripts/soak.sh kills [count]        set-icon and remove-icon of the pinned system application,
#                                        each killed at a random moment (default 500 kills); then one
#                                        remove-icon must give the original Dock tile back
#
# It runs build/mivora (built first) in a sandboxed macOS tree under $TMPDIR, with the stand-in helper
# pair and a pass-through sudo, and prints its figures; the exit status is 1 when a check failed.
# SOAK_KEEP=1 keeps the sandbox.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD
python=/usr/bin/python3

cmake --build build -j4 --target mivora fileicon >/dev/null
mivora=${SOAK_MIVORA:-$project/build/mivora} # SOAK_MIVORA: another build to soak

sandbox=$(mktemp -d "${TMPDIR:-/tmp}/mivora-soak.XXXXXX")
[ "${SOAK_KEEP:-0}" = 1 ] || trap 'rm -rf "$sandbox"' EXIT
root=$sandbox/root home=$sandbox/home tmp=$sandbox/tmp bin=$sandbox/bin log=$sandbox/log
mkdir -p "$root" "$home" "$tmp" "$bin" "$log"

# --- the tree: applications, the Dock, the helper pair, the stand-ins -----------------------------
"$python" - "$root" "$home" <<'EOF'
import os, plistlib, struct, sys, zlib
root, home = sys.argv[1], sys.argv[2]

def png(seed, side=64):
    r, g, b = (seed * 53) % 256, (seed * 97) % 256, (seed * 193) % 256
    row = b"\0" + bytes([r, g, b, 255]) * side
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(row * side)) + chunk(b"IEND", b""))

def bundle(folder, name, identifier, seed):
    contents = os.path.join(root + folder, name + ".app", "Contents")
    os.makedirs(contents + "/Resources", exist_ok=True)
    os.makedirs(contents + "/MacOS", exist_ok=True)
    with open(contents + "/Info.plist", "wb") as f:
        plistlib.dump({"CFBundleIdentifier": identifier, "CFBundleName": name, "CFBundleExecutable": name,
                       "CFBundleIconFile": "AppIcon", "CFBundleVersion": "1"}, f)
    with open(contents + "/MacOS/" + name, "w") as f:
        f.write("binary")
    member = png(seed, 128)
    with open(contents + "/Resources/AppIcon.icns", "wb") as f:
        f.write(b"icns" + struct.pack(">I", 16 + len(member)) + b"ic07" + struct.pack(">I", 8 + len(member)) + member)
    return root + folder + "/" + name + ".app"

for i, name in enumerate(["Alpha", "Bravo", "Charlie"]):
    bundle("/Applications", name, "com.example." + name.lower(), 200 + i)
maps = bundle("/System/Applications", "Maps", "com.apple.Maps", 210)

def tile(path, label, identifier):
    return {"tile-data": {"file-data": {"_CFURLString": "file://" + path + "/", "_CFURLStringType": 15},
                          "file-label": label, "bundle-identifier": identifier, "book": b"bookmark"},
            "tile-type": "file-tile", "GUID": 1000 + len(label)}
os.makedirs(home + "/Library/Preferences", exist_ok=True)
with open(home + "/Library/Preferences/com.apple.dock.plist", "wb") as f:
    plistlib.dump({"persistent-apps": [tile(root + "/Applications/Alpha.app", "Alpha", "com.example.alpha"),
                                       tile(maps, "Maps", "com.apple.Maps")]}, f, fmt=plistlib.FMT_BINARY)
os.makedirs(home + "/art", exist_ok=True)
for i in range(60):
    with open("%s/art/icon-%02d.png" % (home, i), "wb") as f:
        f.write(png(i))
EOF
cp "$home/Library/Preferences/com.apple.dock.plist" "$sandbox/dock-before.plist"
mkdir -p "$root/usr/local/lib/mivora" "$root/usr/bin" \
  "$root/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Support"
cp standins/helper.sh "$root/usr/local/lib/mivora/helper.sh"
cp build/standins/fileicon "$root/usr/local/lib/mivora/fileicon"
printf '#!/bin/sh\nexit 0\n' >"$root/usr/bin/killall"
printf '#!/bin/sh\nexit 0\n' \
  >"$root/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Support/lsregister"
printf '#!/bin/sh\n[ "$1" = -n ] && shift\nexec "$@"\n' >"$bin/sudo"
chmod +x "$root/usr/local/lib/mivora/helper.sh" "$root/usr/bin/killall" "$bin/sudo" \
  "$root/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Support/lsregister"

export HOME=$home TMPDIR=$tmp MIVORA_SYSTEM_ROOT=$root PATH=$bin:$PATH
unset LC_ALL LANG
maps=$root/System/Applications/Maps.app
proxy="$home/Applications/Mivora System Apps/Maps.app"

# One run: its end and start times, loop, number, status, how it was ended, then the command; its output beside.
# One run in `$kill_one_in` is killed after a random pause (SIGKILL or SIGTERM, half each).
kill_one_in=20
run() {
  local agent=$1 serial=$2 how=- status start
  shift 2
  start=$(date +%s%N)
  local out=$log/$agent-$serial
  "$mivora" "$@" >"$out.out" 2>"$out.err" &
  local pid=$!
  if [ $((RANDOM % kill_one_in)) = 0 ]; then
    sleep "0.$(printf '%03d' $((RANDOM % 250)))"
    if [ $((RANDOM % 2)) = 0 ]; then how=KILL; else how=TERM; fi
    kill -s "$how" "$pid" 2>/dev/null || how=-
  fi
  if wait "$pid" 2>/dev/null; then status=0; else status=$?; fi
  printf '%s %s %s %s %s %s %s\n' "$(date +%s%N)" "$start" "$agent" "$serial" "$status" "$how" "$*" >>"$log/runs.$agent"
}

apps=("$root/Applications/Alpha.app" "$root/Applications/Bravo.app" "$root/Applications/Charlie.app" "$maps")
names=(Alpha Bravo Charlie Maps)

agent() {
  local agent=$1 deadline=$2 serial=0
  while [ "$(date +%s)" -lt "$deadline" ]; do
    serial=$((serial + 1))
    local i=$((RANDOM % 4)) icon
    local app=${apps[$i]} name=${names[$i]}
    icon=$(printf '%s/art/icon-%02d.png' "$home" $((RANDOM % 60)))
    # The pinned system application is also named by its proxy's path, as list shows it.
    if [ "$i" = 3 ] && [ $((RANDOM % 3)) = 0 ] && [ -e "$proxy" ]; then app=$proxy; fi
    case $((RANDOM % 12)) in
      0 | 1 | 2) run "$agent" "$serial" set-icon "$app" "$icon" --appearance light --no-refresh --json ;;
      3) run "$agent" "$serial" set-icon "$app" "$icon" --appearance dark --no-refresh --json ;;
      4 | 5) run "$agent" "$serial" remove-icon "$app" --no-refresh --json ;;
      6 | 7) run "$agent" "$serial" restore "$name" --verbose ;;
      8) run "$agent" "$serial" remove-dark-icon "$app" --json ;;
      9) if [ "$i" != 3 ]; then run "$agent" "$serial" escape-jail "$app" --verbose; fi ;;
      *) run "$agent" "$serial" collections add soak "$name" "$icon" --raw --force --json ;;
    esac
  done
}

# --- the check ---------------------------------------------------------------------------------------
check() { "$python" "$sandbox/check.py" "$1" "$sandbox" "$2"; }
cat >"$sandbox/check.py" <<'EOF'
import glob, json, os, plistlib, sys
mode, sandbox, log = sys.argv[1], sys.argv[2], sys.argv[3]
root, home = sandbox + "/root", sandbox + "/home"
support = home + "/Library/Application Support/com.quartelmisko.Mivora"
images = home + "/Library/Caches/com.quartelmisko.Mivora/cache"
proxies = home + "/Applications/Mivora System Apps"
maps = root + "/System/Applications/Maps.app"
proxy = proxies + "/Maps.app"
faults = []

def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None

def cache():
    data = read(support + "/icon-cache.json")
    return json.loads(data) if data else {}

def records():
    data = read(home + "/Library/Preferences/com.quartelmisko.Mivora.plist")
    if not data:
        return {}
    value = plistlib.loads(data).get("com.mivora.systemAppProxies")
    return json.loads(value) if value else {}

def dock_tiles():
    return plistlib.loads(read(home + "/Library/Preferences/com.apple.dock.plist"))["persistent-apps"]

def custom_icon(bundle):
    """The bytes of the custom icon a bundle shows, or None: Icon\\r with the Finder flag set."""
    try:
        flags = os.getxattr(bundle, "user.com.apple.FinderInfo")
    except OSError:
        flags = b""
    icon = read(bundle + "/Icon\r")
    on = len(flags) > 8 and flags[8] & 0x04
    if bool(on) != (icon is not None):
        faults.append("%s: the custom-icon flag and Icon\\r disagree" % bundle)
    return icon if on else None

def leftovers():
    """Files a run of ours leaves only when it was killed: temporaries, folders moved aside, locks."""
    found = {}
    for folder, _, names in os.walk(sandbox):
        if folder.startswith(sandbox + "/log") or folder.startswith(home + "/art"):
            continue
        for name in names + [d for d in os.listdir(folder) if os.path.isdir(os.path.join(folder, d))]:
            kind = None
            if ".removing-" in name:
                kind = "moved-aside folders"
            elif name.startswith(".") and len(name.rsplit(".", 1)[-1]) == 6 and name.count(".") >= 2:
                kind = "temporary files"
            elif folder == support + "/locks":
                kind = "lock files"
            if kind:
                found.setdefault(kind, []).append(os.path.join(folder, name))
    return found

def check_system_app():
    recs = records()
    original = read(sandbox + "/dock-before.plist")
    tiles = dock_tiles()
    before = plistlib.loads(original)["persistent-apps"]
    if os.path.lexists(proxy) and maps not in recs:
        faults.append("a proxy without a record")
    if maps not in recs:
        if tiles != before:
            faults.append("no record, yet the Dock is not as it was: %r" % tiles)
    return recs

if mode == "kills":
    ran, killed, *final = open(log + "/kills").read().split(" ")
    recs = check_system_app()
    entries = cache()
    if recs:
        faults.append("a record stays after remove-icon")
    if os.path.lexists(proxy):
        faults.append("the proxy stays after remove-icon")
    if entries:
        faults.append("cache entries stay after remove-icon: %s" % list(entries))
    left = leftovers()
    print("kill run: %s runs, %s killed; final remove-icon: %s" % (ran, killed, " ".join(final).strip()))
    print("  Dock tile back to the original: %s" % ("yes" if not any("Dock" in f for f in faults) else "NO"))
    for kind, paths in sorted(left.items()):
        print("  leftover %s: %d" % (kind, len(paths)))
    for fault in faults:
        print("FAULT: " + fault)
    sys.exit(1 if faults else 0)

if mode == "summary":
    figures = [json.loads(line) for line in open(log + "/figures")]
    total = lambda key: sum(f[key] for f in figures)
    entries = cache()
    named = {e[s] for e in entries.values() for s in ("iconFileName", "darkIconFileName") if s in e}
    orphans = [n for n in os.listdir(images) if n not in named] if os.path.isdir(images) else []
    left = leftovers()
    print("soak: %d rounds, %d runs, %d killed (%d SIGKILL, %d SIGTERM), %d failed without a kill" % (
        len(figures), total("runs"), total("killed"), total("sigkill"), total("sigterm"), total("failed")))
    print("  applications settled by a reported run at a round's end: %d checked, %d left open by a killed "
          "or failed run" % (total("settled"), total("unsettled")))
    print("  mismatches between a reported change and the stores: %d" % total("mismatches"))
    print("  cached images no entry names: %d" % len(orphans))
    for kind, paths in sorted(left.items()):
        print("  leftover %s: %d" % (kind, len(paths)))
        for path in paths[:5]:
            print("    " + path.replace(sandbox, ""))
    reasons = {}
    for f in figures:
        for reason, count in f["reasons"].items():
            reasons[reason] = reasons.get(reason, 0) + count
    for reason, count in sorted(reasons.items(), key=lambda x: -x[1])[:10]:
        print("  failed (%d): %s" % (count, reason))
    for f in figures:
        for fault in f["faults"]:
            print("FAULT (round %d): %s" % (f["round"], fault))
    sys.exit(1 if total("mismatches") else 0)

runs = []
for path in glob.glob(log + "/runs.*"):
    for line in open(path):
        end, start, agent, serial, status, how, command = line.rstrip("\n").split(" ", 6)
        runs.append({"end": int(end), "start": int(start), "agent": agent, "serial": serial, "status": int(status), "how": how,
                     # A run killed at once may not have opened its output yet.
                     "command": command, "out": (read("%s/%s-%s.out" % (log, agent, serial)) or b"").decode(),
                     "err": (read("%s/%s-%s.err" % (log, agent, serial)) or b"").decode()})
runs.sort(key=lambda r: r["end"])
killed = [r for r in runs if r["how"] != "-"]
failed = [r for r in runs if r["how"] == "-" and r["status"] != 0]

apps = {"Alpha": root + "/Applications/Alpha.app", "Bravo": root + "/Applications/Bravo.app",
        "Charlie": root + "/Applications/Charlie.app", "Maps": maps}
def app_of(command):
    for name, path in apps.items():
        if path in command or command.split(" ")[1:2] == [name] or (name == "Maps" and proxy in command):
            return name
    return None

entries = cache()
recs = check_system_app()
settled = unsettled = 0
for name, path in apps.items():
    key = proxy if name == "Maps" else path
    shown_in = proxy if name == "Maps" and os.path.isdir(proxy) else path
    mine = [r for r in runs if app_of(r["command"]) == name and not r["command"].startswith("collections")]
    if not mine:
        continue
    # The times are the agents' own, taken around each run, so the order of
    # runs that overlap is not known: any run that no other began after it
    # ended may have taken the last turn. The stores must show what one of them
    # reported; a killed or failed one among them leaves the end open.
    last = [r for r in mine if not any(o["start"] > r["end"] for o in mine if o is not r)]
    if any(r["how"] != "-" or r["status"] != 0 for r in last):
        unsettled += 1
        continue
    settled += 1
    entry = entries.get(key)
    slot = lambda e, s: read(images + "/" + e[s]) if e and s in e else None

    def problem_after(run):
        verb, out = run["command"].split(" ")[0], run["out"]
        if verb == "set-icon":
            reply = json.loads(out)
            icon = read(next(w for w in run["command"].split(" ") if w.endswith(".png")))
            wanted = "darkIconFileName" if "--appearance dark" in run["command"] else "iconFileName"
            if slot(entry, wanted) != icon:
                return "the %s slot does not name the icon set" % wanted
            if reply["appliedToBundle"] and custom_icon(shown_in) != icon:
                return "reported applied, but the bundle shows another icon"
        elif verb == "remove-icon":
            if entry:
                return "reported removed, yet a cache entry stays"
            if custom_icon(path) is not None or (name == "Maps" and os.path.lexists(proxy)):
                return "reported removed, yet a custom icon or proxy stays"
        elif verb == "restore":
            if "1 restored" in out and custom_icon(shown_in) != slot(entry, "iconFileName"):
                return "reported restored, but the bundle does not show the cached light icon"
            if "1 restored" in out and not entry:
                return "reported restored, but no entry is left"
        elif verb == "remove-dark-icon":
            if entry and "darkIconFileName" in entry:
                return "reported without a dark slot, yet the entry keeps one"
        elif verb == "escape-jail":
            if custom_icon(path) != read(path + "/Contents/Resources/AppIcon.icns"):
                return "reported escaped, but the bundle does not show its own icon"
        return None

    problems = [(run, problem_after(run)) for run in last]
    if all(problem for _, problem in problems):
        for run, problem in problems:
            faults.append("%s after `%s` (agent %s run %s): %s" % (name, run["command"], run["agent"],
                                                                    run["serial"], problem))
for key, entry in entries.items():
    for s in ("iconFileName", "darkIconFileName"):
        if s in entry and not os.path.exists(images + "/" + entry[s]):
            faults.append("%s: the %s image is missing" % (key, s))

manifest = json.loads(read(support + "/collections/soak/manifest.json"))
added = [r for r in runs if r["command"].startswith("collections add") and r["how"] == "-" and r["status"] == 0]
for r in added:
    slug = json.loads(r["out"])["appSlug"]
    if manifest["icons"].get(slug, {}).get("status") != "done" or \
            not os.path.exists(support + "/collections/soak/icons/%s.png" % slug):
        faults.append("collections add %s reported staged, but the manifest or the icon lacks it" % slug)

reasons = {}
for r in failed:
    # Paths and numbers aside, so that one cause counts once.
    reason = r["err"].split("\n")[0].replace(root, "").replace(home, "~")[:110]
    reason = "".join("N" if c.isdigit() else c for c in reason)
    reasons[reason] = reasons.get(reason, 0) + 1
print(json.dumps({"round": int(log.rsplit("-", 1)[-1]), "runs": len(runs), "killed": len(killed),
                  "sigkill": sum(r["how"] == "KILL" for r in killed),
                  "sigterm": sum(r["how"] == "TERM" for r in killed), "failed": len(failed),
                  "settled": settled, "unsettled": unsettled, "mismatches": len(faults), "faults": faults,
                  "reasons": reasons}))
sys.exit(1 if faults else 0)
EOF

mode=soak
if [ "${1:-}" = kills ]; then
  mode=kills
  kills=${2:-500}
else
  agents=${1:-12}
  seconds=${2:-300}
fi

if [ "$mode" = soak ]; then
  "$mivora" collections create soak --name Soak >/dev/null
  # Rounds of 20 s: the agents stop together after each, and the stores are checked against the runs
  # that settled each application in that round.
  end=$(($(date +%s) + seconds)) round=0 failures=0
  while [ "$(date +%s)" -lt "$end" ]; do
    round=$((round + 1))
    log=$sandbox/log/round-$round
    mkdir -p "$log"
    deadline=$(($(date +%s) + 20))
    [ "$deadline" -gt "$end" ] && deadline=$end
    for a in $(seq 1 "$agents"); do agent "$a" "$deadline" & done
    wait
    check soak "$log" >>"$sandbox/log/figures" || failures=$((failures + 1))
  done
  check summary "$sandbox/log"
  exit $((failures > 0))
else
  # Every run is killed; the moment varies from before the proxy is made to after the record is written.
  killed=0 serial=0 ran=0
  while [ "$killed" -lt "$kills" ]; do
    serial=$((serial + 1))
    if [ $((serial % 2)) = 1 ]; then
      set -- set-icon "$maps" "$home/art/icon-$(printf '%02d' $((serial % 60))).png" --no-refresh
    else
      set -- remove-icon "$maps" --no-refresh
    fi
    "$mivora" "$@" >/dev/null 2>&1 &
    pid=$!
    sleep "0.$(printf '%03d' $((RANDOM % 60)))"
    if [ $((RANDOM % 2)) = 0 ]; then signal=KILL; else signal=TERM; fi
    if kill -s "$signal" "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
    wait "$pid" 2>/dev/null || true
    ran=$((ran + 1))
  done
  "$mivora" remove-icon "$maps" --no-refresh >"$log/final.out" 2>&1 || true
  printf '%s %s %s\n' "$ran" "$killed" "$(tr '\n' ' ' <"$log/final.out")" >"$log/kills"
  check kills "$log"
fi

