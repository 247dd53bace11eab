#include "tulv/spectral/SoundAlgoFFTMultibandAmplifier.h"

#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/spectral/SoundAlgoFFT.h"
#include "tulv/spectral/SoundAlgoFFTFilter.h"

namespace {

// Where a band above a crossover starts: the band filters' transitions sit
// side by side instead of overlapping.
constexpr double kBandGapHz = 150.0;
// The band gains follow the regions closely and over a wide range: each band
// is its own recording's worth of levels.
constexpr double kBandRangeDb = 100.0;
constexpr double kBandMaxGainDb = 30.0;

} // namespace

SoundAlgoFFTMultibandAmplifier::SoundAlgoFFTMultibandAmplifier(const std::vector<double>& freqs,
                                                               double targetLevel, double lookAheadTime,
                                                               double releaseTime, RMSStepDetector* detector,
                                                               unsigned int fftSize, bool sumBands)
    : SoundAlgoMultibandAmplifier("SoundAlgoFFTMultibandAmplifier", true)
{
    QString fault = multibandFrequencyFault(freqs);
    for (size_t b = 1; fault.isEmpty() && b < freqs.size(); ++b)
        if (freqs[b - 1] + kBandGapHz >= freqs[b])
            fault = QStringLiteral("band %1 from %2 Hz to %3 Hz is empty: crossovers must be more than %4 Hz apart")
                        .arg(b)
                        .arg(freqs[b - 1] + kBandGapHz)
                        .arg(freqs[b])
                        .arg(kBandGapHz);
    if (!fault.isEmpty()) {
        setBuildError(fault);
        return;
    }
    const size_t k = freqs.size();
    const bool amplify = targetLevel != 0.0;
    pushAlgo(new SoundAlgoFFTDirectCompute(fftSize, true, false));
    // Every branch reads the same spectra.
    auto* branches = new SoundAlgoComposite(QStringLiteral("SoundAlgoFFTMultibandAmplifier:Branches"), true);
    for (size_t b = 0; b <= k; ++b) {
        if (b > 0)
            branches->addNewBranch();
        if (b == 0)
            branches->pushAlgo(new SoundAlgoFFTFilter(SoundTools::LowPass, freqs[0], 0.0));
        else if (b < k)
            branches->pushAlgo(new SoundAlgoFFTFilter(SoundTools::BandPass, freqs[b - 1] + kBandGapHz, freqs[b]));
        else
            branches->pushAlgo(new SoundAlgoFFTFilter(SoundTools::HighPass, freqs[k - 1] + kBandGapHz, 0.0));
        branches->pushAlgo(new SoundAlgoFFTInverseCompute(false));
        if (!amplify)
            continue;
        auto* amplifier
            = new SoundAlgoRMSAmplifier(targetLevel, detector, releaseTime, 0, kBandRangeDb, kBandMaxGainDb);
        pushAmplifier(amplifier);
        branches->pushAlgo(amplifier);
        auto* limiter = new SoundAlgoLimiter(0.0, lookAheadTime, releaseTime, nullptr);
        pushLimiter(limiter);
        branches->pushAlgo(limiter);
    }
    pushAlgo(branches);
    if (sumBands) {
        pushAlgo(new SoundAlgoAdd(static_cast<int>(k + 1), true, nullptr));
        if (amplify)
            pushAlgo(new SoundAlgoLimiter(-0.0, lookAheadTime, releaseTime, nullptr));
    }
    setReadOnly();
}

SoundAlgoFFTMultibandAmplifier::~SoundAlgoFFTMultibandAmplifier() = default;
