#!/bin/sh
# Writes the seed corpus of the fuzz targets into DIR/<target>: small real
# files made by peer tools (every container the readers take, with tags and
# covers), a region list in the form the split command saves, and command
# lines of the tool.
set -e
out=${1:?usage: make-seeds.sh DIR}
mkdir -p "$out/fuzz_reader" "$out/fuzz_regions" "$out/fuzz_options"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
r="$out/fuzz_reader"
sox -q -n -r 8000 -c 2 -b 16 "$work/s.wav" synth 0.05 sine 440 sine 660
ffmpeg -loglevel error -y -f lavfi -i color=red:s=4x4 -frames:v 1 "$work/cover.png"
cp "$work/s.wav" "$r/pcm16.wav"
sox -q "$work/s.wav" -r 8000 -c 1 -b 8 "$r/pcm8-mono.wav"
sox -q "$work/s.wav" -e floating-point -b 32 "$r/float.wav"
sox -q "$work/s.wav" -c 6 "$r/six.wav"
sox -q "$work/s.wav" "$r/s.aiff"
flac -s -f --picture="$work/cover.png" -T TITLE=t -T ARTIST=a -o "$r/s.flac" "$work/s.wav"
sox -q "$work/s.wav" --comment "TITLE=t" "$r/s.ogg"
lame --quiet -b 32 --tt t --ta a --ti "$work/cover.png" "$work/s.wav" "$r/tagged.mp3"
sox -q -n -r 22050 -c 1 "$work/m.wav" synth 0.1 sine 300
lame --quiet "$work/m.wav" "$r/mono.mp3"
cat "$r/tagged.mp3" "$r/mono.mp3" > "$r/two-rates.mp3"
ffmpeg -loglevel error -y -i "$work/s.wav" -c:a libmp3lame -f wav "$r/mpeg-in.wav"
cat > "$out/fuzz_regions/side.json" <<'JSON'
{ "Class": "RMSStepDetector", "NoiseThreshold": -40, "RMSTime": 0.05, "MinSlopeTime": 1,
  "OutputMode": 0, "RealTimeMode": false, "SampleRate": 44100,
  "Regions": [
    { "BeginSample": 0, "SampleNb": 44100, "RMSSqrValue0": 1e-7, "RMSSqrValue1": 1e-7, "MeanSmpl": 44100, "IsNoise": true },
    { "BeginSample": 44100, "SampleNb": 441000, "RMSSqrValue0": 0.02, "RMSSqrValue1": 0.03, "MeanSmpl": 441000, "IsNoise": false },
    { "BeginSample": 485100, "SampleNb": 1, "RMSSqrValue0": 0, "RMSSqrValue1": 0, "MeanSmpl": 1, "IsNoise": true } ] }
JSON
printf '%s' '{ "Class": "RMSStepDetector", "NoiseThreshold": -40, "RMSTime": 0.2, "MinSlopeTime": 1, "OutputMode": 3, "RealTimeMode": true, "SampleRate": 0 }' \
    > "$out/fuzz_regions/empty.json"
o="$out/fuzz_options"
printf 'convert\000in.wav\000out.flac\000--start\000012.5\000--limit=3\000--gain\000-3\000--tag\000title=x\000--format\000int24' > "$o/convert"
printf 'split\000side.wav\000side.mp3\000--min-track\000030\000--snr=12\000--bitrate\000192\000--save-regions\000r.json\000-q' > "$o/split"
printf 'split\000--dry-run\000--load-regions\000r.json\000side.flac\000--even-loudness\000--target\000-14' > "$o/split-dry"
printf -- '--verbose\000info\000a.wav\000b.mp3\000--\000-c.ogg' > "$o/info"
printf -- 'convert\000--help' > "$o/help"
