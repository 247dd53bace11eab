#!/usr/bin/env bash
# Times the same jobs through tulv and through SoX and prints the ratios.
#
#   bench/compare-peers.sh [build-dir]        (default: build)
#
# Each case is one line of CASES below:
#   name | bench filter | input file | sox command (with IN and OUT)
# - the bench filter selects the Google Benchmark run that does the job in
#   tulv (tulv_bench --benchmark_filter=...; it must read its inputs from
#   $TULV_BENCH_INPUTS);
# - the input file is made once by make_inputs below, in the same directory;
# - the sox command is evaluated with IN and OUT set to the input path and a
#   fresh output path.
# Add a case by adding a line (and an input to make_inputs if it needs one).
# Times are the best of $RUNS runs, wall clock and CPU (user + system).
# ONLY=REGEX runs only the cases whose name matches (ONLY='tool wav->wav').
set -euo pipefail

BUILD=${1:-build}
RUNS=${RUNS:-3}
ONLY=${ONLY:-}
SECONDS_OF_SOUND=${SECONDS_OF_SOUND:-600}
BENCH="$BUILD/bench/tulv_bench"

CASES=(
  "wav16->flac16 | BM_ConvertFile/0/ | in16.wav  | sox \"\$IN\" -b 16 \"\$OUT.flac\""
  "flac16->wav16 | BM_ConvertFile/1/ | in16.flac | sox \"\$IN\" -b 16 \"\$OUT.wav\""
  "mp3->wav16    | BM_ConvertFile/2/ | in.mp3    | sox \"\$IN\" -b 16 \"\$OUT.wav\""
  "flac24->wav24 | BM_ConvertFile/3/ | in24.flac | sox \"\$IN\" -b 24 \"\$OUT.wav\""
  "wav16->wav16  | BM_ConvertFile/4/ | in16.wav  | sox \"\$IN\" -b 16 \"\$OUT.wav\""
  "fir 447 taps  | BM_EqFFTFile      | in16.wav  | sox \"\$IN\" -b 16 \"\$OUT.wav\" sinc -1000 -n 447"
)

# The tool itself, start to finish, against sox on the same command line:
#   name | input file | tulv command | peer command   (TULV is the built tool; the
#   peer is sox, or FFmpeg's EBU R 128 meter for analyze)
TOOL_CASES=(
  "tool wav->wav  | in16.wav  | \"\$TULV\" convert \"\$IN\" \"\$OUT.wav\" -q  | sox \"\$IN\" -b 16 \"\$OUT.wav\""
  "tool wav->flac | in16.wav  | \"\$TULV\" convert \"\$IN\" \"\$OUT.flac\" -q | sox \"\$IN\" -b 16 \"\$OUT.flac\""
  "tool analyze   | in16.wav  | \"\$TULV\" analyze \"\$IN\" -q | ffmpeg -nostats -i \"\$IN\" -af ebur128=peak=true -f null -"
  "analyze+plot   | in16.wav  | \"\$TULV\" analyze \"\$IN\" -q --plot \"\$OUT.png\" | ffmpeg -nostats -i \"\$IN\" -af ebur128=peak=true -f null -"
  "process 9 eq   | in16.wav  | \"\$TULV\" process \"\$IN\" \"\$OUT.wav\" -q $(for f in 60 120 250 500 1000 2000 4000 8000 15000; do printf 'eq %s 1.9 2 ' $f; done) | sox \"\$IN\" -b 16 \"\$OUT.wav\" $(for f in 60 120 250 500 1000 2000 4000 8000 15000; do printf 'equalizer %s 1.9o 2 ' $f; done)"
)

# Tool jobs SoX has no counterpart for, timed as multiples of real time:
#   name | input file | tulv command
REALTIME_CASES=(
  "limit+gate+bassboost | in16.wav | \"\$TULV\" process \"\$IN\" \"\$OUT.wav\" -q limit 6 gate -50 bassboost 8"
)
export TULV="$BUILD/apps/tulv/tulv"

for tool in sox jq /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare-peers: '$tool' is needed" >&2; exit 1; }
done
[ -x "$BENCH" ] || { echo "compare-peers: build $BENCH first (cmake --build $BUILD --target tulv_bench)" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
INPUTS="$WORK/inputs"
mkdir -p "$INPUTS"

make_inputs() {
  # Brown noise: broadband like music, and neither silent nor predictable.
  sox -n -r 44100 -c 2 -b 16 "$INPUTS/in16.wav" synth "$SECONDS_OF_SOUND" brownnoise brownnoise vol 0.5
  sox "$INPUTS/in16.wav" "$INPUTS/in16.flac"
  sox "$INPUTS/in16.wav" -b 24 "$INPUTS/in24.flac"
  if command -v lame >/dev/null; then
    lame --quiet -b 192 "$INPUTS/in16.wav" "$INPUTS/in.mp3"
  else
    sox "$INPUTS/in16.wav" -C 192 "$INPUTS/in.mp3"
  fi
}

# Best wall and CPU seconds of $RUNS runs of a shell command.
time_best() {
  local best_wall="" best_cpu="" i line wall cpu
  for ((i = 0; i < RUNS; i++)); do
    rm -f "$WORK"/out.*
    /usr/bin/time -o "$WORK/time" -f "%e %U %S" bash -c "$1" >/dev/null 2>&1
    line=$(tail -1 "$WORK/time")
    wall=$(awk '{print $1}' <<<"$line")
    cpu=$(awk '{print $2 + $3}' <<<"$line")
    best_wall=$(awk -v a="$wall" -v b="${best_wall:-1e99}" 'BEGIN{print (a < b) ? a : b}')
    best_cpu=$(awk -v a="$cpu" -v b="${best_cpu:-1e99}" 'BEGIN{print (a < b) ? a : b}')
  done
  echo "$best_wall $best_cpu"
}

echo "making ${SECONDS_OF_SOUND}-second stereo inputs with sox..." >&2
make_inputs

printf "%-15s %10s %10s %8s   %10s %10s %8s\n" case "peer wall" "tulv wall" ratio "peer cpu" "tulv cpu" ratio
for case in "${CASES[@]}"; do
  IFS='|' read -r name filter input command <<<"$case"
  name=$(xargs <<<"$name"); filter=$(xargs <<<"$filter"); input=$(xargs <<<"$input")
  [[ -z "$ONLY" || "$name" =~ $ONLY ]] || continue
  export IN="$INPUTS/$input" OUT="$WORK/out"
  read -r sox_wall sox_cpu <<<"$(time_best "$command")"
  json=$(TULV_BENCH_INPUTS="$INPUTS" "$BENCH" --benchmark_filter="^$filter" \
         --benchmark_repetitions="$RUNS" --benchmark_min_time=0.01 --benchmark_format=json 2>/dev/null)
  # Best of the repetitions, in seconds (the benchmark reports milliseconds).
  tulv_wall=$(jq '[.benchmarks[] | select(.run_type == "iteration") | .real_time] | min / 1000' <<<"$json")
  tulv_cpu=$(jq '[.benchmarks[] | select(.run_type == "iteration") | .cpu_time] | min / 1000' <<<"$json")
  # Ratio above 1: tulv is faster than sox.
  awk -v n="$name" -v sw="$sox_wall" -v tw="$tulv_wall" -v sc="$sox_cpu" -v tc="$tulv_cpu" \
      'BEGIN{printf "%-15s %9.3fs %9.3fs %7.2fx   %9.3fs %9.3fs %7.2fx\n", n, sw, tw, sw/tw, sc, tc, sc/tc}'
done
if [ -x "$TULV" ]; then
  for case in "${TOOL_CASES[@]}"; do
    IFS='|' read -r name input tulv_command sox_command <<<"$case"
    name=$(xargs <<<"$name"); input=$(xargs <<<"$input")
    [[ -z "$ONLY" || "$name" =~ $ONLY ]] || continue
    export IN="$INPUTS/$input" OUT="$WORK/out"
    read -r sox_wall sox_cpu <<<"$(time_best "$sox_command")"
    read -r tulv_wall tulv_cpu <<<"$(time_best "$tulv_command")"
    awk -v n="$name" -v sw="$sox_wall" -v tw="$tulv_wall" -v sc="$sox_cpu" -v tc="$tulv_cpu" \
        'BEGIN{printf "%-15s %9.3fs %9.3fs %7.2fx   %9.3fs %9.3fs %7.2fx\n", n, sw, tw, sw/tw, sc, tc, sc/tc}'
  done
  for case in "${REALTIME_CASES[@]}"; do
    IFS='|' read -r name input tulv_command <<<"$case"
    name=$(xargs <<<"$name"); input=$(xargs <<<"$input")
    [[ -z "$ONLY" || "$name" =~ $ONLY ]] || continue
    export IN="$INPUTS/$input" OUT="$WORK/out"
    read -r tulv_wall tulv_cpu <<<"$(time_best "$tulv_command")"
    awk -v n="$name" -v s="$SECONDS_OF_SOUND" -v tw="$tulv_wall" -v tc="$tulv_cpu" \
        'BEGIN{printf "%-22s %9.3fs wall (%.0fx real time)  %9.3fs cpu (%.0fx)\n", n, tw, s/tw, tc, s/tc}'
  done
else
  echo "compare-peers: no tool at $TULV; its cases are left out" >&2
fi
echo "(ratio = peer time / tulv time; above 1 means tulv is faster. tulv cpu counts only the benchmark thread.)"
