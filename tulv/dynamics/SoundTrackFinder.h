#ifndef TULV_DYNAMICS_SOUNDTRACKFINDER_H
#define TULV_DYNAMICS_SOUNDTRACKFINDER_H

#include "tulv/dynamics/RMSStepDetector.h"

#include <QString>

#include <limits>
#include <vector>

// Turns the regions of a step detector that has run over a recorded side into
// tracks: it classifies the regions (a noise estimate over the whole side,
// then each long run of sound on its own, or an absolute threshold), takes
// every run of sound long enough to be a track, and, when the number of
// tracks is known, keeps the gaps most likely to be real ones.
//
// A side where nothing stands out from its own floor (silence, dither, hiss
// only) has no track; `reason` then says why.
class SoundTrackFinder {
public:
    struct Settings {
        double minTrackSeconds = 5.0; // shorter runs of sound are no track
        double quietSeconds = 2.0;    // quiet time per started 5 minutes for the side's estimate
        double globalSnrDb = 60.0;    // the side's estimate ignores regions further below the loudest
        double runSnrDb = 30.0;       // inside a run, what lies this far below its loudest is a gap
        double minRunSeconds = 20.0;  // longer runs of sound are examined on their own
        // dBFS; NaN: the automatic estimate. Regions at or below it are gaps.
        double thresholdDb = std::numeric_limits<double>::quiet_NaN();
        int tracks = 0; // the side's known number of tracks; 0: as found
    };

    // Frames [begin, end) of the sound of one track, and its RMS in dBFS.
    struct Track {
        long long begin = 0;
        long long end = 0;
        double levelDb = -100.0;
    };

    SoundTrackFinder() = default;
    explicit SoundTrackFinder(const Settings& settings)
        : mSettings(settings)
    {
    }

    // Classifies the regions of `detector` (its noise flags change) and finds
    // the tracks. False, with `reason` set, when there is none.
    bool find(RMSStepDetector& detector);
    // Finds the tracks along the noise flags as they stand (regions loaded
    // from a file, edited by hand).
    bool findAsClassified(const RMSStepDetector& detector);

    const std::vector<Track>& tracks() const { return mTracks; }
    // Why no track was found, or, with a known number of tracks, why fewer
    // were found; empty otherwise.
    const QString& reason() const { return mReason; }
    // Frames before the first and after the last track.
    long long leadIn() const { return mTracks.empty() ? 0 : mTracks.front().begin; }
    long long leadOut() const { return mTracks.empty() ? 0 : mFrames - mTracks.back().end; }

private:
    struct Gap {
        size_t first; // region indices [first, last)
        size_t last;
        double score; // lower: more likely a gap between tracks
    };

    void classify(RMSStepDetector& detector) const;
    void keepQuietPassages(RMSStepDetector& detector) const;
    // Runs of signal of at least the minimum length; the stretches between
    // them are the gaps.
    void collect(const std::vector<RMSStepDetector::Region>& regions, unsigned int rate);
    // The gaps of a run of signal classified with a looser threshold, for
    // when the side has more tracks than the automatic estimate finds.
    void keepLikeliestGaps(RMSStepDetector& detector);
    bool explainEmpty(const RMSStepDetector& detector);
    // Places every track boundary on the detector's fine level trace and
    // finds the short gaps that regions of a few seconds cannot hold; the
    // regions are cut to match, so that saved regions give the same tracks.
    void refine(RMSStepDetector& detector);

    Settings mSettings;
    std::vector<Track> mTracks;
    std::vector<Gap> mGaps;
    QString mReason;
    long long mFrames = 0;
};

#endif
