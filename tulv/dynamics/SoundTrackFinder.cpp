#include "tulv/dynamics/SoundTrackFinder.h"

#include <algorithm>
#include <cmath>

namespace {

// Quiet time handed to the examination of each run: more than any run holds,
// so that the estimate of a run is its loudest region minus the run's
// signal-to-noise ratio, a gap judged against the music around it.
constexpr double kRunQuietSeconds = 600.0;
// The side's estimate never calls anything within this of the loudest region
// noise: when the quiet budget reaches into the music (a short side whose
// gaps are short), the estimate would otherwise land on the music itself.
constexpr double kMinGlobalDepthDb = 20.0;
// The quietest parts of the gaps of a side lie within this of one another
// (crackle lifts some); a stretch taken for a gap whose quietest part lies
// higher than the typical gap's is soft music.
constexpr double kGapAboveFloorDb = 5.0;
constexpr double kMinJudgedGapSeconds = 3.0;
// A side whose loud stretches stand less than this above its quiet ones
// holds no music to split: hiss, hum or dither throughout.
constexpr double kMinSpreadDb = 10.0;
// Below this, a side without spread is silence or dither rather than noise.
constexpr double kSilenceDbfs = -70.0;
// With a known number of tracks, the classification is loosened in these
// steps until enough gaps appear; never closer to the loudest region than
// the last step.
constexpr double kLooserStepDb = 3.0;
constexpr double kLoosestDb = -9.0;

// The fine trace calls a step quiet when it lies within this of the surface
// noise: a quiet passage a few dB above the surface keeps its steps above it.
constexpr double kQuietAboveSurfaceDb = 2.0;
// A boundary found on the regions moves at most this far; crackle can move
// a region's edge by a few seconds, no more.
constexpr double kReachSeconds = 4.0;
// Quiet for this long is the gap beside a track (a rest of the music is shorter).
constexpr double kQuietRunSeconds = 0.5;
// Quiet for this long inside a track is a gap between two tracks: shorter
// than any region can be, as long as the peers' silence detectors ask for.
constexpr double kHiddenGapSeconds = 0.8;

double loudness(const RMSStepDetector::Region& region)
{
    return std::max(region.level0, region.level1);
}

double powerDb(double meanSquare)
{
    return meanSquare <= 1e-20 ? -100.0 : 10.0 * std::log10(meanSquare);
}

// The levels of the quietest and of the loudest region: what a side's spread
// is measured between. A side of noise only keeps within a few decibels
// (crackle included); music, with its gaps, spans tens. Regions shorter
// than one measurement window are left out: the few frames the detector
// closes a stream with are no passage, and their level is anything.
void spread(const std::vector<RMSStepDetector::Region>& regions, long long minFrames, double& quietDb, double& loudDb)
{
    double quiet = -1.0;
    double loud = 0.0;
    for (const RMSStepDetector::Region& region : regions)
        if (region.length >= minFrames) {
            quiet = quiet < 0.0 ? loudness(region) : std::min(quiet, loudness(region));
            loud = std::max(loud, loudness(region));
        }
    quietDb = powerDb(std::max(quiet, 0.0));
    loudDb = powerDb(loud);
}

long long windowFrames(const RMSStepDetector& detector)
{
    return std::max(2LL, (long long)std::floor(detector.getRMSTime() * detector.getSampleRate() + 0.5));
}

} // namespace

void SoundTrackFinder::classify(RMSStepDetector& detector) const
{
    if (!std::isnan(mSettings.thresholdDb)) {
        // The detector's classification is relative: an absolute threshold is
        // expressed that way.
        detector.applyNoise(mSettings.thresholdDb - powerDb(detector.noiseReference()));
        return;
    }
    const double side = detector.estimateNoise(mSettings.quietSeconds, mSettings.globalSnrDb);
    detector.applyNoise(std::min(side, -kMinGlobalDepthDb));
    detector.split(kRunQuietSeconds, mSettings.minRunSeconds, mSettings.runSnrDb);
    keepQuietPassages(detector);
}

void SoundTrackFinder::keepQuietPassages(RMSStepDetector& detector) const
{
    const std::vector<RMSStepDetector::Region> regions = detector.getRegions();
    const long long minFrames =
        std::max(1LL, (long long)std::floor(mSettings.minTrackSeconds * detector.getSampleRate() + 0.5));
    // The stretches of noise around the tracks (lead-in, gaps, lead-out),
    // each with the level of its quietest region: where it is down to the
    // surface. Bursts too short to be tracks belong to their stretch.
    struct Stretch {
        size_t first, last; // region indices [first, last)
        double quietest;
    };
    std::vector<size_t> bounds { 0 }; // stretch, track, stretch, ... as region indices
    for (size_t i = 0; i < regions.size();) {
        if (regions[i].noise) {
            ++i;
            continue;
        }
        size_t j = i;
        long long frames = 0;
        for (; j < regions.size() && !regions[j].noise; ++j)
            frames += regions[j].length;
        if (frames >= minFrames) {
            bounds.push_back(i);
            bounds.push_back(j);
        }
        i = j;
    }
    bounds.push_back(regions.size());
    std::vector<Stretch> stretches;
    for (size_t k = 0; k + 1 < bounds.size(); k += 2) {
        Stretch stretch { bounds[k], bounds[k + 1], -1.0 };
        for (size_t r = stretch.first; r < stretch.last; ++r)
            if (regions[r].length > 1 && loudness(regions[r]) > 1e-20)
                stretch.quietest = stretch.quietest < 0.0 ? loudness(regions[r]) : std::min(stretch.quietest, loudness(regions[r]));
        stretches.push_back(stretch);
    }
    const long long minJudged = (long long)std::floor(kMinJudgedGapSeconds * detector.getSampleRate() + 0.5);
    std::vector<double> levels;
    for (const Stretch& stretch : stretches)
        if (stretch.quietest > 0.0)
            levels.push_back(stretch.quietest);
    if (levels.size() < 2)
        return;
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    const double limit = levels[levels.size() / 2] * std::pow(10.0, kGapAboveFloorDb / 10.0);
    // A stretch between two tracks whose quietest part stays well above the
    // surface that the other stretches come down to is soft music.
    for (const Stretch& stretch : stretches) {
        const bool inside = stretch.first > 0 && stretch.last < regions.size();
        // A short gap may hold no region free of the tails of the music
        // around it: only a stretch long enough to come down to the surface
        // is judged by how far it stays above it.
        if (!inside || !(stretch.quietest > limit)
            || regions[stretch.last].begin - regions[stretch.first].begin < minJudged)
            continue;
        for (size_t k = stretch.first; k < stretch.last; ++k)
            detector.setNoise(int(k), false);
    }
}

void SoundTrackFinder::collect(const std::vector<RMSStepDetector::Region>& regions, unsigned int rate)
{
    mTracks.clear();
    mGaps.clear();
    const long long minFrames = static_cast<long long>(std::floor(mSettings.minTrackSeconds * rate + 0.5));
    std::vector<std::pair<size_t, size_t>> runs; // region indices [first, last)
    size_t i = 0;
    while (i < regions.size()) {
        if (regions[i].noise || regions[i].length <= 0) {
            ++i;
            continue;
        }
        const size_t first = i;
        long long frames = 0;
        double energy = 0.0;
        for (; i < regions.size() && !regions[i].noise; ++i) {
            frames += regions[i].length;
            energy += loudness(regions[i]) * regions[i].length;
        }
        if (frames < std::max(1LL, minFrames))
            continue;
        Track track;
        track.begin = regions[first].begin;
        track.end = std::min<long long>(track.begin + frames, mFrames);
        track.levelDb = powerDb(energy / double(frames));
        mTracks.push_back(track);
        runs.emplace_back(first, i);
    }
    // Every stretch between two tracks is a gap, short bursts inside it
    // included. The quieter its quietest region (a thump does not count
    // against it) and the longer, the likelier a real one.
    for (size_t k = 1; k < runs.size(); ++k) {
        Gap gap { runs[k - 1].second, runs[k].first, 0.0 };
        double quietest = -1.0;
        long long frames = 0;
        for (size_t j = gap.first; j < gap.last; ++j) {
            if (regions[j].length > 1)
                quietest = quietest < 0.0 ? loudness(regions[j]) : std::min(quietest, loudness(regions[j]));
            frames += regions[j].length;
        }
        const double seconds = std::max(1.0, double(frames)) / rate;
        gap.score = powerDb(std::max(quietest, 0.0)) - 10.0 * std::log10(seconds);
        mGaps.push_back(gap);
    }
}

bool SoundTrackFinder::explainEmpty(const RMSStepDetector& detector)
{
    double quietDb = -100.0;
    double loudDb = -100.0;
    spread(detector.getRegions(), windowFrames(detector), quietDb, loudDb);
    if (loudDb <= -100.0)
        mReason = QStringLiteral("the recording is digital silence");
    else if (std::isnan(mSettings.thresholdDb) && loudDb - quietDb < kMinSpreadDb)
        mReason = loudDb < kSilenceDbfs
                      ? QStringLiteral("the recording is silence or dither only (loudest passage %1 dBFS)").arg(loudDb, 0, 'f', 1)
                      : QStringLiteral("nothing stands out from the recording's steady level of %1 dBFS: noise only, no gap between tracks")
                            .arg(loudDb, 0, 'f', 1);
    else
        return false;
    mTracks.clear();
    mGaps.clear();
    return true;
}

bool SoundTrackFinder::find(RMSStepDetector& detector)
{
    mReason.clear();
    mTracks.clear();
    mGaps.clear();
    mFrames = detector.getFullLength();
    if (explainEmpty(detector))
        return false;
    classify(detector);
    collect(detector.getRegions(), detector.getSampleRate());
    if (mSettings.tracks > 0)
        keepLikeliestGaps(detector);
    else
        refine(detector);
    if (mTracks.empty() && mReason.isEmpty())
        mReason = QStringLiteral("no run of sound lasts %1 s or more between gaps").arg(mSettings.minTrackSeconds);
    return !mTracks.empty();
}

void SoundTrackFinder::refine(RMSStepDetector& detector)
{
    const std::vector<float>& trace = detector.getLevelTrace();
    const long long step = detector.getTraceStep();
    const long long origin = detector.getTraceOrigin();
    const long long count = (long long)trace.size();
    if (count == 0 || mTracks.empty() || origin < 0)
        return;
    const double rate = detector.getSampleRate();
    auto at = [&](long long frame) { return std::clamp((frame - origin) / step, 0LL, count); };
    auto frameOf = [&](long long index) { return std::min(origin + index * step, mFrames); };
    // The surface: the median level of the regions taken for noise (not of
    // all that lies between tracks, which may hold music too short to be one).
    std::vector<float> surface;
    for (const RMSStepDetector::Region& region : detector.getRegions())
        if (region.noise)
            surface.insert(surface.end(), trace.begin() + at(region.begin), trace.begin() + at(region.begin + region.length));
    if (surface.empty())
        return;
    std::nth_element(surface.begin(), surface.begin() + long(surface.size() / 2), surface.end());
    const double quietLevel = surface[surface.size() / 2] * std::pow(10.0, kQuietAboveSurfaceDb / 10.0);
    auto quiet = [&](long long k) { return trace[size_t(k)] <= quietLevel; };
    const long long reach = (long long)std::floor(kReachSeconds * rate / step + 0.5);
    const long long run = std::max(1LL, (long long)std::floor(kQuietRunSeconds * rate / step + 0.5));
    const long long hidden = std::max(1LL, (long long)std::floor(kHiddenGapSeconds * rate / step + 0.5));
    const long long minTrack = (long long)std::floor(mSettings.minTrackSeconds * rate + 0.5);

    // Each pass over a step: one comparison; the whole refinement is linear
    // in the length of the tracks.
    struct Mark {
        long long begin, end;
        bool noise;
    };
    std::vector<Mark> marks;
    for (size_t k = 0; k < mTracks.size(); ++k) {
        const Track& track = mTracks[k];
        const long long middle = at((track.begin + track.end) / 2);
        // The start: looking back from inside the track, the end of the
        // first quiet stretch before its sound.
        const long long floorIndex = std::max(at(k ? mTracks[k - 1].end : 0), at(track.begin) - reach);
        long long begin = track.begin;
        bool sound = false;
        for (long long i = std::min(middle, at(track.begin) + reach) - 1, streak = 0; i >= floorIndex; --i) {
            if (!quiet(i)) {
                sound = true;
                streak = 0;
            } else if (sound && ++streak == run) {
                begin = frameOf(i + run);
                break;
            }
        }
        // The end: looking on from inside the track, the start of the first
        // quiet stretch after its sound.
        const long long ceilIndex = std::min(k + 1 < mTracks.size() ? at(mTracks[k + 1].begin) : count, at(track.end) + reach);
        long long end = track.end;
        sound = false;
        for (long long i = std::max(middle, at(track.end) - reach), streak = 0; i < ceilIndex; ++i) {
            if (!quiet(i)) {
                sound = true;
                streak = 0;
            } else if (sound && ++streak == run) {
                end = frameOf(i - run + 1);
                break;
            }
        }
        if (begin >= end)
            continue;
        if (begin != track.begin)
            marks.push_back({ std::min(begin, track.begin), std::max(begin, track.begin), begin > track.begin });
        if (end != track.end)
            marks.push_back({ std::min(end, track.end), std::max(end, track.end), end < track.end });
        // Gaps too short for a region of their own, each leaving a track on
        // both sides.
        if (mSettings.tracks > 0)
            continue;
        long long pieceBegin = begin;
        for (long long i = at(begin), streak = 0; i < at(end); ++i) {
            streak = quiet(i) ? streak + 1 : 0;
            if (streak != hidden)
                continue;
            long long j = i + 1;
            while (j < at(end) && quiet(j))
                ++j;
            const long long gapBegin = frameOf(i - hidden + 1);
            const long long gapEnd = frameOf(j);
            if (gapBegin - pieceBegin >= minTrack && end - gapEnd >= minTrack) {
                marks.push_back({ gapBegin, gapEnd, true });
                pieceBegin = gapEnd;
            }
            i = j;
            streak = 0;
        }
    }
    for (const Mark& mark : marks)
        detector.markNoise(int(mark.begin), int(mark.end), mark.noise);
    if (!marks.empty())
        collect(detector.getRegions(), detector.getSampleRate());
}

bool SoundTrackFinder::findAsClassified(const RMSStepDetector& detector)
{
    mReason.clear();
    mFrames = detector.getFullLength();
    collect(detector.getRegions(), detector.getSampleRate());
    if (mTracks.empty())
        mReason = QStringLiteral("no run of sound lasts %1 s or more between the regions marked as noise")
                      .arg(mSettings.minTrackSeconds);
    return !mTracks.empty();
}

void SoundTrackFinder::keepLikeliestGaps(RMSStepDetector& detector)
{
    const size_t wanted = size_t(mSettings.tracks);
    const unsigned int rate = detector.getSampleRate();
    if (mTracks.size() < wanted) {
        // Too few gaps: look for quieter stretches the automatic estimate
        // took for music, loosening the side's classification step by step.
        const std::vector<RMSStepDetector::Region> automatic = detector.getRegions();
        const double reference = detector.noiseReference();
        double quietDb = -100.0;
        double loudDb = -100.0;
        spread(automatic, windowFrames(detector), quietDb, loudDb);
        bool enough = false;
        for (double level = quietDb + kLooserStepDb; level - powerDb(reference) <= kLoosestDb; level += kLooserStepDb) {
            detector.applyNoise(level - powerDb(reference));
            collect(detector.getRegions(), rate);
            if (mTracks.size() >= wanted) {
                enough = true;
                break;
            }
        }
        if (!enough) {
            classify(detector);
            collect(detector.getRegions(), rate);
            mReason = QStringLiteral("%1 tracks asked for, but only %2 gap(s) found: %3 tracks")
                          .arg(wanted)
                          .arg(mGaps.size())
                          .arg(mTracks.size());
            refine(detector);
            return;
        }
    }
    // The boundaries go on the fine level while every track is still a run
    // of regions; the gaps dropped below then join refined tracks.
    refine(detector);
    if (mTracks.size() == wanted)
        return;
    // Keep the N - 1 likeliest gaps; the tracks on both sides of any other
    // gap become one.
    std::vector<size_t> order(mGaps.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) { return mGaps[a].score < mGaps[b].score; });
    std::vector<bool> kept(mGaps.size(), false);
    for (size_t k = 0; k + 1 < wanted && k < order.size(); ++k)
        kept[order[k]] = true;
    std::vector<Track> joined;
    std::vector<double> energy;
    for (size_t k = 0; k < mTracks.size(); ++k) {
        const Track& track = mTracks[k];
        const double power = std::pow(10.0, track.levelDb / 10.0) * double(track.end - track.begin);
        if (k == 0 || kept[k - 1]) {
            joined.push_back(track);
            energy.push_back(0.0);
        }
        joined.back().end = track.end;
        energy.back() += power;
    }
    // The level of a joined track is that of its sound, its inner gaps left out.
    for (size_t j = 0, k = 0; j < joined.size(); ++j) {
        long long frames = 0;
        for (; k < mTracks.size() && mTracks[k].end <= joined[j].end; ++k)
            frames += mTracks[k].end - mTracks[k].begin;
        joined[j].levelDb = powerDb(energy[j] / double(std::max(1LL, frames)));
    }
    mTracks = joined;
}
