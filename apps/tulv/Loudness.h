#ifndef TULV_APPS_LOUDNESS_H
#define TULV_APPS_LOUDNESS_H

#include "Pass.h"
#include "SplitJob.h"

#include <tulv/tulv.h>

#include <QString>
#include <QStringList>

#include <vector>

// The loudness side of convert and split: ReplayGain tags and loudness
// targets in LUFS, measured with the library's EBU R 128 meter.

// ReplayGain 2.0 brings every track to -18 LUFS.
constexpr double kReplayGainReferenceLufs = -18.0;

// Measures frames [begin, end) of `reader` (all of it when end <= begin).
// Null when the pass failed or was interrupted (`result` tells which).
AlgoRef<SoundAlgoLoudness> measureLoudness(SoundReader& reader, long long begin, long long end, bool quiet,
                                           PassResult& result);

// Sets REPLAYGAIN_<scope>_GAIN ("-4.52 dB") and _PEAK (linear true peak) in
// `tags`, `scope` being "TRACK" or "ALBUM". False, leaving the tags alone,
// for silence, which has no gain.
bool setReplayGain(SoundIDTag& tags, const char* scope, double lufs, double truePeakDb);

// Measures every file of `files` and adds its track gain and peak to its
// tags; with `album`, the album gain and peak of all of them together too.
// False with `reason` naming the file that failed.
bool tagReplayGain(const QStringList& files, bool album, bool quiet, QString& reason);

// Notes in `rows` the gain that brings each track's sound (frames [begin,
// end) of `reader`) to `targetLufs`, and the level it then has. False when a
// pass failed or was interrupted (`result`).
bool measureTrackLoudness(SoundReader& reader, std::vector<TrackRow>& rows, double targetLufs, bool quiet,
                          PassResult& result);
// One gain per track, as `rows` note it, moving from one to the next across
// each gap, then the peak limiter.
SoundAlgo* buildTrackGainStage(const std::vector<TrackRow>& rows);

// "-16LUFS", "-16 LUFS" or "-16": the value and whether it is in LUFS.
bool parseLoudnessTarget(const QString& text, double& value, bool& lufs);

#endif
