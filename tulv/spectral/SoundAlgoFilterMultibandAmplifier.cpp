#include "tulv/spectral/SoundAlgoFilterMultibandAmplifier.h"

namespace {

// No band is raised by more than this: quiet bands of a recording are mostly
// noise, and bringing them to the target would only make the noise loud.
constexpr double kBandMaxGainDb = 30.0;
// The level of the limiter after the sum: the bands, each limited on its own,
// can still add up to a little more than full scale.
constexpr double kSumLimiterDb = -0.3;

} // namespace

void FrequencyRMSAmplifierBuilder::buildAlgo(SoundAlgoComposite* composite, unsigned int band, const QString& name)
{
    if (!composite || !owner)
        return;
    // The constructor checked the offsets; a band past them gets none rather
    // than a value read out of bounds.
    const double level = targetLevel + (band < bandOffsets.size() ? bandOffsets[band] : 0.0);
    auto* amplifier = new SoundAlgoRMSAmplifier(level, detector, maxRampTime, smoothing, range, kBandMaxGainDb);
    amplifier->setId(name);
    composite->pushAlgo(amplifier);
    owner->pushAmplifier(amplifier);
    // The top band has no limiter of its own: the one after the sum guards it.
    if (band < bandCount) {
        auto* limiter = new SoundAlgoLimiter(0.0, lookAheadTime, releaseTime, nullptr);
        owner->pushLimiter(limiter);
        limiter->setId(name);
        composite->pushAlgo(limiter);
    }
}

SoundAlgoFilterMultibandAmplifier::SoundAlgoFilterMultibandAmplifier(
    const std::vector<double>& freqs, double targetLevel, double lookAheadTime, double releaseTime,
    double maxRampTime, RMSStepDetector* detector, SoundAlgoComposite::SplitterType splitter, int smoothing,
    double range, const std::vector<double>& bandOffsets)
    : SoundAlgoMultibandAmplifier("SoundAlgoFilterMultibandAmplifier", true)
{
    const QString fault = multibandFrequencyFault(freqs);
    if (!fault.isEmpty()) {
        setBuildError(fault);
        return;
    }
    if (!bandOffsets.empty() && bandOffsets.size() < freqs.size() + 1) {
        setBuildError(QStringLiteral("%1 band offsets for %2 bands").arg(bandOffsets.size()).arg(freqs.size() + 1));
        return;
    }
    FrequencyRMSAmplifierBuilder builder;
    builder.bandOffsets = bandOffsets;
    builder.targetLevel = targetLevel;
    builder.lookAheadTime = lookAheadTime;
    builder.releaseTime = releaseTime;
    builder.maxRampTime = maxRampTime;
    builder.range = range;
    builder.detector = detector;
    builder.smoothing = smoothing;
    builder.bandCount = static_cast<unsigned int>(freqs.size());
    builder.owner = this;
    recursiveBuildMultibandTree(freqs, 0, builder, splitter);
    if (hasBuildError()) {
        amplifiers.clear();
        limiters.clear();
        return;
    }
    pushAlgo(new SoundAlgoLimiter(kSumLimiterDb, lookAheadTime, releaseTime, nullptr));
}

SoundAlgoFilterMultibandAmplifier::~SoundAlgoFilterMultibandAmplifier() = default;
