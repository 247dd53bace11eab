#!/usr/bin/env bash
# Splits the same record sides with tulv, SoX and mp3splt and prints, for
# each tool, the tracks found and the worst boundary error against the truth.
#
#   bench/split-vs-peers.sh [build-dir]        (default: build)
#
# The sides are the demo's (its own truth, printed by 'tulv demo'), at
# 44.1 kHz and resampled to 22.05 kHz. Each peer runs at its usual settings:
#   sox IN OUT silence 1 0.1 -50d 1 1.0 -50d : newfile : restart
#   mp3splt -s IN   (on a FLAC copy: it reads FLAC, MP3 and Ogg)
# A peer's boundaries are where its files start and end in the side, found
# by matching their samples; tulv's are its track table (the sound of each
# track; its files also hold the gaps, cut between the tracks).
set -euo pipefail

BUILD=${1:-build}
TULV="$BUILD/apps/tulv/tulv"
for tool in sox mp3splt python3; do
  command -v "$tool" >/dev/null || { echo "split-vs-peers: '$tool' is needed" >&2; exit 1; }
done
[ -x "$TULV" ] || { echo "split-vs-peers: build $TULV first (cmake --build $BUILD --target tulv-tool)" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

"$TULV" demo "$WORK/demo" -q > "$WORK/demo.txt" || true
# The truth: the "True start" and "True end" columns of the demo's table.
python3 - "$WORK/demo.txt" > "$WORK/truth.txt" <<'EOF'
import re, sys
t = lambda s: sum(float(x) * m for x, m in zip(s.split(':'), (3600, 60, 1)))
for line in open(sys.argv[1]):
    times = re.findall(r'\d\d:\d\d:\d\d\.\d\d\d', line)
    if len(times) == 4:
        print(t(times[2]), t(times[3]))
EOF

# Where each of the given files lies in the side: its first samples matched
# in the side's raw samples.
locate() { # side.raw rate files...
  python3 - "$@" <<'EOF'
import subprocess, sys
side = open(sys.argv[1], 'rb').read()
rate = float(sys.argv[2])
for name in sys.argv[3:]:
    raw = subprocess.run(['sox', name, '-t', 'raw', '-e', 'signed', '-b', '16', '-c', '2', '-'],
                         capture_output=True, check=True).stdout
    probe = raw[4 * 2000:4 * 6000] or raw
    at = side.find(probe)
    while at >= 0 and at % 4:
        at = side.find(probe, at + 1)
    if at < 0:
        continue
    start = at // 4 - (2000 if len(raw) >= 4 * 6000 else 0)
    print(start / rate, (start + len(raw) // 4) / rate)
EOF
}

report() { # tool found-file truth-file
  python3 - "$@" <<'EOF'
import sys
found = [tuple(map(float, l.split())) for l in open(sys.argv[2]) if l.strip()]
truth = [tuple(map(float, l.split())) for l in open(sys.argv[3]) if l.strip()]
worst = 0.0
for ts, te in truth:
    # Each true track against the found track that overlaps it most.
    best = max(found, key=lambda f: min(f[1], te) - max(f[0], ts), default=None)
    worst = max(worst, abs(best[0] - ts), abs(best[1] - te)) if best else float('inf')
print(f"  {sys.argv[1]:<8} {len(found):>2} of {len(truth)} tracks, worst boundary error {worst:6.2f} s")
EOF
}

for rate in 44100 22050; do
  side="$WORK/side-$rate.wav"
  sox "$WORK/demo/side.wav" -r "$rate" -b 16 "$side" rate -h
  sox "$side" -t raw -e signed -b 16 -c 2 "$WORK/side.raw"
  echo "Demo side at $rate Hz:"

  "$TULV" split "$side" --dry-run --json -q > "$WORK/tulv.json"
  python3 -c 'import json,sys; [print(t["Start"], t["End"]) for t in json.load(open(sys.argv[1]))["Tracks"]]' \
    "$WORK/tulv.json" > "$WORK/tulv.txt"
  report tulv "$WORK/tulv.txt" "$WORK/truth.txt"

  rm -rf "$WORK/sox" && mkdir "$WORK/sox"
  sox "$side" "$WORK/sox/track.wav" silence 1 0.1 -50d 1 1.0 -50d : newfile : restart
  locate "$WORK/side.raw" "$rate" $(ls "$WORK"/sox/*.wav | sort) > "$WORK/sox.txt"
  report sox "$WORK/sox.txt" "$WORK/truth.txt"

  rm -rf "$WORK/mp3splt" && mkdir "$WORK/mp3splt"
  sox "$side" "$WORK/side.flac"
  # mp3splt leaves a log in the directory it runs in.
  (cd "$WORK" && mp3splt -q -s -d "$WORK/mp3splt" "$WORK/side.flac" > /dev/null)
  locate "$WORK/side.raw" "$rate" $(ls "$WORK"/mp3splt/*.flac | sort) > "$WORK/mp3splt.txt"
  report mp3splt "$WORK/mp3splt.txt" "$WORK/truth.txt"
done
