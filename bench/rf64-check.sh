#!/bin/sh
# A WAV output larger than the 4 GiB a RIFF header can count must come out
# as RF64 with every frame, readable by ffprobe; a small one stays plain
# RIFF. Writes about 5 GB in a temporary directory, so it runs from
# `make bench`, not with the tests.
# Usage: bench/rf64-check.sh [BUILD_DIR]
set -e
BUILD=${1:-build}
TULV="$BUILD/apps/tulv/tulv"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# 3.2 hours of 8-bit mono at 48 kHz: 552 960 000 frames, written as doubles
# they need 4.4 GB.
frames=552960000
sox -n -r 48000 -c 1 -b 8 "$WORK/long.wav" synth 11520 sine 440 gain -6
"$TULV" convert "$WORK/long.wav" "$WORK/big.wav" --format double -q
"$TULV" convert "$WORK/long.wav" "$WORK/small.wav" --end 1 -q

fail() { echo "rf64-check: $*" >&2; exit 1; }
[ "$(head -c 4 "$WORK/big.wav")" = "RF64" ] || fail "the 4.4 GB output is not RF64"
[ "$(head -c 4 "$WORK/small.wav")" = "RIFF" ] || fail "the small output is not plain RIFF"
probed=$(ffprobe -v error -count_packets -show_entries stream=duration_ts -of csv=p=0 "$WORK/big.wav")
[ "$probed" = "$frames" ] || fail "ffprobe reads $probed frames of $frames"
echo "rf64-check: $(stat -c %s "$WORK/big.wav") bytes written as RF64, $frames frames read back by ffprobe"
