#!/bin/sh
# End-to-end speed of the tulv tool on a 60-minute record side, next to sox
# doing the same jobs: splitting at silences (sox's silence effect) and
# converting WAV to FLAC. Prints seconds and multiples of real time.
# Usage: bench/tool-vs-sox.sh [BUILD_DIR]
set -e
BUILD=${1:-build}
TULV="$BUILD/apps/tulv/tulv"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

"$TULV" demo "$WORK/demo" -q >/dev/null
sides=""
for i in $(seq 19); do sides="$sides $WORK/demo/side.wav"; done
# shellcheck disable=SC2086
sox $sides "$WORK/side60.wav"
length=$(soxi -D "$WORK/side60.wav")

now() { date +%s.%N; }
# time_job LABEL COMMAND...: runs the command once on a warm cache.
time_job() {
    label=$1
    shift
    start=$(now)
    "$@" >/dev/null 2>&1
    end=$(now)
    awk -v s="$start" -v e="$end" -v l="$length" -v name="$label" \
        'BEGIN { printf "%-40s %7.2f s  %7.0fx real time\n", name, e - s, l / (e - s) }'
}

cat "$WORK/side60.wav" >/dev/null
echo "Record side: $length s ($(basename "$WORK")/side60.wav, 16-bit stereo 44.1 kHz)"
mkdir "$WORK/t1" "$WORK/t2" "$WORK/t3" "$WORK/s1"
time_job "tulv split (WAV tracks)" "$TULV" split "$WORK/side60.wav" "$WORK/t1/side.wav" -q
time_job "tulv split --even-loudness (WAV tracks)" "$TULV" split "$WORK/side60.wav" "$WORK/t3/side.wav" -q --even-loudness
time_job "tulv split (FLAC tracks)" "$TULV" split "$WORK/side60.wav" "$WORK/t2/side.flac" -q
time_job "sox silence split (WAV tracks)" sox "$WORK/side60.wav" "$WORK/s1/side.wav" \
    silence 1 0.1 -45d 1 1.0 -45d : newfile : restart
echo "  files: tulv $(ls "$WORK/t1" | wc -l), sox $(ls "$WORK/s1" | wc -l) (the side holds 76 tracks)"
time_job "tulv convert WAV -> FLAC" "$TULV" convert "$WORK/side60.wav" "$WORK/a.flac" -q
time_job "sox WAV -> FLAC" sox "$WORK/side60.wav" "$WORK/b.flac"
