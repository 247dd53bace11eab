#ifndef TULV_APPS_SPLITJOB_H
#define TULV_APPS_SPLITJOB_H

#include "Pass.h"

#include <tulv/tulv.h>

#include <QString>
#include <QStringList>

#include <limits>
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
    double thresholdDb = std::numeric_limits<double>::quiet_NaN(); // dBFS; NaN: automatic
    int tracks = 0;           // the side's known number of tracks; 0: as found
    double gapOffset = -1.0;  // where a gap is cut (0 to 1); negative: at its quietest point
    bool trimGaps = false;    // leave the gaps out instead of dividing them
    bool evenLoudness = false;
    double target = -18.0;    // dBFS RMS (or LUFS) that --even-loudness brings each track to
    bool targetLufs = false;  // the target is an integrated loudness, measured per track
    bool replayGain = false;  // tag the tracks with their ReplayGain track and album gains
};

// One track as the region list defines it: a run of sound regions between
// noise regions that is long enough to become a file.
struct TrackRow {
    int number = 0;
    long long begin = 0; // frames: the track's sound
    long long end = 0;   // frames, first frame after the track's sound
    double levelDb = -100.0; // RMS of the track, dBFS
    double gainDb = 0.0; // what --even-loudness added
    QString file;
};

// The detection pass. Null when the pass failed or was interrupted (`result`
// tells which).
AlgoRef<RMSStepDetector> detectRegions(SoundReader& reader, const SplitSettings& settings, bool quiet, PassResult& result);

// The finder's settings from the split's.
SoundTrackFinder::Settings finderSettings(const SplitSettings& settings);
std::vector<TrackRow> rowsOf(const std::vector<SoundTrackFinder::Track>& tracks);

// How the tracks are written.
struct TrackOutput {
    SoundTools::SoundFormat format;
    unsigned int bitrate;  // kbit/s, MP3 only
    unsigned int channels; // 1 or 2
    bool dither;           // TPDF dither when rounding to 16 or 8 bits
    QString in;            // the input's name, for warnings
};

// The second pass: writes one file per row, named after `outName`, into
// `directory`, and warns of what the writers clipped or the input lacked.
// `detector` (may be null) drives --even-loudness. `result` tells whether
// it worked.
PassResult writeTracks(SoundReader& reader, RMSStepDetector* detector, std::vector<TrackRow>& rows,
                       const SplitSettings& settings, const QString& directory, const QString& outName,
                       const TrackOutput& output, const SoundIDTag& tags, bool quiet);

// Prepares `detector` for the gain of --even-loudness and notes in `rows`
// the gain each track gets and the level it is brought to.
void levelTracks(RMSStepDetector& detector, std::vector<TrackRow>& rows, double targetDb);

// The name the multi-file writer gives track `number` of a split into `out`.
QString trackFileName(const QString& out, int number);

// The track table: number, start, end, duration, level, and the file when known.
QString trackTable(const std::vector<TrackRow>& rows, unsigned int sampleRate);

// The algorithm the second pass of a split or a conversion runs.
SoundAlgo* buildOutputStage(double gainDb, bool limit, double limitDb);
// Automatic gain driven by the detector's regions, then a limiter.
SoundAlgo* buildEvenLoudnessStage(RMSStepDetector* detector, double targetDb);
// The gain that stage gives a track whose loudest region is at `loudestDb`.
double evenLoudnessGainDb(double loudestDb, double targetDb);
// The peak limiter (ceiling 0.981 of full scale) after `makeUpDb` of gain.
SoundAlgo* buildLimiter(double makeUpDb);

#endif
