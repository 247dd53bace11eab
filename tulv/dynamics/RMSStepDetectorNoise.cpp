// The operations of RMSStepDetector that work on a finished region list:
// noise classification and estimation, local re-classification of long runs
// of signal (which turns quiet gaps into split points), merging, and the
// dynamic compression that drives the automatic gain.
#include "tulv/dynamics/RMSStepDetector.h"


#include <algorithm>
#include <cmath>
#include <iomanip>

namespace {

// The noise estimate sits this much above the quiet region it comes from, so
// that the region itself and its like are classified as noise.
constexpr double kNoiseMargin = 1.05;
// Quiet time is budgeted per started stretch of this length.
constexpr double kQuietBlockSeconds = 300.0;
constexpr double kDefaultQuietSeconds = 1.0;
// Larger than any squared gain: marks a run of signal as open.
constexpr double kRunOpen = 1000.0;
constexpr double kSilentAmplitude = 1e-20;
// A channel whose loudest region stays this far below the other channel's
// loudest carries no sound of its own (mono recorded into one channel, a dead
// channel, crosstalk): no stereo mix keeps one side that quiet for a whole run.
constexpr double kDeadChannelRatio = 1e-3; // 30 dB in power

double loudness(const RMSStepDetector::Region& region)
{
    return std::max(region.level0, region.level1);
}

double weaker(const RMSStepDetector::Region& region)
{
    return std::min(region.level0, region.level1);
}

// With one channel carrying no sound, the weaker channel is that dead one and
// a level relative to it means nothing (everything audible would be signal):
// the channel that carries the sound is judged instead.
template <typename Iterator>
bool oneChannelOnly(Iterator first, Iterator last)
{
    double loudest[2] = { 0.0, 0.0 };
    for (Iterator it = first; it != last; ++it) {
        loudest[0] = std::max(loudest[0], it->level0);
        loudest[1] = std::max(loudest[1], it->level1);
    }
    const double louder = std::max(loudest[0], loudest[1]);
    return louder > 0.0 && std::min(loudest[0], loudest[1]) <= louder * kDeadChannelRatio;
}

double amplitudeToDb(double amplitude)
{
    return amplitude <= kSilentAmplitude ? -100.0 : 20.0 * std::log10(amplitude);
}

} // namespace

bool RMSStepDetector::applyNoise(double noiseDb)
{
    WriteHold lock(mLock);
    return applyNoise(noiseDb, mRegions.begin(), mRegions.end());
}

bool RMSStepDetector::applyNoise(double noiseDb, RegionIterator first, RegionIterator last)
{
    mNoiseLevel = std::pow(10.0, noiseDb / 20.0);
    if (first == last)
        return false;
    double threshold = std::pow(10.0, noiseDb / 10.0);
    if (!mRealTimeMode) {
        // Relative to the region whose weaker channel is the loudest: a
        // balance between the channels does not move the threshold.
        threshold *= noiseReference(first, last);
    }
    bool changed = false;
    for (RegionIterator it = first; it != last; ++it) {
        const bool quiet = loudness(*it) <= threshold;
        if (quiet != it->noise) {
            it->noise = quiet;
            changed = true;
        }
    }
    if (changed && isDebug())
        printRegions("Apply Noise");
    return changed;
}

double RMSStepDetector::estimateNoise(double quietSeconds, double snrDb) const
{
    auto& regions = const_cast<std::vector<Region>&>(mRegions);
    return estimateNoise(quietSeconds, snrDb, regions.begin(), regions.end());
}

double RMSStepDetector::estimateNoise(double quietSeconds, double snrDb, RegionIterator first,
                                      RegionIterator last) const
{
    if (quietSeconds <= 0.0)
        quietSeconds = kDefaultQuietSeconds;
    // Nothing to measure: the noise sits the signal-to-noise ratio below the
    // (absent) signal.
    if (first == last || mRegions.empty())
        return -snrDb;
    std::vector<Region> sorted(first, last);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Region& a, const Region& b) { return loudness(a) < loudness(b); });
    const Region& loudest = sorted.back();

    const unsigned int blockFrames = toFrames(kQuietBlockSeconds);
    const int blocks = blockFrames ? std::max(1, mRegions.back().begin / static_cast<int>(blockFrames)) : 1;
    const double budget = std::floor(blocks * quietSeconds * getSampleRate() + 0.5);
    const double reference = oneChannelOnly(first, last) ? loudness(loudest) : weaker(loudest);
    const double floorLevel = reference * std::pow(10.0, -snrDb / 10.0);

    Region remembered;
    remembered.level0 = remembered.level1 = floorLevel;
    double total = 0.0;
    for (const Region& region : sorted) {
        if (total >= budget)
            break;
        if (loudness(region) > floorLevel) {
            remembered = region;
            total += region.length;
        }
    }
    if (remembered.begin == loudest.begin && remembered.length == loudest.length)
        return -snrDb;
    // With a silent weaker channel in the loudest region there is nothing to
    // be relative to; a ratio over zero would give an infinite noise level.
    if (!(reference > 0.0))
        return -snrDb;
    const double ratio = kNoiseMargin * std::sqrt(loudness(remembered)) / std::sqrt(reference);
    const double noiseDb = amplitudeToDb(ratio);
    if (isDebug())
        getOStream() << "Noise=" << noiseDb << "dB" << std::endl;
    return noiseDb;
}

void RMSStepDetector::split(double quietSeconds, double minRunSeconds, double snrDb)
{
    if (mRegions.empty())
        return;
    const int minRun = static_cast<int>(toFrames(minRunSeconds));
    RegionIterator runStart = mRegions.begin();
    bool afterNoise = true;
    RegionIterator it = mRegions.begin();
    // Each pass that changes a flag turns signal into noise inside the run,
    // never the reverse (the run holds signal only), so the walk ends.
    while (it != mRegions.end()) {
        if (!it->noise) {
            if (afterNoise) {
                runStart = it;
                afterNoise = false;
            }
            ++it;
            continue;
        }
        if (!afterNoise && it->begin - runStart->begin > minRun) {
            const double noiseDb = estimateNoise(quietSeconds, snrDb, runStart, it);
            if (applyNoise(noiseDb, runStart, it)) {
                if (isDebug())
                    getOStream() << "Noise = " << noiseDb << " dB" << std::endl;
                it = runStart;
                continue;
            }
        }
        afterNoise = true;
        ++it;
    }
    if (isDebug())
        printRegions("Split");
}

double RMSStepDetector::noiseReference() const
{
    auto& regions = const_cast<std::vector<Region>&>(mRegions);
    return noiseReference(regions.begin(), regions.end());
}

double RMSStepDetector::noiseReference(RegionIterator first, RegionIterator last) const
{
    const bool single = oneChannelOnly(first, last);
    double reference = 0.0;
    for (RegionIterator it = first; it != last; ++it)
        reference = std::max(reference, single ? loudness(*it) : weaker(*it));
    return reference;
}

double RMSStepDetector::getNoiseFromSNR(double snrDb)
{
    const double reference = noiseReference();
    const double noiseDb = amplitudeToDb(std::sqrt(reference)) - snrDb;
    if (isDebug())
        getOStream() << "Noise=" << noiseDb << "dB" << std::endl;
    return noiseDb;
}

std::vector<RMSStepDetector::Region> RMSStepDetector::buildMergedRegions() const
{
    std::vector<Region> merged;
    Region current;
    bool haveCurrent = false;
    for (const Region& region : mRegions) {
        if (haveCurrent && current.length > 0 && current.noise != region.noise) {
            merged.push_back(current);
            current = region;
        } else if (haveCurrent && current.length > 0) {
            const double total = double(current.weight) + region.weight;
            if (total > 0) {
                current.level0 = (current.level0 * current.weight + region.level0 * region.weight) / total;
                current.level1 = (current.level1 * current.weight + region.level1 * region.weight) / total;
            }
            current.weight += region.weight;
            current.length += region.length;
        } else {
            current = region;
            haveCurrent = true;
        }
    }
    if (haveCurrent && current.length >= 1)
        merged.push_back(current);
    return merged;
}

void RMSStepDetector::mergeRegions()
{
    mRegions = buildMergedRegions();
    if (isDebug())
        printRegions("Merge");
}

double RMSStepDetector::compressDynamic(double ratio)
{
    const double r = std::max(1.0, ratio);
    const double exponent = (1.0 - 1.0 / r) * (1.0 - 1.0 / r);

    long long signalLength = 0;
    double peak = 0.0;
    for (const Region& region : mRegions)
        if (!region.noise) {
            signalLength += region.length;
            peak = std::max(peak, loudness(region));
        }
    const double peakAmplitude = std::sqrt(peak);

    auto divideRun = [this](size_t from, size_t to, double by) {
        for (size_t j = from; j < to; ++j) {
            mRegions[j].level0 /= by;
            mRegions[j].level1 /= by;
        }
    };

    double runMinimum = 0.0; // smallest squared gain of the open run; 0: none open
    size_t runStart = 0;
    double weightTotal = 0.0;
    double weightedSum = 0.0;
    for (size_t i = 0; i < mRegions.size(); ++i) {
        Region& region = mRegions[i];
        if (region.noise) {
            if (runMinimum > 0.0)
                divideRun(runStart, i, runMinimum);
            runMinimum = 0.0;
            continue;
        }
        if (runMinimum == 0.0) {
            runMinimum = kRunOpen;
            runStart = i;
        }
        const double amplitude = std::sqrt(loudness(region));
        // A silent region has no gain to take (it would be infinite).
        if (!(amplitude > 0.0))
            continue;
        const double gain = std::pow(amplitude / peakAmplitude, exponent - 1.0);
        const double squared = gain * gain;
        region.level0 *= squared;
        region.level1 *= squared;
        runMinimum = std::min(runMinimum, squared);
        weightTotal += region.length;
        weightedSum += region.length * squared;
    }

    // A final fade-out keeps the level of its first region instead of being
    // raised region by region back to full loudness.
    long long fadeLength = 0;
    long long endIndex = -1;
    long long fadeStart = -1;
    double fadeLevels[2] = { 0.0, 0.0 };
    for (long long i = static_cast<long long>(mRegions.size()) - 1; i >= 0; --i) {
        const Region& region = mRegions[size_t(i)];
        if (endIndex < 0) {
            if (region.noise)
                continue;
            endIndex = i;
            fadeLength += region.length;
            continue;
        }
        if (region.noise)
            break;
        const Region& last = mRegions[size_t(endIndex)];
        if (!(region.level0 > last.level0) && !(region.level1 > last.level1))
            break;
        fadeStart = i;
        fadeLevels[0] = region.level0;
        fadeLevels[1] = region.level1;
        fadeLength += region.length;
        if (fadeLength > signalLength / 10)
            break;
    }
    if (fadeLength > 0 && fadeStart >= 0) {
        for (long long j = fadeStart; j < endIndex; ++j) {
            mRegions[size_t(j)].level0 = fadeLevels[0];
            mRegions[size_t(j)].level1 = fadeLevels[1];
        }
        if (isDebug())
            printRegions("Fade out processed");
    }

    if (runMinimum > 0.0)
        divideRun(runStart, mRegions.size(), runMinimum);

    const double correction = weightTotal > 0.0 ? std::sqrt(weightedSum / weightTotal) : 0.0;
    const double correctionDb = amplitudeToDb(correction);
    if (isDebug()) {
        std::ostream& out = getOStream();
        out << "=====================================\n";
        out << "      Compression de dynamique\n";
        out << " Correction moyenne : " << std::fixed << std::setprecision(2) << correctionDb << " dB" << std::endl;
        printRegions(nullptr);
    }
    return correctionDb;
}
