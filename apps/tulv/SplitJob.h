#ifndef TULV_APPS_SPLITJOB_H
#define TULV_APPS_SPLITJOB_H

#include "Pass.h"

#include <tulv/tulv.h>

#include <QString>
#include <QStringList>

#include <vector>

// The settings of a track split. The defaults are chosen for a typical
// record side; the reasons are given in 'tulv split --help'.
struct SplitSettings {
    double minTrack = 5.0;    // seconds: shorter runs of sound make no file
    double quietTime = 2.0;   // seconds of quiet per started 5 minutes for the global noise estimate
    double globalSnr = 60.0;  // dB: the global estimate ignores regions further below the loudest
    double snr = 30.0;        // dB: inside a run, what lies this far below its loudest region is a gap
    double minRun = 20.0;     // seconds: longer runs of sound are re-examined on their own
    double rmsTime = 0.05;    // seconds: window of the level measurement
    bool evenLoudness = false;
    double target = -18.0;    // dBFS RMS that --even-loudness brings each track to
};

// One track as the region list defines it: a run of sound regions between
// noise regions that is long enough to become a file.
struct TrackRow {
    int number = 0;
    long long begin = 0; // frames
    long long end = 0;   // frames, first frame after the track
    double levelDb = -100.0; // RMS of the track, dBFS
    QString file;
};

// The detection pass and the noise analysis. Null when the pass failed or
// was interrupted (`result` tells which).
AlgoRef<RMSStepDetector> detectRegions(SoundReader& reader, const SplitSettings& settings, bool quiet, PassResult& result);

// The tracks the multi-file writer will make of the detector's regions.
std::vector<TrackRow> tracksOf(const RMSStepDetector& detector, double minTrackSeconds);

// The second pass: writes one file per track, named after `outName`, into
// `directory`. `result` tells whether it worked.
PassResult writeTracks(SoundReader& reader, RMSStepDetector& detector, const SplitSettings& settings,
                       const QString& directory, const QString& outName, SoundTools::SoundFormat format,
                       unsigned int bitrate, const SoundIDTag& tags, bool quiet);

// The name the multi-file writer gives track `number` of a split into `out`.
QString trackFileName(const QString& out, int number);

// The track table: number, start, end, duration, level, and the file when known.
QString trackTable(const std::vector<TrackRow>& rows, unsigned int sampleRate);

// The algorithm the second pass of a split or a conversion runs.
SoundAlgo* buildOutputStage(double gainDb, bool limit, double limitDb);
// Automatic gain driven by the detector's regions, then a limiter.
SoundAlgo* buildEvenLoudnessStage(RMSStepDetector* detector, double targetDb);
// The peak limiter (ceiling 0.981 of full scale) after `makeUpDb` of gain.
SoundAlgo* buildLimiter(double makeUpDb);

#endif
